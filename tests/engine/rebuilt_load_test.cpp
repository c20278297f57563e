// Documents rebuilt from their layers, loaded the whole way: the structure check decides to
// rebuild, the decoder process composites, the program attaches what the document says. The
// compositing itself is tested in this process, in tests/decoder/.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/loading/loading.h"
#include "tests/support/image_bitmaps.h"
#include "tests/support/image_layers.h"
#include "tests/support/psd_writer.h"
#include "tests/support/temp_dir.h"

namespace {

class RebuiltLoadTest : public ::testing::Test {
 protected:
  Bitmap Load(const PsdSpec& spec, const LoadRequest& request = {}) {
    return LoadBytes(WritePsd(spec), request);
  }
  Bitmap LoadBytes(const std::string& bytes, const LoadRequest& request = {},
                   LoadReport* report = nullptr) {
    const std::string path = dir_.file("doc.psd");
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    return LoadInputImage(path, request, report);
  }
  static LoadRequest Layers(bool from_layers, std::vector<std::string> hidden = {}) {
    return {false, {from_layers, std::move(hidden)}};
  }
  static LoadRequest KeepingProfile() { return {true, {}}; }
  TempDir dir_;
};

// A profile whose header checks out: its size, "acsp", no tags.
std::string SaneProfile() {
  std::string profile(132, '\0');
  profile[3] = static_cast<char>(132);
  profile.replace(36, 4, "acsp");
  return profile;
}

TEST_F(RebuiltLoadTest, LayersComeBackThroughTheDecoderProcess) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 9, 7);
  const Colour background{0.2, 0.4, 0.6}, top{0.9, 0.1, 0.3};
  spec.layers.push_back(SolidLayer(spec, {0, 0, 7, 9}, background));
  spec.layers.push_back(SolidLayer(spec, {-2, -3, 4, 5}, top, 0.5));
  const Bitmap image = Load(spec);
  ASSERT_TRUE(image);
  ASSERT_EQ(FreeImage_GetWidth(image.get()), 9u);
  ASSERT_EQ(FreeImage_GetHeight(image.get()), 7u);
  const Expected under{{Stored(0.2, 8), Stored(0.4, 8), Stored(0.6, 8)}, 1.0};
  ExpectPixel(image, 0, 0,
              Over(under, {Stored(0.9, 8), Stored(0.1, 8), Stored(0.3, 8)}, 128 / 255.0));
  ExpectPixel(image, 8, 6, under);
}

TEST_F(RebuiltLoadTest, DeepDocumentsComeOutSrgbEncodedInSixteenBits) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 32, 4, 4);
  spec.layers.push_back(SolidLayer(spec, {0, 0, 4, 4}, {0.05, 0.2, 0.7}));
  const Bitmap image = Load(spec);
  ASSERT_TRUE(image);
  EXPECT_EQ(FreeImage_GetImageType(image.get()), FIT_RGB16);
  ExpectPixel(image, 2, 2, {{Stored(0.05, 32), Stored(0.2, 32), Stored(0.7, 32)}, 1.0}, 1.0, true);
}

TEST_F(RebuiltLoadTest, ARealCompositeIsKept) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 4, 4);
  spec.resources = {PsdVersionInfoResource(true)};
  spec.layers.push_back(SolidLayer(spec, {0, 0, 4, 4}, {0, 0, 1}));
  const Bitmap image = Load(spec);
  ASSERT_TRUE(image);
  ExpectPixel(image, 2, 2, {{1, 1, 1}, 1.0}, 0);  // the stored white, not the blue layer
}

// Some writers clear the "real merged data" flag over a genuine picture: the pixels decide.
TEST_F(RebuiltLoadTest, AFlaggedCompositeThatHoldsAPictureIsKept) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 4, 4);
  SetPsdSample(spec, 0, 1, 1, 0);  // one red sample of the stored picture is 0
  spec.layers.push_back(SolidLayer(spec, {0, 0, 4, 4}, {0, 0, 1}));
  const Bitmap image = Load(spec);
  ASSERT_TRUE(image);
  ExpectPixel(image, 1, 1, {{0, 1, 1}, 1.0}, 0);
  ExpectPixel(image, 2, 2, {{1, 1, 1}, 1.0}, 0);
  // A placeholder of any one colour is still passed over for the layers.
  FillPsdPlanes(spec, [](uint32_t, uint32_t, uint32_t channel) { return channel == 1 ? 40 : 200; });
  const Bitmap rebuilt = Load(spec);
  ASSERT_TRUE(rebuilt);
  ExpectPixel(rebuilt, 1, 1, {{0, 0, 1}, 1.0}, 0);
}

