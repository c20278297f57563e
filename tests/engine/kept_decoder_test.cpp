// A decoder process kept for several files: the pictures are those of a decoder of their own, and
// whatever one file does to its decoder fails that file alone.

#include "engine/isolation/kept_decoder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/isolation/decoder_faults.h"
#include "engine/isolation/decoder_protocol.h"
#include "engine/isolation/decoder_spawn.h"
#include "engine/isolation/decoder_stop.h"
#include "engine/isolation/isolated_decode.h"
#include "engine/loading/loading.h"
#include "tests/support/psd_writer.h"
#include "tests/support/temp_dir.h"

namespace {

// Same type, size, rows and profile, byte for byte.
void ExpectSamePicture(const Bitmap& got, const Bitmap& expected, const std::string& what) {
  ASSERT_TRUE(got) << what;
  ASSERT_TRUE(expected) << what;
  FIBITMAP* a = got.get();
  FIBITMAP* b = expected.get();
  ASSERT_EQ(FreeImage_GetImageType(a), FreeImage_GetImageType(b)) << what;
  ASSERT_EQ(FreeImage_GetBPP(a), FreeImage_GetBPP(b)) << what;
  ASSERT_EQ(FreeImage_GetWidth(a), FreeImage_GetWidth(b)) << what;
  ASSERT_EQ(FreeImage_GetHeight(a), FreeImage_GetHeight(b)) << what;
  for (unsigned y = 0; y < FreeImage_GetHeight(a); ++y) {
    ASSERT_EQ(
        std::memcmp(FreeImage_GetScanLine(a, y), FreeImage_GetScanLine(b, y), FreeImage_GetLine(a)),
        0)
        << what << ", row " << y;
  }
  const FIICCPROFILE* pa = FreeImage_GetICCProfile(a);
  const FIICCPROFILE* pb = FreeImage_GetICCProfile(b);
  ASSERT_EQ(pa->size, pb->size) << what;
  if (pa->size > 0) {
    EXPECT_EQ(std::memcmp(pa->data, pb->data, pa->size), 0) << what;
  }
}

// True once `pid` has ended (a zombie counts), within a few seconds.
bool Ends(pid_t pid) {
  for (int i = 0; i < 500; ++i) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) return true;
    const size_t close = text.rfind(')');
    if (close != std::string::npos && close + 2 < text.size() &&
        (text[close + 2] == 'Z' || text[close + 2] == 'X')) {
      return true;
    }
    usleep(10000);
  }
  return false;
}

class KeptDecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, 23, 17, 4);
    spec.compression = PsdCompression::Rle;
    FillPsdPlanes(spec, [](uint32_t x, uint32_t y, uint32_t c) { return (x * 7 + y + c) & 0xFF; });
    good_ = WritePsd(spec);
    ASSERT_TRUE(WriteFileBytes(dir_.file("good1.psd"), good_));
    ASSERT_TRUE(WriteFileBytes(dir_.file("good2.psd"), good_));
    expected_ = LoadInputImage(dir_.file("good1.psd"));
    ASSERT_TRUE(expected_);
  }
  void TearDown() override {
    AllowDecoders();
    SetDecodeTimeLimitForTesting(std::chrono::milliseconds(0));
    SetPsdDecoderFolder("");
    SetCopyFromDecoderForTesting(true);
  }

  // The kept decoder that misbehaves on a file whose name says how (tests/fake_decoder).
  static void UseMisbehavingDecoder() {
    const std::string folder = std::string(QUORVIX_FAKE_DECODERS_DIR) + "/serving";
    ASSERT_TRUE(std::filesystem::is_regular_file(folder + "/" + PsdDecoderName)) << folder;
    SetPsdDecoderFolder(folder);
  }

  // The good document under a name that tells the fake decoder what to do.
  std::string Named(const std::string& name) {
    const std::string path = dir_.file(name);
    EXPECT_TRUE(WriteFileBytes(path, good_));
    return path;
  }

  TempDir dir_;
  std::string good_;
  Bitmap expected_;
};

}  // namespace

