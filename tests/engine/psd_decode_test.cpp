#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "engine/isolation/decoder_faults.h"
#include "engine/isolation/decoder_spawn.h"
#include "engine/isolation/isolated_decode.h"
#include "engine/isolation/pixel_memory.h"
#include "engine/loading/loading.h"
#include "tests/support/psd_writer.h"
#include "tests/support/temp_dir.h"

namespace {

// Restores the decoder's normal behaviour whatever a test did.
class IsolatedDecode : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.file("in.psd");
    PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, 64, 48, 4);
    spec.compression = PsdCompression::Rle;
    FillPsdPlanes(spec, [](uint32_t x, uint32_t y, uint32_t c) { return (x + y + c) & 0xFF; });
    good_ = WritePsd(spec, &offsets_);
    ASSERT_TRUE(WriteFileBytes(path_, good_));
  }
  void TearDown() override {
    AllowDecoders();
    SetDecodeTimeLimitForTesting(std::chrono::milliseconds(0));
    SetPsdDecoderFolder("");
    SetCopyFromDecoderForTesting(true);
  }

  // Puts a decoder that crashes, hangs or answers garbage in the real one's place. It must be
  // there: a missing decoder fails a load too, and would pass these tests for the wrong reason.
  static void UseFakeDecoder(const char* fault) {
    const std::string folder = std::string(QUORVIX_FAKE_DECODERS_DIR) + "/" + fault;
    ASSERT_TRUE(std::filesystem::is_regular_file(folder + "/" + PsdDecoderName)) << folder;
    SetPsdDecoderFolder(folder);
  }

  Bitmap LoadBytes(const std::string& bytes) {
    const std::string path = dir_.file("damaged.psd");
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    return LoadInputImage(path);
  }

  TempDir dir_;
  std::string path_;
  std::string good_;
  PsdOffsets offsets_;
};

TEST_F(IsolatedDecode, ACrashingDecoderFailsOnlyThatFile) {
  ASSERT_TRUE(LoadInputImage(path_));
  UseFakeDecoder("crash");
  EXPECT_FALSE(LoadInputImage(path_));
  SetPsdDecoderFolder("");
  const Bitmap next = LoadInputImage(path_);
  ASSERT_TRUE(next);
  EXPECT_EQ(FreeImage_GetWidth(next.get()), 64u);
}

TEST_F(IsolatedDecode, AHangingDecoderIsKilledAtItsTimeLimit) {
  SetDecodeTimeLimitForTesting(std::chrono::milliseconds(300));
  UseFakeDecoder("hang");
  EXPECT_FALSE(LoadInputImage(path_));
  SetPsdDecoderFolder("");
  EXPECT_TRUE(LoadInputImage(path_));
}

TEST_F(IsolatedDecode, GarbageFromTheDecoderFailsTheFile) {
  UseFakeDecoder("garbage");
  EXPECT_FALSE(LoadInputImage(path_));
}

TEST_F(IsolatedDecode, ASanitizerReportInTheDecoderEndsTheProgramWhereSanitizersAreOn) {
  UseFakeDecoder("sanitizer");
  if (DecoderSanitizersChecked) {
    // It must not pass as a damaged file's clean failure.
    EXPECT_DEATH(LoadInputImage(path_), "fake decoder: a sanitizer report");
  } else {
    EXPECT_FALSE(LoadInputImage(path_));
  }
}

TEST_F(IsolatedDecode, AMissingDecoderFailsTheFile) {
  SetPsdDecoderFolder(dir_.folder());
  EXPECT_FALSE(LoadInputImage(path_));
  SetPsdDecoderFolder(QUORVIX_BIN_DIR);
  EXPECT_TRUE(LoadInputImage(path_));
}

TEST_F(IsolatedDecode, DamagedDocumentsFailCleanly) {
  EXPECT_FALSE(LoadInputImage(dir_.file("missing.psd")));
  EXPECT_FALSE(LoadBytes(""));
  EXPECT_FALSE(LoadBytes("8BPS"));
  EXPECT_FALSE(LoadBytes(std::string("\x89PNG\r\n\x1a\n", 8) + std::string(100, '\0')));
  for (size_t cut : {size_t{10}, size_t{26}, offsets_.resources + 2, offsets_.image_data + 1,
                     offsets_.pixels - 1, offsets_.pixels + 5, good_.size() * 9 / 10}) {
    EXPECT_FALSE(LoadBytes(good_.substr(0, cut))) << "cut at " << cut;
  }
  std::string bytes = good_;
  bytes[0] = '9';
  EXPECT_FALSE(LoadBytes(bytes));
  bytes = good_;
  PutBigEndian(bytes, PsdChannelsOffset, 9999, 2);
  EXPECT_FALSE(LoadBytes(bytes));
  bytes = good_;
  PutBigEndian(bytes, PsdHeightOffset, 480, 4);
  EXPECT_FALSE(LoadBytes(bytes));
  bytes = good_;
  PutBigEndian(bytes, offsets_.rle_counts + 10, 0x7FFF, 2);
  EXPECT_FALSE(LoadBytes(bytes));
}

