#include "engine/image/file_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_dir.h"

namespace {

TEST(FileStream, ReadsSeeksAndTellsLikeAFile) {
  TempDir dir;
  std::string bytes(3 * FileStream::BufferBytes + 17, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31 % 251);
  ASSERT_TRUE(WriteFileBytes(dir.file("in"), bytes));
  FileStream stream(open(dir.file("in").c_str(), O_RDONLY), "rb");
  ASSERT_TRUE(stream.IsOpen());
  FreeImageIO* io = stream.io();
  std::string got(100, '\0');
  ASSERT_EQ(io->seek_proc(stream.handle(), 2 * FileStream::BufferBytes - 50, SEEK_SET), 0);
  // Twenty items of five bytes across the buffer's edge.
  EXPECT_EQ(io->read_proc(got.data(), 5, 20, stream.handle()), 20u);
  EXPECT_EQ(got, bytes.substr(2 * FileStream::BufferBytes - 50, 100));
  EXPECT_EQ(io->tell_proc(stream.handle()), static_cast<long>(2 * FileStream::BufferBytes + 50));
  ASSERT_EQ(io->seek_proc(stream.handle(), -10, SEEK_END), 0);
  EXPECT_EQ(io->read_proc(got.data(), 4, 5, stream.handle()), 2u) << "only whole items count";
  EXPECT_TRUE(stream.Close());
}

TEST(FileStream, AWriteTheDiskRefusesFailsTheClose) {
  FileStream full(open("/dev/full", O_WRONLY), "wb");
  ASSERT_TRUE(full.IsOpen());
  std::string bytes(1000, 'x');
  // Buffered, so the write itself still looks fine; the flush cannot be.
  full.io()->write_proc(bytes.data(), 1, static_cast<unsigned>(bytes.size()), full.handle());
  EXPECT_FALSE(full.Close());

  TempDir dir;
  FileStream good(open(dir.file("out").c_str(), O_RDWR | O_CREAT, 0644), "w+b");
  ASSERT_TRUE(good.IsOpen());
  good.io()->write_proc(bytes.data(), 1, static_cast<unsigned>(bytes.size()), good.handle());
  EXPECT_TRUE(good.Close());
  EXPECT_EQ(ReadFileBytes(dir.file("out")), bytes);
  EXPECT_FALSE(FileStream(-1, "rb").IsOpen());
}

}  // namespace
