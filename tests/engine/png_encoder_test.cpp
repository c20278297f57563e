#include "engine/output/png_encoder.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/image/bitmap.h"
#include "tests/support/temp_dir.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int Width = 61;  // odd, so packed rows end inside a byte
constexpr int Height = 47;

// A gradient with some noise, different in each channel: neither trivial nor random.
uint8_t Sample(int x, int y, int channel) {
  const unsigned hash = (x * 73856093u) ^ (y * 19349663u) ^ (channel * 83492791u);
  return static_cast<uint8_t>(x * 3 + y * (channel + 1) + ((hash >> 7) & 15));
}

void AddIccProfile(FIBITMAP* image, bool grey) {
  // A small profile libpng accepts: a header and a white point.
  uint8_t profile[164] = {};
  auto put = [&](size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) profile[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
  };
  put(0, sizeof profile);
  put(8, 0x02100000);
  std::memcpy(profile + 12, "mntr", 4);
  std::memcpy(profile + 16, grey ? "GRAY" : "RGB ", 4);
  std::memcpy(profile + 20, "XYZ ", 4);
  std::memcpy(profile + 36, "acsp", 4);
  put(68, 0x0000F6D6);
  put(72, 0x00010000);
  put(76, 0x0000D32D);
  put(128, 1);
  std::memcpy(profile + 132, "wtpt", 4);
  put(136, 144);
  put(140, 20);
  std::memcpy(profile + 144, "XYZ ", 4);
  put(152, 0x0000F6D6);
  put(156, 0x00010000);
  put(160, 0x0000D32D);
  ASSERT_TRUE(FreeImage_CreateICCProfile(image, profile, sizeof profile));
}

void AddText(FIBITMAP* image, FREE_IMAGE_MDMODEL model, const char* key, const std::string& value) {
  FITAG* tag = FreeImage_CreateTag();
  FreeImage_SetTagKey(tag, key);
  FreeImage_SetTagType(tag, FIDT_ASCII);
  FreeImage_SetTagLength(tag, static_cast<DWORD>(value.size() + 1));
  FreeImage_SetTagCount(tag, static_cast<DWORD>(value.size() + 1));
  FreeImage_SetTagValue(tag, value.c_str());
  FreeImage_SetMetadata(model, image, key, tag);
  FreeImage_DeleteTag(tag);
}

