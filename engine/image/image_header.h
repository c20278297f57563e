#pragma once

// The look at an image file's declared size that comes before its pixels are decoded, and the
// bound that size must keep. Runs in the decoder process: FreeImage reads the header there.

#include <FreeImage.h>

#include <cstdint>
#include <optional>

/// What a file may declare before any of its pixels are decoded.
struct DecodeBound {
  uint32_t max_side = 0;           // pixels a side
  uint64_t max_decoded_bytes = 0;  // bytes of the decoded bitmap
};

/// A watermark image: 16384 px a side and 512 MiB decoded (a 16384 x 8192 RGBA image), on top of
/// the memory bound every decode keeps.
inline constexpr DecodeBound WatermarkBound{16384, 512ull << 20};

/// The size a file declares.
struct ImageHeader {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bpp = 0;
};

/// Bytes of a FreeImage bitmap of that size (rows padded to 4 bytes); UINT64_MAX on overflow.
uint64_t DecodedBitmapBytes(uint32_t width, uint32_t height, uint32_t bpp);

/// True when the header has pixels and keeps `bound`.
bool KeepsBound(const ImageHeader& header, const DecodeBound& bound);

/// The format of the stream at `handle` by its content, else `hint`; FIF_UNKNOWN when neither is
/// a format FreeImage reads. The stream is left at its start.
FREE_IMAGE_FORMAT SniffImageFormat(FreeImageIO* io, fi_handle handle, FREE_IMAGE_FORMAT hint);

/// The size declared by the header of the stream at `handle`, read without decoding pixels, and
/// the stream put back at its start; std::nullopt when the format has no header-only reading or
/// the header cannot be read.
std::optional<ImageHeader> LookAtImageHeader(FREE_IMAGE_FORMAT format, FreeImageIO* io,
                                             fi_handle handle);
