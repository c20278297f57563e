#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <system_error>

#include "core/conversion_run.h"
#include "core/output_plan.h"
#include "core/pipeline.h"
#include "engine/image/memory_budget.h"
#include "engine/isolation/decoder_stop.h"
#include "engine/isolation/kept_decoder.h"
#include "engine/loading/loading.h"
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

std::string_view FailureTextKey(FileFailure failure) {
  switch (failure) {
    case FileFailure::None:
      return {};
    case FileFailure::LoadFailed:
      return "Failure damaged";
    case FileFailure::OutsideOutputFolder:
      return "Failure outside output folder";
    case FileFailure::SaveFailed:
      return "Failure save";
    case FileFailure::NotReached:
      return "Failure stopped";
    case FileFailure::NotDocument:
      return "Failure not a document";
    case FileFailure::TooLarge:
      return "Failure too large";
    case FileFailure::OutputNotWritable:
      return "Failure output not writable";
    case FileFailure::NameCollision:
      return "Failure name collision";
  }
  return {};
}

int32_t WorkerCount(int32_t jobs) {
  if (jobs > 0) return jobs;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores > 0 ? static_cast<int32_t>(cores) : 1;
}

ConversionRun::ConversionRun(RunRequest request, RunResources resources, ConversionTrace trace)
    : request_(std::move(request)),
      resources_(std::move(resources)),
      trace_(std::move(trace)),
      total_(static_cast<int32_t>(request_.inputs.Size())),
      generator_(SeededGenerator()) {
  const size_t count = request_.inputs.Size();
  results_.resize(count);
  done_.assign(count, false);
  planned_ = PlanOutputPaths(request_);
  collisions_ = FindCollisions(planned_);
  ordered_naming_ = NeedsOrderedNaming(request_.settings);
  budget_ = AvailableMemoryBytes();
  sequence_number_ = request_.job.sequence_number;
  random_number_ = request_.job.random_number;
}

ConversionRun::~ConversionRun() {
  Stop();
  Wait();
}

bool ConversionRun::KeepRunning() const {
  std::lock_guard<std::mutex> guard(lock_);
  return keep_running_;
}

bool ConversionRun::TakeNext(size_t& index) {
  std::lock_guard<std::mutex> guard(lock_);
  if (!keep_running_ || next_ >= results_.size()) return false;
  index = next_++;
  ++processed_;
  current_file_ = (request_.inputs.begin() + static_cast<std::ptrdiff_t>(index))->first;
  return true;
}

bool ConversionRun::ReserveMemory(size_t index, uint64_t need) {
  std::unique_lock<std::mutex> guard(lock_);
  // In the order of the list, so a file never waits for memory a later one holds while that one
  // waits for it to be named; a file larger than the whole budget goes alone.
  changed_.wait(guard, [&] {
    if (!keep_running_) return true;
    if (next_to_reserve_ != index) return false;
    return budget_ == 0 || reserved_ == 0 || reserved_ + need <= budget_;
  });
  if (next_to_reserve_ == index) {
    ++next_to_reserve_;
    reserved_ += need;
  }
  changed_.notify_all();
  return keep_running_;
}

bool ConversionRun::WaitForEarlierFiles(size_t index) {
  std::unique_lock<std::mutex> guard(lock_);
  changed_.wait(guard, [&] { return !keep_running_ || first_not_done_ >= index; });
  return keep_running_;
}

void ConversionRun::Finish(size_t index, FileResult result, uint64_t reserved,
                           const std::vector<std::string>& lines) {
  std::lock_guard<std::mutex> guard(lock_);
  if (trace_) {
    for (const std::string& line : lines) trace_(line);
  }
  if (result.converted) {
    ++converted_;
    // The sequential rule: the next file's number follows the files converted, and each
    // converted file draws a fresh "%rnd%".
    ++sequence_number_;
    random_number_ = DrawRandomNumber(generator_);
  }
  if (!result.output_path.empty() && result.failure != FileFailure::NameCollision) {
    written_.push_back(result.output_path);
  }
  results_[index] = std::move(result);
  done_[index] = true;
  ++finished_;
  reserved_ -= reserved;
  while (first_not_done_ < done_.size() && done_[first_not_done_]) ++first_not_done_;
  changed_.notify_all();
}

