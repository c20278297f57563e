#pragma once

// The conversion of one file: loading, the steps the settings ask for in their one order, saving.

#include "core/conversion_run.h"

/// Converts the file named by job.input_path; FileFailure::None when its output was saved, else
/// why not. Afterwards the job holds what the file came to (source depth, result size, target
/// depth, output path); a file that cannot be loaded leaves only an empty output path.
FileFailure ConvertFile(ConversionJob& job, const ProgramSettings& settings,
                        const RunResources& resources = {});
