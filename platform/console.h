#pragma once

// The console of a command-line run: standard output, the terminal's title and its keyboard.

#include <string_view>

/// Writes `line` and a line feed to standard output.
void WriteConsoleLine(std::string_view line);

/// Writes `line` and a line feed to standard error.
void WriteErrorLine(std::string_view line);

/// Sets the terminal's title; does nothing when standard output is not a terminal.
void SetConsoleTitle(std::string_view title);

/// Waits for one key press when standard input is a terminal; returns at once otherwise.
void WaitForKeyPress();

/// Flushes what was written; the console stays usable.
void FlushConsole();
