#include "engine/loading/loading.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/psd/psd_channels.h"
#include "engine/psd/psd_check.h"
#include "platform/mapped_file.h"
#include "tests/support/psd_writer.h"
#include "tests/support/temp_dir.h"

namespace {

// The bytes of pixel x, y (top row 0).
const BYTE* PixelAt(const Bitmap& image, unsigned x, unsigned y) {
  const unsigned height = FreeImage_GetHeight(image.get());
  return FreeImage_GetScanLine(image.get(), static_cast<int>(height - 1 - y)) +
         x * (FreeImage_GetBPP(image.get()) / 8);
}

Bitmap LoadSpec(const TempDir& dir, const PsdSpec& spec, const std::string& name = "in.psd") {
  const std::string path = dir.file(name);
  EXPECT_TRUE(WritePsdFile(path, spec));
  return LoadInputImage(path);
}

// What the editor stores for a true colour `c` under alpha `a`: matted against white.
uint32_t MatteAgainstWhite(uint32_t c, uint32_t a, uint32_t full) {
  const double alpha = static_cast<double>(a) / full;
  return static_cast<uint32_t>(std::lround(c * alpha + full * (1.0 - alpha)));
}

TEST(LoadInputImage, KeepsEverySampleOfAnRgbDocument) {
  TempDir dir;
  for (PsdCompression compression : {PsdCompression::Raw, PsdCompression::Rle}) {
    PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, 17, 5, 3);
    spec.compression = compression;
    FillPsdPlanes(
        spec, [](uint32_t x, uint32_t y, uint32_t c) { return (x * 13 + y * 7 + c * 60) & 0xFF; });
    const Bitmap image = LoadSpec(dir, spec);
    ASSERT_TRUE(image);
    ASSERT_EQ(FreeImage_GetBPP(image.get()), 24u);
    for (unsigned y = 0; y < 5; ++y) {
      for (unsigned x = 0; x < 17; ++x) {
        const BYTE* pixel = PixelAt(image, x, y);
        EXPECT_EQ(pixel[FI_RGBA_RED], (x * 13 + y * 7) & 0xFF);
        EXPECT_EQ(pixel[FI_RGBA_GREEN], (x * 13 + y * 7 + 60) & 0xFF);
        EXPECT_EQ(pixel[FI_RGBA_BLUE], (x * 13 + y * 7 + 120) & 0xFF);
      }
    }
  }
}

TEST(LoadInputImage, SixteenBitMidGreyStaysMidGrey) {
  TempDir dir;
  PsdSpec grey = MakePsdSpec(PsdMode::Greyscale, 16, 3, 2, 1);
  FillPsdPlanes(grey, [](uint32_t, uint32_t, uint32_t) { return 0x8080; });
  const Bitmap grey_image = LoadSpec(dir, grey);
  ASSERT_TRUE(grey_image);
  ASSERT_EQ(FreeImage_GetImageType(grey_image.get()), FIT_UINT16);
  EXPECT_EQ(*reinterpret_cast<const uint16_t*>(PixelAt(grey_image, 1, 1)), 0x8080);

  PsdSpec rgb = MakePsdSpec(PsdMode::Rgb, 16, 3, 2, 3);
  rgb.compression = PsdCompression::Rle;
  FillPsdPlanes(rgb, [](uint32_t, uint32_t, uint32_t) { return 0x8080; });
  const Bitmap rgb_image = LoadSpec(dir, rgb);
  ASSERT_TRUE(rgb_image);
  ASSERT_EQ(FreeImage_GetImageType(rgb_image.get()), FIT_RGB16);
  const FIRGB16 pixel = *reinterpret_cast<const FIRGB16*>(PixelAt(rgb_image, 2, 0));
  EXPECT_EQ(pixel.red, 0x8080);
  EXPECT_EQ(pixel.green, 0x8080);
  EXPECT_EQ(pixel.blue, 0x8080);
}

TEST(LoadInputImage, IndexedDocumentGetsItsPaletteWithoutAColourCount) {
  TempDir dir;
  for (bool with_count : {false, true}) {
    PsdSpec spec = MakePsdSpec(PsdMode::Indexed, 8, 4, 1, 1);
    spec.colour_mode_data = PsdPalette({0xFF0000, 0x00FF00, 0x0000FF, 0x123456});
    if (with_count) spec.resources.push_back(PsdColourCountResource(4));
    FillPsdPlanes(spec, [](uint32_t x, uint32_t, uint32_t) { return x; });
    const Bitmap image = LoadSpec(dir, spec);
    ASSERT_TRUE(image);
    ASSERT_EQ(FreeImage_GetBPP(image.get()), 8u);
    const RGBQUAD* palette = FreeImage_GetPalette(image.get());
    ASSERT_NE(palette, nullptr);
    const RGBQUAD last = palette[*PixelAt(image, 3, 0)];
    EXPECT_EQ(last.rgbRed, 0x12);
    EXPECT_EQ(last.rgbGreen, 0x34);
    EXPECT_EQ(last.rgbBlue, 0x56);
    EXPECT_EQ(palette[*PixelAt(image, 0, 0)].rgbRed, 0xFF);
    EXPECT_EQ(palette[*PixelAt(image, 1, 0)].rgbGreen, 0xFF);
    EXPECT_EQ(FreeImage_GetColorType(image.get()), FIC_PALETTE);
  }
}

