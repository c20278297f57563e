#pragma once

// The window run: from reading the settings to the end of the event loop and the shut-down.

/// Exit status of a window run that could not open a window (no display).
inline constexpr int ExitNoWindow = 4;

/// Reads the settings and texts, builds the pictures and the main window, runs the event loop and
/// shuts down (window state stored, settings written). Returns the exit status: 0, or
/// ExitNoWindow after one line on standard error when there is no display.
int RunWindowInterface(int argc, char** argv);

/// Stores the window's place into the "Window" settings, empties the history when asked to and
/// writes the settings file.
void ShutDown();
