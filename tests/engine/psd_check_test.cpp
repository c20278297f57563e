#include "engine/psd/psd_check.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/image/memory_budget.h"
#include "engine/psd/packbits.h"
#include "engine/psd/psd_channels.h"
#include "tests/support/psd_writer.h"

namespace {

constexpr uint64_t NoMemoryLimit = 0;

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::optional<PsdLayout> Check(const std::string& bytes, uint64_t memory = NoMemoryLimit) {
  return CheckPsdStructure(Bytes(bytes), memory);
}

PsdSpec Gradient(PsdMode mode, uint16_t depth, uint32_t width, uint32_t height, uint16_t channels,
                 PsdCompression compression) {
  PsdSpec spec = MakePsdSpec(mode, depth, width, height, channels);
  spec.compression = compression;
  const uint32_t mask = depth == 1 ? 1 : depth == 8 ? 0xFF : 0xFFFF;
  FillPsdPlanes(spec, [mask](uint32_t x, uint32_t y, uint32_t c) -> uint32_t {
    return (x * 37 + y * 11 + c * 101) & mask;
  });
  return spec;
}

TEST(CheckPsdStructure, AcceptsEveryKindTheWriterMakes) {
  struct Kind {
    PsdMode mode;
    uint16_t depth;
    uint16_t channels;
  };
  const Kind kinds[] = {{PsdMode::Rgb, 8, 3},        {PsdMode::Rgb, 8, 4},
                        {PsdMode::Rgb, 16, 4},       {PsdMode::Greyscale, 8, 2},
                        {PsdMode::Greyscale, 16, 1}, {PsdMode::Bitmap, 1, 1},
                        {PsdMode::Indexed, 8, 1},    {PsdMode::Cmyk, 8, 4}};
  for (const Kind& kind : kinds) {
    for (PsdCompression compression : {PsdCompression::Raw, PsdCompression::Rle}) {
      for (uint16_t version : {1, 2}) {
        PsdSpec spec = Gradient(kind.mode, kind.depth, 13, 7, kind.channels, compression);
        spec.version = version;
        PsdOffsets offsets;
        const std::string bytes = WritePsd(spec, &offsets);
        const std::optional<PsdLayout> layout = Check(bytes);
        ASSERT_TRUE(layout) << static_cast<int>(kind.mode) << " " << kind.depth;
        EXPECT_EQ(layout->width, 13u);
        EXPECT_EQ(layout->height, 7u);
        EXPECT_EQ(layout->channels, kind.channels);
        EXPECT_EQ(layout->version, version);
        EXPECT_EQ(layout->pixels_offset, offsets.pixels);
        EXPECT_EQ(layout->row_bytes, PsdRowBytes(13, kind.depth));
      }
    }
  }
}

TEST(CheckPsdStructure, RefusesEveryTruncation) {
  for (PsdCompression compression : {PsdCompression::Raw, PsdCompression::Rle}) {
    PsdSpec spec = Gradient(PsdMode::Rgb, 8, 40, 30, 4, compression);
    spec.layer_count = 0;  // no layers to fall back on
    spec.resources.push_back(PsdResolutionResource(72));
    const std::string bytes = WritePsd(spec);
    ASSERT_TRUE(Check(bytes));
    // Every cut short of the end loses some section or some rows.
    for (size_t size = 0; size < bytes.size(); size += (size < 200 ? 1 : 97)) {
      EXPECT_FALSE(Check(bytes.substr(0, size))) << "cut at " << size << " of " << bytes.size();
    }
    EXPECT_FALSE(Check(bytes.substr(0, bytes.size() - 1)));
  }
}

TEST(CheckPsdStructure, ACutCompositeIsLeftToTheLayers) {
  PsdSpec spec = Gradient(PsdMode::Rgb, 8, 40, 30, 4, PsdCompression::Rle);
  PsdOffsets offsets;
  const std::string bytes = WritePsd(spec, &offsets);
  const std::optional<PsdLayout> whole = Check(bytes);
  ASSERT_TRUE(whole);
  EXPECT_FALSE(whole->composite_missing);
  EXPECT_FALSE(whole->RebuildsFromLayers());
  // Cut before the layer section ends, the file is refused; cut in the composite, it is a
  // document to build from its layers, with no offsets into the missing data.
  for (size_t size = 0; size < bytes.size(); size += (size < 200 ? 1 : 97)) {
    const std::optional<PsdLayout> layout = Check(bytes.substr(0, size));
    if (size < offsets.image_data) {
      EXPECT_FALSE(layout) << size;
      continue;
    }
    ASSERT_TRUE(layout) << size;
    EXPECT_TRUE(layout->composite_missing);
    EXPECT_TRUE(layout->RebuildsFromLayers());
    EXPECT_EQ(layout->pixels_offset, 0u);
  }
  // Only modes we rebuild are let through: Lab is, multichannel is not.
  spec.mode = PsdMode::Lab;
  const std::string lab = WritePsd(spec, &offsets);
  EXPECT_TRUE(Check(lab.substr(0, offsets.pixels + 5)));
  spec.mode = PsdMode::Multichannel;
  const std::string multichannel = WritePsd(spec, &offsets);
  EXPECT_FALSE(Check(multichannel.substr(0, offsets.pixels + 5)));
}

TEST(CheckPsdStructure, ReadsWhetherTheCompositeIsAPlaceholder) {
  PsdSpec spec = Gradient(PsdMode::Rgb, 8, 4, 4, 3, PsdCompression::Raw);
  spec.layer_count = 1;
  spec.resources.push_back(PsdVersionInfoResource(false));
  std::optional<PsdLayout> layout = Check(WritePsd(spec));
  ASSERT_TRUE(layout);
  EXPECT_TRUE(layout->placeholder_composite);
  EXPECT_TRUE(layout->RebuildsFromLayers());
  spec.resources.back() = PsdVersionInfoResource(true);
  layout = Check(WritePsd(spec));
  ASSERT_TRUE(layout);
  EXPECT_FALSE(layout->placeholder_composite);
  EXPECT_FALSE(layout->RebuildsFromLayers());
  // Without a layer section there is nothing to rebuild from.
  spec.layer_count = 0;
  spec.resources.back() = PsdVersionInfoResource(false);
  layout = Check(WritePsd(spec));
  ASSERT_TRUE(layout);
  EXPECT_FALSE(layout->RebuildsFromLayers());
}

TEST(CompositeIsUniform, TellsAPlaceholderFromAPicture) {
  for (const PsdCompression compression : {PsdCompression::Raw, PsdCompression::Rle}) {
    for (const uint16_t depth : {8, 16, 32}) {
      SCOPED_TRACE(testing::Message()
                   << "depth " << depth << ", compression " << static_cast<int>(compression));
      PsdSpec spec = MakePsdSpec(PsdMode::Rgb, depth, 7, 5, 4);
      spec.compression = compression;
      // White colour channels beside an alpha channel that varies: still a placeholder.
      FillPsdPlanes(spec, [depth](uint32_t x, uint32_t, uint32_t channel) {
        return channel == 3 ? PsdSampleOf(x / 7.0, depth) : PsdSampleOf(1.0, depth);
      });
      std::string bytes = WritePsd(spec);
      std::optional<PsdLayout> layout = Check(bytes);
      ASSERT_TRUE(layout);
      EXPECT_TRUE(CompositeIsUniform(Bytes(bytes), *layout));
      // One sample of the last colour channel's last row differs.
      SetPsdSample(spec, 2, 6, 4, PsdSampleOf(0.5, depth));
      bytes = WritePsd(spec);
      layout = Check(bytes);
      ASSERT_TRUE(layout);
      EXPECT_FALSE(CompositeIsUniform(Bytes(bytes), *layout));
      // Each channel may hold its own value.
      FillPsdPlanes(spec, [depth](uint32_t, uint32_t, uint32_t channel) {
        return PsdSampleOf(channel * 0.25, depth);
      });
      bytes = WritePsd(spec);
      layout = Check(bytes);
      ASSERT_TRUE(layout);
      EXPECT_TRUE(CompositeIsUniform(Bytes(bytes), *layout));
    }
  }
}

TEST(CompositeIsUniform, AMissingCompositeIsNoPlaceholderToLookAt) {
  PsdSpec spec = Gradient(PsdMode::Rgb, 8, 4, 4, 3, PsdCompression::Rle);
  spec.layer_count = 1;
  PsdOffsets offsets;
  const std::string bytes = WritePsd(spec, &offsets).substr(0, offsets.pixels + 3);
  const std::optional<PsdLayout> layout = Check(bytes);
  ASSERT_TRUE(layout);
  EXPECT_FALSE(CompositeIsUniform(Bytes(bytes), *layout));
}

TEST(CheckPsdStructure, RefusesWrongSignatureVersionAndHeaderValues) {
  const std::string good = WritePsd(Gradient(PsdMode::Rgb, 8, 8, 8, 3, PsdCompression::Raw));
  ASSERT_TRUE(Check(good));
  struct Damage {
    size_t offset;
    uint64_t value;
    size_t size;
  };
  const Damage damages[] = {
      {0, 0x38425053 + 1, 4},           // signature
      {PsdVersionOffset, 3, 2},         // version
      {PsdChannelsOffset, 0, 2},        // no channels
      {PsdChannelsOffset, 57, 2},       // too many channels
      {PsdChannelsOffset, 65535, 2},    // absurd channels
      {PsdWidthOffset, 0, 4},           // empty
      {PsdHeightOffset, 30001, 4},      // too tall for a PSD
      {PsdWidthOffset, 0xFFFFFFFF, 4},  // absurd width
      {PsdDepthOffset, 7, 2},           // no such depth
      {PsdDepthOffset, 1, 2},           // 1 bit is for bitmaps only
      {PsdModeOffset, 5, 2},            // no such mode
      {PsdModeOffset, PsdModeCmyk, 2},  // CMYK needs four channels
  };
  for (const Damage& damage : damages) {
    std::string bytes = good;
    PutBigEndian(bytes, damage.offset, damage.value, damage.size);
    EXPECT_FALSE(Check(bytes)) << "offset " << damage.offset << " value " << damage.value;
  }
}

TEST(CheckPsdStructure, RefusesMoreRowsThanTheFileHolds) {
  for (PsdCompression compression : {PsdCompression::Raw, PsdCompression::Rle}) {
    std::string bytes = WritePsd(Gradient(PsdMode::Rgb, 8, 20, 20, 3, compression));
    PutBigEndian(bytes, PsdHeightOffset, 21, 4);
    EXPECT_FALSE(Check(bytes));
    PutBigEndian(bytes, PsdHeightOffset, 20, 4);
    PutBigEndian(bytes, PsdChannelsOffset, 4, 2);
    EXPECT_FALSE(Check(bytes));
  }
}

TEST(CheckPsdStructure, RefusesRleCountsPastTheEnd) {
  PsdOffsets offsets;
  const PsdSpec spec = Gradient(PsdMode::Rgb, 8, 50, 10, 3, PsdCompression::Rle);
  const std::string good = WritePsd(spec, &offsets);
  ASSERT_TRUE(Check(good));
  std::string bytes = good;
  PutBigEndian(bytes, offsets.rle_counts + 2 * 29, 60000, 2);  // the last row claims too much
  EXPECT_FALSE(Check(bytes));
  bytes = good;
  PutBigEndian(bytes, offsets.rle_counts, 0, 2);  // a row of nothing
  EXPECT_FALSE(Check(bytes));
  bytes = good;
  PutBigEndian(bytes, offsets.image_data, 2, 2);  // ZIP
  EXPECT_FALSE(Check(bytes));
}

TEST(CheckPsdStructure, RefusesSectionLengthsPastTheEnd) {
  PsdSpec spec = Gradient(PsdMode::Rgb, 8, 4, 4, 3, PsdCompression::Raw);
  spec.resources.push_back(PsdResolutionResource(300));
  PsdOffsets offsets;
  const std::string good = WritePsd(spec, &offsets);
  for (size_t at : {offsets.colour_mode_data, offsets.resources, offsets.layers}) {
    std::string bytes = good;
    PutBigEndian(bytes, at, 0xFFFFFFF0u, 4);
    EXPECT_FALSE(Check(bytes)) << at;
  }
  // A resource block longer than its section.
  std::string bytes = good;
  PutBigEndian(bytes, offsets.resources + 4 + 8, 1000, 4);
  EXPECT_FALSE(Check(bytes));
}

TEST(CheckPsdStructure, RefusesAThumbnailThatClaimsMoreThanItHolds) {
  PsdSpec spec = Gradient(PsdMode::Rgb, 8, 4, 4, 3, PsdCompression::Raw);
  std::string thumbnail(28 + 10, '\0');
  PutBigEndian(thumbnail, 20, 10, 4);  // compressed size
  spec.resources.push_back({1036, thumbnail});
  EXPECT_TRUE(Check(WritePsd(spec)));
  PutBigEndian(spec.resources[0].data, 20, 11, 4);
  EXPECT_FALSE(Check(WritePsd(spec)));
}

TEST(CheckPsdStructure, RefusesAnIndexedDocumentWithoutPalette) {
  PsdSpec spec = Gradient(PsdMode::Indexed, 8, 4, 4, 1, PsdCompression::Raw);
  EXPECT_TRUE(Check(WritePsd(spec)));
  spec.colour_mode_data.resize(700);
  EXPECT_FALSE(Check(WritePsd(spec)));
}

TEST(CheckPsdStructure, ReadsPaletteResources) {
  PsdSpec spec = Gradient(PsdMode::Indexed, 8, 4, 4, 1, PsdCompression::Raw);
  spec.resources = {PsdColourCountResource(17), PsdTransparentIndexResource(5)};
  const std::optional<PsdLayout> layout = Check(WritePsd(spec));
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->colour_count, 17);
  EXPECT_EQ(layout->transparent_index, 5);
}