TEST(LoadInputImage, IndexedTransparentColourBecomesTransparent) {
  TempDir dir;
  PsdSpec spec = MakePsdSpec(PsdMode::Indexed, 8, 4, 1, 1);
  spec.colour_mode_data = PsdPalette({0xFF0000, 0x00FF00, 0x0000FF});
  spec.resources = {PsdColourCountResource(3), PsdTransparentIndexResource(2)};
  const Bitmap image = LoadSpec(dir, spec);
  ASSERT_TRUE(image);
  EXPECT_TRUE(FreeImage_IsTransparent(image.get()));
  EXPECT_EQ(FreeImage_GetTransparentIndex(image.get()), 2);
}

TEST(LoadInputImage, GreyAlphaIsKeptRawAndPacked) {
  TempDir dir;
  for (uint16_t depth : {8, 16}) {
    for (PsdCompression compression : {PsdCompression::Raw, PsdCompression::Rle}) {
      const uint32_t full = depth == 8 ? 255 : 65535;
      PsdSpec spec = MakePsdSpec(PsdMode::Greyscale, depth, 3, 2, 2);
      spec.compression = compression;
      // Opaque left column, transparent middle, half-transparent right (matted by the "editor").
      const uint32_t grey = depth == 8 ? 40 : 40 * 257;
      FillPsdPlanes(spec, [&](uint32_t x, uint32_t, uint32_t c) -> uint32_t {
        const uint32_t alpha = x == 0 ? full : x == 1 ? 0 : full / 2;
        if (c == 1) return alpha;
        return x == 1 ? full : MatteAgainstWhite(grey, alpha, full);
      });
      const Bitmap image = LoadSpec(dir, spec);
      ASSERT_TRUE(image) << depth;
      if (depth == 8) {
        ASSERT_EQ(FreeImage_GetBPP(image.get()), 32u);
        EXPECT_EQ(FreeImage_GetColorType(image.get()), FIC_RGBALPHA);
        const BYTE* opaque = PixelAt(image, 0, 1);
        EXPECT_EQ(opaque[FI_RGBA_RED], 40);
        EXPECT_EQ(opaque[FI_RGBA_BLUE], 40);
        EXPECT_EQ(opaque[FI_RGBA_ALPHA], 255);
        EXPECT_EQ(PixelAt(image, 1, 1)[FI_RGBA_ALPHA], 0);
        const BYTE* half = PixelAt(image, 2, 0);
        EXPECT_EQ(half[FI_RGBA_ALPHA], 127);
        EXPECT_NEAR(half[FI_RGBA_GREEN], 40, 1);
      } else {
        ASSERT_EQ(FreeImage_GetImageType(image.get()), FIT_RGBA16);
        const FIRGBA16 opaque = *reinterpret_cast<const FIRGBA16*>(PixelAt(image, 0, 1));
        EXPECT_EQ(opaque.red, grey);
        EXPECT_EQ(opaque.alpha, 65535);
        EXPECT_EQ(reinterpret_cast<const FIRGBA16*>(PixelAt(image, 1, 0))->alpha, 0);
        const FIRGBA16 half = *reinterpret_cast<const FIRGBA16*>(PixelAt(image, 2, 0));
        EXPECT_EQ(half.alpha, 32767);
        EXPECT_NEAR(half.blue, grey, 2);
      }
    }
  }
}

