#pragma once

// The conversion run of the window: the checks of the fields, the job, and the progress window.

#include <string>

enum class RunFault;
struct ConversionJob;
struct ProgramSettings;

/// The "Convert" command: reads the fields, refuses a faulty run with one warning, else converts
/// with the progress window open and reports the result in it and in the status bar.
void RunConversionFromWindow();

/// Shows the warning of `fault`; the status bar is emptied, except for the watermark's faults,
/// which leave it at "Preparing...".
void ShowRunFault(RunFault fault, const ConversionJob& job);

/// Asks the break question of the run in work (the main window is being closed); on Yes the
/// worker stops after its file and the main window closes once the run has ended.
void RequestBreakOfRun();
