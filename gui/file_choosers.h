#pragma once

// The input-file and output-folder choosers of the main window: they ask the session's services
// and return what was chosen; the main window applies it.

#include <optional>
#include <string>

class WindowSession;

/// The input-file chooser, starting where the last chosen file was: the chosen path, or nothing
/// for Cancel. The chooser forgets where it started, so the next one starts empty.
std::optional<std::string> AskForInputFile(WindowSession& session);

/// The folder chooser, starting at the folder part of `shown` (the folder box's entry) or, while
/// the box is empty, at the job's output folder: the chosen folder, or nothing for Cancel.
std::optional<std::string> AskForOutputFolder(WindowSession& session, const std::string& shown);
