#pragma once

// The conversion of one file: loading, the steps the settings ask for in their one order, saving.

#include "core/run_checks.h"

struct ConversionJob;
struct ProgramSettings;

/// Converts the file named by job.input_path; true when its output was saved. Afterwards the job
/// holds what the file came to (source depth, result size, target depth, output path); a file
/// that cannot be loaded leaves only an empty output path.
bool ConvertFile(ConversionJob& job, const ProgramSettings& settings,
                 const RunResources& resources = {});
