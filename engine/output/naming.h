#pragma once

// Output file names from the "Filename Mask", and the token expansion that text watermarks share.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

/// The values the tokens stand for, taken from the file in work.
struct TokenValues {
  std::string input_path;     // full path of the input file
  std::string output_format;  // output key as stored, e.g. "png"
  int32_t bpp = 0;            // the output depth
  int32_t width = 0;          // size after rotation and resizing
  int32_t height = 0;
  int32_t random_number = 0;
  int32_t sequence_number = 0;
};

/// The tokens in the fixed order in which they are tried.
inline constexpr std::array<std::string_view, 18> NamingTokens = {
    "%filename%", "%filename[u]%", "%filename[l]%", "%filename[t]%", "%ext%", "%ext[u]%",
    "%ext[t]%",   "%yyyy%",        "%mm%",          "%dd%",          "%hh%",  "%ii%",
    "%ss%",       "%bpp%",         "%width%",       "%height%",      "%rnd%", "%n%"};

/// Replaces every occurrence of `token`, compared without case, by its value; unknown tokens
/// leave the text unchanged.
std::string ReplaceToken(std::string_view text, std::string_view token, const TokenValues& values);

/// Everything before the last "." of a file name; the name unchanged when it has none.
std::string BaseName(std::string_view file_name);

/// The lower-cased mask (or "%filename%.%ext%" when empty) with every token expanded in order.
std::string BuildOutputName(std::string_view mask, const TokenValues& values);

/// output_folder + (input_subfolder when keep_subfolders) + name.
std::string BuildOutputPath(std::string_view output_folder, std::string_view input_subfolder,
                            bool keep_subfolders, std::string_view name);

/// True when `relative` (the input subfolder and the expanded name), appended to an output
/// folder, names a file inside it: taken component by component, no ".." climbs above the folder,
/// and the last component is a file name. Subfolders below the folder are allowed.
bool StaysInOutputFolder(std::string_view relative);
