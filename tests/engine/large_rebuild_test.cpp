// Large generated documents through the real decoder under its real limits: ten nested groups of
// each kind on a 24-megapixel canvas, and 19999 layers without pixel data over 2000 x 2000 and
// 10000 x 10000 canvases. What is checked is that each converts within the decoder's own address
// space and time limits; the time and memory each took are printed, not checked (speed belongs to
// bench/).

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <thread>

#include "engine/image/memory_budget.h"
#include "engine/isolation/isolated_decode.h"
#include "engine/loading/loading.h"
#include "engine/psd/psd_check.h"
#include "tests/engine/layer_documents.h"
#include "tests/support/image_bitmaps.h"
#include "tests/support/large_documents.h"
#include "tests/support/psd_writer.h"
#include "tests/support/temp_dir.h"

namespace {

// The peaks of address space and resident memory of the decoders this process starts, sampled
// from /proc while they run.
class DecoderMemory {
 public:
  DecoderMemory() : sampler_([this] { Sample(); }) {}
  ~DecoderMemory() { Stop(); }
  DecoderMemory(const DecoderMemory&) = delete;
  DecoderMemory& operator=(const DecoderMemory&) = delete;

  void Stop() {
    done_ = true;
    if (sampler_.joinable()) sampler_.join();
  }
  uint64_t peak_kib() const { return peak_kib_; }
  uint64_t resident_kib() const { return resident_kib_; }

 private:
  void Sample() {
    while (!done_) {
      std::error_code error;
      for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        std::ifstream children(task.path() / "children");
        for (long pid = 0; children >> pid;) Read(pid);
      }
      usleep(2000);
    }
  }
  void Read(long pid) {
    const std::string folder = "/proc/" + std::to_string(pid);
    std::string name;
    std::getline(std::ifstream(folder + "/comm"), name);
    if (name.rfind("quorvix-psd", 0) != 0) return;
    std::ifstream status(folder + "/status");
    for (std::string line; std::getline(status, line);) {
      std::istringstream fields(line);
      std::string key;
      uint64_t kib = 0;
      if (!(fields >> key >> kib)) continue;
      if (key == "VmPeak:") peak_kib_ = std::max<uint64_t>(peak_kib_, kib);
      if (key == "VmHWM:") resident_kib_ = std::max<uint64_t>(resident_kib_, kib);
    }
  }

  std::atomic<bool> done_{false};
  std::atomic<uint64_t> peak_kib_{0};
  std::atomic<uint64_t> resident_kib_{0};
  std::thread sampler_;
};

class LargeRebuild : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer's shadow memory takes the decoder's address-space "
                    "limit away, and these documents are about that limit";
#endif
  }

  // Converts `bytes` as the program loads a document and prints what that took.
  Bitmap Convert(const std::string& bytes, const std::string& label) {
    const std::string path = dir_.file("large.psd");
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    const std::optional<PsdLayout> layout =
        CheckPsdStructure(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                          AvailableMemoryBytes());
    EXPECT_TRUE(layout && layout->RebuildsFromLayers()) << label;
    if (!layout) return {};
    DecoderMemory memory;
    const auto start = std::chrono::steady_clock::now();
    Bitmap image = LoadInputImage(path);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    memory.Stop();
    const uint64_t limit_kib = RebuildAddressSpace(*layout) >> 10;
    std::printf(
        "[ figures  ] %s (%.2f MB file): %s in %.2f s; decoder peak address space %llu "
        "MiB of %llu MiB, resident %llu MiB\n",
        label.c_str(), bytes.size() / 1e6, image ? "converted" : "failed", took.count(),
        static_cast<unsigned long long>(memory.peak_kib() >> 10),
        static_cast<unsigned long long>(limit_kib >> 10),
        static_cast<unsigned long long>(memory.resident_kib() >> 10));
    std::fflush(stdout);
    EXPECT_GT(memory.peak_kib(), 0u) << "the decoder was never seen";
    EXPECT_LE(memory.peak_kib(), limit_kib);
    return image;
  }

  TempDir dir_;
};

class LargeNesting : public LargeRebuild, public ::testing::WithParamInterface<NestedGroupKind> {};