TEST(CheckPsdStructure, RefusesWhatThisMachineCannotDecode) {
  PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, 4, 4, 3);
  std::string bytes = WritePsd(spec);
  EXPECT_TRUE(Check(bytes, 1ull << 30));
  // Rows of 4 x 3 bytes, four of them: 48 bytes decoded, three times that needed.
  EXPECT_TRUE(Check(bytes, 3 * 48));
  EXPECT_FALSE(Check(bytes, 3 * 48 - 1));

  PsdSpec large = MakePsdSpec(PsdMode::Greyscale, 8, 3000, 2000, 1);
  large.compression = PsdCompression::Rle;
  const std::string large_bytes = WritePsd(large);
  const std::optional<PsdLayout> layout = Check(large_bytes);
  ASSERT_TRUE(layout);
  EXPECT_EQ(layout->decoded_bytes, 3000ull * 2000);
  EXPECT_FALSE(Check(large_bytes, 1ull << 20));
}

TEST(CheckPsdStructure, SurvivesHeaderExtremesWithoutOverflow) {
  PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, 1, 1, 3);
  spec.version = 2;
  std::string bytes = WritePsd(spec);
  PutBigEndian(bytes, PsdWidthOffset, MaxPsbSide, 4);
  PutBigEndian(bytes, PsdHeightOffset, MaxPsbSide, 4);
  PutBigEndian(bytes, PsdChannelsOffset, MaxPsdChannels, 2);
  PutBigEndian(bytes, PsdDepthOffset, 32, 2);
  EXPECT_FALSE(Check(bytes));
  EXPECT_FALSE(Check(bytes, UINT64_MAX));
}

