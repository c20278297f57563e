#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <system_error>
#include <thread>

#include "core/conversion_job.h"
#include "core/pipeline.h"
#include "engine/isolation/decoder_stop.h"
#include "platform/system.h"
#include "settings/program_settings.h"

namespace {

std::thread worker_thread;
std::atomic<bool> worker_running{false};

bool KeepRunning() {
  std::lock_guard<std::mutex> guard(g_progress.lock);
  return g_progress.keep_running == 1;
}

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

void ConversionWorker(const RunResources& resources, const ConversionTrace& trace) {
  ConversionJob& job = g_job;
  const ProgramSettings& settings = g_settings;
  const auto trace_line = [&trace](const std::string& line) {
    if (trace) trace(line);
  };

  int32_t processed = 0;
  int32_t converted = 0;
  for (const InputFileList::Item& item : g_input_files) {
    if (!KeepRunning()) break;
    ++processed;
    job.input_path = item.first;
    job.input_subfolder = item.second.subfolder;
    {
      std::lock_guard<std::mutex> guard(g_progress.lock);
      g_progress.processed = processed;
      g_progress.current_file = job.input_path;
    }
    trace_line("Processing: " + job.input_path);
    const bool ok = ConvertFile(job, settings, resources);
    trace_line("Saving As: " + job.output_path);
    trace_line(ok ? "OK" : "Not OK");
    FileOutcome outcome{job.input_path, ok, true};
    if (ok) {
      ++converted;
      job.random_number = DrawRandomNumber();
      ++job.sequence_number;
      // The file stays converted; the time it was asked to carry is what is missing.
      outcome.timestamp_set = ApplyFileTimestamp(settings, job.input_path, job.output_path);
      if (!outcome.timestamp_set) trace_line("Timestamp not set");
    }
    std::lock_guard<std::mutex> guard(g_progress.lock);
    g_progress.outcomes.push_back(std::move(outcome));
  }

  {
    std::lock_guard<std::mutex> guard(g_progress.lock);
    g_progress.converted = converted;
  }
  AllowDecoders();
  worker_running = false;
}

}  // namespace

bool StartConversion(RunResources resources, ConversionTrace trace) {
  if (worker_running) return false;
  if (worker_thread.joinable()) worker_thread.join();
  {
    std::lock_guard<std::mutex> guard(g_progress.lock);
    g_progress.processed = 0;
    g_progress.current_file.clear();
    g_progress.converted = 0;
    g_progress.keep_running = 1;
    g_progress.outcomes.clear();
  }
  AllowDecoders();
  worker_running = true;
  try {
    worker_thread = std::thread([resources = std::move(resources), trace = std::move(trace)] {
      ConversionWorker(resources, trace);
    });
  } catch (const std::system_error&) {
    worker_running = false;
    return false;
  }
  return true;
}

void StopConversion() {
  {
    std::lock_guard<std::mutex> guard(g_progress.lock);
    g_progress.keep_running = 0;
  }
  // The file in work is not finished: its decoder ends now.
  if (worker_running) StopDecoders();
}

ProgressSnapshot ReadProgress() {
  std::lock_guard<std::mutex> guard(g_progress.lock);
  return ProgressSnapshot{g_progress.processed, g_progress.current_file};
}

bool ConversionEnded() { return !worker_running; }

std::vector<FileOutcome> ReadFileOutcomes() {
  std::lock_guard<std::mutex> guard(g_progress.lock);
  return g_progress.outcomes;
}

int32_t WaitForConversion() {
  if (worker_thread.joinable()) worker_thread.join();
  std::lock_guard<std::mutex> guard(g_progress.lock);
  return g_progress.converted;
}