TEST_F(IsolatedDecode, RowsComeDownThePipeWhereTheDecodersMemoryCannotBeRead) {
  const Bitmap copied = LoadInputImage(path_);
  SetCopyFromDecoderForTesting(false);
  const Bitmap piped = LoadInputImage(path_);
  ASSERT_TRUE(copied);
  ASSERT_TRUE(piped);
  ASSERT_EQ(FreeImage_GetPitch(piped.get()), FreeImage_GetPitch(copied.get()));
  EXPECT_EQ(std::memcmp(FreeImage_GetBits(piped.get()), FreeImage_GetBits(copied.get()),
                        FreeImage_GetPitch(copied.get()) * FreeImage_GetHeight(copied.get())),
            0);
}

TEST_F(IsolatedDecode, ARowThatRunsShortIsRefusedBeforeTheDecoderReadsPastIt) {
  // The first row claims two bytes: its run header asks for a whole row of literal bytes, and
  // FreeImage would read on past the row's two. With the sanitizers on, that read ends the program.
  std::string bytes = good_;
  PutBigEndian(bytes, offsets_.rle_counts, 2, 2);
  EXPECT_FALSE(LoadBytes(bytes));
  EXPECT_TRUE(LoadBytes(good_));
}

TEST_F(IsolatedDecode, ScrambledPackedRowsNeverTakeTheProcessDown) {
  // Damage inside the packed rows passes the structure check and reaches the decoder process, which
  // refuses rows that do not unpack within their bytes and hands the rest to FreeImage; whatever
  // comes of them, this process only ever sees a bitmap of the declared size or nothing.
  std::mt19937 random(7);
  for (int round = 0; round < 8; ++round) {
    std::string bytes = good_;
    for (int i = 0; i < 40; ++i) {
      const size_t at = offsets_.pixels + random() % (bytes.size() - offsets_.pixels);
      bytes[at] = static_cast<char>(random());
    }
    const Bitmap image = LoadBytes(bytes);
    if (image) {
      EXPECT_EQ(FreeImage_GetWidth(image.get()), 64u);
    }
  }
  EXPECT_TRUE(LoadInputImage(path_));
}

}  // namespace

namespace {

// The process state letter and parent of `pid` from /proc; false when it is gone.
bool ReadProcessStat(pid_t pid, char& state, pid_t& parent) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return false;
  const size_t close = line.rfind(')');
  if (close == std::string::npos) return false;
  std::istringstream rest(line.substr(close + 2));
  return static_cast<bool>(rest >> state >> parent);
}

// The decoder child of `parent`, by its name, passing over ended ones when `running`; 0 when
// there is none.
pid_t FindDecoderOf(pid_t parent, bool running = false) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(name));
    char state = 0;
    pid_t its_parent = 0;
    if (!ReadProcessStat(pid, state, its_parent) || its_parent != parent) continue;
    if (running && (state == 'Z' || state == 'X')) continue;
    std::ifstream comm(entry.path() / "comm");
    std::string command;
    std::getline(comm, command);
    if (command.rfind("quorvix-psd", 0) == 0) return pid;
  }
  return 0;
}

}  // namespace

TEST_F(IsolatedDecode, TheDecoderDiesWithTheProgram) {
  const pid_t program = fork();
  ASSERT_GE(program, 0);
  if (program == 0) {
    SetDecodeTimeLimitForTesting(std::chrono::milliseconds(60000));
    UseFakeDecoder("hang");
    LoadInputImage(path_);
    _exit(0);
  }
  pid_t decoder = 0;
  for (int i = 0; i < 500 && decoder == 0; ++i) {
    usleep(10000);
    decoder = FindDecoderOf(program);
  }
  ASSERT_NE(decoder, 0);
  // Still decoding while the program lives.
  usleep(100000);
  char state = 0;
  pid_t parent = 0;
  ASSERT_TRUE(ReadProcessStat(decoder, state, parent));
  EXPECT_NE(state, 'Z');
  kill(program, SIGKILL);
  waitpid(program, nullptr, 0);
  bool gone = false;
  for (int i = 0; i < 500 && !gone; ++i) {
    gone = !ReadProcessStat(decoder, state, parent) || state == 'Z' || state == 'X';
    if (!gone) usleep(10000);
  }
  EXPECT_TRUE(gone);
}

