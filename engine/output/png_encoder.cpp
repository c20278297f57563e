#include "engine/output/png_encoder.h"

#include <libdeflate.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/output/png_rows.h"
#include "platform/system.h"

namespace {

// A slice's filtered bytes: large enough that starting without the history of the slice before
// costs well under 1% of the size, small enough that the slices in flight (each held filtered and
// compressed) stay a few MiB whatever the image.
constexpr size_t LargestSliceBytes = size_t{1} << 20;
constexpr size_t SmallestSliceBytes = size_t{256} << 10;
// What making a slice joinable may add: a byte for the stored block's header, its length and
// the length's complement.
constexpr size_t JoinBytes = 5;
// Slices per thread the image is cut into at least, so no thread is left with a long last one.
constexpr size_t SlicesPerThread = 4;

// ----- Chunks before the image data, written by libpng -----

// What FreeImage's writer puts in the chunks before the image data, read from the bitmap.
struct PngHeader {
  std::vector<png_color> palette;
  std::vector<png_byte> transparency;
  bool has_background = false;
  png_color_16 background{};
  png_uint_32 dots_x = 0;
  png_uint_32 dots_y = 0;
  const png_byte* profile = nullptr;
  png_uint_32 profile_bytes = 0;
  bool srgb = false;              // an sRGB chunk, where there is no profile
  std::vector<std::string> keys;  // the text chunks' keys; the texts stay in the bitmap's tags
  std::vector<png_text> texts;
  bool has_time = false;
  png_time time{};
};

void AddText(PngHeader& header, const char* key, FITAG* tag) {
  png_text text{};
  text.compression = PNG_ITXT_COMPRESSION_NONE;
  header.keys.emplace_back(key);
  text.text = static_cast<char*>(const_cast<void*>(FreeImage_GetTagValue(tag)));
  text.text_length = FreeImage_GetTagLength(tag);
  text.itxt_length = FreeImage_GetTagLength(tag);
  header.texts.push_back(text);
}

bool IsGreyFromRgba(PngRowForm form) {
  return form == PngRowForm::BgraToGrey || form == PngRowForm::BgraToGreyAlpha ||
         form == PngRowForm::Rgba16ToGreyAlpha;
}

PngHeader ReadHeader(FIBITMAP* image, const PngLayout& layout) {
  PngHeader header;
  if (layout.color_type == PNG_COLOR_TYPE_PALETTE) {
    const RGBQUAD* palette = FreeImage_GetPalette(image);
    const unsigned entries = 1u << layout.bit_depth;
    for (unsigned i = 0; i < entries && palette; ++i) {
      header.palette.push_back({palette[i].rgbRed, palette[i].rgbGreen, palette[i].rgbBlue});
    }
    if (layout.transparent) {
      const BYTE* table = FreeImage_GetTransparencyTable(image);
      header.transparency.assign(table, table + FreeImage_GetTransparencyCount(image));
    }
  }
  RGBQUAD background{};
  if (FreeImage_HasBackgroundColor(image) && FreeImage_GetBackgroundColor(image, &background)) {
    header.has_background = true;
    header.background.red = background.rgbRed;
    header.background.green = background.rgbGreen;
    header.background.blue = background.rgbBlue;
    header.background.index = background.rgbReserved;
    if (IsGreyFromRgba(layout.form)) {
      // A grey picture's background is one grey level; a coloured one has no place there.
      header.has_background =
          background.rgbRed == background.rgbGreen && background.rgbRed == background.rgbBlue;
      header.background.gray = background.rgbRed;
    }
  }
  header.dots_x = FreeImage_GetDotsPerMeterX(image);
  header.dots_y = FreeImage_GetDotsPerMeterY(image);
  const FIICCPROFILE* profile = FreeImage_GetICCProfile(image);
  if (profile && profile->size && profile->data) {
    header.profile = static_cast<const png_byte*>(profile->data);
    header.profile_bytes = profile->size;
  }

  // Comments and XMP go out as uncompressed international text, the date as a time chunk.
  FITAG* tag = nullptr;
  FIMETADATA* search = FreeImage_FindFirstMetadata(FIMD_COMMENTS, image, &tag);
  if (search) {
    do {
      AddText(header, FreeImage_GetTagKey(tag), tag);
    } while (FreeImage_FindNextMetadata(search, &tag));
    FreeImage_FindCloseMetadata(search);
  }
  tag = nullptr;
  if (FreeImage_GetMetadata(FIMD_XMP, image, "XMLPacket", &tag) && tag &&
      FreeImage_GetTagLength(tag)) {
    AddText(header, "XML:com.adobe.xmp", tag);
  }
  tag = nullptr;
  if (FreeImage_GetMetadata(FIMD_EXIF_MAIN, image, "DateTime", &tag) && tag &&
      FreeImage_GetTagLength(tag)) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    const char* value = static_cast<const char*>(FreeImage_GetTagValue(tag));
    if (std::sscanf(value, "%4d:%02d:%02d %2d:%02d:%02d", &year, &month, &day, &hour, &minute,
                    &second) == 6) {
      header.has_time = true;
      header.time = {static_cast<png_uint_16>(year), static_cast<png_byte>(month),
                     static_cast<png_byte>(day),     static_cast<png_byte>(hour),
                     static_cast<png_byte>(minute),  static_cast<png_byte>(second)};
    }
  }
  for (size_t i = 0; i < header.texts.size(); ++i) {
    header.texts[i].key = header.keys[i].data();
  }
  return header;
}

