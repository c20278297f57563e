#pragma once

// The input-file and output-folder choosers of the main window: they ask the session's services
// and return what was chosen; the main window applies it.

#include <optional>
#include <string>
#include <vector>

class WindowSession;

/// The folder a chooser opens in: the first of `candidates` that is an existing folder or names
/// something inside one (that folder then), ending in "/"; else `home`. Never empty while `home`
/// is not, so a chooser never opens on an empty list of recent files.
std::string ChooserStartFolder(const std::vector<std::string>& candidates, const std::string& home);

/// The input-file chooser, starting in the folder of the last chosen file, else of the shown
/// input, else in the job's or the shown output folder, else at home: the chosen paths, none for
/// Cancel. The chooser forgets the last file, so the next one starts from the fields.
std::vector<std::string> AskForInputFiles(WindowSession& session, const std::string& shown_input,
                                          const std::string& shown_output);

/// The input-folder chooser, starting where the input-file chooser would (a named folder itself
/// first): the chosen folder, or nothing for Cancel.
std::optional<std::string> AskForInputFolder(WindowSession& session, const std::string& shown_input,
                                             const std::string& shown_output);

/// The folder chooser, starting in the shown output folder (the folder box's entry), else the
/// job's output folder, else the input's folder, else at home: the chosen folder, or nothing for
/// Cancel.
std::optional<std::string> AskForOutputFolder(WindowSession& session, const std::string& shown,
                                              const std::string& shown_input = {});
