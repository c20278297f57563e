#pragma once

// The window run: from reading the settings to the end of the event loop and the shut-down; and
// the two other modes that need a display, the screenshots and the uninstall page.

#include <string>

#include "core/program_identity.h"

/// Exit status of a screenshot run that saved nothing: the folder is missing or a file could not
/// be written.
inline constexpr int ExitNoScreenshots = 1;

enum class WindowRunMode {
  Main,         // the main window until it is closed
  Screenshots,  // the main window captured into a folder ("-T FOLDER")
  Uninstall,    // the uninstall page until it is closed or Next is pressed ("-U")
};

/// Main: reads the settings and texts, builds the pictures and the main window, runs the event
/// loop and shuts down (window state stored, settings written). Screenshots and Uninstall start
/// from the default settings and never read or write the settings file. Returns the exit status:
/// 0, ExitNoScreenshots, or ExitNoWindow after one line on standard error when there is no
/// display.
int RunWindowInterface(int argc, char** argv, WindowRunMode mode = WindowRunMode::Main,
                       const std::string& screenshot_folder = {});