// Everything the loader can bring back beside the pixels. The profile's colour space follows
// the PNG's, as libpng demands.
void AddMetadata(FIBITMAP* image) {
  FreeImage_SetDotsPerMeterX(image, 3780);
  FreeImage_SetDotsPerMeterY(image, 2835);
  const FREE_IMAGE_COLOR_TYPE colour = FreeImage_GetColorType(image);
  AddIccProfile(image, (colour == FIC_MINISBLACK || colour == FIC_MINISWHITE) &&
                           !FreeImage_IsTransparent(image));
  AddText(image, FIMD_COMMENTS, "Comment", "Made by a test");
  AddText(image, FIMD_COMMENTS, "Author", "Quorvix");
  AddText(image, FIMD_XMP, "XMLPacket", "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"></x:xmpmeta>");
  AddText(image, FIMD_EXIF_MAIN, "DateTime", "2024:05:06 07:08:09");
  RGBQUAD background{10, 20, 30, 0};
  FreeImage_SetBackgroundColor(image, &background);
}

Bitmap Packed(unsigned bpp, const std::function<void(RGBQUAD*)>& palette) {
  Bitmap image(FreeImage_Allocate(Width, Height, static_cast<int>(bpp)));
  palette(FreeImage_GetPalette(image.get()));
  const unsigned per_byte = 8 / bpp;
  for (int y = 0; y < Height; ++y) {
    BYTE* line = FreeImage_GetScanLine(image.get(), y);
    const unsigned bytes = FreeImage_GetPitch(image.get());
    for (unsigned i = 0; i < bytes; ++i) {
      BYTE value = 0;
      for (unsigned j = 0; j < per_byte; ++j) {
        const unsigned x = i * per_byte + j;
        value = static_cast<BYTE>(value << bpp | (Sample(x, y, 0) >> (8 - bpp)));
      }
      line[i] = value;  // past the row's end too: padding must not reach the pixels
    }
  }
  return image;
}

void GreyRamp(RGBQUAD* palette, unsigned entries, bool white_is_zero) {
  for (unsigned i = 0; i < entries; ++i) {
    const BYTE level = static_cast<BYTE>(i * 255 / (entries - 1));
    const BYTE value = white_is_zero ? static_cast<BYTE>(255 - level) : level;
    palette[i] = {value, value, value, 0};
  }
}

Bitmap Colour(FREE_IMAGE_TYPE type, int bpp, bool opaque) {
  Bitmap image(FreeImage_AllocateT(type, Width, Height, bpp));
  const unsigned channels = type == FIT_BITMAP ? bpp / 8 : bpp / 16;
  for (int y = 0; y < Height; ++y) {
    BYTE* line = FreeImage_GetScanLine(image.get(), y);
    for (int x = 0; x < Width; ++x) {
      for (unsigned c = 0; c < channels; ++c) {
        const uint8_t value = opaque && c == 3 ? 255 : Sample(x, y, static_cast<int>(c));
        if (type == FIT_BITMAP) {
          line[x * channels + c] = value;
        } else {
          reinterpret_cast<WORD*>(line)[x * channels + c] =
              static_cast<WORD>(value * 257 ^ Sample(y, x, 5));
        }
      }
    }
  }
  return image;
}

struct Kind {
  std::string name;
  std::function<Bitmap()> make;
};

// Every kind of bitmap the program saves as PNG.
std::vector<Kind> Kinds() {
  return {
      {"1-bit black is zero", [] { return Packed(1, [](RGBQUAD* p) { GreyRamp(p, 2, false); }); }},
      {"1-bit white is zero", [] { return Packed(1, [](RGBQUAD* p) { GreyRamp(p, 2, true); }); }},
      {"1-bit transparent",
       [] {
         Bitmap image = Packed(1, [](RGBQUAD* p) { GreyRamp(p, 2, false); });
         BYTE table[2] = {255, 0};
         FreeImage_SetTransparencyTable(image.get(), table, 2);
         return image;
       }},
      {"4-bit grey ramp", [] { return Packed(4, [](RGBQUAD* p) { GreyRamp(p, 16, false); }); }},
      {"4-bit palette with transparency",
       [] {
         Bitmap image = Packed(4, [](RGBQUAD* p) {
           for (BYTE i = 0; i < 16; ++i) p[i] = {static_cast<BYTE>(i * 16), 200, i, 0};
         });
         BYTE table[6] = {0, 40, 80, 120, 160, 200};
         FreeImage_SetTransparencyTable(image.get(), table, 6);
         return image;
       }},
      {"8-bit grey", [] { return Packed(8, [](RGBQUAD* p) { GreyRamp(p, 256, false); }); }},
      {"8-bit palette",
       [] {
         const Bitmap colour = Colour(FIT_BITMAP, 24, true);
         Bitmap image(FreeImage_ColorQuantizeEx(colour.get(), FIQ_WUQUANT, 256, 0, nullptr));
         BYTE table[3] = {0, 128, 255};
         FreeImage_SetTransparencyTable(image.get(), table, 3);
         return image;
       }},
      {"24-bit", [] { return Colour(FIT_BITMAP, 24, true); }},
      {"32-bit", [] { return Colour(FIT_BITMAP, 32, false); }},
      {"32-bit opaque", [] { return Colour(FIT_BITMAP, 32, true); }},
      {"48-bit", [] { return Colour(FIT_RGB16, 48, true); }},
      {"64-bit", [] { return Colour(FIT_RGBA16, 64, false); }},
      {"16-bit grey", [] { return Colour(FIT_UINT16, 16, true); }},
  };
}

// FreeImage's PNG save flags. png.h redefines the name of level 6 (as -1), so it is spelt out.
constexpr int32_t ZlibLevel6 = 6;
const int32_t Options[] = {PNG_Z_NO_COMPRESSION,
                           PNG_Z_BEST_SPEED,
                           ZlibLevel6,
                           PNG_Z_BEST_COMPRESSION,
                           PNG_Z_NO_COMPRESSION | PNG_INTERLACED,
                           ZlibLevel6 | PNG_INTERLACED,
                           0};

Bytes FreeImagePng(FIBITMAP* image, int32_t flags) {
  FIMEMORY* memory = FreeImage_OpenMemory();
  Bytes bytes;
  if (FreeImage_SaveToMemory(FIF_PNG, image, memory, flags)) {
    BYTE* data = nullptr;
    DWORD size = 0;
    FreeImage_AcquireMemory(memory, &data, &size);
    bytes.assign(data, data + size);
  }
  FreeImage_CloseMemory(memory);
  return bytes;
}

// Our PNG of `image`; empty when the encoder fails.
Bytes OurPng(FIBITMAP* image, const PngEncoding& encoding) {
  char* data = nullptr;
  size_t size = 0;
  FILE* file = open_memstream(&data, &size);
  const bool written = WritePng(image, file, encoding);
  std::fclose(file);
  Bytes bytes;
  if (written) bytes.assign(data, data + size);
  std::free(data);
  return bytes;
}

struct Chunk {
  std::string type;
  Bytes data;
  bool operator==(const Chunk&) const = default;
};

// The chunks of a PNG file; the image data's chunks are left out.
std::vector<Chunk> ChunksBesideImageData(const Bytes& png) {
  std::vector<Chunk> chunks;
  size_t at = 8;
  while (at + 12 <= png.size()) {
    const uint32_t length = uint32_t{png[at]} << 24 | uint32_t{png[at + 1]} << 16 |
                            uint32_t{png[at + 2]} << 8 | png[at + 3];
    Chunk chunk{std::string(png.begin() + at + 4, png.begin() + at + 8), {}};
    chunk.data.assign(png.begin() + at + 8, png.begin() + at + 8 + length);
    if (chunk.type != "IDAT") chunks.push_back(std::move(chunk));
    at += 12 + length;
  }
  return chunks;
}

Bitmap Decode(const Bytes& png) {
  FIMEMORY* memory =
      FreeImage_OpenMemory(const_cast<BYTE*>(png.data()), static_cast<DWORD>(png.size()));
  Bitmap image(FreeImage_LoadFromMemory(FIF_PNG, memory, 0));
  FreeImage_CloseMemory(memory);
  return image;
}

// Equal type, size, palette, transparency and every pixel (padding bits aside).
void ExpectSamePixels(FIBITMAP* expected, FIBITMAP* actual, const std::string& what) {
  ASSERT_TRUE(expected && actual) << what;
  ASSERT_EQ(FreeImage_GetImageType(expected), FreeImage_GetImageType(actual)) << what;
  ASSERT_EQ(FreeImage_GetBPP(expected), FreeImage_GetBPP(actual)) << what;
  ASSERT_EQ(FreeImage_GetWidth(expected), FreeImage_GetWidth(actual)) << what;
  ASSERT_EQ(FreeImage_GetHeight(expected), FreeImage_GetHeight(actual)) << what;
  const unsigned bpp = FreeImage_GetBPP(expected);
  if (bpp <= 8) {
    EXPECT_EQ(0, std::memcmp(FreeImage_GetPalette(expected), FreeImage_GetPalette(actual),
                             sizeof(RGBQUAD) << bpp))
        << what;
    ASSERT_EQ(FreeImage_GetTransparencyCount(expected), FreeImage_GetTransparencyCount(actual));
    EXPECT_EQ(0, std::memcmp(FreeImage_GetTransparencyTable(expected),
                             FreeImage_GetTransparencyTable(actual),
                             FreeImage_GetTransparencyCount(expected)))
        << what;
  }
  const unsigned bits = FreeImage_GetWidth(expected) * bpp;
  for (unsigned y = 0; y < FreeImage_GetHeight(expected); ++y) {
    const BYTE* a = FreeImage_GetScanLine(expected, static_cast<int>(y));
    const BYTE* b = FreeImage_GetScanLine(actual, static_cast<int>(y));
    ASSERT_EQ(0, std::memcmp(a, b, bits / 8)) << what << ", row " << y;
    if (bits % 8) {
      const BYTE mask = static_cast<BYTE>(0xFF00 >> (bits % 8));
      ASSERT_EQ(a[bits / 8] & mask, b[bits / 8] & mask) << what << ", end of row " << y;
    }
  }
}

void IgnorePngWarning(png_structp, png_const_charp) {}

// libpng's own reader with every check made fatal: chunk CRCs, the zlib checksum, the stream's
// end. True when it reads the whole image.
bool StrictlyReadable(const Bytes& png) {
  png_image probe{};  // only for the row size
  probe.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&probe, png.data(), png.size())) return false;
  png_image_free(&probe);

  struct Source {
    const Bytes* bytes;
    size_t at;
  } source{&png, 0};
  png_structp reader =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, IgnorePngWarning);
  png_infop info = png_create_info_struct(reader);
  std::vector<png_byte> row;
  if (setjmp(png_jmpbuf(reader))) {
    png_destroy_read_struct(&reader, &info, nullptr);
    return false;
  }
  png_set_read_fn(reader, &source, [](png_structp png, png_bytep out, size_t length) {
    Source* from = static_cast<Source*>(png_get_io_ptr(png));
    if (from->at + length > from->bytes->size()) png_error(png, "read past the end");
    std::memcpy(out, from->bytes->data() + from->at, length);
    from->at += length;
  });
  png_set_crc_action(reader, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
  // The profile's bytes are compared with FreeImage's elsewhere; libpng's reader refuses even
  // FreeImage's own for 1-bit images ("too short"). Its CRC is still checked.
  static const png_byte profile_chunk[] = "iCCP";
  png_set_keep_unknown_chunks(reader, PNG_HANDLE_CHUNK_NEVER, profile_chunk, 1);
  png_set_benign_errors(reader, 0);
  png_read_info(reader, info);
  const int passes = png_set_interlace_handling(reader);
  png_read_update_info(reader, info);
  row.resize(png_get_rowbytes(reader, info));
  for (int pass = 0; pass < passes; ++pass) {
    for (png_uint_32 y = 0; y < png_get_image_height(reader, info); ++y) {
      png_read_row(reader, row.data(), nullptr);
    }
  }
  png_read_end(reader, nullptr);
  png_destroy_read_struct(&reader, &info, nullptr);
  return source.at == png.size();
}

