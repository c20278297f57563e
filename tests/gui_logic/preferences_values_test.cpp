// The widget-free parts of the preferences dialog: colour names and texts, list fields, the
// number and line clean-up, the watermark image filter.

#include "gui/preferences_values.h"

#include <gtest/gtest.h>

#include "engine/steps/hex_colour.h"

TEST(ColourText, RoundTripsThroughTheSettingsParser) {
  for (const char* text : {"000000", "FF8000", "0A0B0C", "FFFFFF", "804000"}) {
    EXPECT_EQ(ColourText(ParseHexColour(text)), text);
  }
  // Red 255, green 128, blue 0, each padded to two digits.
  EXPECT_EQ(ColourText(255 | 128 << 8), "FF8000");
  EXPECT_EQ(ColourText(1 | 2 << 8 | 3 << 16), "010203");
}

TEST(NamedColourKey, NamesTheNineteenColoursOnly) {
  EXPECT_EQ(NamedColourKey(ParseHexColour("000000")), "Black");
  EXPECT_EQ(NamedColourKey(ParseHexColour("FF8000")), "Orange");
  EXPECT_EQ(NamedColourKey(ParseHexColour("8000FF")), "Violet");
  EXPECT_EQ(NamedColourKey(ParseHexColour("804000")), "Brown");
  EXPECT_EQ(NamedColourKey(ParseHexColour("000080")), "Navy");
  // Blue and red swapped is another colour.
  EXPECT_EQ(NamedColourKey(ParseHexColour("0080FF")), "");
  EXPECT_EQ(NamedColourKey(ParseHexColour("123456")), "");
}

TEST(SplitListFields, TrimsEachFieldAndKeepsEmptyOnes) {
  EXPECT_EQ(SplitListFields(" Arial , Times New Roman,,Verdana "),
            (std::vector<std::string>{"Arial", "Times New Roman", "", "Verdana"}));
  EXPECT_EQ(SplitListFields(""), (std::vector<std::string>{""}));
  EXPECT_TRUE(ListHasField("Arial, Tahoma ,Verdana", "Tahoma"));
  EXPECT_FALSE(ListHasField("Arial,Tahoma", "tahoma"));
  EXPECT_FALSE(ListHasField("Arial Black", "Arial"));
  EXPECT_EQ(AppendListField("", "Arial"), "Arial");
  EXPECT_EQ(AppendListField("Arial", "DejaVu Sans"), "Arial,DejaVu Sans");
}

TEST(PaletteHasColour, ReadsEachFieldAsAColourAndBadFieldsAsBlack) {
  EXPECT_TRUE(PaletteHasColour("FFFFFF, ff0000", ParseHexColour("FF0000")));
  EXPECT_FALSE(PaletteHasColour("FFFFFF,FF0000", ParseHexColour("000000")));
  // A field of the wrong length counts as black.
  EXPECT_TRUE(PaletteHasColour("FFFFFF,FFF", 0));
}

TEST(SanitiseLine, TrimsBlanksThenDropsLineBreaksAndTabs) {
  EXPECT_EQ(SanitiseLine(""), "");
  EXPECT_EQ(SanitiseLine("  %filename%.%ext%  "), "%filename%.%ext%");
  EXPECT_EQ(SanitiseLine("Hello\r\nWorld"), "HelloWorld");
  EXPECT_EQ(SanitiseLine("a\tb\n"), "ab");
  // Blanks inside stay.
  EXPECT_EQ(SanitiseLine(" two words "), "two words");
}

TEST(LeadingNumber, ReadsTheNumberAtTheStart) {
  EXPECT_EQ(LeadingNumber("42"), 42);
  EXPECT_EQ(LeadingNumber("  -30px"), -30);
  EXPECT_EQ(LeadingNumber("+7"), 7);
  EXPECT_EQ(LeadingNumber(""), 0);
  EXPECT_EQ(LeadingNumber("-"), 0);
  EXPECT_EQ(LeadingNumber("x12"), 0);
  // An endless run of digits stays a number far beyond any setting, not an overflow.
  EXPECT_GT(LeadingNumber(std::string(40, '9')), 1'000'000'000);
}

TEST(TextToHundredths, RoundsDecimalTextToHundredths) {
  EXPECT_EQ(TextToHundredths("2.5"), 250);
  EXPECT_EQ(TextToHundredths("2,2"), 220);
  EXPECT_EQ(TextToHundredths("12"), 1200);
  EXPECT_EQ(TextToHundredths("0.005"), 1);
  EXPECT_EQ(TextToHundredths("abc"), 0);
  EXPECT_EQ(TextToHundredths(""), 0);
  EXPECT_EQ(HundredthsText(250), "2.50");
  EXPECT_EQ(HundredthsText(100), "1.00");
  EXPECT_EQ(HundredthsText(1), "0.01");
  EXPECT_EQ(ClampToRange(TextToHundredths("12"), 1, 999), 999);
  EXPECT_EQ(ClampToRange(TextToHundredths("0"), 1, 999), 1);
}

TEST(FontNameForList, DropsCommas) {
  EXPECT_EQ(FontNameForList("Serif, Bold"), "Serif Bold");
  EXPECT_EQ(FontNameForList("DejaVu Sans"), "DejaVu Sans");
}

TEST(WatermarkImageFilter, ListsAllTypesTogetherThenEachThenAllFiles) {
  EXPECT_EQ(WatermarkImageFilter("All Supported Files", "All Files"),
            "All Supported Files|*.png;*.bmp;*.rle;*.dib;*.jpg;*.jpeg;*.jpe;*.jif|"
            "Portable Network Graphics|*.png|Windows or OS/2 Bitmap|*.bmp;*.rle;*.dib|"
            "JPEG File|*.jpg;*.jpeg;*.jpe;*.jif|All Files (*.*)|*.*");
}