void WriteToFile(png_structp png, png_bytep data, size_t length) {
  FILE* file = static_cast<FILE*>(png_get_io_ptr(png));
  if (std::fwrite(data, 1, length, file) != length) png_error(png, "write failed");
}

void FlushNothing(png_structp) {}

[[noreturn]] void StopOnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

void IgnoreWarning(png_structp, png_const_charp) {}

void SetChunks(png_structp png, png_infop info, const PngLayout& layout, const PngHeader& header,
               bool interlaced) {
  if (header.dots_x > 0 && header.dots_y > 0) {
    png_set_pHYs(png, info, header.dots_x, header.dots_y, PNG_RESOLUTION_METER);
  }
  png_set_IHDR(png, info, layout.width, layout.height, layout.bit_depth, layout.color_type,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
               PNG_FILTER_TYPE_BASE);
  if (!header.palette.empty()) {
    png_set_PLTE(png, info, header.palette.data(), static_cast<int>(header.palette.size()));
  }
  if (header.profile) {
    png_set_option(png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
    png_set_iCCP(png, info, "Embedded Profile", 0, header.profile, header.profile_bytes);
  } else if (header.srgb) {
    // The intent the pixels were converted with.
    png_set_sRGB(png, info, PNG_sRGB_INTENT_RELATIVE);
  }
  if (!header.texts.empty()) {
    png_set_text(png, info, header.texts.data(), static_cast<int>(header.texts.size()));
  }
  if (header.has_time) png_set_tIME(png, info, &header.time);
  if (!header.transparency.empty()) {
    png_set_tRNS(png, info, header.transparency.data(),
                 static_cast<int>(header.transparency.size()), nullptr);
  }
  if (header.has_background) png_set_bKGD(png, info, &header.background);
}

// libpng's filter flags for a filter of ours.
int LibpngFilters(PngFilter filter) {
  switch (filter) {
    case PngFilter::None:
      return PNG_FILTER_NONE;
    case PngFilter::Sub:
      return PNG_FILTER_SUB;
    case PngFilter::Up:
      return PNG_FILTER_UP;
    case PngFilter::Average:
      return PNG_FILTER_AVG;
    case PngFilter::Paeth:
      return PNG_FILTER_PAETH;
    case PngFilter::Adaptive:
      return PNG_FILTER_NONE | PNG_FILTER_SUB | PNG_FILTER_PAETH;
    case PngFilter::AdaptiveAll:
      return PNG_ALL_FILTERS;
  }
  return PNG_FILTER_NONE;
}

// The filter that fits the compression. Stored data cannot shrink, so filtering it only costs
// time. Palettes and packed pixels are best left unfiltered. Other pixels take the adaptive
// choice among all five filters: measured (bench/README.md), it gives files as small as or
// smaller than FreeImage's choice among three, in less time, where a single fixed filter wins
// on some images and loses on others.
PngFilter ChooseFilter(const PngLayout& layout, const PngEncoding& encoding) {
  if (encoding.filter) return *encoding.filter;
  if (encoding.level == 0) return PngFilter::None;
  if (layout.color_type == PNG_COLOR_TYPE_PALETTE || layout.bit_depth < 8) return PngFilter::None;
  return PngFilter::AdaptiveAll;
}

int Strategy(const PngLayout& layout, PngFilter filter) {
  // As FreeImage's writer: filtered colour compresses better with the filtered strategy.
  return filter != PngFilter::None && layout.bits_per_pixel >= 16 ? Z_FILTERED : Z_DEFAULT_STRATEGY;
}

// The signature and the chunks before the image data; with `rows`, an interlaced image whole,
// left to libpng (Adam7 passes are rare, and small files' business). Nothing here may need a
// destructor: libpng leaves through longjmp.
bool WriteWithLibpng(FILE* file, FIBITMAP* image, const PngLayout& layout, const PngHeader& header,
                     const PngEncoding& encoding, uint8_t* rows) {
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, StopOnError, IgnoreWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, file, WriteToFile, FlushNothing);
  SetChunks(png, info, layout, header, rows != nullptr);
  if (rows) {
    png_set_compression_level(png, encoding.level);
    png_set_compression_strategy(png, Strategy(layout, *encoding.filter));
    png_set_filter(png, PNG_FILTER_TYPE_BASE, LibpngFilters(*encoding.filter));
  }
  png_write_info(png, info);
  if (rows) {
    const int passes = png_set_interlace_handling(png);
    for (int pass = 0; pass < passes; ++pass) {
      for (uint32_t row = 0; row < layout.height; ++row) {
        ConvertPngRow(image, layout, row, rows);
        png_write_row(png, rows);
      }
    }
    png_write_end(png, info);
  }
  png_destroy_write_struct(&png, &info);
  return true;
}

