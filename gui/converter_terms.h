#pragma once

// The terms of the converter search and the page they name, without a widget.

#include <cstddef>
#include <string>
#include <string_view>

/// The most characters of a field that count as its term.
inline constexpr size_t MaxSearchTermCharacters = 12;

/// A field's text as a search term: lower-cased, cut to its first MaxSearchTermCharacters
/// characters (UTF-8), then only the ASCII letters and digits kept.
std::string ConverterSearchTerm(std::string_view text);

/// The page path of a search: "/find/" + source + "-" + target + "/".
std::string ConverterSearchPath(std::string_view source, std::string_view target);