std::string Describe(const std::string& kind, int32_t flags, const char* how) {
  return kind + ", flags " + std::to_string(flags) + ", " + how;
}

TEST(WritePng, WritesWhatFreeImageWritesForEveryDepthAndOption) {
  for (const Kind& kind : Kinds()) {
    Bitmap image = kind.make();
    ASSERT_TRUE(image) << kind.name;
    AddMetadata(image.get());
    for (const int32_t flags : Options) {
      const Bytes reference = FreeImagePng(image.get(), flags);
      ASSERT_FALSE(reference.empty()) << Describe(kind.name, flags, "FreeImage");
      const Bitmap expected = Decode(reference);

      // The encoding the save uses, then many small slices on several threads, and on one,
      // which writes each slice from the same buffer.
      PngEncoding sliced = PngEncodingFor(flags);
      sliced.threads = 3;
      sliced.slice_bytes = 1;  // a row a slice
      PngEncoding one_thread = sliced;
      one_thread.threads = 1;
      for (const auto& [encoding, how] :
           {std::pair{PngEncodingFor(flags), "as saved"}, std::pair{sliced, "a row a slice"},
            std::pair{one_thread, "a row a slice on one thread"}}) {
        const std::string what = Describe(kind.name, flags, how);
        const Bytes ours = OurPng(image.get(), encoding);
        ASSERT_FALSE(ours.empty()) << what;
        EXPECT_EQ(ChunksBesideImageData(ours), ChunksBesideImageData(reference)) << what;
        EXPECT_TRUE(StrictlyReadable(ours)) << what;
        const Bitmap actual = Decode(ours);
        ExpectSamePixels(expected.get(), actual.get(), what);
      }
    }
  }
}

