#include "themes/png_budget.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr std::array<uint8_t, 8> PngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr size_t ChunkFrameBytes = 12;  // length, type and CRC around the data
constexpr size_t HeaderDataBytes = 13;

uint32_t ReadBig32(const uint8_t* bytes) {
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
         uint32_t{bytes[3]};
}

// Samples per pixel of a colour type; 0 for one PNG does not define.
uint32_t Channels(uint8_t colour_type) {
  switch (colour_type) {
    case 0:  // grey
    case 3:  // palette
      return 1;
    case 4:  // grey and alpha
      return 2;
    case 2:  // RGB
      return 3;
    case 6:  // RGBA
      return 4;
    default:
      return 0;
  }
}

bool ValidDepth(uint8_t bit_depth, uint8_t colour_type) {
  switch (colour_type) {
    case 0:
      return bit_depth == 1 || bit_depth == 2 || bit_depth == 4 || bit_depth == 8 ||
             bit_depth == 16;
    case 3:
      return bit_depth == 1 || bit_depth == 2 || bit_depth == 4 || bit_depth == 8;
    case 2:
    case 4:
    case 6:
      return bit_depth == 8 || bit_depth == 16;
    default:
      return false;
  }
}

uint64_t RowsBytes(uint64_t width, uint64_t height, uint64_t bits_per_pixel) {
  if (width == 0 || height == 0) return 0;
  return height * (1 + (width * bits_per_pixel + 7) / 8);
}

// Inflates the image data chunk by chunk into a scratch buffer, never past one byte more than
// the picture needs.
class BudgetedInflater {
 public:
  explicit BudgetedInflater(uint64_t budget) : budget_(budget) {
    ready_ = inflateInit(&stream_) == Z_OK;
  }
  ~BudgetedInflater() {
    if (ready_) inflateEnd(&stream_);
  }
  BudgetedInflater(const BudgetedInflater&) = delete;
  BudgetedInflater& operator=(const BudgetedInflater&) = delete;

  uint64_t produced() const { return produced_; }

  // Feeds one chunk's data; false once more came out than the budget allows.
  bool Feed(const uint8_t* data, uint32_t size) {
    if (!ready_ || ended_) return true;
    stream_.next_in = const_cast<Bytef*>(data);
    stream_.avail_in = size;
    while (stream_.avail_in > 0) {
      const auto offered =
          static_cast<uInt>(std::min<uint64_t>(scratch_.size(), budget_ + 1 - produced_));
      stream_.next_out = scratch_.data();
      stream_.avail_out = offered;
      const int status = inflate(&stream_, Z_NO_FLUSH);
      produced_ += offered - stream_.avail_out;
      if (produced_ > budget_) return false;
      if (status == Z_STREAM_END || (status != Z_OK && status != Z_BUF_ERROR)) {
        // The end, or damage the decoder will find at the same place.
        ended_ = true;
        return true;
      }
      if (status == Z_BUF_ERROR) return true;  // needs the next chunk
    }
    return true;
  }

 private:
  z_stream stream_{};
  std::array<Bytef, 16 * 1024> scratch_{};
  uint64_t budget_;
  uint64_t produced_ = 0;
  bool ready_ = false;
  bool ended_ = false;
};

// Where the deflate data of a compressed text or profile chunk starts: after its keyword (and for
// international text its flags, language and translated keyword). Null when the chunk holds
// none, or is too damaged to say; the decoder then inflates nothing of it either.
const uint8_t* CompressedPart(const uint8_t* type, const uint8_t* data, uint32_t length) {
  const uint8_t* end = data + length;
  const auto after_zero = [end](const uint8_t* from) -> const uint8_t* {
    const void* zero = std::memchr(from, 0, static_cast<size_t>(end - from));
    return zero ? static_cast<const uint8_t*>(zero) + 1 : nullptr;
  };
  const uint8_t* at = after_zero(data);  // keyword or profile name
  if (!at) return nullptr;
  if (std::memcmp(type, "zTXt", 4) == 0 || std::memcmp(type, "iCCP", 4) == 0) {
    return end - at >= 1 ? at + 1 : nullptr;  // past the method byte
  }
  // iTXt: compression flag, method, language tag, translated keyword.
  if (end - at < 2 || at[0] == 0) return nullptr;
  at = after_zero(at + 2);
  return at ? after_zero(at) : nullptr;
}

