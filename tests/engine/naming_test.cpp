#include "engine/output/naming.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

namespace {

TokenValues ValuesFor(const std::string& input_path) {
  TokenValues values;
  values.input_path = input_path;
  values.output_format = "png";
  values.bpp = 24;
  values.width = 640;
  values.height = 480;
  values.random_number = 42;
  values.sequence_number = 7;
  return values;
}

std::string Two(int value) { return (value < 10 ? "0" : "") + std::to_string(value); }

// The expected text of a clock token at one moment, built from the C library directly.
std::string ClockText(const std::string& token, time_t moment) {
  struct tm fields {};
  localtime_r(&moment, &fields);
  if (token == "%yyyy%") return std::to_string(fields.tm_year + 1900);
  if (token == "%mm%") return Two(fields.tm_mon + 1);
  if (token == "%dd%") return Two(fields.tm_mday);
  if (token == "%hh%") return Two(fields.tm_hour);
  if (token == "%ii%") return Two(fields.tm_min);
  return Two(fields.tm_sec);
}

}  // namespace

TEST(BuildOutputName, EmptyMaskGivesBaseNameAndExtension) {
  EXPECT_EQ(BuildOutputName("", ValuesFor("/in/picture.psd")), "picture.png");
}

TEST(BuildOutputName, TitleCaseAndUpperCaseTokens) {
  EXPECT_EQ(BuildOutputName("%filename[t]%_%ext[u]%", ValuesFor("/in/holiday PHOTO.psd")),
            "Holiday photo_PNG");
}

TEST(BuildOutputName, MaskIsLowerCasedButValuesKeepTheirCase) {
  const TokenValues values = ValuesFor("/in/Holiday PHOTO.psd");
  EXPECT_EQ(BuildOutputName("%FILENAME%.%EXT%", values), "Holiday PHOTO.png");
  EXPECT_EQ(BuildOutputName("Photo_%filename%", values), "photo_Holiday PHOTO");
}

TEST(BuildOutputName, EveryFileNameAndExtensionToken) {
  TokenValues values = ValuesFor("/in/MiXed Case.psd");
  values.output_format = "tIFf";
  EXPECT_EQ(BuildOutputName("%filename%", values), "MiXed Case");
  EXPECT_EQ(BuildOutputName("%filename[u]%", values), "MIXED CASE");
  EXPECT_EQ(BuildOutputName("%filename[l]%", values), "mixed case");
  EXPECT_EQ(BuildOutputName("%filename[t]%", values), "Mixed case");
  EXPECT_EQ(BuildOutputName("%ext%", values), "tIFf");
  EXPECT_EQ(BuildOutputName("%ext[u]%", values), "TIFF");
  EXPECT_EQ(BuildOutputName("%ext[t]%", values), "Tiff");
}

TEST(BuildOutputName, CaseTokensMapLettersBeyondAscii) {
  const TokenValues values = ValuesFor("/in/été Über.psd");
  EXPECT_EQ(BuildOutputName("%filename[u]%", values), "ÉTÉ ÜBER");
  EXPECT_EQ(BuildOutputName("%filename[l]%", values), "été über");
  EXPECT_EQ(BuildOutputName("%filename[t]%", values), "Été über");
  EXPECT_EQ(BuildOutputName("ÉCOLE_%filename%", values), "école_été Über");
}

TEST(BuildOutputName, NumberTokens) {
  TokenValues values = ValuesFor("/in/a.psd");
  EXPECT_EQ(BuildOutputName("%bpp%-%width%x%height%", values), "24-640x480");
  EXPECT_EQ(BuildOutputName("%rnd%_%n%", values), "00042_00007");
  values.random_number = 99999;
  values.sequence_number = 1;
  EXPECT_EQ(BuildOutputName("%rnd%_%n%", values), "99999_00001");
}