TEST(WritePng, EveryFilterGivesTheSamePixels) {
  const Bitmap image = Colour(FIT_BITMAP, 32, false);
  const Bitmap deep = Colour(FIT_RGBA16, 64, false);
  for (FIBITMAP* source : {image.get(), deep.get()}) {
    const Bitmap expected = Decode(FreeImagePng(source, PNG_Z_BEST_SPEED));
    for (const PngFilter filter :
         {PngFilter::None, PngFilter::Sub, PngFilter::Up, PngFilter::Average, PngFilter::Paeth,
          PngFilter::Adaptive, PngFilter::AdaptiveAll}) {
      PngEncoding encoding = PngEncodingFor(PNG_Z_BEST_SPEED);
      encoding.filter = filter;
      encoding.threads = 2;
      encoding.slice_bytes = 1000;
      const std::string what = "filter " + std::to_string(static_cast<int>(filter));
      const Bytes ours = OurPng(source, encoding);
      EXPECT_TRUE(StrictlyReadable(ours)) << what;
      ExpectSamePixels(expected.get(), Decode(ours).get(), what);
    }
  }
}

// Slices of the size the encoder chooses, each compressed without the history of the one
// before, compress nearly as well as one stream.
TEST(WritePng, SlicesCostAtMostOnePercentOfSize) {
  constexpr int Wide = 1600, High = 1200;
  Bitmap image(FreeImage_Allocate(Wide, High, 24));
  for (int y = 0; y < High; ++y) {
    BYTE* line = FreeImage_GetScanLine(image.get(), y);
    for (int x = 0; x < Wide * 3; ++x) {  // a photograph's share of noise
      const unsigned hash = (x * 2654435761u) ^ (y * 40503u);
      line[x] = static_cast<BYTE>(x / 3 + y + (hash >> 11 & 31));
    }
  }
  PngEncoding whole = PngEncodingFor(ZlibLevel6);
  whole.threads = 1;
  whole.slice_bytes = size_t{1} << 30;
  PngEncoding sliced = whole;
  sliced.threads = 4;
  sliced.slice_bytes = 0;  // 16 slices of 360 KB
  const Bytes one = OurPng(image.get(), whole);
  const Bytes many = OurPng(image.get(), sliced);
  ASSERT_FALSE(one.empty());
  EXPECT_LE(many.size(), one.size() * 101 / 100);
  ExpectSamePixels(Decode(one).get(), Decode(many).get(), "sliced");
}