TEST(AvailableMemoryBytes, ReportsSomeMemory) { EXPECT_GT(AvailableMemoryBytes(), 1ull << 20); }

TEST(UnpackBitsRow, ReadsBackWhatTheWriterPacks) {
  std::string row;
  for (int i = 0; i < 700; ++i) row.push_back(static_cast<char>(i < 300 ? 7 : (i * i) % 251));
  const std::string packed = PackBitsRow(row.data(), row.size());
  std::vector<uint8_t> out(row.size());
  ASSERT_TRUE(UnpackBitsRow(Bytes(packed), out));
  EXPECT_EQ(std::memcmp(out.data(), row.data(), row.size()), 0);
  // Short input, and a row that would run past its end.
  EXPECT_FALSE(UnpackBitsRow(Bytes(packed.substr(0, packed.size() - 1)), out));
  std::vector<uint8_t> short_row(row.size() - 1);
  EXPECT_FALSE(UnpackBitsRow(Bytes(packed), short_row));
}

TEST(UnpackBitsRow, TakesLiteralsRepeatsAndTheNoOpHeader) {
  // A literal of two, the no-op -128, a repeat of three 9s, a literal of one.
  const std::vector<uint8_t> packed = {0x01, 'a', 'b', 0x80, 0xFE, 9, 0x00, 'z'};
  std::vector<uint8_t> out(6);
  ASSERT_TRUE(UnpackBitsRow(packed, out));
  EXPECT_EQ(out, (std::vector<uint8_t>{'a', 'b', 9, 9, 9, 'z'}));
  EXPECT_TRUE(PackedRowFits(packed, 6));
  // A repeat header whose byte is missing, and a repeat longer than what is left of the row.
  const std::vector<uint8_t> missing = {0x01, 'a', 'b', 0xFE};
  const std::vector<uint8_t> overrun = {0x01, 'a', 'b', 0xFE, 9};
  EXPECT_FALSE(UnpackBitsRow(missing, out));
  EXPECT_FALSE(PackedRowFits(missing, 6));
  std::vector<uint8_t> four(4);
  EXPECT_FALSE(UnpackBitsRow(overrun, four));
  EXPECT_FALSE(PackedRowFits(overrun, 4));
  // Bytes after a complete row are left alone.
  EXPECT_TRUE(PackedRowFits(overrun, 2));
}