TEST_F(IsolatedDecode, AStopEndsTheDecodeInWorkAndRefusesMoreUntilAllowed) {
  // No deadline ends this decode: if the stop did not, the test would never end.
  SetDecodeTimeLimitForTesting(std::chrono::hours(1));
  UseFakeDecoder("hang");
  Bitmap stopped;
  std::thread load([&] { stopped = LoadInputImage(path_); });
  while (FindDecoderOf(getpid(), true) == 0) usleep(1000);
  StopDecoders();
  load.join();
  EXPECT_FALSE(stopped);
  EXPECT_TRUE(DecodersStopped());

  SetPsdDecoderFolder("");
  EXPECT_FALSE(LoadInputImage(path_));
  AllowDecoders();
  EXPECT_TRUE(LoadInputImage(path_));
}

TEST_F(IsolatedDecode, TheExitStatusIsReadWithChildSignalsIgnored) {
  // Ignored as a program may inherit it: the system then reaps children at once.
  struct sigaction ignore {
  }, before{};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGCHLD, &ignore, &before), 0);
  // A placeholder whose layers have nothing to draw is converted as stored: only the decoder's
  // exit status tells that apart from a failed rebuild.
  PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, 6, 4, 3);
  FillPsdPlanes(spec, [](uint32_t, uint32_t, uint32_t) { return 255; });
  spec.resources.push_back(PsdVersionInfoResource(false));
  spec.layer_count = 2;
  const std::string path = dir_.file("placeholder.psd");
  ASSERT_TRUE(WritePsdFile(path, spec));
  const Bitmap image = LoadInputImage(path);
  EXPECT_TRUE(image);
  // The program's own disposition comes back once its decoders are reaped (off this thread).
  struct sigaction now {};
  do {
    usleep(1000);
    sigaction(SIGCHLD, nullptr, &now);
  } while (now.sa_handler != SIG_IGN);
  sigaction(SIGCHLD, &before, nullptr);
}

TEST(DecoderEnvironment, AsksForHugePagesAndKeepsTheUsersTunables) {
  using Lines = std::vector<std::string>;
  const auto of = [](Lines lines) {
    std::vector<char*> pointers;
    for (std::string& line : lines) pointers.push_back(line.data());
    pointers.push_back(nullptr);
    return DecoderEnvironment(pointers.data());
  };
  EXPECT_EQ(of({"HOME=/h", "LANG=C"}),
            (Lines{"HOME=/h", "LANG=C", "GLIBC_TUNABLES=glibc.malloc.hugetlb=1"}));
  EXPECT_EQ(of({"GLIBC_TUNABLES=glibc.malloc.check=3", "A=b"}),
            (Lines{"GLIBC_TUNABLES=glibc.malloc.check=3:glibc.malloc.hugetlb=1", "A=b"}));
  EXPECT_EQ(of({"GLIBC_TUNABLES="}), (Lines{"GLIBC_TUNABLES=glibc.malloc.hugetlb=1"}));
  // A user who turned huge pages off keeps them off.
  EXPECT_EQ(of({"GLIBC_TUNABLES=glibc.malloc.hugetlb=0"}),
            (Lines{"GLIBC_TUNABLES=glibc.malloc.hugetlb=0"}));
  EXPECT_EQ(DecoderEnvironment(nullptr), (Lines{"GLIBC_TUNABLES=glibc.malloc.hugetlb=1"}));
}

TEST(PixelMemory, LargeMemoryIsZeroedWritableAndShrinks) {
  for (const uint64_t length : {uint64_t{4096 * 3 + 5}, uint64_t{24} << 20}) {
    PixelMemory memory(length);
    ASSERT_NE(memory.address(), nullptr) << length;
    auto* bytes = static_cast<unsigned char*>(memory.address());
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[length - 1], 0);
    bytes[length - 1] = 7;
    memory.Shrink(length / 2);
    EXPECT_GE(memory.length(), length / 2);
    EXPECT_LT(memory.length(), length);
    bytes[length / 2 - 1] = 9;  // still ours
    EXPECT_EQ(bytes[length / 2 - 1], 9);
  }
}
