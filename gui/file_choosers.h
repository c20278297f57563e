#pragma once

// The system's file and folder choosers of the main window.

/// Shows the file-open chooser; true when the chosen file was accepted as input.
bool ChooseInputFile();

/// Shows the folder chooser; a chosen existing folder becomes the output folder and heads the
/// history.
void ChooseOutputFolder();