// ----- Image data in slices -----

void PutBigEndian(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value >> 24);
  out[1] = static_cast<uint8_t>(value >> 16);
  out[2] = static_cast<uint8_t>(value >> 8);
  out[3] = static_cast<uint8_t>(value);
}

// The two bytes that open the zlib stream, as zlib writes them for `level`.
void PutZlibHeader(uint8_t* out, int level) {
  const unsigned level_flags = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
  unsigned header = (0x78u << 8) | (level_flags << 6);
  header += 31 - header % 31;
  out[0] = static_cast<uint8_t>(header >> 8);
  out[1] = static_cast<uint8_t>(header);
}

// Bytes that grow on demand but are never cleared: the pages the data does not reach are never
// touched, so room for the worst case costs only what is written.
class Buffer {
 public:
  uint8_t* data() { return data_.get(); }
  size_t size() const { return size_; }
  /// At least `size` bytes, the first `kept` of them kept.
  void Grow(size_t size, size_t kept) {
    if (size <= size_) return;
    auto grown = std::make_unique_for_overwrite<uint8_t[]>(size);
    if (kept > 0) std::memcpy(grown.get(), data_.get(), std::min(kept, size_));
    data_ = std::move(grown);
    size_ = size;
  }

 private:
  std::unique_ptr<uint8_t[]> data_;
  size_t size_ = 0;
};

// One IDAT chunk: length and type are filled in by the slice, the CRC by the writer, which
// alone knows whether the stream's checksum must still follow.
struct Slice {
  uint32_t first_row = 0;
  uint32_t end_row = 0;
  Buffer* chunk = nullptr;  // length, "IDAT", compressed data, and spare room
  size_t chunk_bytes = 0;
  uint32_t crc = 0;    // over the type and data so far
  uint32_t adler = 1;  // over this slice's filtered bytes
  size_t filtered_bytes = 0;
  bool done = false;
  bool ok = false;
};

// libdeflate's level for a zlib level. At 6 libdeflate's files came out up to 7.5% larger than
// zlib's (bench/README.md); its 7 gives zlib's size or less on most documents, still in less
// time. At 1 and 9 the same number already compresses as well.
int LibdeflateLevel(int zlib_level) { return zlib_level == 6 ? 7 : zlib_level; }