void ConversionRun::ConvertOne(size_t index, ConversionJob& job) {
  const auto& [input, entry] = *(request_.inputs.begin() + static_cast<std::ptrdiff_t>(index));
  const ProgramSettings& settings = request_.settings;
  const auto started = std::chrono::steady_clock::now();
  // One worker tells each step as it happens; several keep a file's lines for its end, so no two
  // files' lines mix.
  std::vector<std::string> lines;
  const auto trace = [this, &lines](std::string line) {
    if (!trace_) return;
    if (worker_count_ > 1) {
      lines.push_back(std::move(line));
      return;
    }
    std::lock_guard<std::mutex> guard(lock_);
    trace_(line);
  };
  trace("Processing: " + input);
  job.input_path = input;
  job.input_subfolder = OutputSubfolderFor(request_, entry);
  job.output_folder = OutputFolderFor(request_, input);
  job.output_path.clear();
  job.left_out.clear();

  FileFailure failure = FileFailure::None;
  uint64_t reserved = 0;
  if (collisions_[index] != FileFailure::None) {
    // The first input with a path keeps it; a later one is not converted at all.
    failure = collisions_[index];
    job.output_path = planned_[index];
  }
  if (failure == FileFailure::None) {
    reserved = InputMemoryNeed(
        input, LayerRequest{settings.input.rebuild_from_layers == 1, job.hidden_layers});
    if (!ReserveMemory(index, reserved)) failure = FileFailure::NotReached;
  } else {
    ReserveMemory(index, 0);
  }
  if (failure == FileFailure::None) {
    FileHooks hooks;
    if (ordered_naming_) {
      hooks.before_naming = [this, index](ConversionJob& named) {
        if (!WaitForEarlierFiles(index)) return false;
        std::lock_guard<std::mutex> guard(lock_);
        named.sequence_number = sequence_number_;
        named.random_number = random_number_;
        return true;
      };
      hooks.claim_output = [this](const std::string& path) {
        std::lock_guard<std::mutex> guard(lock_);
        return std::find(written_.begin(), written_.end(), path) == written_.end();
      };
    } else {
      // The names read neither number: any value gives the same bytes.
      std::lock_guard<std::mutex> guard(lock_);
      job.sequence_number = sequence_number_;
      job.random_number = random_number_;
    }
    failure = ConvertFile(job, settings, resources_, hooks);
    // A file whose decoder the stop ended was not reached to its end either.
    if (failure != FileFailure::None && !KeepRunning()) failure = FileFailure::NotReached;
  }
  const bool ok = failure == FileFailure::None;
  trace("Saving As: " + job.output_path);
  trace(ok ? "OK" : "Not OK");
  FileResult result{input, job.output_path, ok, failure};
  if (ok) result.left_out = job.left_out;
  if (ok) {
    // The file stays converted; the time it was asked to carry is what is missing.
    result.timestamp_set = ApplyFileTimestamp(settings, input, job.output_path);
    if (!result.timestamp_set) trace("Timestamp not set");
  }
  result.milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - started)
                            .count();
  Finish(index, std::move(result), reserved, lines);
}

void ConversionRun::Work() {
  ConversionJob job = request_.job;
  size_t index = 0;
  {
    // Over several files, each worker keeps its decoder process for the next one.
    std::optional<KeptDecoder> decoder;
    if (total_ > 1) decoder.emplace();
    while (TakeNext(index)) ConvertOne(index, job);
  }

  std::lock_guard<std::mutex> guard(lock_);
  if (--running_workers_ > 0) return;
  // The last worker out: files never taken were not reached, and the job tells what the run
  // came to, as one worker would have left it.
  for (size_t i = 0; i < results_.size(); ++i) {
    if (done_[i]) continue;
    results_[i] = FileResult{(request_.inputs.begin() + static_cast<std::ptrdiff_t>(i))->first, "",
                             false, FileFailure::NotReached};
    done_[i] = true;
  }
  request_.job.sequence_number = sequence_number_;
  request_.job.random_number = random_number_;
  if (!results_.empty() && next_ > 0) {
    const FileResult& last = results_[next_ - 1];
    request_.job.input_path = last.input;
    request_.job.output_path = last.output_path;
  }
  // The font and whatever else the run loaded go with its last file, not with the run object.
  resources_ = RunResources{};
  AllowDecoders();
  ended_ = true;
}

ProgressSnapshot ConversionRun::Progress() const {
  std::lock_guard<std::mutex> guard(lock_);
  return ProgressSnapshot{processed_, finished_, current_file_};
}

void ConversionRun::Stop() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    keep_running_ = false;
  }
  changed_.notify_all();
  // The files in work are not finished: their decoders end now.
  if (!Ended()) StopDecoders();
}

int32_t ConversionRun::Wait() {
  for (std::thread& worker : workers_) {
    if (worker.joinable()) worker.join();
  }
  std::lock_guard<std::mutex> guard(lock_);
  return converted_;
}

std::unique_ptr<ConversionRun> StartConversion(RunRequest request, RunResources resources,
                                               ConversionTrace trace) {
  std::unique_ptr<ConversionRun> run(
      new ConversionRun(std::move(request), std::move(resources), std::move(trace)));
  AllowDecoders();
  const int32_t wanted = std::max<int32_t>(
      1, std::min<int32_t>(WorkerCount(run->request_.jobs), std::max<int32_t>(run->total_, 1)));
  run->running_workers_ = wanted;
  run->worker_count_ = wanted;
  for (int32_t i = 0; i < wanted; ++i) {
    try {
      run->workers_.emplace_back([raw = run.get()] { raw->Work(); });
    } catch (const std::system_error&) {
      std::lock_guard<std::mutex> guard(run->lock_);
      run->running_workers_ -= wanted - i;
      break;
    }
  }
  if (run->workers_.empty()) return nullptr;
  return run;
}
