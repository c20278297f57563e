#pragma once

// Where each file of a run will be written, known before the run starts as far as the names
// allow, and the inputs that would write the same output path.

#include <string>
#include <vector>

#include "core/conversion_run.h"

/// True when a run's output names or text watermark read "%n%" or "%rnd%", or its names read what
/// only the decoded picture or the moment of saving tells: such a run names its files one after
/// another in the order of the list.
bool NeedsOrderedNaming(const ProgramSettings& settings);

/// The output folder of `input` in `request`, ending in "/": the job's, or with
/// OutputPlacement::BesideInput the input's own ("./" for a bare name).
std::string OutputFolderFor(const RunRequest& request, const std::string& input);

/// The subfolder below the output folder that `entry` goes to: its own with "Keep Subfolders" and
/// an output folder, else none.
std::string OutputSubfolderFor(const RunRequest& request, const InputFileEntry& entry);

/// The output path of each input of `request` in the order of the list, as far as it is known
/// before decoding: empty where the name reads the picture, the time, "%n%" or "%rnd%".
std::vector<std::string> PlanOutputPaths(const RunRequest& request);

/// For each planned path, NameCollision when an earlier one is the same (the first keeps its
/// name), else None; empty paths collide with nothing.
std::vector<FileFailure> FindCollisions(const std::vector<std::string>& planned);
