#pragma once

// The record the decoder process hands a bitmap over in, so the program never decodes the
// document a second time: first its head (a header, the palette, the transparency table, the ICC
// profile, the metadata tags, and where the rows lie in the decoder's memory), then the pixel
// rows exactly as FreeImage holds them. engine/isolation/decoder_protocol.h shows where it travels.

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/image/bitmap.h"
#include "engine/isolation/pixel_memory.h"

/// Limits on what a decoded record may claim, whatever the child wrote.
struct DecodedBitmapLimits {
  uint32_t width = 0;   // the width the document's header declares
  uint32_t height = 0;  // the height the document's header declares
  uint64_t max_icc_bytes = 0;
  uint64_t max_metadata_bytes = 0;
  /// The program allocates what a head claims before any row arrives, so the claim is bounded.
  uint64_t max_rows_bytes = UINT64_MAX;
  /// True when the size is not known beforehand: width and height are then the largest allowed.
  bool size_is_bound = false;
};

/// Writes the head of the record of `image` to `fd` (a pipe or a file); false when a write fails.
bool WriteDecodedHead(int fd, FIBITMAP* image);

/// Writes the rows of `image`, which follow its head; false when a write fails.
bool WriteDecodedRows(int fd, FIBITMAP* image);

/// Writes the whole record: head and rows.
bool WriteDecodedBitmap(int fd, FIBITMAP* image);

/// One metadata tag of a decoded bitmap (XMP, comments, Exif, IPTC...).
struct DecodedTag {
  uint32_t model = 0;  // FREE_IMAGE_MDMODEL
  std::string key;
  uint16_t id = 0;
  uint16_t type = 0;  // FREE_IMAGE_MDTYPE
  uint32_t count = 0;
  std::vector<BYTE> value;
};

/// A record's head, read and checked: everything of the bitmap but its rows.
struct DecodedHead {
  uint32_t type = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bpp = 0;
  uint32_t pitch = 0;
  uint32_t masks[3] = {};  // red, green, blue
  bool transparent = false;
  uint32_t dots_per_meter_x = 0;
  uint32_t dots_per_meter_y = 0;
  uint32_t icc_flags = 0;
  std::vector<RGBQUAD> palette;
  std::vector<BYTE> transparency;
  std::vector<BYTE> icc;
  std::vector<DecodedTag> metadata;
  uint64_t rows_size = 0;
  uint64_t rows_address = 0;  // in the writer's memory: only the writer's memory means it
};

/// True when an ICC profile's header checks out: its size field equals its length, it carries
/// "acsp" at byte 36, and its tag table and every tag lie within it.
bool IsSaneIccProfile(std::span<const BYTE> profile);

/// Reads and checks a head; std::nullopt when it is short, inconsistent, outside `limits` or not
/// complete by `deadline`.
std::optional<DecodedHead> ReadDecodedHead(int fd, const DecodedBitmapLimits& limits,
                                           std::chrono::steady_clock::time_point deadline);

/// Reads exactly `size` bytes of rows from `fd` by `deadline`; false otherwise.
bool ReadDecodedRows(int fd, void* rows, uint64_t size,
                     std::chrono::steady_clock::time_point deadline);

/// Memory for the rows of `head`: `memory` when it is large enough (trimmed), else new memory.
PixelMemory RowMemoryFor(const DecodedHead& head, PixelMemory memory);

/// A bitmap of `head` around `rows`, which hold its rows and go with it; empty when FreeImage
/// cannot make one.
Bitmap MakeDecodedBitmap(const DecodedHead& head, PixelMemory rows);

/// Reads a whole record written by WriteDecodedBitmap from `fd` into a new bitmap; empty when
/// the record is short, inconsistent, outside `limits` or not complete by `deadline`.
Bitmap ReadDecodedBitmap(int fd, const DecodedBitmapLimits& limits,
                         std::chrono::steady_clock::time_point deadline, PixelMemory memory = {});