// Makes the raw deflate stream `data` (`length` bytes, complete, one slice's) one that the next
// slice's can follow: its last block loses its final flag, and an empty stored block brings it
// to a byte boundary, as a sync flush would. Where the blocks end is known only by decoding them;
// zlib's inflate stops at each block's end when asked. It decodes into `scratch` (`room`
// bytes), which the larger it is the fewer copies zlib makes into its window. Returns the new
// length (at most JoinBytes more), or 0 when the data is not one complete deflate stream.
size_t MakeJoinable(uint8_t* data, size_t length, z_stream& inflater, uint8_t* scratch,
                    size_t room) {
  if (inflateReset(&inflater) != Z_OK) return 0;
  inflater.next_in = data;
  inflater.avail_in = static_cast<uInt>(length);
  uint64_t last_block = 0;  // the bit where the block being decoded began
  uint64_t end = 0;         // the bit after the final block
  for (;;) {
    inflater.next_out = scratch;
    inflater.avail_out = static_cast<uInt>(room);
    if (inflate(&inflater, Z_BLOCK) != Z_OK) return 0;
    // Bit 7: stopped at the end of a block, with fewer than 8 bits of the last byte unused;
    // bit 6: that block was the final one.
    if (inflater.data_type & 128) {
      const size_t consumed = length - inflater.avail_in;
      const uint64_t at = uint64_t{consumed} * 8 - static_cast<unsigned>(inflater.data_type & 7);
      if (inflater.data_type & 64) {
        end = at;
        break;
      }
      last_block = at;
    }
  }
  data[last_block / 8] &= static_cast<uint8_t>(~(1u << (last_block % 8)));  // the final flag
  size_t bytes = static_cast<size_t>((end + 7) / 8);
  const unsigned used = static_cast<unsigned>(end % 8);
  if (used != 0) data[bytes - 1] &= static_cast<uint8_t>((1u << used) - 1);
  // The stored block's header, three zero bits, fits in the last byte when it has room for them.
  if (used == 0 || used > 5) data[bytes++] = 0;
  static const uint8_t EmptyStored[4] = {0x00, 0x00, 0xFF, 0xFF};
  std::memcpy(data + bytes, EmptyStored, sizeof EmptyStored);
  return bytes + sizeof EmptyStored;
}

// Compresses slices into IDAT chunks, one thread's worth: the state is kept from slice to slice,
// since fresh memory for each would be paid for in page faults. Compressed slices are whole
// deflate streams made joinable (libdeflate, about twice zlib's speed at the same level and
// size); stored ones are zlib's, which writes them a row at a time with no copy of the slice.
class SliceCompressor {
 public:
  SliceCompressor(FIBITMAP* image, const PngLayout& layout, const PngEncoding& encoding)
      : encoding_(encoding), rows_(image, layout, *encoding.filter) {}

  ~SliceCompressor() {
    if (deflate_started_) deflateEnd(&deflater_);
    if (inflate_started_) inflateEnd(&inflater_);
    if (compressor_) libdeflate_free_compressor(compressor_);
  }
  SliceCompressor(const SliceCompressor&) = delete;
  SliceCompressor& operator=(const SliceCompressor&) = delete;

  bool Compress(Slice& slice, bool first, bool last) {
    const size_t filtered = rows_.FilteredBytes();
    slice.filtered_bytes = filtered * (slice.end_row - slice.first_row);
    const size_t opening = 8 + (first ? 2 : 0);
    Buffer& chunk = *slice.chunk;
    chunk.Grow(opening, 0);
    std::memcpy(chunk.data() + 4, "IDAT", 4);
    if (first) PutZlibHeader(chunk.data() + 8, encoding_.level);

    size_t used = opening;
    const bool ok =
        encoding_.level == 0 ? Store(slice, last, chunk, used) : Deflate(slice, last, chunk, used);
    if (!ok) return false;
    slice.chunk_bytes = used;
    const size_t data_bytes = used - 8;
    if (data_bytes > PNG_UINT_31_MAX - 4) return false;
    PutBigEndian(chunk.data(), static_cast<uint32_t>(data_bytes));
    slice.crc = static_cast<uint32_t>(libdeflate_crc32(0, chunk.data() + 4, used - 4));
    return true;
  }

 private:
  bool Deflate(Slice& slice, bool last, Buffer& chunk, size_t& used) {
    if (!compressor_ &&
        !(compressor_ = libdeflate_alloc_compressor(LibdeflateLevel(encoding_.level)))) {
      return false;
    }
    if (!last && !inflate_started_) {
      inflate_started_ = inflateInit2(&inflater_, -15) == Z_OK;
      if (!inflate_started_) return false;
    }
    const size_t filtered = rows_.FilteredBytes();
    const size_t length = slice.filtered_bytes;
    input_.Grow(length, 0);
    rows_.Seek(slice.first_row);
    for (uint8_t* at = input_.data(); at < input_.data() + length; at += filtered) {
      std::memcpy(at, rows_.Next(), filtered);
    }
    slice.adler = static_cast<uint32_t>(libdeflate_adler32(1, input_.data(), length));

    const size_t bound = libdeflate_deflate_compress_bound(compressor_, length);
    chunk.Grow(used + bound + JoinBytes, used);
    uint8_t* out = chunk.data() + used;
    size_t bytes = libdeflate_deflate_compress(compressor_, input_.data(), length, out, bound);
    if (bytes == 0) return false;
    // The slice's rows are compressed: the check decodes over them.
    if (!last && (bytes = MakeJoinable(out, bytes, inflater_, input_.data(), length)) == 0) {
      return false;
    }
    used += bytes;
    return true;
  }

