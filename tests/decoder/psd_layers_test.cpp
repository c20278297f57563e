// The decoder's reader of layer records, in this process: what it takes from each record, where
// it finds the channel data, and what it refuses.

#include "decoder/psd_layers.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "decoder/compositor.h"
#include "tests/support/image_layers.h"
#include "tests/support/psd_writer.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::optional<LayeredDocument> Read(const std::vector<uint8_t>& bytes) {
  return ReadLayeredDocument(bytes);
}

// Two layers with everything a record can say: a masked one clipped to a half-transparent one.
PsdSpec TwoLayers(uint16_t version, uint16_t depth) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, depth, 12, 10);
  spec.version = version;
  spec.layers.push_back(SolidLayer(spec, {-2, -3, 6, 5}, {0.1, 0.2, 0.3}, 0.5));
  PsdLayer top = SolidLayer(spec, {1, 2, 9, 12}, {0.9, 0.8, 0.7});
  std::copy("scrn", "scrn" + 5, top.blend_key);
  top.opacity = 200;
  top.fill_opacity = 100;
  top.clipped = true;
  top.hidden = true;
  top.compression = PsdChannelCompression::Rle;
  top.has_mask = true;
  top.mask = {
      0, 1, 4, 6, 255, true, PsdLayerPlane(5, 4, depth, [](uint32_t, uint32_t) { return 0; })};
  top.channels.push_back({-2, ""});
  top.blocks.push_back({"vmsk", PsdVectorMaskBlock({{true, {PsdCornerKnot(0, 0)}}}, 1 | 4)});
  spec.layers.push_back(top);
  return spec;
}

}  // namespace

TEST(ReadLayeredDocument, TakesEveryFieldOfTheRecords) {
  for (const uint16_t version : {1, 2}) {
    for (const uint16_t depth : {8, 16}) {
      SCOPED_TRACE(testing::Message() << "version " << version << ", depth " << depth);
      const PsdSpec spec = TwoLayers(version, depth);
      const std::vector<uint8_t> bytes = Bytes(WritePsd(spec));
      const std::optional<LayeredDocument> document = Read(bytes);
      ASSERT_TRUE(document);
      EXPECT_EQ(document->colour_channels, 3);
      ASSERT_EQ(document->layers.size(), 2u);
      const LayerRecord& bottom = document->layers[0];
      EXPECT_EQ(bottom.rect.top, -2);
      EXPECT_EQ(bottom.rect.left, -3);
      EXPECT_EQ(bottom.rect.Width(), 8);
      EXPECT_EQ(bottom.channels.size(), 4u);
      EXPECT_TRUE(bottom.Channel(TransparencyChannel));
      EXPECT_EQ(bottom.blend_key, FourCc("norm"));
      EXPECT_FALSE(bottom.mask.present);
      EXPECT_FALSE(bottom.vector_mask.present);

      const LayerRecord& top = document->layers[1];
      EXPECT_EQ(top.blend_key, FourCc("scrn"));
      EXPECT_EQ(top.opacity, 200);
      EXPECT_EQ(top.fill_opacity, 100);
      EXPECT_TRUE(top.clipped);
      EXPECT_TRUE(top.hidden);
      ASSERT_TRUE(top.mask.present);
      EXPECT_EQ(top.mask.rect.left, 1);
      EXPECT_EQ(top.mask.rect.bottom, 4);
      EXPECT_EQ(top.mask.default_colour, 255);
      EXPECT_TRUE(top.mask.disabled);
      ASSERT_TRUE(top.vector_mask.present);
      EXPECT_TRUE(top.vector_mask.inverted);
      EXPECT_TRUE(top.vector_mask.disabled);
      // The path records follow the block's version and flags, and run to its end.
      const std::string block = PsdVectorMaskBlock({{true, {PsdCornerKnot(0, 0)}}}, 1 | 4);
      ASSERT_EQ(top.vector_mask.length, block.size() - 8);
      EXPECT_TRUE(std::equal(block.begin() + 8, block.end(),
                             bytes.begin() + static_cast<ptrdiff_t>(top.vector_mask.offset)));

      // Channel data follows the records in their order, each channel where its length says.
      uint64_t end = 0;
      for (const LayerRecord& layer : document->layers) {
        for (const LayerChannel& channel : layer.channels) {
          EXPECT_TRUE(end == 0 || channel.offset == end);
          end = channel.offset + channel.length;
        }
      }
      EXPECT_LE(end, bytes.size());
    }
  }
}

