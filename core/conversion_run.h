#pragma once

// A conversion run as a value: the request a front end hands over, the worker thread that runs
// it on a copy of its own, the progress the starter watches, and the result of every file.

#include <atomic>
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

/// Everything a run reads: the settings, the job and the input files, as the starter left them.
struct RunRequest {
  ProgramSettings settings;
  ConversionJob job;
  InputFileList inputs;
};

/// Why a file was not converted; the front ends give each its own text.
enum class FileFailure {
  None,                 // converted
  LoadFailed,           // not a document the loader could read
  OutsideOutputFolder,  // the filename mask leaves the output folder
  SaveFailed,           // a step or the save failed; an existing output is kept
  NotReached,           // the run was stopped before this file
};

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
  std::string left_out;
};

/// The progress fields the starter may read while the worker runs.
struct ProgressSnapshot {
  int32_t processed = 0;  // files taken so far, the current one included
  std::string current_file;
};

/// Receives the worker's line per step of a file ("Processing: ...", "Saving As: ...", "OK" or
/// "Not OK", and "Timestamp not set" after an "OK" whose output kept its time of writing
/// against "File Timestamp"); called on the worker thread.
using ConversionTrace = std::function<void(std::string_view line)>;

/// One run of the worker over its own copy of a request. Created by StartConversion; destroying
/// it stops the worker after its file and waits for it.
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
  bool KeepRunning() const;

  RunRequest request_;
  RunResources resources_;
  ConversionTrace trace_;
  const int32_t total_;
  std::mt19937 generator_;
  std::vector<FileResult> results_;
  // Guards the four progress fields; held only while they are copied.
  mutable std::mutex lock_;
  int32_t processed_ = 0;
  std::string current_file_;
  int32_t converted_ = 0;
  bool keep_running_ = true;
  std::atomic<bool> ended_{false};
  std::thread worker_;
};

/// Starts the worker on `request`, which it keeps as its own; the run holds `resources` until its
/// last file is done, and `trace`, when set, hears each step. Null when no thread could start.
std::unique_ptr<ConversionRun> StartConversion(RunRequest request, RunResources resources = {},
                                               ConversionTrace trace = {});