TEST_P(LargeNesting, TenLevelsOnA24MegapixelCanvasConvert) {
  constexpr uint32_t Width = 6000, Height = 4000;
  const NestedGroupKind kind = GetParam();
  const std::string label =
      std::string("ten nested groups, ") + NestedGroupKindName(kind) + ", 6000 x 4000";
  const Bitmap image = Convert(NestedGroupsDocument(kind, 10, Width, Height), label);
  ASSERT_TRUE(image);
  const Rgba16 corner = ReadPixel(image, Width - 1, Height - 1);
  EXPECT_NEAR(corner.red / 257.0, NestedGroupValues::Red, 1.0);
  EXPECT_NEAR(corner.blue / 257.0, NestedGroupValues::Blue, 1.0);
  EXPECT_NEAR(corner.alpha / 257.0, NestedGroupsAlpha(kind, 10) * 255, 1.0);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, LargeNesting,
                         ::testing::Values(NestedGroupKind::PassThroughFaded,
                                           NestedGroupKind::PassThroughMasked,
                                           NestedGroupKind::Normal, NestedGroupKind::NormalMasked),
                         [](const ::testing::TestParamInfo<NestedGroupKind>& info) {
                           std::string name = NestedGroupKindName(info.param);
                           std::erase_if(name, [](char c) { return !std::isalnum(c); });
                           return name;
                         });

class ManyEmptyLayers : public LargeRebuild, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(ManyEmptyLayers, ConvertOverALargeCanvas) {
  const uint32_t side = GetParam();
  const std::string label =
      "19999 layers without pixel data, " + std::to_string(side) + " x " + std::to_string(side);
  const Bitmap image = Convert(EmptyLayersDocument(19999, side, side), label);
  ASSERT_TRUE(image);
  using V = EmptyLayersValues;
  const Rgba16 square = ReadPixel(image, V::SquareSide - 1, V::SquareSide - 1);
  EXPECT_EQ(square.red, V::Red * 257);
  EXPECT_EQ(square.green, V::Green * 257);
  EXPECT_EQ(square.alpha, 0xFFFF);
  EXPECT_EQ(ReadPixel(image, static_cast<int>(side) - 1, static_cast<int>(side) - 1).alpha, 0);
}

INSTANTIATE_TEST_SUITE_P(Sides, ManyEmptyLayers, ::testing::Values(2000u, 10000u));

TEST(RebuildTimeLimit, FollowsThePlannedWorkWithinWhatTheCanvasAllows) {
  const std::string bytes = EmptyLayersDocument(19999, 10000, 10000);
  const std::optional<PsdLayout> layout =
      CheckPsdStructure(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0);
  ASSERT_TRUE(layout);
  ASSERT_TRUE(layout->RebuildsFromLayers());
  // Two passes over the canvas's samples (RGBA) are all this document asks for: it gets a
  // minute, where its canvas alone gave it minutes.
  const uint64_t passes = 2ull * 4 * 10000 * 10000;
  EXPECT_LE(RebuildTimeLimit(*layout, passes), std::chrono::seconds(60));
  EXPECT_GT(RebuildTimeLimit(*layout), std::chrono::seconds(300));
  EXPECT_LT(RebuildTimeLimit(*layout, passes), RebuildTimeLimit(*layout, 4 * passes));
  // However much work a decoder claims, the canvas's bound holds.
  EXPECT_EQ(RebuildTimeLimit(*layout, UINT64_MAX / 2), RebuildTimeLimit(*layout));
}

TEST(RebuildBands, TheBandHeightTravelsToTheDecoderProcess) {
  // Bands are the compositor's own business (tests/decoder/); here, that the height given reaches
  // the decoder: one it refuses fails the load, one it takes gives the same picture.
  TempDir dir;
  PsdSpec spec = PlaceholderDocument(PsdMode::Rgb, 8, 13, 11);
  PsdLayer layer = SolidLayer(spec, {-1, 2, 12, 13}, {0, 0, 0}, 0.75);
  for (PsdLayer::Channel& channel : layer.channels) {
    channel.plane = PsdLayerPlane(11, 13, 8, [&](uint32_t x, uint32_t y) {
      return static_cast<uint32_t>(x * 17 + y * 29 + (channel.id + 1) * 40) & 0xFF;
    });
  }
  spec.layers.push_back(layer);
  const std::string path = dir.file("doc.psd");
  ASSERT_TRUE(WritePsdFile(path, spec));
  const Bitmap whole = LoadInputImage(path);
  SetRebuildBandRowsForTesting(int64_t{1} << 40);
  const Bitmap refused = LoadInputImage(path);
  SetRebuildBandRowsForTesting(3);
  const Bitmap banded = LoadInputImage(path);
  SetRebuildBandRowsForTesting(0);
  ASSERT_TRUE(whole);
  EXPECT_FALSE(refused);
  ASSERT_TRUE(banded);
  const PictureDifference difference = ComparePictures(whole, banded);
  EXPECT_TRUE(difference.same_size);
  EXPECT_EQ(difference.psnr, IdenticalPsnr);
}

}  // namespace