TEST(ReadLayeredDocument, GroupRecordsCarryTheGroupsMode) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Greyscale, 16, 4, 4);
  AddGroup(spec, {SolidLayer(spec, {0, 0, 4, 4}, {0.5, 0, 0})}, "pass", 77);
  const std::optional<LayeredDocument> document = Read(Bytes(WritePsd(spec)));
  ASSERT_TRUE(document);  // the layers live in an "Lr16" block
  EXPECT_EQ(document->colour_channels, 1);
  ASSERT_EQ(document->layers.size(), 3u);
  EXPECT_EQ(document->layers[0].section, LayerSection::GroupEnd);
  EXPECT_EQ(document->layers[1].section, LayerSection::None);
  EXPECT_EQ(document->layers[2].section, LayerSection::OpenGroup);
  EXPECT_EQ(document->layers[2].blend_key, FourCc("pass"));
  EXPECT_EQ(document->layers[2].opacity, 77);
}

TEST(ReadLayeredDocument, RefusesRecordsThatBreakTheirSectionOrBounds) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 4, 4);
  spec.layers.push_back(SolidLayer(spec, {0, 0, 4, 4}, {0.5, 0.5, 0.5}));
  PsdOffsets offsets;
  const std::string good = WritePsd(spec, &offsets);
  ASSERT_TRUE(Read(Bytes(good)));
  // Section length, layer info length, then the count and the first record.
  const size_t count = offsets.layers + 8;
  const size_t rect = count + 2;
  const size_t channels = rect + 16;
  const auto damaged = [&](size_t at, uint64_t value, size_t size) {
    std::string bytes = good;
    PutBigEndian(bytes, at, value, size);
    return Read(Bytes(bytes));
  };
  EXPECT_FALSE(damaged(count, MaxLayerRecords + 1, 2));
  EXPECT_FALSE(damaged(rect + 8, static_cast<uint32_t>(-1), 4));  // bottom above top
  EXPECT_FALSE(damaged(rect + 12, MaxLayerSide + 1, 4));          // wider than any layer
  EXPECT_FALSE(damaged(channels, MaxLayerChannels + 1, 2));
  EXPECT_FALSE(damaged(channels + 4, 1u << 30, 4));  // the first channel's length
  // A mask channel without the mask record that says where it lies.
  EXPECT_FALSE(damaged(channels + 2, static_cast<uint16_t>(UserMaskChannel), 2));
  // Modes and depths that are never rebuilt.
  EXPECT_FALSE(damaged(PsdModeOffset, PsdModeMultichannel, 2));
  EXPECT_FALSE(damaged(PsdModeOffset, PsdModeDuotone, 2));
  PsdSpec cmyk32 = MakePsdSpec(PsdMode::Cmyk, 32, 2, 2, 4);
  EXPECT_FALSE(Read(Bytes(WritePsd(cmyk32))));
  // A document without layers reads as one without records.
  const std::optional<LayeredDocument> empty =
      Read(Bytes(WritePsd(MakePsdSpec(PsdMode::Rgb, 8, 2, 2, 3))));
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->layers.empty());
}

