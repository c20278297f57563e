#pragma once

// How the decoder process hands a bitmap to the program: one flat record in a memory file (a
// header on the first page; the palette, the transparency table and the ICC profile; the pixel
// rows exactly as FreeImage holds them), so the program never decodes the document a second time.
// The rows are usually where FreeImage wrote them: the decoder's bitmap is allocated inside the
// memory file, and the record only says where.

#include <cstdint>

#include "engine/bitmap.h"

/// Limits on what a decoded record may claim, whatever the child wrote.
struct DecodedBitmapLimits {
  uint32_t width = 0;   // the width the document's header declares
  uint32_t height = 0;  // the height the document's header declares
  uint64_t max_icc_bytes = 0;
};

/// The first byte of a record after its header: what lies before belongs to the header alone.
constexpr uint64_t DecodedRecordDataStart = 4096;

/// The arena of a record starts at DecodedRecordDataStart: room for the rows the decoder is
/// expected to make, plus what FreeImage keeps in the same block (its header, a palette,
/// alignment).
constexpr uint64_t DecodedArenaSlack = 64 << 10;

/// The size of a record file whose arena holds `pixel_bytes` of rows.
constexpr uint64_t DecodedRecordBytes(uint64_t pixel_bytes) {
  return DecodedRecordDataStart + pixel_bytes + DecodedArenaSlack;
}

/// Where the pixel rows of a bitmap already lie inside the record file, when its allocation came
/// from there; `end` is the first byte after everything that allocation may hold.
struct PixelsInFile {
  uint64_t offset = 0;  // 0: the rows are elsewhere and are copied into the record
  uint64_t end = 0;
};

/// Writes the record of `image` to `fd`. Rows already in the file (`in_file`) stay where they
/// are; everything else goes after them, or after the file's end. The file never shrinks, so a
/// mapping of it made beforehand stays valid. False when a write fails.
bool WriteDecodedBitmap(int fd, FIBITMAP* image, PixelsInFile in_file = {});

/// A shared read-write mapping of a record file, released with the object unless handed on.
class RecordMapping {
 public:
  RecordMapping() = default;
  /// Maps the first `length` bytes of `fd`, every page at once (allocating what is missing);
  /// empty when it cannot.
  RecordMapping(int fd, uint64_t length);
  ~RecordMapping();
  RecordMapping(RecordMapping&& other) noexcept;
  RecordMapping& operator=(RecordMapping&& other) noexcept;

  void* address() const { return address_; }
  uint64_t length() const { return length_; }
  /// Gives up the mapping without unmapping it.
  void Release();

 private:
  void* address_ = nullptr;
  uint64_t length_ = 0;
};

/// Reads a record written by WriteDecodedBitmap back into a new bitmap that wraps the rows where
/// they lie; empty when the record is short, inconsistent or outside `limits`. `mapping` is used
/// when it covers the whole file, else the file is mapped anew.
Bitmap ReadDecodedBitmap(int fd, const DecodedBitmapLimits& limits, RecordMapping mapping = {});
