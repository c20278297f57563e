#pragma once

// The manual page and the bash completion of the command line, written from the option table and
// the settings schema, so that neither can fall behind the options the program reads.

#include <string>

/// The roff source of the manual page quorvix(1): every option of the table with its value form
/// (keywords, ranges), the help and version modes, exit statuses, settings file and name tokens.
std::string ManualPage();

/// A bash completion script for the program: the long options, and the keywords of each option
/// that takes one.
std::string BashCompletion();
