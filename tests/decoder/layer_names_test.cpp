// Layer names as the records store them, the globs that pick layers by name, and the rebuild that
// leaves the picked layers and groups out. Expected pixels come from the compositing model of
// tests/support/image_layers.h, never from the code under test.

#include "decoder/layer_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoder/layer_rebuild.h"
#include "tests/support/image_layers.h"
#include "tests/support/psd_writer.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::vector<uint8_t> LuniBlock(const std::u16string& units) {
  std::vector<uint8_t> block = {0, 0, 0, static_cast<uint8_t>(units.size())};
  for (const char16_t unit : units) {
    block.push_back(static_cast<uint8_t>(unit >> 8));
    block.push_back(static_cast<uint8_t>(unit));
  }
  return block;
}

PsdLayer Named(PsdLayer layer, std::string pascal, std::u16string unicode = {}) {
  layer.name = std::move(pascal);
  layer.unicode_name = std::move(unicode);
  return layer;
}

}  // namespace

TEST(LayerNames, UnicodeNamesBecomeUtf8) {
  // "Größe", a trailing NUL unit as Photoshop writes some names, and a pair of surrogates.
  EXPECT_EQ(UnicodeLayerName(LuniBlock(u"Gr\u00F6\u00DFe")),
            "Gr\xC3\xB6\xC3\x9F"
            "e");
  EXPECT_EQ(UnicodeLayerName(LuniBlock(std::u16string(u"ab") + char16_t{0})), "ab");
  EXPECT_EQ(UnicodeLayerName(LuniBlock(u"\U0001F600")), "\xF0\x9F\x98\x80");
  // An unpaired surrogate is replaced, not passed on as invalid UTF-8.
  EXPECT_EQ(UnicodeLayerName(LuniBlock(std::u16string{char16_t{0xD800}, u'x'})), "\xEF\xBF\xBDx");
  // A count beyond the block gives no name rather than a read past it.
  std::vector<uint8_t> short_block = LuniBlock(u"abc");
  short_block[3] = 9;
  EXPECT_EQ(UnicodeLayerName(short_block), "");
  const std::vector<uint8_t> latin = {'c', 0xE9};
  EXPECT_EQ(PascalLayerName(latin), "c\xC3\xA9");
}

TEST(LayerNames, GlobsMatchCharactersNotBytes) {
  EXPECT_TRUE(LayerNameMatches("*", ""));
  EXPECT_TRUE(LayerNameMatches("Watermark*", "Watermark copy 2"));
  EXPECT_FALSE(LayerNameMatches("Watermark*", "Old watermark"));
  EXPECT_TRUE(LayerNameMatches("*mark*", "Old watermark"));
  EXPECT_TRUE(LayerNameMatches("Layer ?", "Layer 7"));
  EXPECT_FALSE(LayerNameMatches("Layer ?", "Layer 17"));
  // "?" takes one character: "ö" is two bytes in UTF-8.
  EXPECT_TRUE(
      LayerNameMatches("Gr?\xC3\x9F"
                       "e",
                       "Gr\xC3\xB6\xC3\x9F"
                       "e"));
  EXPECT_TRUE(LayerNameMatches("[a-c]x", "bx"));
  EXPECT_FALSE(LayerNameMatches("[!a-c]x", "bx"));
  EXPECT_TRUE(LayerNameMatches("[\xC3\xA4\xC3\xB6]l", "\xC3\xB6l"));
  EXPECT_TRUE(LayerNameMatches("a\\*b", "a*b"));
  EXPECT_FALSE(LayerNameMatches("a\\*b", "axb"));
  EXPECT_TRUE(LayerNameMatches("[x", "[x"));  // an unclosed set is a plain "["
  EXPECT_FALSE(LayerNameMatches("guide", "Guide"));
  // Many stars against a long near-miss stay quick (no exponential backtracking).
  EXPECT_FALSE(LayerNameMatches("*a*a*a*a*a*a*a*a*b", std::string(2000, 'a')));
}

TEST(LayerNames, TheReaderTakesTheUnicodeNameOverThePascalOne) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 4, 4);
  spec.layers.push_back(
      Named(SolidLayer(spec, {0, 0, 4, 4}, {0, 0, 0}), "Gr?sse", u"Gr\u00F6\u00DFe"));
  spec.layers.push_back(Named(SolidLayer(spec, {0, 0, 4, 4}, {0, 0, 0}), "Plain name"));
  const std::vector<uint8_t> bytes = Bytes(WritePsd(spec));
  const std::optional<LayeredDocument> document = ReadLayeredDocument(bytes);
  ASSERT_TRUE(document);
  ASSERT_EQ(document->layers.size(), 2u);
  EXPECT_EQ(document->layers[0].name,
            "Gr\xC3\xB6\xC3\x9F"
            "e");
  EXPECT_EQ(document->layers[1].name, "Plain name");
}

class HideLayerTest : public ::testing::Test {
 protected:
  Bitmap Rebuild(const PsdSpec& spec, const std::vector<std::string>& hidden) {
    const std::vector<uint8_t> bytes = Bytes(WritePsd(spec));
    return RebuildFromLayers(bytes, 0, nothing_to_build_, {}, hidden);
  }
  bool nothing_to_build_ = false;
};

