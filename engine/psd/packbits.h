#pragma once

// PackBits, the run-length coding of Photoshop documents' merged images and layer channels,
// decoded with a bound on both sides: untrusted counts never read or write outside.

#include <cstdint>
#include <span>

/// Unpacks one PackBits row into `out` (exactly `out.size()` bytes); false when the packed bytes
/// run short, overrun the row or leave it incomplete.
bool UnpackBitsRow(std::span<const uint8_t> packed, std::span<uint8_t> out);