TEST_F(KeptDecoderTest, OneDecoderServesFilesInTurnWithThePicturesOfFreshOnes) {
  std::vector<std::string> paths;
  const auto add = [&](const char* name, PsdSpec spec) {
    FillPsdPlanes(spec,
                  [](uint32_t x, uint32_t y, uint32_t c) { return (x * 3 + y * 5 + c) & 0xFF; });
    paths.push_back(dir_.file(name));
    ASSERT_TRUE(WritePsdFile(paths.back(), spec));
  };
  add("rgba8.psd", MakePsdSpec(PsdMode::Rgb, 8, 31, 9, 4));
  add("grey16.psd", MakePsdSpec(PsdMode::Greyscale, 16, 12, 40, 1));
  add("cmyk8.psd", MakePsdSpec(PsdMode::Cmyk, 8, 17, 13, 4));
  add("rgb16.psd", MakePsdSpec(PsdMode::Rgb, 16, 9, 9, 3));
  // A placeholder whose layers have nothing to draw: the rebuild's decoder ends with its own
  // status, and the stored picture comes from the next one.
  PsdSpec placeholder = MakePsdSpec(PsdMode::Rgb, 8, 6, 4, 3);
  placeholder.resources.push_back(PsdVersionInfoResource(false));
  placeholder.layer_count = 2;
  add("placeholder.psd", placeholder);
  std::vector<Bitmap> fresh;
  for (const std::string& path : paths) {
    fresh.push_back(LoadInputImage(path));
    ASSERT_TRUE(fresh.back()) << path;
  }

  // The rows copied out of the decoder, and sent down the pipe where that is not allowed.
  for (const bool copy : {true, false}) {
    SetCopyFromDecoderForTesting(copy);
    pid_t decoder = 0;
    {
      KeptDecoder kept;
      EXPECT_EQ(KeptDecoder::OfThisThread(), &kept);
      for (int round = 0; round < 2; ++round) {
        pid_t first = 0;
        for (size_t i = 0; i < paths.size(); ++i) {
          ExpectSamePicture(LoadInputImage(paths[i]), fresh[i], paths[i]);
          if (i == 0) first = kept.pid();
          // One decoder up to the placeholder, whose rebuild ends it.
          if (i < 4) {
            EXPECT_EQ(kept.pid(), first) << paths[i];
          }
        }
        EXPECT_NE(first, 0);
      }
      decoder = kept.pid();
      ASSERT_NE(decoder, 0);
    }
    EXPECT_EQ(KeptDecoder::OfThisThread(), nullptr);
    EXPECT_TRUE(Ends(decoder)) << "the decoder outlived its owner";
  }
}

TEST_F(KeptDecoderTest, AFileThatBreaksItsDecoderFailsAloneAndTheNextHasAFreshOne) {
  UseMisbehavingDecoder();
  SetDecodeTimeLimitForTesting(std::chrono::milliseconds(1500));
  for (const char* fault : {"crash", "hang", "garbage", "fails"}) {
    KeptDecoder kept;
    ExpectSamePicture(LoadInputImage(dir_.file("good1.psd")), expected_, fault);
    const pid_t before = kept.pid();
    ASSERT_NE(before, 0);
    EXPECT_FALSE(LoadInputImage(Named(std::string(fault) + ".psd"))) << fault;
    EXPECT_EQ(kept.pid(), 0) << fault << ": a decoder in a bad state is not kept";
    EXPECT_TRUE(Ends(before)) << fault;
    ExpectSamePicture(LoadInputImage(dir_.file("good2.psd")), expected_, fault);
    EXPECT_NE(kept.pid(), 0) << fault;
    EXPECT_NE(kept.pid(), before) << fault;
  }
}

TEST_F(KeptDecoderTest, ADecoderThatGrewIsReplacedAndItsFileStillConverts) {
  UseMisbehavingDecoder();
  KeptDecoder kept;
  ExpectSamePicture(LoadInputImage(dir_.file("good1.psd")), expected_, "first");
  const pid_t before = kept.pid();
  // The memory it keeps does not make its picture wrong; it only unfits it for another file.
  ExpectSamePicture(LoadInputImage(Named("leak.psd")), expected_, "leak");
  ExpectSamePicture(LoadInputImage(dir_.file("good2.psd")), expected_, "after the leak");
  EXPECT_NE(kept.pid(), before);
  EXPECT_TRUE(Ends(before));
  // A decoder that did not grow is kept.
  const pid_t after = kept.pid();
  ExpectSamePicture(LoadInputImage(dir_.file("good1.psd")), expected_, "again");
  EXPECT_EQ(kept.pid(), after);
}

TEST_F(KeptDecoderTest, ARunawayFileStopsAtItsOwnLimitThoughItsDecoderMayHaveMore) {
  if (DecoderSanitizersChecked) GTEST_SKIP() << "the address sanitizer takes the limit's place";
  UseMisbehavingDecoder();
  KeptDecoder kept;
  ExpectSamePicture(LoadInputImage(dir_.file("good1.psd")), expected_, "first");
  EXPECT_FALSE(LoadInputImage(Named("runaway.psd")));
  ExpectSamePicture(LoadInputImage(dir_.file("good2.psd")), expected_, "after the runaway");
}

