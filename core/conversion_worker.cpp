#include <fcntl.h>
#include <sys/stat.h>

#include <system_error>

#include "core/conversion_run.h"
#include "core/pipeline.h"
#include "engine/isolation/decoder_stop.h"
#include "platform/system.h"
#include "settings/program_settings.h"

namespace {

// Sets only the last-modified time of `output`; the access time stays as it is.
bool SetModifiedTime(const std::string& output, const timespec& modified) {
  const timespec times[2] = {{0, UTIME_OMIT}, modified};
  return utimensat(AT_FDCWD, output.c_str(), times, 0) == 0;
}

bool ApplyFileTimestamp(const ProgramSettings& settings, const std::string& input,
                        const std::string& output) {
  switch (settings.advanced.file_timestamp) {
    case ToValue(FileTimestamp::Current):
      return true;
    case ToValue(FileTimestamp::Original): {
      struct stat input_status {};
      if (stat(input.c_str(), &input_status) != 0) return false;
      return SetModifiedTime(output, input_status.st_mtim);
    }
    case ToValue(FileTimestamp::Custom): {
      const int64_t utc = LocalSecondsToUtc(settings.advanced.custom_timestamp);
      return SetModifiedTime(output, timespec{static_cast<time_t>(utc), 0});
    }
    default:
      return true;
  }
}

}  // namespace

ConversionRun::ConversionRun(RunRequest request, RunResources resources, ConversionTrace trace)
    : request_(std::move(request)),
      resources_(std::move(resources)),
      trace_(std::move(trace)),
      total_(static_cast<int32_t>(request_.inputs.Size())),
      generator_(SeededGenerator()) {
  results_.reserve(request_.inputs.Size());
}

ConversionRun::~ConversionRun() {
  Stop();
  Wait();
}

bool ConversionRun::KeepRunning() const {
  std::lock_guard<std::mutex> guard(lock_);
  return keep_running_;
}

void ConversionRun::Work() {
  ConversionJob& job = request_.job;
  const ProgramSettings& settings = request_.settings;
  const auto trace_line = [this](const std::string& line) {
    if (trace_) trace_(line);
  };

  int32_t processed = 0;
  int32_t converted = 0;
  for (const InputFileList::Item& item : request_.inputs) {
    if (!KeepRunning()) {
      results_.push_back({item.first, "", false, FileFailure::NotReached, true, {}});
      continue;
    }
    ++processed;
    job.input_path = item.first;
    job.input_subfolder = item.second.subfolder;
    {
      std::lock_guard<std::mutex> guard(lock_);
      processed_ = processed;
      current_file_ = job.input_path;
    }
    trace_line("Processing: " + job.input_path);
    const FileFailure failure = ConvertFile(job, settings, resources_);
    const bool ok = failure == FileFailure::None;
    trace_line("Saving As: " + job.output_path);
    trace_line(ok ? "OK" : "Not OK");
    FileResult result{job.input_path, job.output_path, ok, failure, true, job.left_out};
    if (ok) {
      ++converted;
      job.random_number = DrawRandomNumber(generator_);
      ++job.sequence_number;
      // The file stays converted; the time it was asked to carry is what is missing.
      result.timestamp_set = ApplyFileTimestamp(settings, job.input_path, job.output_path);
      if (!result.timestamp_set) trace_line("Timestamp not set");
    }
    results_.push_back(std::move(result));
  }

  {
    std::lock_guard<std::mutex> guard(lock_);
    converted_ = converted;
  }
  // The font and whatever else the run loaded go with its last file, not with the run object.
  resources_ = RunResources{};
  AllowDecoders();
  ended_ = true;
}

ProgressSnapshot ConversionRun::Progress() const {
  std::lock_guard<std::mutex> guard(lock_);
  return ProgressSnapshot{processed_, current_file_};
}

void ConversionRun::Stop() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    keep_running_ = false;
  }
  // The file in work is not finished: its decoder ends now.
  if (!Ended()) StopDecoders();
}

int32_t ConversionRun::Wait() {
  if (worker_.joinable()) worker_.join();
  std::lock_guard<std::mutex> guard(lock_);
  return converted_;
}

std::unique_ptr<ConversionRun> StartConversion(RunRequest request, RunResources resources,
                                               ConversionTrace trace) {
  std::unique_ptr<ConversionRun> run(
      new ConversionRun(std::move(request), std::move(resources), std::move(trace)));
  AllowDecoders();
  try {
    run->worker_ = std::thread([raw = run.get()] { raw->Work(); });
  } catch (const std::system_error&) {
    return nullptr;
  }
  return run;
}
