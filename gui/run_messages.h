#pragma once

// The texts the window shows about a run, without a widget: a fault's warning and a path
// shortened to fit its label.

#include <string>

#include "core/run_checks.h"

struct ConversionJob;
struct ProgramSettings;

/// The window's warning for a fault of the run's checks: the text-table message with its value.
std::string RunFaultText(RunFault fault, const ConversionJob& job, const ProgramSettings& settings);

/// `text` cut to `limit` characters by keeping (limit - 3) / 2 characters at each end around
/// "..."; unchanged when it is empty or fits.
std::string ShortenPath(const std::string& text, int limit);
