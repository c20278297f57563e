#include <gtest/gtest.h>

#include <string>

#include "engine/draw/drawing.h"
#include "engine/image/image_header.h"
#include "engine/loading/loading.h"
#include "tests/engine/drawn_layer_support.h"
#include "tests/support/psd_writer.h"
#include "tests/support/temp_dir.h"

namespace {

using drawn::At;
using drawn::Rgba;

// The watermark as the layer code sees it: decoded, then drawn.
Bitmap LoadAsDrawn(const std::string& path) {
  const Bitmap decoded = LoadWatermarkImage(path);
  return decoded ? ToFreeImage(FromFreeImage(decoded.get())) : Bitmap();
}

void PutLittle(std::string& bytes, size_t at, uint32_t value, int size) {
  for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// A BMP of 54 bytes of headers and `pixel_bytes` of zeros that declares `width` x `height`.
std::string BmpClaiming(uint32_t width, uint32_t height, size_t pixel_bytes) {
  std::string bytes(54 + pixel_bytes, '\0');
  bytes[0] = 'B';
  bytes[1] = 'M';
  PutLittle(bytes, 2, static_cast<uint32_t>(bytes.size()), 4);
  PutLittle(bytes, 10, 54, 4);
  PutLittle(bytes, 14, 40, 4);
  PutLittle(bytes, 18, width, 4);
  PutLittle(bytes, 22, height, 4);
  PutLittle(bytes, 26, 1, 2);
  PutLittle(bytes, 28, 24, 2);
  return bytes;
}

TEST(LoadWatermarkImage, ReadsPngBmpJpegAndTiffWithOrWithoutAlpha) {
  TempDir dir;
  Bitmap rgba = drawn::Uniform(4, 4, 32, {10, 200, 30, 255});
  drawn::Put(rgba.get(), 0, 0, {10, 200, 30, 0});
  ASSERT_TRUE(FreeImage_Save(FIF_PNG, rgba.get(), dir.file("alpha.png").c_str(), 0));
  const Bitmap png = LoadAsDrawn(dir.file("alpha.png"));
  ASSERT_TRUE(png);
  EXPECT_EQ(At(png, 0, 0).alpha, 0);
  EXPECT_EQ(At(png, 3, 3), (Rgba{10, 200, 30, 255}));

  const Bitmap rgb = drawn::Uniform(4, 4, 24, {90, 60, 30, 255});
  ASSERT_TRUE(FreeImage_Save(FIF_BMP, rgb.get(), dir.file("plain.bmp").c_str(), 0));
  ASSERT_TRUE(
      FreeImage_Save(FIF_JPEG, rgb.get(), dir.file("plain.jpg").c_str(), JPEG_QUALITYSUPERB));
  ASSERT_TRUE(FreeImage_Save(FIF_TIFF, rgb.get(), dir.file("plain.tif").c_str(), 0));
  const Bitmap bmp = LoadAsDrawn(dir.file("plain.bmp"));
  ASSERT_TRUE(bmp);
  EXPECT_EQ(At(bmp, 2, 1), (Rgba{90, 60, 30, 255}));
  const Bitmap jpeg = LoadAsDrawn(dir.file("plain.jpg"));
  ASSERT_TRUE(jpeg);
  EXPECT_EQ(At(jpeg, 2, 1).alpha, 255);
  EXPECT_NEAR(At(jpeg, 2, 1).red, 90, 4);
  const Bitmap tiff = LoadAsDrawn(dir.file("plain.tif"));
  ASSERT_TRUE(tiff);
  EXPECT_EQ(At(tiff, 2, 1), (Rgba{90, 60, 30, 255}));

  // A 32-bit BMP whose fourth byte is unused shows its colours, not nothing.
  const Bitmap unused_alpha = drawn::Uniform(2, 2, 32, {5, 6, 7, 0});
  ASSERT_TRUE(FreeImage_Save(FIF_BMP, unused_alpha.get(), dir.file("x.bmp").c_str(), 0));
  const Bitmap bmp32 = LoadAsDrawn(dir.file("x.bmp"));
  ASSERT_TRUE(bmp32);
  EXPECT_EQ(At(bmp32, 0, 0), (Rgba{5, 6, 7, 255}));
}

TEST(LoadWatermarkImage, ReadsAPhotoshopDocumentThroughTheStructureCheck) {
  TempDir dir;
  PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, 6, 5, 3);
  FillPsdPlanes(spec, [](uint32_t, uint32_t, uint32_t c) { return c == 0 ? 200 : 20; });
  ASSERT_TRUE(WriteFileBytes(dir.file("mark.psd"), WritePsd(spec)));
  const Bitmap psd = LoadAsDrawn(dir.file("mark.psd"));
  ASSERT_TRUE(psd);
  EXPECT_EQ(FreeImage_GetWidth(psd.get()), 6u);
  EXPECT_EQ(At(psd, 1, 1), (Rgba{200, 20, 20, 255}));
}

TEST(LoadWatermarkImage, GivesNothingForMissingOrDamagedFiles) {
  TempDir dir;
  EXPECT_FALSE(LoadWatermarkImage(""));
  EXPECT_FALSE(LoadWatermarkImage(dir.file("missing.png")));
  EXPECT_FALSE(LoadWatermarkImage(dir.folder()));
  ASSERT_TRUE(WriteFileBytes(dir.file("noise.png"), "\x89PNG\r\n\x1a\n garbage that is no png"));
  EXPECT_FALSE(LoadWatermarkImage(dir.file("noise.png")));
  ASSERT_TRUE(WriteFileBytes(dir.file("empty.jpg"), ""));
  EXPECT_FALSE(LoadWatermarkImage(dir.file("empty.jpg")));
  // A Photoshop document the structure check refuses never reaches a decoder.
  PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, 64, 48, 3);
  std::string truncated = WritePsd(spec);
  truncated.resize(truncated.size() / 2);
  ASSERT_TRUE(WriteFileBytes(dir.file("cut.psd"), truncated));
  EXPECT_FALSE(LoadWatermarkImage(dir.file("cut.psd")));
}

