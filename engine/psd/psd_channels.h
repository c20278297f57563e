#pragma once

// Reads single planes of a checked document's merged image ourselves, for what the decoder
// loses: the alpha channel of greyscale documents, and the palette.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "engine/psd/psd_check.h"

/// Plane `channel` of the merged image, `height` rows of `row_bytes` bytes, top row first, as
/// stored (big-endian samples); std::nullopt when the channel is missing or its data is damaged.
std::optional<std::vector<uint8_t>> ReadPsdChannel(std::span<const uint8_t> file,
                                                   const PsdLayout& layout, uint16_t channel);

/// The 256 palette entries (0xRRGGBB) of an indexed document's colour-mode data; std::nullopt when
/// the document carries none.
std::optional<std::vector<uint32_t>> ReadPsdPalette(std::span<const uint8_t> file,
                                                    const PsdLayout& layout);