// Each level reaches the compressor: a higher one never gives a larger file, and the fastest
// and the best differ, all with the same pixels.
TEST(WritePng, HigherLevelsCompressAtLeastAsWell) {
  Bitmap image(FreeImage_Allocate(400, 300, 32));
  for (int y = 0; y < 300; ++y) {
    BYTE* line = FreeImage_GetScanLine(image.get(), y);
    for (int x = 0; x < 400 * 4; ++x) {
      const unsigned hash = (x * 2654435761u) ^ (y * 40503u);
      line[x] = static_cast<BYTE>((x % 4 == 3 ? 255 - y / 2 : x / 5 + y) + (hash >> 13 & 7));
    }
  }
  const Bytes stored = OurPng(image.get(), PngEncodingFor(PNG_Z_NO_COMPRESSION));
  const Bytes fastest = OurPng(image.get(), PngEncodingFor(PNG_Z_BEST_SPEED));
  const Bytes usual = OurPng(image.get(), PngEncodingFor(ZlibLevel6));
  const Bytes best = OurPng(image.get(), PngEncodingFor(PNG_Z_BEST_COMPRESSION));
  ASSERT_FALSE(stored.empty());
  EXPECT_LT(fastest.size(), stored.size() / 2);
  EXPECT_LE(usual.size(), fastest.size());
  EXPECT_LE(best.size(), usual.size());
  EXPECT_LT(best.size(), fastest.size());
  const Bitmap expected = Decode(stored);
  for (const Bytes* png : {&fastest, &usual, &best}) {
    ExpectSamePixels(expected.get(), Decode(*png).get(), "compressed");
  }
}

