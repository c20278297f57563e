#pragma once

// The conversion run of the window: the checks of the fields, the job, and the progress window.

#include <string>

/// The "Convert" command: reads the fields, refuses a faulty run with one warning, else converts
/// with the progress window open and reports the result in it and in the status bar.
void RunConversionFromWindow();

/// Asks the break question of the run in work (the main window is being closed); on Yes the
/// worker stops after its file and the main window closes once the run has ended.
void RequestBreakOfRun();

/// `text` cut to `limit` characters by keeping (limit - 3) / 2 characters at each end around
/// "..."; unchanged when it is empty or fits.
std::string ShortenPath(const std::string& text, int limit);
