#pragma once

// The JSON Lines report of a batch run: one object per input with its output, status, reason and
// time.

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "core/conversion_run.h"

/// `text` as a JSON string with its quotes; control characters, quotes and backslashes escaped,
/// bytes of 0x80 and above passed on (the paths are the system's, UTF-8 or not).
std::string JsonString(std::string_view text);

/// The status word of a result: "converted", "failed" or "not reached".
std::string_view ResultStatus(const FileResult& result);

/// The one-line reason of a result from the texts table; empty when it converted.
std::string FailureReason(const FileResult& result);

/// Writes one line `{"input":...,"output":...,"status":...,"reason":...,"milliseconds":N}` a
/// result, in the order given.
void WriteJsonLinesReport(std::ostream& out, const std::vector<FileResult>& results);
