#pragma once

// PackBits, the run-length coding of Photoshop documents' merged images and layer channels,
// decoded with a bound on both sides: untrusted counts never read or write outside.

#include <cstddef>
#include <cstdint>
#include <span>

/// Unpacks one PackBits row into `out` (exactly `out.size()` bytes); false when the packed bytes
/// run short, overrun the row or leave it incomplete. Packed bytes after a complete row are left.
bool UnpackBitsRow(std::span<const uint8_t> packed, std::span<uint8_t> out);

/// True when `packed` unpacks into a row of `row_bytes` as UnpackBitsRow would, without writing
/// it anywhere.
bool PackedRowFits(std::span<const uint8_t> packed, size_t row_bytes);
