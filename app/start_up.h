#pragma once

// Start-up steps that every run mode shares, whichever executable runs them.

/// Fills the process-wide values that every run mode reads: the program folder and the format
/// keys.
void SetUpProcess();

/// The name of the window program, which lies beside the console program.
inline constexpr const char* WindowProgramName = "quorvix-window";

/// The option by which the console program hands its held single-instance lock to the window
/// program: "--instance-lock=FD".
inline constexpr const char* InstanceLockOption = "--instance-lock=";
