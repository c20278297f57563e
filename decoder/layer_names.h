#pragma once

// Layer names as the user sees them, and the globs that pick layers out by name.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "decoder/psd_layers.h"

/// The UTF-8 form of a "luni" block's name (a count of UTF-16 units, then the units big-endian);
/// empty when the block is shorter than its count. Unpaired surrogates become U+FFFD.
std::string UnicodeLayerName(std::span<const uint8_t> block);

/// The UTF-8 form of a record's Pascal name, whose bytes are taken as Latin-1.
std::string PascalLayerName(std::span<const uint8_t> bytes);

/// True when `name` matches `pattern` character by character (code points, not bytes): "*" any
/// run, "?" any one character, "[...]" one of a set with ranges ("[!...]" or "[^...]" none of
/// them), "\" takes the next character as itself. Case counts.
bool LayerNameMatches(std::string_view pattern, std::string_view name);

/// Marks hidden every layer and group of `document` whose name matches one of `patterns`; a
/// group's end marker is not a layer and stays. The number of records marked.
size_t HideLayersByName(LayeredDocument& document, const std::vector<std::string>& patterns);