TEST(WritePng, RefusesWhatHasNoPngFormAndReportsWriteErrors) {
  const Bitmap rgb565(
      FreeImage_Allocate(4, 4, 16, FI16_565_RED_MASK, FI16_565_GREEN_MASK, FI16_565_BLUE_MASK));
  const Bitmap floats(FreeImage_AllocateT(FIT_FLOAT, 4, 4));
  EXPECT_TRUE(OurPng(rgb565.get(), PngEncodingFor(0)).empty());
  EXPECT_TRUE(OurPng(floats.get(), PngEncodingFor(0)).empty());
  EXPECT_TRUE(OurPng(nullptr, PngEncodingFor(0)).empty());

  // A full disk, unbuffered so that the first write already fails.
  FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  std::setvbuf(full, nullptr, _IONBF, 0);
  const Bitmap image = Colour(FIT_BITMAP, 24, true);
  EXPECT_FALSE(WritePng(image.get(), full, PngEncodingFor(PNG_Z_NO_COMPRESSION)));
  std::fclose(full);
}

// An independent checker, where installed, accepts what the encoder writes.
TEST(WritePng, AnIndependentCheckerAcceptsTheFiles) {
  if (std::system("command -v pngcheck >/dev/null 2>&1") != 0) GTEST_SKIP() << "no pngcheck";
  TempDir dir;
  std::string files;
  for (const Kind& kind : Kinds()) {
    Bitmap image = kind.make();
    AddMetadata(image.get());
    for (const int32_t flags : Options) {
      PngEncoding encoding = PngEncodingFor(flags);
      encoding.slice_bytes = 300;
      const Bytes ours = OurPng(image.get(), encoding);
      const std::string path = dir.file(std::to_string(files.size()) + ".png");
      ASSERT_TRUE(WriteFileBytes(path, std::string(ours.begin(), ours.end())));
      files += " " + path;
    }
  }
  EXPECT_EQ(std::system(("pngcheck -q" + files).c_str()), 0);
}

}  // namespace

// sRGB pixels say so, unless the bitmap carries a profile of its own, which wins: a file has one
// or the other, never both, and without the flag neither is added.
TEST(WritePng, AnSrgbChunkWhereAskedAndNoProfileIsCarried) {
  const auto types = [](const Bytes& png) {
    std::vector<std::string> found;
    for (const Chunk& chunk : ChunksBesideImageData(png)) found.push_back(chunk.type);
    return found;
  };
  const auto has = [](const std::vector<std::string>& found, const char* type) {
    return std::find(found.begin(), found.end(), type) != found.end();
  };
  for (const bool grey : {false, true}) {
    SCOPED_TRACE(grey);
    Bitmap plain =
        grey ? Bitmap(FreeImage_AllocateT(FIT_UINT16, 5, 3)) : Colour(FIT_BITMAP, 24, true);
    const PngEncoding srgb = PngEncodingFor(PNG_Z_BEST_SPEED | PngSrgbChunk);
    EXPECT_TRUE(srgb.srgb);
    EXPECT_EQ(srgb.level, 1);
    const Bytes tagged = OurPng(plain.get(), srgb);
    const std::vector<Chunk> chunks = ChunksBesideImageData(tagged);
    const auto chunk =
        std::find_if(chunks.begin(), chunks.end(), [](const Chunk& c) { return c.type == "sRGB"; });
    ASSERT_NE(chunk, chunks.end());
    EXPECT_EQ(chunk->data, Bytes{1}) << "relative colorimetric, as the pixels were converted";
    EXPECT_FALSE(has(types(tagged), "iCCP"));
    EXPECT_TRUE(StrictlyReadable(tagged));

    const std::vector<std::string> untagged = types(OurPng(plain.get(), PngEncodingFor(1)));
    EXPECT_FALSE(has(untagged, "sRGB"));
    EXPECT_FALSE(has(untagged, "iCCP"));

    AddIccProfile(plain.get(), grey);
    const std::vector<std::string> profiled = types(OurPng(plain.get(), srgb));
    EXPECT_TRUE(has(profiled, "iCCP"));
    EXPECT_FALSE(has(profiled, "sRGB"));
  }
}

