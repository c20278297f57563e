#pragma once

// The input files of a run, the record of the run and of the file in work, the progress shared
// with the worker thread, and the operations that start, stop and watch a run.

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/run_checks.h"

struct ProgramSettings;

struct InputFileEntry {
  int32_t added = 0;
  std::string subfolder;  // relative to the base input folder; ends in "/" when not empty
};

/// The input files of a run, keyed by full path, visited in the order of adding.
class InputFileList {
 public:
  using Item = std::pair<std::string, InputFileEntry>;

  void Clear() { items_.clear(); }
  bool Empty() const { return items_.empty(); }
  size_t Size() const { return items_.size(); }
  /// Adds or replaces the entry of `path`, keeping the place of an existing one.
  void Set(const std::string& path, InputFileEntry entry);
  const InputFileEntry* Find(const std::string& path) const;
  std::vector<Item>::const_iterator begin() const { return items_.begin(); }
  std::vector<Item>::const_iterator end() const { return items_.end(); }

 private:
  std::vector<Item> items_;
};

struct ConversionJob {
  std::string output_folder;  // always ends in "/"
  std::string output_format;  // output key, e.g. "png"; also the extension
  int32_t output_fif = 0;
  int32_t target_bpp = 0;  // 0: automatic
  int8_t auto_bpp = 0;
  int32_t save_flags = 0;
  std::string base_input_folder;
  std::string input_path;
  std::string input_subfolder;
  std::string output_path;
  int32_t source_bpp = 0;
  int32_t result_width = 0;
  int32_t result_height = 0;
  int32_t random_number = 0;
  int32_t sequence_number = 0;
  int8_t console_run = 0;
  std::string run_mode_word;  // "DEBUG" after the debug option, "T" in screenshot mode
};

/// How one file of a run ended, for a report after the run.
struct FileOutcome {
  std::string input_path;
  bool converted = false;
  /// False when "File Timestamp" asked for a time the converted output could not be given.
  bool timestamp_set = true;
};

struct ConversionProgress {
  std::mutex lock;
  int32_t processed = 0;
  std::string current_file;
  int32_t converted = 0;
  int8_t keep_running = 0;
  std::vector<FileOutcome> outcomes;  // one per file taken, in the order of the run
};

/// What the starter sees of a run in progress.
struct ProgressSnapshot {
  int32_t processed = 0;
  std::string current_file;
};

extern InputFileList g_input_files;
extern ConversionJob g_job;
extern ConversionProgress g_progress;

/// Called for every accepted input file of a window run; a console run never calls it.
void SetInputFileAddedHook(std::function<void(const std::string& path)> hook);

/// Makes `path` the one input file when it is not empty on disk and has an accepted extension;
/// false, with the list unchanged, otherwise.
bool AddInputFile(const std::string& path);

/// Empties the job, draws a fresh "%rnd%", restarts "%n%" at 1, clears the input list and
/// rebuilds the accepted extensions.
void ResetJob();

/// Fills the run fields of the job from the settings: output key, FreeImage format, target depth,
/// automatic flag and save flags. Both starters call it; false when the output key is unknown.
bool PrepareJob(ConversionJob& job, const ProgramSettings& settings);

/// Receives the worker's line per step of a file ("Processing: ...", "Saving As: ...", "OK" or
/// "Not OK", and "Timestamp not set" after an "OK" whose output kept its time of writing
/// against "File Timestamp"); called on the worker thread.
using ConversionTrace = std::function<void(std::string_view line)>;

/// Starts the worker thread on the global job, list and settings; false if it could not start.
/// The worker keeps `resources` until its last file is done; `trace`, when set, hears each step.
bool StartConversion(RunResources resources = {}, ConversionTrace trace = {});

/// Asks the worker to stop: the decode of the file in work ends at once, that file fails, and no
/// other file is started.
void StopConversion();

/// Copies the progress fields under the lock.
ProgressSnapshot ReadProgress();

/// True once the worker thread has ended (also when none was started).
bool ConversionEnded();

/// Waits for the worker thread to end; returns the number of files converted.
int32_t WaitForConversion();

/// The outcome of each file the last run took so far, copied under the lock.
std::vector<FileOutcome> ReadFileOutcomes();

/// A fresh "%rnd%" value, 1 to 99999.
int32_t DrawRandomNumber();
