#pragma once

// The conversion of one file: loading, the steps the settings ask for in their one order, saving.

#include <functional>
#include <string>

#include "core/conversion_run.h"

/// What a run hears from a file in work, at the two points where other files of the run matter.
struct FileHooks {
  /// Called once the picture is ready and before anything reads the job's "%n%" and "%rnd%",
  /// which it may set; false abandons the file (FileFailure::NotReached).
  std::function<bool(ConversionJob& job)> before_naming;
  /// Called with the output path before the save; false when an earlier input of the run has it
  /// (FileFailure::NameCollision).
  std::function<bool(const std::string& output_path)> claim_output;
};

/// Converts the file named by job.input_path; FileFailure::None when its output was saved, else
/// why not. Afterwards the job holds what the file came to (source depth, result size, target
/// depth, output path); a file that cannot be loaded leaves only an empty output path. The input's
/// subfolder below the output folder is made as needed.
FileFailure ConvertFile(ConversionJob& job, const ProgramSettings& settings,
                        const RunResources& resources = {}, const FileHooks& hooks = {});
