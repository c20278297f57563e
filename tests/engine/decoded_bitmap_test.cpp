#include "engine/isolation/decoded_bitmap.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

// A profile whose header checks out: its size, "acsp" and `tags` tags pointing into it.
std::vector<BYTE> MakeIccProfile(uint32_t size, uint32_t tags) {
  std::vector<BYTE> profile(size, 0x5A);
  const auto put = [&](size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) profile[at + i] = static_cast<BYTE>(value >> (24 - 8 * i));
  };
  put(0, size);
  std::memcpy(profile.data() + 36, "acsp", 4);
  put(128, tags);
  for (uint32_t i = 0; i < tags; ++i) {
    put(132 + 12 * i + 4, 132 + 12 * tags);
    put(132 + 12 * i + 8, size - (132 + 12 * tags));
  }
  return profile;
}

using Clock = std::chrono::steady_clock;

// Where the record's header keeps the fields the tampering below changes.
constexpr off_t WidthField = 12;
constexpr off_t PitchField = 24;
constexpr off_t PaletteEntriesField = 40;
constexpr off_t IccSizeField = 72;
constexpr off_t BitsSizeField = 80;
constexpr off_t MetadataTagsField = 104;

// An 8-bit palettised image with a transparency table, a profile and a resolution.
Bitmap PalettedImage(unsigned width, unsigned height) {
  Bitmap image(FreeImage_Allocate(static_cast<int>(width), static_cast<int>(height), 8));
  RGBQUAD* palette = FreeImage_GetPalette(image.get());
  for (unsigned i = 0; i < 256; ++i) {
    palette[i] = {static_cast<BYTE>(i), static_cast<BYTE>(255 - i), static_cast<BYTE>(i / 2), 0};
  }
  for (unsigned y = 0; y < height; ++y) {
    BYTE* row = FreeImage_GetScanLine(image.get(), static_cast<int>(y));
    for (unsigned x = 0; x < width; ++x) row[x] = static_cast<BYTE>(x * 7 + y * 3);
  }
  BYTE table[4] = {0, 64, 128, 255};
  FreeImage_SetTransparencyTable(image.get(), table, 4);
  std::vector<BYTE> profile = MakeIccProfile(300, 1);
  FreeImage_CreateICCProfile(image.get(), profile.data(), static_cast<long>(profile.size()));
  FreeImage_SetDotsPerMeterY(image.get(), 5670);
  FreeImage_SetMetadataKeyValue(FIMD_XMP, image.get(), "XMLPacket", "<x:xmpmeta>kept</x:xmpmeta>");
  FITAG* rating = FreeImage_CreateTag();
  const WORD stars = 4;
  FreeImage_SetTagKey(rating, "Rating");
  FreeImage_SetTagID(rating, 0x4746);
  FreeImage_SetTagType(rating, FIDT_SHORT);
  FreeImage_SetTagCount(rating, 1);
  FreeImage_SetTagLength(rating, 2);
  FreeImage_SetTagValue(rating, &stars);
  FreeImage_SetMetadata(FIMD_EXIF_MAIN, image.get(), "Rating", rating);
  FreeImage_DeleteTag(rating);
  return image;
}

DecodedBitmapLimits LimitsOf(const Bitmap& image) {
  return {FreeImage_GetWidth(image.get()), FreeImage_GetHeight(image.get()), 4096, 4096};
}

Clock::time_point Soon() { return Clock::now() + std::chrono::seconds(10); }