bool IsCompressedMetadata(const uint8_t* type) {
  return std::memcmp(type, "zTXt", 4) == 0 || std::memcmp(type, "iTXt", 4) == 0 ||
         std::memcmp(type, "iCCP", 4) == 0;
}

}  // namespace

uint64_t PngImageDataBytes(uint32_t width, uint32_t height, uint8_t bit_depth, uint8_t colour_type,
                           uint8_t interlace) {
  const uint32_t channels = Channels(colour_type);
  if (channels == 0 || !ValidDepth(bit_depth, colour_type) || width == 0 || height == 0) return 0;
  const uint64_t bits = uint64_t{channels} * bit_depth;
  if (interlace == 0) return RowsBytes(width, height, bits);
  if (interlace != 1) return 0;
  // Adam7: each pass takes every n-th pixel of every m-th row from a starting point; an empty
  // pass has no rows at all, not even their filter bytes.
  constexpr uint32_t ColumnStart[7] = {0, 4, 0, 2, 0, 1, 0};
  constexpr uint32_t ColumnStep[7] = {8, 8, 4, 4, 2, 2, 1};
  constexpr uint32_t RowStart[7] = {0, 0, 4, 0, 2, 0, 1};
  constexpr uint32_t RowStep[7] = {8, 8, 8, 4, 4, 2, 2};
  uint64_t total = 0;
  for (int pass = 0; pass < 7; ++pass) {
    const uint64_t columns =
        width > ColumnStart[pass]
            ? (uint64_t{width} - ColumnStart[pass] + ColumnStep[pass] - 1) / ColumnStep[pass]
            : 0;
    const uint64_t rows =
        height > RowStart[pass]
            ? (uint64_t{height} - RowStart[pass] + RowStep[pass] - 1) / RowStep[pass]
            : 0;
    total += RowsBytes(columns, rows, bits);
  }
  return total;
}

bool PngInflatesWithinBounds(std::span<const uint8_t> png, uint32_t max_side) {
  if (png.size() < PngSignature.size() + ChunkFrameBytes + HeaderDataBytes ||
      std::memcmp(png.data(), PngSignature.data(), PngSignature.size()) != 0) {
    return false;
  }
  const uint8_t* header = png.data() + PngSignature.size();
  if (ReadBig32(header) != HeaderDataBytes || std::memcmp(header + 4, "IHDR", 4) != 0) return false;
  const uint8_t* fields = header + 8;
  const uint32_t width = ReadBig32(fields);
  const uint32_t height = ReadBig32(fields + 4);
  if (width > max_side || height > max_side) return false;
  const uint64_t budget = PngImageDataBytes(width, height, fields[8], fields[9], fields[12]);
  if (budget == 0) return false;

  BudgetedInflater image_data(budget);
  uint64_t metadata_left = MaxPngMetadataInflation;
  size_t at = PngSignature.size();
  while (png.size() - at >= ChunkFrameBytes) {
    const uint32_t length = ReadBig32(png.data() + at);
    // A chunk longer than the bytes left is damaged, and libpng would allocate its whole
    // declared length (up to 2 GiB) before finding out.
    if (length > png.size() - at - ChunkFrameBytes) return false;
    const uint8_t* type = png.data() + at + 4;
    const uint8_t* data = type + 4;
    if (std::memcmp(type, "IDAT", 4) == 0 && !image_data.Feed(data, length)) return false;
    if (IsCompressedMetadata(type)) {
      if (const uint8_t* compressed = CompressedPart(type, data, length)) {
        BudgetedInflater metadata(metadata_left);
        const auto size = static_cast<uint32_t>(data + length - compressed);
        if (!metadata.Feed(compressed, size)) return false;
        metadata_left -= metadata.produced();
      }
    }
    if (std::memcmp(type, "IEND", 4) == 0) break;
    at += ChunkFrameBytes + length;
  }
  return true;
}