TEST_F(RebuiltLoadTest, TheLayersAreRebuiltOnRequest) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Greyscale, 8, 5, 4);
  spec.resources = {PsdVersionInfoResource(true)};
  spec.layers.push_back(SolidLayer(spec, {0, 0, 4, 5}, {0.2, 0, 0}));
  PsdLayer top = SolidLayer(spec, {0, 0, 2, 5}, {0.6, 0, 0});
  top.name = "Note";
  spec.layers.push_back(top);
  const Bitmap stored = Load(spec);
  ASSERT_TRUE(stored);
  ExpectPixel(stored, 2, 3, {{1, 1, 1}, 1.0}, 0);

  const Bitmap rebuilt = Load(spec, Layers(true));
  ASSERT_TRUE(rebuilt);
  ASSERT_EQ(FreeImage_GetWidth(rebuilt.get()), 5u);
  ExpectPixel(rebuilt, 2, 0, {{Stored(0.6, 8), Stored(0.6, 8), Stored(0.6, 8)}, 1.0});
  ExpectPixel(rebuilt, 2, 3, {{Stored(0.2, 8), Stored(0.2, 8), Stored(0.2, 8)}, 1.0});

  // A glob alone asks for the rebuild too.
  const Bitmap without_note = Load(spec, Layers(false, {"No*"}));
  ASSERT_TRUE(without_note);
  ExpectPixel(without_note, 2, 0, {{Stored(0.2, 8), Stored(0.2, 8), Stored(0.2, 8)}, 1.0});

  // A document without layers keeps its stored picture whatever is asked.
  spec.layers.clear();
  const Bitmap flat = Load(spec, Layers(true, {"*"}));
  ASSERT_TRUE(flat);
  ExpectPixel(flat, 2, 3, {{1, 1, 1}, 1.0}, 0);
}

TEST_F(RebuiltLoadTest, AMissingOrShortCompositeIsBuiltFromTheLayers) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 6, 6);
  spec.resources.clear();  // no version info at all
  spec.layers.push_back(SolidLayer(spec, {0, 0, 6, 6}, {0.1, 0.5, 0.9}));
  PsdOffsets offsets;
  std::string bytes = WritePsd(spec, &offsets);
  bytes.resize(offsets.pixels + 10);  // the composite's planes cut short
  const Bitmap image = LoadBytes(bytes);
  ASSERT_TRUE(image);
  ExpectPixel(image, 3, 3, {{Stored(0.1, 8), Stored(0.5, 8), Stored(0.9, 8)}, 1.0});

  // Without a visible layer, a short composite fails as before.
  spec.layers[0].hidden = true;
  bytes = WritePsd(spec, &offsets);
  bytes.resize(offsets.pixels + 10);
  EXPECT_FALSE(LoadBytes(bytes));
}

// Every pixel of `a` and `b` as 32-bit colour, alike within a level; the colour of a pixel that
// both leave fully transparent does not count.
void ExpectSameColours(const Bitmap& a, const Bitmap& b) {
  ASSERT_TRUE(a && b);
  const Bitmap wide_a(FreeImage_ConvertTo32Bits(a.get()));
  const Bitmap wide_b(FreeImage_ConvertTo32Bits(b.get()));
  ASSERT_EQ(FreeImage_GetWidth(wide_a.get()), FreeImage_GetWidth(wide_b.get()));
  ASSERT_EQ(FreeImage_GetHeight(wide_a.get()), FreeImage_GetHeight(wide_b.get()));
  for (unsigned y = 0; y < FreeImage_GetHeight(wide_a.get()); ++y) {
    const BYTE* row_a = FreeImage_GetScanLine(wide_a.get(), static_cast<int>(y));
    const BYTE* row_b = FreeImage_GetScanLine(wide_b.get(), static_cast<int>(y));
    for (unsigned x = 0; x < FreeImage_GetWidth(wide_a.get()); ++x) {
      const BYTE* pixel_a = row_a + 4 * x;
      const BYTE* pixel_b = row_b + 4 * x;
      EXPECT_EQ(pixel_a[FI_RGBA_ALPHA], pixel_b[FI_RGBA_ALPHA]) << x;
      if (pixel_a[FI_RGBA_ALPHA] == 0 && pixel_b[FI_RGBA_ALPHA] == 0) continue;
      for (const int c : {FI_RGBA_RED, FI_RGBA_GREEN, FI_RGBA_BLUE}) {
        EXPECT_NEAR(pixel_a[c], pixel_b[c], 1) << "pixel " << x << " channel " << c;
      }
    }
  }
}

