#pragma once

// A look at a PNG's compressed data before it is decoded: a few kilobytes of deflate data can
// inflate to a gigabyte, and libpng inflates all of an image stream even once the picture is
// complete, and every compressed text chunk up to megabytes each.

#include <cstdint>
#include <span>

/// What the compressed text and profile chunks of one picture may inflate to, all together.
inline constexpr uint64_t MaxPngMetadataInflation = 1u << 20;

/// The bytes of filtered image data that a PNG with this header holds: one filter byte and the
/// packed pixels of each row, of each interlace pass; 0 for a header that is not valid.
uint64_t PngImageDataBytes(uint32_t width, uint32_t height, uint8_t bit_depth, uint8_t colour_type,
                           uint8_t interlace);

/// False when the image data of `png` inflates to more bytes than its header's size needs, its
/// compressed text and profile chunks to more than MaxPngMetadataInflation (inflating stops
/// there), or it has no header of a picture at most `max_side` pixels a side. Other damage is
/// left to the decoder, which then inflates no more than was looked at here.
bool PngInflatesWithinBounds(std::span<const uint8_t> png, uint32_t max_side);
