#include "themes/png_budget.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tests/themes/theme_packs.h"
#include "themes/theme_pack.h"

namespace {

constexpr uint64_t MiB = 1u << 20;

void PutBig32(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
}

void AddChunk(std::string& png, const char* type, const std::string& data) {
  PutBig32(png, static_cast<uint32_t>(data.size()));
  const std::string typed = std::string(type, 4) + data;
  png += typed;
  PutBig32(png, static_cast<uint32_t>(
                    crc32(0, reinterpret_cast<const Bytef*>(typed.data()), typed.size())));
}

// Raw deflate of `size` zero bytes, ended on a byte boundary without closing the stream. It only
// refers back to zeros, so copies of it in a row stand for that many more zeros.
std::string DeflatedZeros(size_t size) {
  z_stream stream{};
  deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
  std::vector<Bytef> zeros(size, 0);
  std::vector<Bytef> out(deflateBound(&stream, size) + 64);
  stream.next_in = zeros.data();
  stream.avail_in = static_cast<uInt>(size);
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_SYNC_FLUSH);
  std::string bytes(reinterpret_cast<const char*>(out.data()), out.size() - stream.avail_out);
  deflateEnd(&stream);
  return bytes;
}

// A complete zlib stream of `exact` zero bytes followed by `extra_mib` MiB more, built without
// compressing them all: the MiB block is repeated.
std::string ZlibZeros(size_t exact, uint64_t extra_mib) {
  std::string stream = "\x78\x9c";
  if (exact > 0) stream += DeflatedZeros(exact);
  const std::string one_mib = extra_mib > 0 ? DeflatedZeros(MiB) : std::string();
  for (uint64_t i = 0; i < extra_mib; ++i) stream += one_mib;
  stream += std::string("\x03\x00", 2);  // an empty last block
  // Adler-32 of n zeros: the low sum stays 1, the high one is n.
  const uint64_t total = exact + extra_mib * MiB;
  PutBig32(stream, static_cast<uint32_t>(((total % 65521) << 16) | 1));
  return stream;
}

// A 16 x 16 RGBA picture of zeros whose image stream holds `extra_mib` MiB beyond its rows, with
// `metadata` chunks before the image data.
std::string ZeroPicture(uint64_t extra_mib, const std::vector<std::string>& metadata = {}) {
  std::string png = "\x89PNG\r\n\x1a\n";
  std::string header;
  PutBig32(header, 16);
  PutBig32(header, 16);
  header += std::string("\x08\x06\x00\x00\x00", 5);
  AddChunk(png, "IHDR", header);
  for (const std::string& chunk : metadata)
    AddChunk(png, chunk.substr(0, 4).c_str(), chunk.substr(4));
  AddChunk(png, "IDAT", ZlibZeros(16 * (1 + 16 * 4), extra_mib));
  AddChunk(png, "IEND", "");
  return png;
}

// A picture written by libpng with Adam7 interlacing, one colour.
std::string InterlacedPng(uint32_t width, uint32_t height, int colour_type, int bit_depth) {
  std::string out;
  png_structp writer = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(writer);
  if (setjmp(png_jmpbuf(writer))) {
    png_destroy_write_struct(&writer, &info);
    return {};
  }
  png_set_write_fn(
      writer, &out,
      [](png_structp png, png_bytep data, size_t length) {
        static_cast<std::string*>(png_get_io_ptr(png))
            ->append(reinterpret_cast<char*>(data), length);
      },
      nullptr);
  png_set_IHDR(writer, info, width, height, bit_depth, colour_type, PNG_INTERLACE_ADAM7,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(writer, info);
  const size_t row_bytes = png_get_rowbytes(writer, info);
  std::vector<png_byte> row(row_bytes, 0x5a);
  const int passes = png_set_interlace_handling(writer);
  for (int pass = 0; pass < passes; ++pass) {
    for (uint32_t y = 0; y < height; ++y) png_write_row(writer, row.data());
  }
  png_write_end(writer, info);
  png_destroy_write_struct(&writer, &info);
  return out;
}

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

}  // namespace

TEST(PngImageDataBytes, CountsFilterBytesPackedRowsAndInterlacePasses) {
  // 16 x 16 RGBA: 16 rows of a filter byte and 64 bytes.
  EXPECT_EQ(PngImageDataBytes(16, 16, 8, 6, 0), 16u * 65);
  // 3 pixels of 1 bit grey pack into one byte; 16-bit RGB takes 6 bytes a pixel.
  EXPECT_EQ(PngImageDataBytes(3, 2, 1, 0, 0), 2u * 2);
  EXPECT_EQ(PngImageDataBytes(5, 1, 16, 2, 0), 1u + 30);
  // Adam7 at 16 x 16 RGBA, pass by pass: 2x2, 2x2, 4x2, 4x4, 8x4, 8x8, 16x8 pixels.
  EXPECT_EQ(PngImageDataBytes(16, 16, 8, 6, 1), 18u + 18 + 34 + 68 + 132 + 264 + 520);
  // A single pixel lives in the first pass only; the empty passes have no filter bytes.
  EXPECT_EQ(PngImageDataBytes(1, 1, 8, 6, 1), 5u);
  EXPECT_EQ(PngImageDataBytes(16, 16, 16, 3, 0), 0u) << "no 16-bit palettes";
  EXPECT_EQ(PngImageDataBytes(16, 16, 8, 5, 0), 0u) << "no colour type 5";
  EXPECT_EQ(PngImageDataBytes(16, 16, 8, 6, 2), 0u) << "no interlace method 2";
}