TEST(ReadPsdChannel, ReadsEachPlaneRawAndPacked) {
  for (PsdCompression compression : {PsdCompression::Raw, PsdCompression::Rle}) {
    for (uint16_t version : {1, 2}) {
      PsdSpec spec = Gradient(PsdMode::Greyscale, 16, 33, 9, 2, compression);
      spec.version = version;
      const std::string bytes = WritePsd(spec);
      const std::optional<PsdLayout> layout = Check(bytes);
      ASSERT_TRUE(layout);
      for (uint16_t channel = 0; channel < 2; ++channel) {
        const auto plane = ReadPsdChannel(Bytes(bytes), *layout, channel);
        ASSERT_TRUE(plane);
        EXPECT_EQ(std::string(plane->begin(), plane->end()), spec.planes[channel]);
      }
      EXPECT_FALSE(ReadPsdChannel(Bytes(bytes), *layout, 2));
    }
  }
}

TEST(ReadPsdChannel, RefusesDamagedPackedRows) {
  PsdOffsets offsets;
  const PsdSpec spec = Gradient(PsdMode::Greyscale, 8, 300, 4, 2, PsdCompression::Rle);
  std::string bytes = WritePsd(spec, &offsets);
  const std::optional<PsdLayout> layout = Check(bytes);
  ASSERT_TRUE(layout);
  // The first alpha row claims two bytes: the check allows it, the row cannot be unpacked.
  std::string damaged = bytes;
  PutBigEndian(damaged, offsets.rle_counts + 2 * 4, 2, 2);
  ASSERT_TRUE(Check(damaged));
  EXPECT_TRUE(ReadPsdChannel(Bytes(damaged), *layout, 0));
  EXPECT_FALSE(ReadPsdChannel(Bytes(damaged), *layout, 1));
}