  bool Store(Slice& slice, bool last, Buffer& chunk, size_t& used) {
    if (!deflate_started_) {
      deflate_started_ =
          deflateInit2(&deflater_, 0, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
      if (!deflate_started_) return false;
    } else if (deflateReset(&deflater_) != Z_OK) {
      return false;
    }
    const size_t filtered = rows_.FilteredBytes();
    const size_t room = used + deflateBound(&deflater_, slice.filtered_bytes) + 64;
    chunk.Grow(room, used);
    slice.adler = 1;
    rows_.Seek(slice.first_row);
    for (uint32_t row = slice.first_row; row < slice.end_row; ++row) {
      const uint8_t* data = rows_.Next();
      slice.adler = static_cast<uint32_t>(libdeflate_adler32(slice.adler, data, filtered));
      const bool final_row = row + 1 == slice.end_row;
      const int flush = !final_row ? Z_NO_FLUSH : last ? Z_FINISH : Z_SYNC_FLUSH;
      if (!ZlibDeflate(deflater_, data, filtered, flush, chunk, used)) return false;
    }
    return true;
  }

  static bool ZlibDeflate(z_stream& stream, const uint8_t* data, size_t length, int flush,
                          Buffer& out, size_t& used) {
    stream.next_in = const_cast<Bytef*>(data);
    stream.avail_in = static_cast<uInt>(length);
    for (;;) {
      if (out.size() - used < 64) out.Grow(out.size() + out.size() / 2 + 1024, used);
      stream.next_out = out.data() + used;
      stream.avail_out = static_cast<uInt>(out.size() - used);
      const int result = deflate(&stream, flush);
      used = out.size() - stream.avail_out;
      if (result == Z_STREAM_ERROR) return false;
      if (flush == Z_FINISH ? result == Z_STREAM_END : stream.avail_out > 0) return true;
    }
  }

  const PngEncoding& encoding_;
  PngRowFilter rows_;
  libdeflate_compressor* compressor_ = nullptr;
  Buffer input_;  // the slice's filtered rows
  z_stream inflater_{};
  bool inflate_started_ = false;
  z_stream deflater_{};
  bool deflate_started_ = false;
};

std::vector<Slice> CutIntoSlices(const PngLayout& layout, const PngEncoding& encoding,
                                 size_t threads) {
  const size_t filtered = layout.row_bytes + 1;
  size_t target = encoding.slice_bytes;
  if (target == 0 && encoding.level == 0) {
    // Stored data gains nothing from long slices, and each is held whole while written.
    target = SmallestSliceBytes;
  } else if (target == 0) {
    target = filtered * layout.height / (threads * SlicesPerThread);
    target = std::clamp(target, SmallestSliceBytes, LargestSliceBytes);
  }
  const uint32_t rows = static_cast<uint32_t>(std::max<size_t>(1, target / filtered));
  std::vector<Slice> slices;
  for (uint32_t first = 0; first < layout.height; first += std::min(rows, layout.height - first)) {
    Slice slice;
    slice.first_row = first;
    slice.end_row = first + std::min(rows, layout.height - first);
    slices.push_back(std::move(slice));
  }
  return slices;
}

// Writes one slice's chunk; the last one carries the stream's checksum at its end.
bool WriteSlice(FILE* file, Slice& slice, uint32_t stream_adler, bool last) {
  uint8_t tail[8];
  size_t tail_bytes = 0;
  uint32_t crc = slice.crc;
  if (last) {
    PutBigEndian(tail, stream_adler);
    crc = crc32(crc, tail, 4);
    tail_bytes = 4;
    uint8_t* length = slice.chunk->data();
    const uint32_t data_bytes = (uint32_t{length[0]} << 24 | uint32_t{length[1]} << 16 |
                                 uint32_t{length[2]} << 8 | length[3]) +
                                4;
    PutBigEndian(length, data_bytes);
  }
  PutBigEndian(tail + tail_bytes, crc);
  tail_bytes += 4;
  return std::fwrite(slice.chunk->data(), 1, slice.chunk_bytes, file) == slice.chunk_bytes &&
         std::fwrite(tail, 1, tail_bytes, file) == tail_bytes;
}

// Compresses the slices on `threads` threads and writes them in order as they come; at most a
// few slices beyond the one being written are held at a time, each in a buffer of a ring that is
// used over again.
bool WriteSlices(FILE* file, FIBITMAP* image, const PngLayout& layout, const PngEncoding& encoding,
                 size_t threads) {
  std::vector<Slice> slices = CutIntoSlices(layout, encoding, threads);
  const size_t count = slices.size();
  threads = std::min(threads, count);
  // One slice a thread, and the one being written; on one thread a slice is written as soon as
  // it is compressed.
  const size_t window = threads > 1 ? threads + 1 : 1;
  std::vector<Buffer> buffers(window);
  for (size_t index = 0; index < count; ++index) slices[index].chunk = &buffers[index % window];

  std::mutex mutex;
  std::condition_variable changed;
  size_t next = 0;     // the first slice no thread has taken
  size_t written = 0;  // the slices written out
  bool stop = false;

  auto work = [&] {
    SliceCompressor compressor(image, layout, encoding);
    for (;;) {
      size_t index = 0;
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return stop || next >= count || next < written + window; });
        if (stop || next >= count) return;
        index = next++;
      }
      Slice& slice = slices[index];
      const bool ok = compressor.Compress(slice, index == 0, index + 1 == count);
      {
        std::lock_guard lock(mutex);
        slice.ok = ok;
        slice.done = true;
      }
      changed.notify_all();
    }
  };

  std::vector<std::thread> workers;
  if (threads > 1) {
    for (size_t i = 0; i < threads; ++i) workers.emplace_back(work);
  }
  uint32_t stream_adler = 1;
  bool ok = true;
  std::optional<SliceCompressor> inline_compressor;
  if (workers.empty()) inline_compressor.emplace(image, layout, encoding);
  for (size_t index = 0; index < count && ok; ++index) {
    Slice& slice = slices[index];
    if (workers.empty()) {
      slice.ok = inline_compressor->Compress(slice, index == 0, index + 1 == count);
    } else {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return slice.done; });
    }
    stream_adler = index == 0 ? slice.adler
                              : adler32_combine(stream_adler, slice.adler,
                                                static_cast<z_off_t>(slice.filtered_bytes));
    ok = slice.ok && WriteSlice(file, slice, stream_adler, index + 1 == count);
    {
      std::lock_guard lock(mutex);
      ++written;
      if (!ok) stop = true;
    }
    changed.notify_all();
  }
  for (std::thread& worker : workers) worker.join();
  return ok;
}

