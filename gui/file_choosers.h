#pragma once

// The system's file and folder choosers of the main window.

#include <functional>
#include <optional>
#include <string>

/// Shows the file-open chooser; true when the chosen file was accepted as input.
bool ChooseInputFile();

/// Shows the folder chooser; a chosen existing folder becomes the output folder and heads the
/// history.
void ChooseOutputFolder();

/// Answers a chooser in place of showing it: given where it starts, the chosen path or nullopt
/// for Cancel. An empty handler shows the chooser again.
using ChoiceHandler = std::function<std::optional<std::string>(const std::string& start)>;
void SetFileChoiceHandler(ChoiceHandler handler);
void SetFolderChoiceHandler(ChoiceHandler handler);
