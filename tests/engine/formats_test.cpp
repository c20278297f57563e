#include "engine/output/formats.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/program_settings.h"

namespace {

class FormatsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildInputFormats();
    BuildOutputFormats();
    saved_ = g_process;
    RebuildAcceptedExtensions();
  }
  void TearDown() override {
    g_process = saved_;
    RebuildAcceptedExtensions();
  }

 private:
  ProcessState saved_;
};

std::vector<std::string> Keys(const OutputFormatTable& table) {
  std::vector<std::string> keys;
  for (const auto& [key, entry] : table) keys.push_back(key);
  return keys;
}

}  // namespace

TEST_F(FormatsTest, OutputTableKeepsTheOrderOfBuilding) {
  const std::vector<std::string> expected = {"bmp", "exr", "gif",  "hdr",  "ico",  "j2k", "jng",
                                             "jp2", "jpg", "jxr",  "pbm",  "pfm",  "pgm", "png",
                                             "ppm", "tga", "tiff", "wbmp", "webp", "xpm"};
  EXPECT_EQ(Keys(g_output_formats), expected);
}

TEST_F(FormatsTest, OutputEntriesCarryFreeImageFormatsAndTheirOwnExtension) {
  const std::vector<std::pair<std::string, int>> formats = {
      {"bmp", FIF_BMP},   {"exr", FIF_EXR},   {"gif", FIF_GIF},   {"hdr", FIF_HDR},
      {"ico", FIF_ICO},   {"j2k", FIF_J2K},   {"jng", FIF_JNG},   {"jp2", FIF_JP2},
      {"jpg", FIF_JPEG},  {"jxr", FIF_JXR},   {"pbm", FIF_PBM},   {"pfm", FIF_PFM},
      {"pgm", FIF_PGM},   {"png", FIF_PNG},   {"ppm", FIF_PPM},   {"tga", FIF_TARGA},
      {"tiff", FIF_TIFF}, {"wbmp", FIF_WBMP}, {"webp", FIF_WEBP}, {"xpm", FIF_XPM}};
  for (const auto& [key, fif] : formats) {
    const OutputFormatEntry* entry = FindOutputFormat(key);
    ASSERT_NE(entry, nullptr) << key;
    EXPECT_EQ(entry->fif, fif) << key;
    EXPECT_EQ(entry->extension, key);
    EXPECT_FALSE(entry->description.empty()) << key;
  }
  EXPECT_EQ(FindOutputFormat("tiff")->description, "Tagged Image File Format");
  EXPECT_EQ(FindOutputFormat("psd"), nullptr);
  EXPECT_EQ(FindOutputFormat("PNG"), nullptr);
}

TEST_F(FormatsTest, DepthListsIncreaseAndPngHoldsSixteenBitRgba) {
  for (const auto& [key, entry] : g_output_formats) {
    const std::vector<int32_t> depths = ParseDepthList(entry.depths);
    ASSERT_FALSE(depths.empty()) << key;
    for (size_t i = 1; i < depths.size(); ++i) EXPECT_LT(depths[i - 1], depths[i]) << key;
  }
  EXPECT_EQ(FindOutputFormat("png")->depths, "1,4,8,24,32,48,64");
  EXPECT_EQ(FindOutputFormat("jpg")->depths, "8,24");
  EXPECT_EQ(FindOutputFormat("bmp")->depths, "1,4,8,16,24,32");
}

TEST_F(FormatsTest, InputTableGroupsExtensions) {
  ASSERT_NE(g_input_formats.Find("psd"), nullptr);
  EXPECT_EQ(g_input_formats.Find("psd")->description, "Adobe Photoshop File");
  EXPECT_EQ(g_input_formats.Find("jpe")->group, "jpg");
  EXPECT_EQ(g_input_formats.Find("apm")->group, "wmf");
  EXPECT_EQ(g_input_formats.Find("apm")->description, "Aldus Placeable Metafile");
  EXPECT_EQ(g_input_formats.Find("wmz")->description, "Windows Metafile Format");
  EXPECT_EQ(g_input_formats.Find("nef")->group, "raw");
  EXPECT_EQ(g_input_formats.Find("nef")->description, "Nikon Camera RAW Image");
  ASSERT_NE(g_input_formats.Find("psb"), nullptr);
  EXPECT_EQ(g_input_formats.Find("psb")->group, "psd");
  EXPECT_EQ(AcceptedExtensionsFor({"raw"}, g_input_formats).size(), 48u);
}

TEST_F(FormatsTest, AcceptedExtensionsFollowTheOfferedKeysInOrder) {
  EXPECT_EQ(g_accepted_input_extensions, (std::vector<std::string>{"psd", "psb"}));
  g_process.input_format_keys = {"tiff", "jpg"};
  RebuildAcceptedExtensions();
  const std::vector<std::string> expected = {"tiff", "tif", "jpg", "jpeg", "jpe", "jif"};
  EXPECT_EQ(g_accepted_input_extensions, expected);
}

TEST_F(FormatsTest, AcceptsPathsByLowerCasedExtension) {
  EXPECT_TRUE(IsAcceptedInputPath("/in/picture.psd"));
  EXPECT_TRUE(IsAcceptedInputPath("/in/PICTURE.PSD"));
  EXPECT_TRUE(IsAcceptedInputPath("relative/name.with.dots.Psd"));
  EXPECT_TRUE(IsAcceptedInputPath("/in/large.psb"));
  EXPECT_TRUE(IsAcceptedInputPath("/in/LARGE.PSB"));
  EXPECT_FALSE(IsAcceptedInputPath("/in/psd"));
  EXPECT_FALSE(IsAcceptedInputPath("/in.psd/noextension"));
  EXPECT_FALSE(IsAcceptedInputPath("/in/picture.psd.png"));
  EXPECT_FALSE(IsAcceptedInputPath(""));
}

TEST_F(FormatsTest, OutputKeyValidityIsExactAndLimitedToTheOfferedKeys) {
  EXPECT_TRUE(IsValidOutputKey("png"));
  EXPECT_FALSE(IsValidOutputKey("PNG"));
  EXPECT_FALSE(IsValidOutputKey("jpg"));
  EXPECT_FALSE(IsValidOutputKey(""));
}

TEST(ParseDepthList, SkipsEntriesThatAreNotNumbers) {
  EXPECT_EQ(ParseDepthList("1,4,8"), (std::vector<int32_t>{1, 4, 8}));
  EXPECT_EQ(ParseDepthList("8,x,24,"), (std::vector<int32_t>{8, 24}));
  EXPECT_TRUE(ParseDepthList("").empty());
}