// A grey document's picture is RGBA only to carry its transparency: asked to, the encoder writes
// it as grey with alpha with the very same samples; grey alone when 8-bit alpha is all opaque
// (FreeImage, like its writer, finds that only at 8 bits).
TEST(WritePng, GreyFromRgbaWritesGreyWithAlphaOfTheSameSamples) {
  for (const bool deep : {false, true}) {
    for (const bool opaque : {false, true}) {
      SCOPED_TRACE(std::string(deep ? "16" : "8") + (opaque ? " bits, opaque" : " bits"));
      Bitmap image = deep ? Colour(FIT_RGBA16, 64, opaque) : Colour(FIT_BITMAP, 32, opaque);
      for (int y = 0; y < Height; ++y) {
        BYTE* line = FreeImage_GetScanLine(image.get(), y);
        for (int x = 0; x < Width; ++x) {
          if (deep) {
            FIRGBA16& pixel = reinterpret_cast<FIRGBA16*>(line)[x];
            pixel.green = pixel.blue = pixel.red;
          } else {
            line[4 * x + FI_RGBA_GREEN] = line[4 * x + FI_RGBA_BLUE] = line[4 * x + FI_RGBA_RED];
          }
        }
      }
      AddIccProfile(image.get(), true);  // libpng takes a grey profile only into a grey PNG
      RGBQUAD background{40, 40, 40, 0};
      FreeImage_SetBackgroundColor(image.get(), &background);
      const bool grey_alone = opaque && !deep;

      for (const int32_t flags : {ZlibLevel6, PNG_Z_BEST_SPEED | PNG_INTERLACED}) {
        const PngEncoding encoding = PngEncodingFor(flags | PngGreyFromRgba);
        EXPECT_TRUE(encoding.grey_from_rgba);
        const Bytes png = OurPng(image.get(), encoding);
        EXPECT_TRUE(StrictlyReadable(png));
        const std::vector<Chunk> chunks = ChunksBesideImageData(png);
        ASSERT_FALSE(chunks.empty());
        ASSERT_EQ(chunks[0].type, "IHDR");
        EXPECT_EQ(chunks[0].data[8], deep ? 16 : 8) << "bit depth";
        EXPECT_EQ(chunks[0].data[9], grey_alone ? 0 : 4) << "colour type";
        const auto chunk = [&](const char* type) {
          return std::find_if(chunks.begin(), chunks.end(),
                              [&](const Chunk& c) { return c.type == type; });
        };
        EXPECT_NE(chunk("iCCP"), chunks.end());
        ASSERT_NE(chunk("bKGD"), chunks.end());
        EXPECT_EQ(chunk("bKGD")->data, (Bytes{0, 40}));
        // FreeImage reads grey with alpha back as RGBA.
        Bitmap decoded = Decode(png);
        if (grey_alone) decoded = Bitmap(FreeImage_ConvertTo32Bits(decoded.get()));
        ExpectSamePixels(image.get(), decoded.get(), "read back");
      }
    }
  }

  // Other bitmaps have no such form: the flag leaves them as they are.
  for (const Kind& kind : Kinds()) {
    if (kind.name == "32-bit" || kind.name == "32-bit opaque" || kind.name == "64-bit") continue;
    const Bitmap image = kind.make();
    const Bytes plain = OurPng(image.get(), PngEncodingFor(ZlibLevel6));
    EXPECT_EQ(OurPng(image.get(), PngEncodingFor(ZlibLevel6 | PngGreyFromRgba)), plain)
        << kind.name;
  }
}