TEST(DecodeLayerChannel, PlacesOnlyTheSamplesInsideTheRegion) {
  for (const PsdChannelCompression compression :
       {PsdChannelCompression::Raw, PsdChannelCompression::Rle, PsdChannelCompression::Zip,
        PsdChannelCompression::ZipPrediction}) {
    SCOPED_TRACE(static_cast<int>(compression));
    PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 16, 8, 8);
    PsdLayer layer;
    layer.top = 1, layer.left = -2, layer.bottom = 6, layer.right = 5;  // 7 x 5
    layer.compression = compression;
    layer.channels.push_back(
        {0, PsdLayerPlane(7, 5, 16, [](uint32_t x, uint32_t y) { return (y * 7 + x) * 1000; })});
    spec.layers.push_back(layer);
    const std::vector<uint8_t> bytes = Bytes(WritePsd(spec));
    const std::optional<LayeredDocument> document = Read(bytes);
    ASSERT_TRUE(document);
    const LayerRecord& record = document->layers[0];
    // The canvas's top-left 4 x 3, every second float: row 0 lies above the layer and is left
    // alone; the rest shows the layer's columns 2 to 5.
    const LayerRect region{0, 0, 3, 4};
    std::vector<float> out(region.Width() * region.Height() * 2, -1.0f);
    ASSERT_TRUE(DecodeLayerChannel(bytes, *document, record.channels[0], record.rect, region,
                                   out.data(), 2));
    for (int64_t y = 0; y < 3; ++y) {
      for (int64_t x = 0; x < 4; ++x) {
        const size_t at = static_cast<size_t>((y * 4 + x) * 2);
        const float want = y < 1 ? -1.0f : ((y - 1) * 7 + (x + 2)) * 1000 / 65535.0f;
        EXPECT_FLOAT_EQ(out[at], want) << x << "," << y;
        EXPECT_EQ(out[at + 1], -1.0f);  // the stride's gap is left alone
      }
    }
  }
}

TEST(BuildLayerTree, NestsGroupsAndTakesUnbalancedMarkersAsTheyCome) {
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 2, 2);
  const PsdLayer plain = SolidLayer(spec, {0, 0, 2, 2}, {0, 0, 0});
  PsdSpec inner = spec;
  AddGroup(inner, {plain, plain}, "norm", 255);
  AddGroup(spec, inner.layers, "norm", 255);
  spec.layers.push_back(plain);
  PsdLayer stray_group = plain;  // a group record without its end marker
  stray_group.section = 2;
  spec.layers.push_back(stray_group);
  const std::optional<LayeredDocument> document = Read(Bytes(WritePsd(spec)));
  ASSERT_TRUE(document);
  const std::vector<LayerNode> tree = BuildLayerTree(*document);
  ASSERT_EQ(tree.size(), 3u);
  EXPECT_TRUE(tree[0].group);
  ASSERT_EQ(tree[0].members.size(), 1u);
  EXPECT_TRUE(tree[0].members[0].group);
  EXPECT_EQ(tree[0].members[0].members.size(), 2u);
  EXPECT_FALSE(tree[1].group);
  EXPECT_FALSE(tree[2].group);  // drawn as a plain layer

  // Groups deeper than the compositor draws are taken as plain layers, never lost.
  PsdSpec deep = PlaceholderDocument(PsdMode::Rgb, 8, 2, 2);
  std::vector<PsdLayer> layers = {plain};
  for (int level = 0; level < 40; ++level) {
    PsdSpec wrapped = deep;
    AddGroup(wrapped, layers, "norm", 255);
    layers = wrapped.layers;
  }
  deep.layers = layers;
  const std::optional<LayeredDocument> nested = Read(Bytes(WritePsd(deep)));
  ASSERT_TRUE(nested);
  const std::vector<LayerNode> nested_tree = BuildLayerTree(*nested);
  // Every record but the end markers is in the tree, as a group or a layer.
  const std::function<size_t(const std::vector<LayerNode>&)> count =
      [&](const std::vector<LayerNode>& nodes) {
        size_t total = 0;
        for (const LayerNode& node : nodes) total += 1 + count(node.members);
        return total;
      };
  EXPECT_EQ(count(nested_tree), 41u);
  EXPECT_TRUE(HasVisiblePixels(*nested, nested_tree));
}
