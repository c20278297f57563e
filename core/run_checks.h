#pragma once

// The checks a run must pass before its worker starts, shared by the console and the window.
// Each check names its fault; the console prints a fixed "Error: " line for it and the window a
// warning from the text table, so neither keeps a copy of the rules.

#include <string>
#include <string_view>

#include "core/conversion_run.h"
#include "settings/program_settings.h"

/// What stops a run before it starts, in the order the checks run.
enum class RunFault {
  None,
  InvalidInputFile,       // no extension, missing, not a regular file, or empty
  IncorrectOutputFolder,  // begins with ".."
  EmptyOutputFolder,
  InvalidOutputFolder,    // not an existing folder, or relative with no working folder
  InvalidConversionType,  // not an offered output key
  InvalidBitDepth,        // the output key's " BPP" setting is not one of its depths
  InvalidJpgQuality,
  InvalidWidth,
  InvalidHeight,
  InvalidBrightness,
  InvalidContrast,
  InvalidGamma,
  InvalidWatermarkFont,
  EmptyWatermarkImage,
  InvalidWatermarkImage,
};

/// The input file must have an extension and be a non-empty regular file.
RunFault CheckInputFile(const std::string& path);

/// Refuses an empty folder and one beginning with "..", resolves a relative one against the
/// working folder and ends it with "/", then requires an existing folder.
RunFault CheckOutputFolder(std::string& folder);

/// The output key must be offered; its depth setting must be automatic or one of its depths.
RunFault CheckOutputFormat(const std::string& key, const ProgramSettings& settings);

/// With resizing on, both sizes must be set.
RunFault CheckResize(const TransformSettings& transform);

/// With colour correction on, brightness and contrast within -100..100, gamma within 0.01..9.99.
RunFault CheckColourCorrection(const AdjustmentSettings& adjustment);

/// Loads the text watermark's font into `resources`, or requires a non-empty watermark image.
RunFault PrepareWatermark(const ProgramSettings& settings, RunResources& resources);

/// A request after the checks: the fault that stops it, or the request ready for the worker with
/// what it loaded.
struct PreparedRun {
  RunFault fault = RunFault::None;
  /// With no fault: the output folder resolved and ending in "/", the job prepared for the worker
  /// (`PrepareJob`). With a fault: as far as the checks got.
  RunRequest request;
  RunResources resources;  // empty after a fault
};

/// Every check above in their order on a request whose job names the input file and the output
/// folder and whose settings name the output key ("Format" of group "Output"); both front ends
/// call it. The input list is the front end's and is not looked at.
PreparedRun PrepareRun(RunRequest request);

/// True when `bpp` is 0 (automatic) or one of the depths the output table lists for `key`.
bool IsBitDepthAllowed(std::string_view key, int32_t bpp);

/// True when `key` is exactly one of the offered output keys.
bool IsOutputFormatKey(std::string_view key);