void ExpectSameImage(const Bitmap& read, const Bitmap& written) {
  ASSERT_TRUE(read);
  const unsigned height = FreeImage_GetHeight(written.get());
  ASSERT_EQ(FreeImage_GetBPP(read.get()), FreeImage_GetBPP(written.get()));
  ASSERT_EQ(FreeImage_GetPitch(read.get()), FreeImage_GetPitch(written.get()));
  EXPECT_EQ(std::memcmp(FreeImage_GetBits(read.get()), FreeImage_GetBits(written.get()),
                        FreeImage_GetPitch(written.get()) * height),
            0);
  EXPECT_EQ(std::memcmp(FreeImage_GetPalette(read.get()), FreeImage_GetPalette(written.get()),
                        256 * sizeof(RGBQUAD)),
            0);
  ASSERT_EQ(FreeImage_GetTransparencyCount(read.get()), 4u);
  EXPECT_EQ(FreeImage_GetTransparencyTable(read.get())[1], 64);
  EXPECT_EQ(FreeImage_GetICCProfile(read.get())->size, 300);
  EXPECT_EQ(FreeImage_GetDotsPerMeterY(read.get()), 5670u);
  FITAG* tag = nullptr;
  ASSERT_TRUE(FreeImage_GetMetadata(FIMD_XMP, read.get(), "XMLPacket", &tag));
  EXPECT_STREQ(static_cast<const char*>(FreeImage_GetTagValue(tag)), "<x:xmpmeta>kept</x:xmpmeta>");
  ASSERT_TRUE(FreeImage_GetMetadata(FIMD_EXIF_MAIN, read.get(), "Rating", &tag));
  EXPECT_EQ(FreeImage_GetTagType(tag), FIDT_SHORT);
  EXPECT_EQ(*static_cast<const WORD*>(FreeImage_GetTagValue(tag)), 4);
}

// Sends the record of `image` down a pipe from another thread, as the decoder process does,
// and reads it back with `memory` prepared.
Bitmap ThroughPipe(const Bitmap& image, PixelMemory memory) {
  int ends[2];
  EXPECT_EQ(pipe(ends), 0);
  fcntl(ends[0], F_SETFL, O_NONBLOCK);
  std::thread writer([&] {
    WriteDecodedBitmap(ends[1], image.get());
    close(ends[1]);
  });
  Bitmap read = ReadDecodedBitmap(ends[0], LimitsOf(image), Soon(), std::move(memory));
  close(ends[0]);
  writer.join();
  return read;
}

TEST(DecodedBitmap, ComesThroughAPipeIntoWhateverMemoryIsPrepared) {
  // Rows far beyond what a pipe holds at once.
  const Bitmap image = PalettedImage(1500, 1100);
  const uint64_t rows = uint64_t{FreeImage_GetPitch(image.get())} * 1100;
  ExpectSameImage(ThroughPipe(image, PixelMemory()), image);
  ExpectSameImage(ThroughPipe(image, PixelMemory(rows)), image);
  ExpectSameImage(ThroughPipe(image, PixelMemory(rows * 4)), image);  // more than needed
  ExpectSameImage(ThroughPipe(image, PixelMemory(rows / 2)), image);  // less than needed
}

class TamperedRecord : public ::testing::Test {
 protected:
  void SetUp() override {
    fd_ = open(dir_.file("record").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd_, 0);
    ASSERT_TRUE(WriteDecodedBitmap(fd_, image_.get()));
  }
  void TearDown() override { close(fd_); }

  void Set(off_t at, uint32_t value) {
    ASSERT_EQ(pwrite(fd_, &value, sizeof value, at), static_cast<ssize_t>(sizeof value));
  }
  void Set64(off_t at, uint64_t value) {
    ASSERT_EQ(pwrite(fd_, &value, sizeof value, at), static_cast<ssize_t>(sizeof value));
  }
  Bitmap Read(const DecodedBitmapLimits& limits) {
    lseek(fd_, 0, SEEK_SET);
    return ReadDecodedBitmap(fd_, limits, Soon());
  }

  TempDir dir_;
  Bitmap image_ = PalettedImage(37, 11);
  int fd_ = -1;
};

TEST_F(TamperedRecord, AnUntouchedRecordReadsBack) {
  ExpectSameImage(Read(LimitsOf(image_)), image_);
}

TEST_F(TamperedRecord, ASizeOtherThanTheDocumentsIsRefused) {
  EXPECT_FALSE(Read({38, 11, 4096, 4096}));
  Set(WidthField, 38);
  EXPECT_FALSE(Read(LimitsOf(image_)));
}

TEST_F(TamperedRecord, RowsThatDoNotAddUpAreRefused) {
  Set(PitchField, 36);
  EXPECT_FALSE(Read(LimitsOf(image_)));
  Set(PitchField, 40);
  Set64(BitsSizeField, uint64_t{1} << 40);
  EXPECT_FALSE(Read(LimitsOf(image_))) << "a claim of a terabyte allocates nothing";
  Set64(BitsSizeField, 40 * 11);
  DecodedBitmapLimits tight = LimitsOf(image_);
  tight.max_rows_bytes = 40 * 11 - 1;
  EXPECT_FALSE(Read(tight)) << "rows beyond what the document can need";
}