TEST(LoadInputImage, UndoesTheWhiteMatteOfTransparentColour) {
  TempDir dir;
  // True colours and alphas; the file stores them matted against white.
  const uint32_t red = 62, green = 78, blue = 66;
  const uint32_t alphas[] = {255, 206, 100, 1, 0};
  PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, 5, 1, 4);
  spec.compression = PsdCompression::Rle;
  FillPsdPlanes(spec, [&](uint32_t x, uint32_t, uint32_t c) -> uint32_t {
    const uint32_t alpha = alphas[x];
    if (c == 3) return alpha;
    if (alpha == 0) return 255;
    return MatteAgainstWhite(c == 0 ? red : c == 1 ? green : blue, alpha, 255);
  });
  const Bitmap image = LoadSpec(dir, spec);
  ASSERT_TRUE(image);
  ASSERT_EQ(FreeImage_GetBPP(image.get()), 32u);
  for (unsigned x = 0; x < 3; ++x) {
    const BYTE* pixel = PixelAt(image, x, 0);
    EXPECT_EQ(pixel[FI_RGBA_ALPHA], alphas[x]);
    EXPECT_NEAR(pixel[FI_RGBA_RED], red, 1) << "alpha " << alphas[x];
    EXPECT_NEAR(pixel[FI_RGBA_GREEN], green, 1) << "alpha " << alphas[x];
    EXPECT_NEAR(pixel[FI_RGBA_BLUE], blue, 1) << "alpha " << alphas[x];
  }
  // Fully transparent pixels keep what was stored.
  EXPECT_EQ(PixelAt(image, 4, 0)[FI_RGBA_RED], 255);
}

TEST(LoadInputImage, LeavesOpaqueSixteenBitColourAlone) {
  TempDir dir;
  PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 16, 2, 1, 4);
  FillPsdPlanes(spec, [](uint32_t x, uint32_t, uint32_t c) -> uint32_t {
    if (c == 3) return x == 0 ? 65535 : 32768;
    return MatteAgainstWhite(1000 * (c + 1), x == 0 ? 65535 : 32768, 65535);
  });
  const Bitmap image = LoadSpec(dir, spec);
  ASSERT_TRUE(image);
  ASSERT_EQ(FreeImage_GetImageType(image.get()), FIT_RGBA16);
  const FIRGBA16 opaque = *reinterpret_cast<const FIRGBA16*>(PixelAt(image, 0, 0));
  EXPECT_EQ(opaque.red, 1000);
  EXPECT_EQ(opaque.blue, 3000);
  const FIRGBA16 half = *reinterpret_cast<const FIRGBA16*>(PixelAt(image, 1, 0));
  EXPECT_NEAR(half.green, 2000, 2);
}

TEST(LoadInputImage, KeepsTheDocumentsMetadata) {
  TempDir dir;
  PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, 4, 3, 3);
  const std::string packet = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">kept</x:xmpmeta>";
  spec.resources = {PsdResource{1060, packet}};
  FillPsdPlanes(spec, [](uint32_t x, uint32_t y, uint32_t c) { return x + y + c; });
  const Bitmap image = LoadSpec(dir, spec);
  ASSERT_TRUE(image);
  FITAG* tag = nullptr;
  ASSERT_TRUE(FreeImage_GetMetadata(FIMD_XMP, image.get(), "XMLPacket", &tag));
  EXPECT_EQ(std::string(static_cast<const char*>(FreeImage_GetTagValue(tag))), packet);
}

// Samples of a document big enough that the decoder allocates its rows inside the record.
uint32_t LargeSample(uint32_t x, uint32_t y, uint32_t c, uint32_t full) {
  uint32_t hash = x * 73856093u ^ y * 19349663u ^ (c + 1) * 83492791u;
  hash ^= hash >> 15;
  return hash % (full + 1);
}

TEST(LoadInputImage, LargeDocumentsComeBackSampleForSample) {
  TempDir dir;
  constexpr uint32_t Width = 1024, Height = 512;
  struct Case {
    PsdMode mode;
    uint16_t depth;
    uint16_t channels;
  };
  // RGB rows land where the decoder wrote them; the grey document's alpha makes FreeImage return
  // less than expected, so its rows are copied instead.
  for (const Case& c :
       {Case{PsdMode::Rgb, 8, 3}, Case{PsdMode::Rgb, 16, 3}, Case{PsdMode::Greyscale, 8, 2}}) {
    for (PsdCompression compression : {PsdCompression::Raw, PsdCompression::Rle}) {
      const uint32_t full = c.depth == 8 ? 255 : 65535;
      PsdSpec spec = MakePsdSpec(c.mode, c.depth, Width, Height, c.channels);
      spec.compression = compression;
      // The grey document is opaque, so the matte leaves its grey alone.
      FillPsdPlanes(spec, [&](uint32_t x, uint32_t y, uint32_t channel) {
        const bool alpha = channel == 1 && c.mode == PsdMode::Greyscale;
        return alpha ? full : LargeSample(x, y, channel, full);
      });
      const Bitmap image = LoadSpec(dir, spec);
      const std::string what = std::to_string(c.depth) + "-bit, " + std::to_string(c.channels) +
                               " channels, " + (compression == PsdCompression::Rle ? "RLE" : "raw");
      ASSERT_TRUE(image) << what;
      ASSERT_EQ(FreeImage_GetWidth(image.get()), Width) << what;
      ASSERT_EQ(FreeImage_GetHeight(image.get()), Height) << what;
      unsigned wrong = 0;
      for (uint32_t y = 0; y < Height; ++y) {
        for (uint32_t x = 0; x < Width; ++x) {
          const BYTE* pixel = PixelAt(image, x, y);
          if (c.depth == 16) {
            const auto* rgb = reinterpret_cast<const FIRGB16*>(pixel);
            wrong += rgb->red != LargeSample(x, y, 0, full) ||
                     rgb->green != LargeSample(x, y, 1, full) ||
                     rgb->blue != LargeSample(x, y, 2, full);
          } else if (c.mode == PsdMode::Rgb) {
            wrong += pixel[FI_RGBA_RED] != LargeSample(x, y, 0, full) ||
                     pixel[FI_RGBA_GREEN] != LargeSample(x, y, 1, full) ||
                     pixel[FI_RGBA_BLUE] != LargeSample(x, y, 2, full);
          } else {
            wrong +=
                pixel[FI_RGBA_RED] != LargeSample(x, y, 0, full) || pixel[FI_RGBA_ALPHA] != 255;
          }
        }
      }
      EXPECT_EQ(wrong, 0u) << what;
    }
  }
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream stream(line);
  std::string field;
  while (std::getline(stream, field, '\t')) fields.push_back(field);
  return fields;
}