TEST(LoadWatermarkImage, RefusesADeclaredSizeBeyondTheBound) {
  TempDir dir;
  // A small BMP of the bound's width loads; one header that claims 20000 x 20000 does not.
  ASSERT_TRUE(WriteFileBytes(dir.file("wide.bmp"),
                             BmpClaiming(WatermarkBound.max_side, 1, WatermarkBound.max_side * 3)));
  EXPECT_TRUE(LoadWatermarkImage(dir.file("wide.bmp")));
  ASSERT_TRUE(WriteFileBytes(dir.file("huge.bmp"), BmpClaiming(20000, 20000, 100)));
  EXPECT_FALSE(LoadWatermarkImage(dir.file("huge.bmp")));

  // A Photoshop header past the side bound is refused by our own check, before any decode.
  PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, WatermarkBound.max_side + 1, 1, 3);
  ASSERT_TRUE(WriteFileBytes(dir.file("wide.psd"), WritePsd(spec)));
  EXPECT_FALSE(LoadWatermarkImage(dir.file("wide.psd")));
}

TEST(KeepsBound, WeighsSidesAndDecodedBytes) {
  const DecodeBound bound{100, 100 * 4 * 50};
  EXPECT_TRUE(KeepsBound({100, 50, 32}, bound));
  EXPECT_FALSE(KeepsBound({100, 51, 32}, bound));
  EXPECT_FALSE(KeepsBound({101, 1, 8}, bound));
  EXPECT_FALSE(KeepsBound({0, 1, 8}, bound));
  EXPECT_EQ(DecodedBitmapBytes(3, 2, 24), 24u);  // rows of 9 bytes padded to 12
  EXPECT_EQ(DecodedBitmapBytes(UINT32_MAX, UINT32_MAX, 128), UINT64_MAX);
}

}  // namespace
