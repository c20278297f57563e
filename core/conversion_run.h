#pragma once

// A conversion run as a value: the request a front end hands over, the worker thread that runs
// it on a copy of its own, the progress the starter watches, and the result of every file.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/conversion_job.h"
#include "engine/steps/watermark_font.h"
#include "settings/program_settings.h"

/// What a run loads once before its first file and releases after its last.
struct RunResources {
  WatermarkFont watermark_font;  // only for a text watermark
};

/// Where a run's outputs go.
enum class OutputPlacement {
  OutputFolder,  // below job.output_folder (and the input's subfolder with "Keep Subfolders")
  BesideInput,   // each in the folder of its own input
};

/// Everything a run reads: the settings, the job and the input files, as the starter left them.
struct RunRequest {
  ProgramSettings settings;
  ConversionJob job;
  InputFileList inputs;
  /// Files converted at once; 0 for one per core.
  int32_t jobs = 1;
  OutputPlacement placement = OutputPlacement::OutputFolder;
};

/// Why a file was not converted; the front ends show each with its text (FailureTextKey).
enum class FileFailure {
  None,                 // converted
  LoadFailed,           // a damaged or unreadable document
  OutsideOutputFolder,  // the filename mask leaves the output folder
  SaveFailed,           // a step or the save failed; an existing output is kept
  NotReached,           // the run was stopped before this file
  NotDocument,          // not a Photoshop document at all
  TooLarge,             // its decode needs more memory than the program may use
  OutputNotWritable,    // its output folder cannot be written or made
  NameCollision,        // an earlier input of the run has the same output path
};

/// The key in group "Msg" of the one-line reason text of `failure`; empty for None.
std::string_view FailureTextKey(FileFailure failure);

/// The number of files a run with `jobs` converts at once: `jobs`, or the number of cores for 0.
int32_t WorkerCount(int32_t jobs);

/// The outcome of one input file of a run.
struct FileResult {
  std::string input;
  std::string output_path;  // empty when the file got no output name
  bool converted = false;
  FileFailure failure = FileFailure::None;
  /// False when "File Timestamp" asked for a time the converted output could not be given.
  bool timestamp_set = true;
  /// What the document holds that its picture, rebuilt from the layers, does not show, e.g.
  /// "adjustment layers, layer effects"; empty when nothing was left out.
  std::string left_out = {};
  int64_t milliseconds = 0;  // from taking the file to its result
};

/// The progress fields the starter may read while the worker runs.
struct ProgressSnapshot {
  int32_t processed = 0;     // files taken so far, the current ones included
  int32_t finished = 0;      // files done, converted or not
  std::string current_file;  // the file taken last
};

/// Receives the worker's line per step of a file ("Processing: ...", "Saving As: ...", "OK" or
/// "Not OK", and "Timestamp not set" after an "OK" whose output kept its time of writing
/// against "File Timestamp"); called on a worker thread, a file's lines together once it is done,
/// never two files at once.
using ConversionTrace = std::function<void(std::string_view line)>;

/// One run of the workers over their own copy of a request. Created by StartConversion; destroying
/// it stops the workers after their files and waits for them.
///
/// Several workers give the same names and bytes as one: each takes the next file in the order of
/// the list, and when a name or a watermark reads "%n%" or "%rnd%", or a name reads what only the
/// decoded picture tells, a file waits before its naming until every earlier file is done, so it
/// is numbered over the files converted before it. Memory for decoding is taken from one budget in
/// the order of the list: a file waits rather than overcommit.
class ConversionRun {
 public:
  ~ConversionRun();
  ConversionRun(const ConversionRun&) = delete;
  ConversionRun& operator=(const ConversionRun&) = delete;

  /// The files taken so far and the one in work, copied under the lock.
  ProgressSnapshot Progress() const;

  /// Stops the run: the decoder of the file in work ends at once (that file is not converted)
  /// and no further file is taken.
  void Stop();

  /// True once the worker has ended.
  bool Ended() const { return ended_.load(); }

  /// Waits for the worker to end; the number of files converted. Called by the starter only.
  int32_t Wait();

  /// The number of input files the run was given.
  int32_t Total() const { return total_; }

  /// One result per input file in the order of the list; complete once Wait() has returned.
  const std::vector<FileResult>& Results() const { return results_; }

  /// The job as the worker left it (the last file's fields, the next "%rnd%" and "%n%"); read it
  /// once Wait() has returned.
  const ConversionJob& Job() const { return request_.job; }

 private:
  friend std::unique_ptr<ConversionRun> StartConversion(RunRequest request, RunResources resources,
                                                        ConversionTrace trace);
  ConversionRun(RunRequest request, RunResources resources, ConversionTrace trace);
  void Work();
  void ConvertOne(size_t index, ConversionJob& job);
  bool KeepRunning() const;
  // Takes the next file's place in the list; false when none is left or the run was stopped.
  bool TakeNext(size_t& index);
  // Waits until `index` may take `need` bytes of the budget; false when the run was stopped.
  bool ReserveMemory(size_t index, uint64_t need);
  // Waits until every file before `index` is done; false when the run was stopped.
  bool WaitForEarlierFiles(size_t index);
  // Records a file's result and its trace, and wakes the files waiting for it.
  void Finish(size_t index, FileResult result, uint64_t reserved,
              const std::vector<std::string>& lines);

  RunRequest request_;
  RunResources resources_;
  ConversionTrace trace_;
  const int32_t total_;
  std::mt19937 generator_;
  std::vector<FileResult> results_;
  std::vector<bool> done_;
  // The output paths known before the run; a file whose path an earlier one has is a collision.
  std::vector<std::string> planned_;
  std::vector<FileFailure> collisions_;
  bool ordered_naming_ = false;
  // Guards everything below it; held only while fields are read or written.
  mutable std::mutex lock_;
  std::condition_variable changed_;
  size_t next_ = 0;
  size_t next_to_reserve_ = 0;
  size_t first_not_done_ = 0;
  uint64_t budget_ = 0;  // 0: unknown, no bound
  uint64_t reserved_ = 0;
  int32_t processed_ = 0;
  int32_t finished_ = 0;
  std::string current_file_;
  int32_t converted_ = 0;
  int32_t sequence_number_ = 0;
  int32_t random_number_ = 0;
  std::vector<std::string> written_;  // outputs named after decoding, for collisions
  bool keep_running_ = true;
  std::atomic<bool> ended_{false};
  int32_t worker_count_ = 1;  // set before the first worker starts
  int32_t running_workers_ = 0;
  std::vector<std::thread> workers_;
};

/// Starts the workers on `request`, which the run keeps as its own; the run holds `resources` until
/// its last file is done, and `trace`, when set, hears each step. Null when no thread could start.
std::unique_ptr<ConversionRun> StartConversion(RunRequest request, RunResources resources = {},
                                               ConversionTrace trace = {});