bool WriteEnd(FILE* file) {
  static const uint8_t End[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  return std::fwrite(End, 1, sizeof End, file) == sizeof End;
}

}  // namespace

PngEncoding PngEncodingFor(int32_t flags) {
  PngEncoding encoding;
  const int32_t level = flags & 0x0F;
  if (level >= 1 && level <= 9) {
    encoding.level = level;
  } else if ((flags & PNG_Z_NO_COMPRESSION) == PNG_Z_NO_COMPRESSION) {
    encoding.level = 0;
  } else {
    encoding.level = 6;  // zlib's default
  }
  encoding.interlaced = (flags & PNG_INTERLACED) == PNG_INTERLACED;
  encoding.srgb = (flags & PngSrgbChunk) == PngSrgbChunk;
  encoding.grey_from_rgba = (flags & PngGreyFromRgba) == PngGreyFromRgba;
  return encoding;
}

bool WritePng(FIBITMAP* image, FILE* file, const PngEncoding& requested) {
  if (!file || requested.level < 0 || requested.level > 9) return false;
  const std::optional<PngLayout> layout = DescribePng(image, requested.grey_from_rgba);
  if (!layout) return false;
  PngHeader header = ReadHeader(image, *layout);
  header.srgb = requested.srgb && !header.profile;
  PngEncoding encoding = requested;
  encoding.filter = ChooseFilter(*layout, requested);

  if (encoding.interlaced) {
    std::vector<uint8_t> row(layout->row_bytes);
    return WriteWithLibpng(file, image, *layout, header, encoding, row.data());
  }
  if (!WriteWithLibpng(file, image, *layout, header, encoding, nullptr)) return false;
  // Stored blocks are a copy: more threads would only add a buffer and a stream each.
  const size_t threads =
      encoding.level == 0
          ? 1
          : static_cast<size_t>(encoding.threads > 0 ? encoding.threads : UsableProcessorCount());
  return WriteSlices(file, image, *layout, encoding, threads) && WriteEnd(file);
}