TEST_F(KeptDecoderTest, AStopEndsTheKeptDecoderAndAnotherStartsOnceAllowed) {
  KeptDecoder kept;
  ExpectSamePicture(LoadInputImage(dir_.file("good1.psd")), expected_, "first");
  const pid_t before = kept.pid();
  ASSERT_NE(before, 0);
  StopDecoders();
  EXPECT_TRUE(Ends(before)) << "an idle kept decoder survived the stop";
  EXPECT_FALSE(LoadInputImage(dir_.file("good2.psd")));
  EXPECT_EQ(kept.pid(), 0);
  AllowDecoders();
  ExpectSamePicture(LoadInputImage(dir_.file("good2.psd")), expected_, "allowed again");
  EXPECT_NE(kept.pid(), before);
}

TEST(KeptDecoder, BelongsToItsThreadAndTakesOnlyRequestsThatFitAMessage) {
  KeptDecoder kept;
  std::thread([] { EXPECT_EQ(KeptDecoder::OfThisThread(), nullptr); }).join();
  {
    KeptDecoder inner;
    EXPECT_EQ(KeptDecoder::OfThisThread(), &inner);
  }
  EXPECT_EQ(KeptDecoder::OfThisThread(), &kept);
  EXPECT_TRUE(KeptDecoder::Fits({"--srgb", "--hide-layer=Sky*"}));
  EXPECT_FALSE(KeptDecoder::Fits({std::string(MaxDecoderRequestBytes, 'x')}));
  // A NUL would split the argument in two.
  EXPECT_FALSE(KeptDecoder::Fits({std::string("a\0b", 3)}));
}

TEST(ServingDecoder, EndsOnARequestOutOfProtocol) {
  const std::string decoder = std::string(QUORVIX_BIN_DIR) + "/" + PsdDecoderName;
  ASSERT_TRUE(std::filesystem::is_regular_file(decoder)) << decoder;
  TempDir dir;
  const std::string path = dir.file("in.psd");
  ASSERT_TRUE(WritePsdFile(path, MakePsdSpec(PsdMode::Rgb, 8, 4, 4, 3)));
  const FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(file);
  const auto request = [](char kind, const std::string& arguments) {
    std::string message(1 + sizeof(uint64_t), '\0');
    message[0] = kind;
    const uint64_t limit = 1ull << 30;
    std::memcpy(message.data() + 1, &limit, sizeof limit);
    return message + arguments;
  };
  struct Case {
    const char* what;
    std::string message;
    bool with_file;
  };
  const Case cases[] = {
      {"an unknown kind", request('X', ""), true},
      {"no file", request(DecoderFileRequest, ""), false},
      {"a short head", std::string(1, DecoderFileRequest), true},
      {"an argument without its end", request(DecoderFileRequest, "--srgb"), true},
      {"an option of the process", request(DecoderFileRequest, std::string("--serve\0", 8)), true},
      {"a path of its own", request(DecoderFileRequest, path + '\0'), true},
      {"rows before any file", std::string(1, DecoderRowsRequest), false},
  };
  for (const Case& test : cases) {
    std::optional<DecoderChild> child = SpawnServingDecoder(
        decoder,
        {"--parent=" + std::to_string(getpid()), "--address-space=" + std::to_string(2ull << 30)});
    ASSERT_TRUE(child) << test.what;
    EXPECT_TRUE(
        SendWithDescriptor(child->request.get(), test.message, test.with_file ? file.get() : -1))
        << test.what;
    int status = -1;
    EXPECT_FALSE(WaitForDecoder(
        child->pid, std::chrono::steady_clock::now() + std::chrono::seconds(10), &status))
        << test.what;
    EXPECT_EQ(status, 2) << test.what;
    // Nothing came down the record, not even a readiness.
    char answer = 0;
    EXPECT_LE(read(child->record.get(), &answer, 1), 0) << test.what;
  }
}

TEST(DecoderAddressSpace, NeverMoreThanTheMachineHasHoweverLargeTheDocument) {
  // A size whose scaled limit overflows is held to the machine's memory, as one just below it is.
  const long pages = sysconf(_SC_PHYS_PAGES), page_size = sysconf(_SC_PAGESIZE);
  ASSERT_GT(pages, 0);
  ASSERT_GT(page_size, 0);
  const uint64_t physical = static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size);
  for (const uint64_t bytes : {UINT64_MAX / 2, UINT64_MAX}) {
    EXPECT_LE(DecoderAddressSpace(bytes), std::max(physical, DecoderAddressSpace(0))) << bytes;
  }
}
