#pragma once

// The filter of the window's input file chooser, built from the engine's format tables.

#include <string>
#include <string_view>

/// The filter of the input file dialog: every accepted pattern, one entry per description, and
/// all files. The two captions are interface texts the caller looks up.
std::string BuildInputFileFilter(std::string_view all_supported_text,
                                 std::string_view all_files_text);