TEST(PackedRowsFit, WalksEveryRowOfTheMergedImage) {
  for (const uint16_t version : {1, 2}) {
    PsdOffsets offsets;
    PsdSpec spec = Gradient(PsdMode::Rgb, 8, 300, 4, 3, PsdCompression::Rle);
    spec.version = version;
    const std::string bytes = WritePsd(spec, &offsets);
    const std::optional<PsdLayout> layout = Check(bytes);
    ASSERT_TRUE(layout);
    EXPECT_TRUE(PackedRowsFit(Bytes(bytes), *layout));
    // The last row of the last channel ends one byte short: its final run asks for more.
    std::string short_row = bytes.substr(0, bytes.size() - 1);
    const size_t count_bytes = version == 2 ? 4 : 2;
    const size_t last_count = offsets.rle_counts + (3 * 4 - 1) * count_bytes;
    const std::string count = bytes.substr(last_count, count_bytes);
    uint64_t value = 0;
    for (const char byte : count) value = value << 8 | static_cast<uint8_t>(byte);
    PutBigEndian(short_row, last_count, value - 1, count_bytes);
    const std::optional<PsdLayout> cut = Check(short_row);
    ASSERT_TRUE(cut);
    EXPECT_FALSE(PackedRowsFit(Bytes(short_row), *cut));
  }
  // A raw merged image has no packed rows to walk.
  const std::string raw = WritePsd(Gradient(PsdMode::Rgb, 8, 30, 4, 3, PsdCompression::Raw));
  EXPECT_TRUE(PackedRowsFit(Bytes(raw), *Check(raw)));
}

}  // namespace
