// What the decoder process hands to FreeImage and what it makes of FreeImage's answer, in this
// process: watermark images of any format within their bound, and stored composites whose packed
// rows FreeImage would read past.

#include "decoder/stored_decode.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/support/image_bitmaps.h"
#include "tests/support/psd_writer.h"
#include "tests/support/temp_dir.h"

namespace {

class StoredDecode : public ::testing::Test {
 protected:
  // `bytes` written to a file and decoded as any format, within the watermark bound.
  AnyFormatDecode DecodeFile(const std::string& bytes, Bitmap& image) {
    const std::string path = dir_.file("image");
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    FileStream input(open(path.c_str(), O_RDONLY | O_CLOEXEC), "rb");
    EXPECT_TRUE(input.IsOpen());
    return DecodeAnyFormat(input, FIF_UNKNOWN, WatermarkBound, image);
  }
  Bitmap DecodeDocument(const std::string& bytes, bool through_profile = false) {
    const std::string path = dir_.file("doc.psd");
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    FileStream input(open(path.c_str(), O_RDONLY | O_CLOEXEC), "rb");
    return DecodeStoredComposite(path.c_str(), input, through_profile, false);
  }
  std::string Saved(const Bitmap& image, FREE_IMAGE_FORMAT format) {
    const std::string path = dir_.file("saved");
    EXPECT_TRUE(FreeImage_Save(format, image.get(), path.c_str(), 0));
    return ReadFileBytes(path);
  }
  TempDir dir_;
};

void PutLittle(std::string& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

}  // namespace

TEST_F(StoredDecode, AnyFormatKeepsTheBoundBeforeAndAfterDecoding) {
  Bitmap image;
  ASSERT_EQ(DecodeFile(Saved(MakeTestBitmap(5, 3, 24), FIF_PNG), image), AnyFormatDecode::Decoded);
  EXPECT_EQ(FreeImage_GetWidth(image.get()), 5u);
  EXPECT_EQ(FreeImage_GetHeight(image.get()), 3u);

  // A BMP whose header claims a side beyond the bound is refused before a pixel is decoded.
  std::string claiming = Saved(MakeTestBitmap(4, 4, 24), FIF_BMP);
  PutLittle(claiming, 18, WatermarkBound.max_side + 1);
  Bitmap none;
  EXPECT_EQ(DecodeFile(claiming, none), AnyFormatDecode::BeyondBound);
  EXPECT_FALSE(none);

  // A Photoshop document comes only through the structure check, and noise is no image.
  EXPECT_EQ(DecodeFile(WritePsd(MakePsdSpec(PsdMode::Rgb, 8, 2, 2, 3)), none),
            AnyFormatDecode::Unreadable);
  EXPECT_EQ(DecodeFile(std::string(300, '\x5A'), none), AnyFormatDecode::Unreadable);
}

TEST_F(StoredDecode, AnUnusedFourthByteOfABmpIsMadeOpaque) {
  Bitmap transparent = MakeUniformBitmap(FIT_BITMAP, 32, 3, 2, Rgba16{0x1010, 0x2020, 0x3030, 0});
  Bitmap image;
  ASSERT_EQ(DecodeFile(Saved(transparent, FIF_BMP), image), AnyFormatDecode::Decoded);
  EXPECT_EQ(ReadPixel(image, 1, 1).alpha, 0xFFFF);
  // A PNG's transparency is its own.
  ASSERT_EQ(DecodeFile(Saved(transparent, FIF_PNG), image), AnyFormatDecode::Decoded);
  EXPECT_EQ(ReadPixel(image, 1, 1).alpha, 0);
  // Alpha that is not all zero is kept.
  Bitmap soft = MakeUniformBitmap(FIT_BITMAP, 32, 3, 2, Rgba16{0x1010, 0x2020, 0x3030, 0x8080});
  ASSERT_EQ(DecodeFile(Saved(soft, FIF_BMP), image), AnyFormatDecode::Decoded);
  EXPECT_EQ(ReadPixel(image, 1, 1).alpha, 0x8080);
}

TEST_F(StoredDecode, PackedRowsThatRunShortNeverReachFreeImage) {
  PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, 64, 8, 3);
  FillPsdPlanes(spec,
                [](uint32_t x, uint32_t y, uint32_t c) { return (x * 3 + y + c * 40) & 0xFF; });
  spec.compression = PsdCompression::Rle;
  PsdOffsets offsets;
  const std::string good = WritePsd(spec, &offsets);
  const Bitmap image = DecodeDocument(good);
  ASSERT_TRUE(image);
  EXPECT_EQ(FreeImage_GetWidth(image.get()), 64u);
  EXPECT_EQ(ReadPixel(image, 5, 0).red, 15 * 257);

  // The first row claims two bytes, and its run asks for the whole row: FreeImage would read on
  // past them (the sanitizers saw it), so the document is refused first.
  std::string short_row = good;
  PutBigEndian(short_row, offsets.rle_counts, 2, 2);
  EXPECT_FALSE(DecodeDocument(short_row));
  EXPECT_FALSE(DecodeDocument(short_row, true));
}