TEST_F(TamperedRecord, OversizedPartsAreRefused) {
  Set(PaletteEntriesField, 257);
  EXPECT_FALSE(Read(LimitsOf(image_)));
  Set(PaletteEntriesField, 256);
  EXPECT_FALSE(Read({37, 11, 299, 4096})) << "a profile beyond the document's resources";
  EXPECT_FALSE(Read({37, 11, 4096, 40})) << "metadata beyond their bound";
  Set64(IccSizeField, ~uint64_t{0});
  EXPECT_FALSE(Read(LimitsOf(image_)));
}

TEST_F(TamperedRecord, MetadataThatDoNotAddUpAreRefused) {
  Set(MetadataTagsField, 3);
  EXPECT_FALSE(Read(LimitsOf(image_))) << "more tags claimed than written";
  Set(MetadataTagsField, 1);
  EXPECT_FALSE(Read(LimitsOf(image_))) << "bytes left over after the tags";
}

TEST_F(TamperedRecord, ACutShortRecordIsRefused) {
  const off_t size = lseek(fd_, 0, SEEK_END);
  for (off_t cut : {off_t{0}, off_t{20}, off_t{200}, size - 1}) {
    ASSERT_EQ(ftruncate(fd_, cut), 0);
    EXPECT_FALSE(Read(LimitsOf(image_))) << "cut at " << cut;
  }
}

TEST(DecodedBitmap, ASilentWriterIsGivenUpAtTheDeadline) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  fcntl(ends[0], F_SETFL, O_NONBLOCK);
  const char half_header[] = "QVXBMP5";
  ASSERT_EQ(write(ends[1], half_header, sizeof half_header),
            static_cast<ssize_t>(sizeof half_header));
  // The writing end stays open: only the deadline can end the wait.
  EXPECT_FALSE(
      ReadDecodedBitmap(ends[0], {37, 11, 0}, Clock::now() + std::chrono::milliseconds(50)));
  close(ends[0]);
  close(ends[1]);
}

}  // namespace

TEST(IsSaneIccProfile, DropsProfilesWhoseHeaderDoesNotCheckOut) {
  EXPECT_TRUE(IsSaneIccProfile(MakeIccProfile(300, 1)));
  EXPECT_TRUE(IsSaneIccProfile(MakeIccProfile(132, 0)));
  EXPECT_FALSE(IsSaneIccProfile(std::vector<BYTE>(100, 0xFF)));
  std::vector<BYTE> profile = MakeIccProfile(300, 1);
  EXPECT_FALSE(IsSaneIccProfile(std::span(profile).first(299)));  // size field is not the length
  profile[36] = 'x';
  EXPECT_FALSE(IsSaneIccProfile(profile));
  profile = MakeIccProfile(300, 1);
  profile[131] = 40;  // 40 tags cannot fit in 300 bytes
  EXPECT_FALSE(IsSaneIccProfile(profile));
  profile = MakeIccProfile(300, 1);
  profile[132 + 8 + 2] = 0xFF;  // the tag reaches past the end
  EXPECT_FALSE(IsSaneIccProfile(profile));
}

TEST(IsSaneIccProfile, ADamagedProfileIsLeftOutOfTheBitmap) {
  Bitmap image(FreeImage_Allocate(4, 4, 24));
  std::vector<BYTE> damaged(100, 0xFF);
  FreeImage_CreateICCProfile(image.get(), damaged.data(), static_cast<long>(damaged.size()));
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  ASSERT_TRUE(WriteDecodedBitmap(ends[1], image.get()));
  close(ends[1]);
  DecodedBitmapLimits limits{4, 4, 1 << 10, 1 << 10};
  const Bitmap read = ReadDecodedBitmap(ends[0], limits,
                                        std::chrono::steady_clock::now() + std::chrono::seconds(5));
  close(ends[0]);
  ASSERT_TRUE(read);
  EXPECT_EQ(FreeImage_GetICCProfile(read.get())->size, 0);
}