TEST_F(RebuiltLoadTest, LabAndIndexedLayersComeOutAsTheirStoredCompositeDoes) {
  // One layer holding what the genuine composite holds: rebuilt on request, the picture is the
  // stored one, its colours converted (Lab) or looked up (indexed) the same way.
  const std::vector<uint32_t> lab[3] = {{10, 128, 240}, {128, 20, 200}, {128, 230, 90}};
  const std::vector<uint32_t> indices = {3, 7, 200};
  for (const PsdMode mode : {PsdMode::Lab, PsdMode::Indexed}) {
    SCOPED_TRACE(static_cast<int>(mode));
    const bool indexed = mode == PsdMode::Indexed;
    PsdSpec spec = MakePsdSpec(mode, 8, 3, 1, indexed ? 1 : 3);
    if (indexed) {
      for (size_t i = 0; i < 768; ++i) spec.colour_mode_data[i] = static_cast<char>(i * 7);
      spec.resources.push_back({1047, {0, 7}});  // the middle pixel is transparent
    }
    spec.resources.push_back(PsdVersionInfoResource(true));
    FillPsdPlanes(spec, [&](uint32_t x, uint32_t, uint32_t channel) {
      return indexed ? indices[x] : lab[channel][x];
    });
    PsdLayer layer;
    layer.bottom = 1;
    layer.right = 3;
    for (int16_t c = 0; c < (indexed ? 1 : 3); ++c) {
      layer.channels.push_back({c, PsdLayerPlane(3, 1, 8, [&](uint32_t x, uint32_t) {
                                  return indexed ? indices[x] : lab[c][x];
                                })});
    }
    spec.layers.push_back(layer);
    const Bitmap stored = Load(spec);
    const Bitmap rebuilt = Load(spec, Layers(true));
    ExpectSameColours(stored, rebuilt);
    // Lab comes out sRGB, without the document's Lab profile, whatever is asked.
    LoadRequest keeping = Layers(true);
    keeping.keep_profile = true;
    if (!indexed) {
      spec.resources.push_back({1039, SaneProfile()});
      const Bitmap kept = Load(spec, keeping);
      ASSERT_TRUE(kept);
      EXPECT_EQ(FreeImage_GetICCProfile(kept.get())->size, 0);
    }
  }
}

TEST_F(RebuiltLoadTest, TheRebuiltPictureKeepsProfileAndResolution) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 4, 4);
  spec.resources.push_back(PsdResolutionResource(254));
  spec.resources.push_back(PsdIccProfileResource(SaneProfile()));
  spec.layers.push_back(SolidLayer(spec, {0, 0, 4, 4}, {0.5, 0.5, 0.5}));
  Bitmap image = Load(spec, KeepingProfile());
  ASSERT_TRUE(image);
  EXPECT_EQ(FreeImage_GetDotsPerMeterX(image.get()), 10000u);  // 254 per inch
  EXPECT_EQ(FreeImage_GetDotsPerMeterY(image.get()), 10000u);
  EXPECT_EQ(FreeImage_GetICCProfile(image.get())->size, 132);
  // By default the colours go to sRGB and the picture carries no profile (this one has no tags
  // to convert with: the pixels are taken as sRGB).
  image = Load(spec);
  ASSERT_TRUE(image);
  EXPECT_EQ(FreeImage_GetICCProfile(image.get())->size, 0);
  EXPECT_EQ(FreeImage_GetDotsPerMeterX(image.get()), 10000u);

  // A damaged profile is dropped, the picture kept.
  spec.resources.back() = PsdIccProfileResource(std::string(132, 'x'));
  image = Load(spec, KeepingProfile());
  ASSERT_TRUE(image);
  EXPECT_EQ(FreeImage_GetICCProfile(image.get())->size, 0);
}