TEST(LoadInputImage, LoadsTheCorpusAtItsDeclaredSize) {
  const std::filesystem::path corpus = QUORVIX_CORPUS_DIR;
  std::ifstream manifest(corpus / "MANIFEST.tsv");
  if (!manifest) GTEST_SKIP() << "no PSD corpus at " << corpus;
  std::string line;
  std::getline(manifest, line);
  const std::vector<std::string> header = SplitTabs(line);
  auto column = [&](const char* name) {
    return static_cast<size_t>(std::find(header.begin(), header.end(), name) - header.begin());
  };
  const size_t file = column("file"), width = column("width"), height = column("height"),
               composite = column("composite");
  ASSERT_LT(composite, header.size());
  int loaded = 0;
  while (std::getline(manifest, line)) {
    const std::vector<std::string> fields = SplitTabs(line);
    if (fields.size() <= composite) continue;
    const Bitmap image = LoadInputImage((corpus / fields[file]).string());
    if (fields[composite] != "ok") {
      EXPECT_FALSE(image) << fields[file] << " has a short composite and must fail";
      continue;
    }
    ASSERT_TRUE(image) << fields[file];
    EXPECT_EQ(FreeImage_GetWidth(image.get()), std::stoul(fields[width])) << fields[file];
    EXPECT_EQ(FreeImage_GetHeight(image.get()), std::stoul(fields[height])) << fields[file];
    ++loaded;
  }
  EXPECT_GT(loaded, 0);
}

}  // namespace

TEST(LoadInputImage, ADamagedColourProfileIsDroppedAndThePixelsKept) {
  TempDir dir;
  PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, 4, 3, 3);
  FillPsdPlanes(spec, [](uint32_t x, uint32_t, uint32_t c) { return x * 50 + c; });
  spec.resources.push_back({1039, std::string(100, '\xFF')});
  const Bitmap image = LoadSpec(dir, spec);
  ASSERT_TRUE(image);
  EXPECT_EQ(FreeImage_GetICCProfile(image.get())->size, 0);
  EXPECT_EQ(PixelAt(image, 3, 0)[FI_RGBA_RED], 150);
  EXPECT_TRUE(FreeImage_Save(FIF_PNG, image.get(), dir.file("out.png").c_str(), 0));
}

TEST(MappedFile, AFileCutShortWhileReadGivesACleanFailure) {
  TempDir dir;
  PsdSpec spec = MakePsdSpec(PsdMode::Greyscale, 8, 512, 512, 2);
  FillPsdPlanes(spec, [](uint32_t x, uint32_t y, uint32_t c) { return (x + y + c) & 0xFF; });
  const std::string path = dir.file("grey.psd");
  ASSERT_TRUE(WritePsdFile(path, spec));
  const MappedFile file(path);
  const std::optional<PsdLayout> layout = CheckPsdStructure(file.bytes(), 0);
  ASSERT_TRUE(layout);
  EXPECT_TRUE(file.Intact());
  // The alpha plane lies past the new end: reading it used to end the process with SIGBUS.
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(layout->pixels_offset + 4096)), 0);
  ReadPsdChannel(file.bytes(), *layout, 1);
  EXPECT_FALSE(file.Intact());
}
