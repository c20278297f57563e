#pragma once

// Filling a run's input list from what the user names: documents, folders of documents (with or
// without their subfolders) and lists of paths. The console and the window share these, so a
// folder is walked, sorted and given its subfolders one way.

#include <istream>
#include <string>
#include <vector>

#include "core/conversion_job.h"

/// True when `path` has a document's extension ("psd" or "psb", any case).
bool IsDocumentPath(const std::string& path);

/// Adds `path` to the end of `inputs` (keeping the place of one already there) with `subfolder`
/// (empty, or ending in "/") when IsAcceptableInputFile; false, with `inputs` unchanged, otherwise.
bool AppendInputFile(InputFileList& inputs, const std::string& path,
                     const std::string& subfolder = {});

/// Adds every document in `folder`, and with `recursive` in its subfolders, to the end of
/// `inputs`: sorted by path in byte order, each with its subfolder relative to `folder`. Other
/// files are skipped; links to folders are not followed, so a loop cannot trap the walk. The
/// number of documents added; -1 when `folder` cannot be read.
int32_t AppendInputFolder(InputFileList& inputs, const std::string& folder, bool recursive);

/// The paths of an input list, one a line (a CR before the line end is dropped), empty lines
/// skipped.
std::vector<std::string> ReadInputList(std::istream& list);

/// True when `path` names a folder (a link to one counts: the user named it).
bool IsInputFolder(const std::string& path);