TEST(BuildOutputName, LongSequenceNumbersKeepEveryDigit) {
  TokenValues values = ValuesFor("/in/a.psd");
  values.sequence_number = 123456;
  // Cutting to five digits would give file 123456 the name of file 12345.
  EXPECT_EQ(BuildOutputName("%n%", values), "123456");
}

TEST(BuildOutputName, ClockTokensShowTheLocalTime) {
  for (const std::string token : {"%yyyy%", "%mm%", "%dd%", "%hh%", "%ii%", "%ss%"}) {
    const time_t before = time(nullptr);
    const std::string name = BuildOutputName(token, ValuesFor("/in/a.psd"));
    const time_t after = time(nullptr);
    EXPECT_TRUE(name == ClockText(token, before) || name == ClockText(token, after))
        << token << " gave " << name;
  }
}

TEST(BuildOutputName, ValueHoldingALaterTokenIsExpandedToo) {
  EXPECT_EQ(BuildOutputName("%filename%", ValuesFor("/in/a%ext%.psd")), "apng");
  // An earlier token inside a value stays as it is: its turn has passed.
  EXPECT_EQ(BuildOutputName("%ext%",
                            [] {
                              TokenValues values = ValuesFor("/in/a.psd");
                              values.output_format = "%filename%";
                              return values;
                            }()),
            "%filename%");
}

TEST(BuildOutputName, UnknownTokensAndLiteralPercentSignsStay) {
  EXPECT_EQ(BuildOutputName("100%_%foo%_%filename%", ValuesFor("/in/x.psd")), "100%_%foo%_x");
}

TEST(ReplaceToken, MatchesWithoutCaseAndKeepsLiteralText) {
  const TokenValues values = ValuesFor("/in/photo.psd");
  EXPECT_EQ(ReplaceToken("Size %WIDTH% x %Height%", "%width%", values), "Size 640 x %Height%");
  EXPECT_EQ(ReplaceToken("%n% and %N%", "%n%", values), "00007 and 00007");
  EXPECT_EQ(ReplaceToken("Made by Me", "%bpp%", values), "Made by Me");
  EXPECT_EQ(ReplaceToken("keep %nothing%", "%nothing%", values), "keep %nothing%");
}

TEST(BaseName, CutsOnlyTheLastExtension) {
  EXPECT_EQ(BaseName("a.b.c.psd"), "a.b.c");
  EXPECT_EQ(BaseName("picture.psd"), "picture");
  EXPECT_EQ(BaseName("noextension"), "noextension");
  EXPECT_EQ(BaseName(""), "");
  EXPECT_EQ(BaseName("trailing."), "trailing");
}

TEST(BuildOutputName, BaseNameComesFromTheFileNameOnly) {
  EXPECT_EQ(BuildOutputName("", ValuesFor("/in/dotted.folder/name")), "name.png");
  EXPECT_EQ(BuildOutputName("", ValuesFor("/in/a.b.c.psd")), "a.b.c.png");
}

TEST(BuildOutputPath, SubfolderOnlyWhenKept) {
  EXPECT_EQ(BuildOutputPath("/out/", "sub/dir/", true, "x.png"), "/out/sub/dir/x.png");
  EXPECT_EQ(BuildOutputPath("/out/", "sub/dir/", false, "x.png"), "/out/x.png");
  EXPECT_EQ(BuildOutputPath("/out/", "", true, "x.png"), "/out/x.png");
}

TEST(StaysInOutputFolder, AllowsSubfoldersButNothingAboveTheFolder) {
  for (const char* inside : {"a.png", "sub/a.png", "sub/../a.png", "./a.png", "sub//a.png",
                             "/a.png", "a/b/../../c.png", "..a.png"}) {
    EXPECT_TRUE(StaysInOutputFolder(inside)) << inside;
  }
  for (const char* outside :
       {"../a.png", "sub/../../a.png", "..", "sub/..", "", "sub/", ".", "a/./../../b.png"}) {
    EXPECT_FALSE(StaysInOutputFolder(outside)) << outside;
  }
}