TEST_F(HideLayerTest, HidesMatchingLayersByTheirUnicodeName) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 6, 4);
  const Colour back{0.2, 0.4, 0.6}, mark{1.0, 0.0, 0.0};
  spec.layers.push_back(Named(SolidLayer(spec, {0, 0, 4, 6}, back), "Background"));
  spec.layers.push_back(
      Named(SolidLayer(spec, {0, 0, 2, 6}, mark), "Wasserzeichen", u"Wasserzeichen \u00FCber"));
  const Expected background{{Stored(back[0], 8), Stored(back[1], 8), Stored(back[2], 8)}, 1.0};
  const Expected red{{1.0, 0.0, 0.0}, 1.0};

  const Bitmap shown = Rebuild(spec, {});
  ASSERT_TRUE(shown);
  ExpectPixel(shown, 1, 0, red);
  // The Pascal name does not have the "ü": only a match on the Unicode name hides the layer.
  const Bitmap hidden = Rebuild(spec, {"*\xC3\xBC"
                                       "ber"});
  ASSERT_TRUE(hidden);
  ExpectPixel(hidden, 1, 0, background);
  ExpectPixel(hidden, 1, 3, background);
  const Bitmap one_char = Rebuild(spec, {"Wasserzeichen ?ber"});
  ASSERT_TRUE(one_char);
  ExpectPixel(one_char, 1, 0, background);
  const Bitmap unmatched = Rebuild(spec, {"Wasserzeichen"});
  ASSERT_TRUE(unmatched);
  ExpectPixel(unmatched, 1, 0, red);
}

TEST_F(HideLayerTest, HidesAGroupWithItsMembersAndTheLayersClippedToALayer) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 6, 4);
  const Colour back{0.1, 0.1, 0.1}, member{0.0, 1.0, 0.0}, base{0.0, 0.0, 1.0}, clip{1.0, 1.0, 0};
  spec.layers.push_back(Named(SolidLayer(spec, {0, 0, 4, 6}, back), "Background"));
  AddGroup(spec, {Named(SolidLayer(spec, {0, 0, 2, 3}, member), "Inside")}, "pass", 255);
  spec.layers.back().name = "Guides";
  spec.layers.push_back(Named(SolidLayer(spec, {2, 0, 4, 3}, base), "Base"));
  PsdLayer clipped = Named(SolidLayer(spec, {0, 0, 4, 6}, clip), "Clipped");
  clipped.clipped = true;
  spec.layers.push_back(clipped);
  const Expected background{{Stored(0.1, 8), Stored(0.1, 8), Stored(0.1, 8)}, 1.0};

  const Bitmap all = Rebuild(spec, {});
  ASSERT_TRUE(all);
  ExpectPixel(all, 1, 0, {{0.0, 1.0, 0.0}, 1.0});  // the group's member
  ExpectPixel(all, 1, 3, {{1.0, 1.0, 0.0}, 1.0});  // the clipped layer over its base

  // The group's record carries its name; its member goes with it, and the end marker is no layer.
  const Bitmap no_group = Rebuild(spec, {"Guides"});
  ASSERT_TRUE(no_group);
  ExpectPixel(no_group, 1, 0, background);
  ExpectPixel(no_group, 1, 3, {{1.0, 1.0, 0.0}, 1.0});
  // A member can be hidden alone.
  const Bitmap no_member = Rebuild(spec, {"Ins*"});
  ASSERT_TRUE(no_member);
  ExpectPixel(no_member, 1, 0, background);
  // A hidden base takes what is clipped to it along.
  const Bitmap no_base = Rebuild(spec, {"Base"});
  ASSERT_TRUE(no_base);
  ExpectPixel(no_base, 1, 3, background);
  ExpectPixel(no_base, 4, 3, background);
  // The clipped layer alone leaves its base showing.
  const Bitmap no_clip = Rebuild(spec, {"Clip*"});
  ASSERT_TRUE(no_clip);
  ExpectPixel(no_clip, 1, 3, {{0.0, 0.0, 1.0}, 1.0});
}

TEST_F(HideLayerTest, HidingEverythingGivesATransparentCanvas) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 5, 3);
  spec.layers.push_back(Named(SolidLayer(spec, {0, 0, 3, 5}, {0.5, 0.5, 0.5}), "Only"));
  const Bitmap image = Rebuild(spec, {"*"});
  ASSERT_TRUE(image);
  EXPECT_FALSE(nothing_to_build_);
  EXPECT_EQ(FreeImage_GetWidth(image.get()), 5u);
  EXPECT_EQ(FreeImage_GetHeight(image.get()), 3u);
  ExpectPixel(image, 2, 1, {{0, 0, 0}, 0.0});
  // Without a glob, a document with nothing to draw still says so.
  spec.layers.back().hidden = true;
  EXPECT_FALSE(Rebuild(spec, {}));
  EXPECT_TRUE(nothing_to_build_);
}
