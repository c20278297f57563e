#pragma once

// The conversion run of the window: the checks of the fields, the job, and the progress window.

enum class RunFault;
class MainWindow;

/// The "Convert" command: reads the fields, refuses a faulty run with one warning, else converts
/// with the progress window open and reports the result in it and in the status bar.
void RunConversionFromWindow(MainWindow& window);

/// Shows the warning of `fault`; the status bar is emptied, except for the watermark's faults,
/// which leave it at "Preparing...".
void ShowRunFault(MainWindow& window, RunFault fault);