TEST(PngInflatesWithinBounds, StopsAtTheFirstByteBeyondThePicture) {
  EXPECT_TRUE(PngInflatesWithinBounds(Bytes(ZeroPicture(0)), MaxThemePictureSide));
  // 1 GiB of zeros after the rows: about a megabyte here, a few kilobytes once zipped.
  const std::string bomb = ZeroPicture(1024);
  EXPECT_LT(bomb.size(), 2 * MiB);
  EXPECT_FALSE(PngInflatesWithinBounds(Bytes(bomb), MaxThemePictureSide));
  EXPECT_FALSE(DecodeThemePicture(Bytes(bomb)));
  // The same rows without the surplus decode to zeros.
  const auto honest = DecodeThemePicture(Bytes(ZeroPicture(0)));
  ASSERT_TRUE(honest);
  EXPECT_EQ(honest->pixels, std::vector<uint8_t>(16 * 16 * 4, 0));
}

TEST(PngInflatesWithinBounds, HonestPicturesOfEveryLayoutPass) {
  const std::string plain = MakePng(48, 24, 0x10203040);
  EXPECT_TRUE(PngInflatesWithinBounds(Bytes(plain), MaxThemePictureSide));
  for (const auto& [width, height] : {std::pair{16u, 16u}, {1u, 1u}, {5u, 3u}, {64u, 7u}}) {
    for (const auto& [colour_type, depth] : {std::pair{6, 8}, {2, 16}, {0, 1}, {4, 8}}) {
      const std::string png = InterlacedPng(width, height, colour_type, depth);
      ASSERT_FALSE(png.empty());
      EXPECT_TRUE(PngInflatesWithinBounds(Bytes(png), MaxThemePictureSide))
          << width << "x" << height << " type " << colour_type << " depth " << depth;
      const auto picture = DecodeThemePicture(Bytes(png));
      ASSERT_TRUE(picture) << width << "x" << height;
      EXPECT_EQ(picture->width, static_cast<int32_t>(width));
    }
  }
  EXPECT_FALSE(PngInflatesWithinBounds(Bytes(plain), 40)) << "wider than allowed";
  EXPECT_FALSE(PngInflatesWithinBounds(Bytes(std::string("\x89PNG\r\n\x1a\n")), 256));
  // A chunk that claims 2 GiB in a file of a hundred bytes: libpng would allocate it all first.
  std::string cut =
      plain.substr(0, 33) + std::string("\x7f\x00\x00\x11iTXt", 8) + std::string(40, '\0');
  EXPECT_FALSE(PngInflatesWithinBounds(Bytes(cut), MaxThemePictureSide));
  EXPECT_FALSE(DecodeThemePicture(Bytes(cut)));
}

TEST(PngInflatesWithinBounds, CompressedTextAndProfilesShareOneSmallAllowance) {
  const std::string eight_mib = ZlibZeros(0, 8);
  const std::string small = ZlibZeros(1000, 0);
  // Text nobody shows, inflating to megabytes chunk after chunk.
  std::vector<std::string> texts(4, std::string("zTXtComment\0\0", 13) + eight_mib);
  EXPECT_FALSE(PngInflatesWithinBounds(Bytes(ZeroPicture(0, texts)), MaxThemePictureSide));
  const std::string international = std::string("iTXtNote\0\1\0en\0\0", 15) + eight_mib;
  EXPECT_FALSE(PngInflatesWithinBounds(Bytes(ZeroPicture(0, {international})), 256));
  const std::string profile = std::string("iCCPprofile\0\0", 13) + eight_mib;
  EXPECT_FALSE(PngInflatesWithinBounds(Bytes(ZeroPicture(0, {profile})), 256));
  // Small compressed text and uncompressed international text are fine.
  const std::vector<std::string> modest = {std::string("zTXtComment\0\0", 13) + small,
                                           std::string("iTXtNote\0\0\0en\0\0plain", 20)};
  EXPECT_TRUE(PngInflatesWithinBounds(Bytes(ZeroPicture(0, modest)), MaxThemePictureSide));
  EXPECT_TRUE(DecodeThemePicture(Bytes(ZeroPicture(0, modest))));
}

TEST(ReadThemePictures, ABombInATinyPackKeepsItsPictureAndSparesTheRest) {
  const std::string pack = MakeZip({{"theme.cfg", ThemeConfig({"[Icons]", "New=new", "Add=add"})},
                                    {"new_16.png", ZeroPicture(1024)},
                                    {"add_16.png", MakePng(16, 16, 0xff0000ff)}});
  EXPECT_LT(pack.size(), 64 * 1024u);
  const ThemeIconNames names{{}, {"New", "Add"}, {}};
  const ThemePictures pictures = ReadThemePictures(Bytes(pack), names, {false, true, false, 16});
  EXPECT_EQ(pictures.menu.count("New"), 0u);
  ASSERT_EQ(pictures.menu.count("Add"), 1u);
  EXPECT_EQ(pictures.menu.at("Add").pixels[0], 0xff);
}