// Transparency widens a grey picture to RGBA; kept, its samples stay grey and it carries the grey
// profile, rebuilt or stored, and the report says the document is grey.
TEST_F(RebuiltLoadTest, GreyWithTransparencyKeepsItsProfileAndIsReportedGrey) {
  PsdSpec rebuilt = PlaceholderDocument(PsdMode::Greyscale, 8, 4, 4);
  rebuilt.resources.push_back(PsdIccProfileResource(SaneProfile()));
  rebuilt.layers.push_back(SolidLayer(rebuilt, {0, 0, 2, 4}, {0.3, 0.3, 0.3}, 0.5));
  PsdSpec stored = MakePsdSpec(PsdMode::Greyscale, 8, 4, 4, 2);
  FillPsdPlanes(stored, [](uint32_t x, uint32_t, uint32_t c) { return c == 0 ? 255 : x * 60; });
  stored.resources.push_back(PsdIccProfileResource(SaneProfile()));
  for (const PsdSpec* spec : {&rebuilt, &stored}) {
    SCOPED_TRACE(spec == &rebuilt ? "rebuilt" : "stored");
    LoadReport report;
    const Bitmap image = LoadBytes(WritePsd(*spec), KeepingProfile(), &report);
    ASSERT_TRUE(image);
    EXPECT_TRUE(report.grey);
    ASSERT_EQ(FreeImage_GetBPP(image.get()), 32u);
    EXPECT_EQ(IccProfileOf(image.get()), SaneProfile());
    for (int x = 0; x < 4; ++x) {
      const Rgba16 pixel = ReadPixel(image, x, 1);
      EXPECT_EQ(pixel.red, pixel.green) << x;
      EXPECT_EQ(pixel.red, pixel.blue) << x;
    }
    EXPECT_LT(ReadPixel(image, 0, 1).alpha, 0xFFFF) << "the transparency is carried";
  }
  LoadReport report;
  ASSERT_TRUE(LoadBytes(WritePsd(PlaceholderDocument(PsdMode::Rgb, 8, 4, 4)), {}, &report));
  EXPECT_FALSE(report.grey);
}

TEST_F(RebuiltLoadTest, NothingVisibleKeepsTheStoredPicture) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 4, 4);
  spec.layers.push_back(SolidLayer(spec, {0, 0, 4, 4}, {0, 0, 0}));
  spec.layers[0].hidden = true;
  spec.layers.push_back(SolidLayer(spec, {10, 10, 12, 12}, {0, 0, 0}));  // off the canvas
  const Bitmap image = Load(spec);
  ASSERT_TRUE(image);
  ExpectPixel(image, 0, 0, {{1, 1, 1}, 1.0}, 0);
}

TEST_F(RebuiltLoadTest, ABrokenRebuildFailsInsteadOfGivingThePlaceholder) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 4, 4);
  spec.layers.push_back(SolidLayer(spec, {0, 0, 4, 4}, {0.2, 0.4, 0.6}));
  spec.layers[0].compression = static_cast<PsdChannelCompression>(9);  // no such compression
  EXPECT_FALSE(Load(spec));
}

TEST_F(RebuiltLoadTest, TheRebuildTellsWhatItLeftOut) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 4, 4);
  spec.layers.push_back(SolidLayer(spec, {0, 0, 4, 4}, {0.5, 0.5, 0.5}));
  LoadReport report{LoadFault::None, "stale"};
  ASSERT_TRUE(LoadBytes(WritePsd(spec), {}, &report));
  EXPECT_EQ(report.left_out, "");

  // An adjustment we do not draw, and an enabled effect we do not draw (a stroke emboss) on a
  // visible layer.
  PsdLayer levels;
  levels.blocks.push_back({"levl", std::string(40, '\0')});
  spec.layers.push_back(levels);
  PsdDescriptorWriter emboss("ebbl");
  emboss.Bool("enab", true).Enum("bvlS", "BESl", "strokeEmboss");
  PsdDescriptorWriter effects("null");
  effects.Bool("masterFXSwitch", true).Object("ebbl", emboss);
  spec.layers[0].blocks.push_back({"lfx2", std::string(4, '\0') + effects.Versioned()});
  ASSERT_TRUE(LoadBytes(WritePsd(spec), {}, &report));
  EXPECT_EQ(report.left_out, "adjustment layers, layer effects");

  // With the master switch off, or on a hidden layer, nothing of it would show anyway.
  spec.layers.back().hidden = true;
  effects = PsdDescriptorWriter("null");
  effects.Bool("masterFXSwitch", false).Object("ebbl", emboss);
  spec.layers[0].blocks.back().data = std::string(4, '\0') + effects.Versioned();
  ASSERT_TRUE(LoadBytes(WritePsd(spec), {}, &report));
  EXPECT_EQ(report.left_out, "");

  // Nor is an artboard's background colour.
  spec.layers[0].blocks.push_back({"artb", std::string(16, '\0')});
  ASSERT_TRUE(LoadBytes(WritePsd(spec), {}, &report));
  EXPECT_EQ(report.left_out, "artboard backgrounds");

  // A stored composite that is used leaves nothing out, whatever its layers hold.
  spec.resources = {PsdVersionInfoResource(true)};
  spec.layers.back().hidden = false;
  ASSERT_TRUE(LoadBytes(WritePsd(spec), {}, &report));
  EXPECT_EQ(report.left_out, "");
}

}  // namespace
