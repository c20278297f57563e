// Hostile inputs, options and moments, end to end: the real program never crashes, never writes
// outside its output folder and never leaves a partial file.

#include <FreeImage.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "engine/image/bitmap.h"
#include "engine/isolation/decoder_faults.h"
#include "platform/atomic_file.h"
#include "tests/cli/cli_documents.h"
#include "tests/cli/run_quorvix.h"
#include "tests/support/temp_dir.h"

namespace {

using Lines = std::vector<std::string>;

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool Contains(const Lines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

void PutLittle(std::string& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

void PutBig(std::string& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (24 - 8 * i));
}

class Hardening : public ::testing::Test {
 protected:
  void SetUp() override {
    input = dir.file("in.psd");
    ASSERT_TRUE(WriteTestPsd(input, 64, 48));
    std::filesystem::create_directory(dir.file("out"));
    output = dir.file("out");
  }

  QuorvixRun Run(Lines extra) {
    Lines arguments = {"-q", "-i", input, "-o", output};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return RunQuorvix(arguments, {dir.path().string(), {}, {}});
  }

  TempDir dir;
  std::string input;
  std::string output;
};

}  // namespace

TEST_F(Hardening, DamagedOrOversizedWatermarksLeaveTheDocumentUnmarked) {
  // A 154-byte BMP and a PNG whose headers claim 20000 x 20000, a Photoshop header that claims
  // 30000 x 30000, and mutations of a real Photoshop watermark.
  std::string bmp(154, '\0');
  bmp[0] = 'B';
  bmp[1] = 'M';
  PutLittle(bmp, 2, 154);
  PutLittle(bmp, 10, 54);
  PutLittle(bmp, 14, 40);
  PutLittle(bmp, 18, 20000);
  PutLittle(bmp, 22, 20000);
  bmp[26] = 1;
  bmp[28] = 24;
  ASSERT_TRUE(WriteFileBytes(dir.file("huge.bmp"), bmp));

  const Bitmap small(FreeImage_Allocate(4, 4, 24));
  ASSERT_TRUE(FreeImage_Save(FIF_PNG, small.get(), dir.file("small.png").c_str(), 0));
  std::string png = ReadFileBytes(dir.file("small.png"));
  PutBig(png, 16, 20000);  // IHDR width and height; the checksum no longer matches either
  PutBig(png, 20, 20000);
  ASSERT_TRUE(WriteFileBytes(dir.file("huge.png"), png));

  std::string psd = ReadFileBytes(input);
  PutBig(psd, 14, 30000);
  PutBig(psd, 18, 30000);
  ASSERT_TRUE(WriteFileBytes(dir.file("huge.psd"), psd));

  std::vector<std::string> marks = {"huge.bmp", "huge.png", "huge.psd"};
  std::mt19937 random(10);
  const std::string good = ReadFileBytes(input);
  for (int i = 0; i < 6; ++i) {
    std::string mutated = good.substr(0, 616);
    for (int flips = 0; flips < 12; ++flips) {
      mutated[random() % mutated.size()] = static_cast<char>(random());
    }
    marks.push_back("mutated" + std::to_string(i) + ".psd");
    ASSERT_TRUE(WriteFileBytes(dir.file(marks.back()), mutated));
  }

  const QuorvixRun plain = Run({});
  ASSERT_EQ(plain.exit_status, 0);
  const std::string unmarked = ReadFileBytes(dir.file("out/in.png"));
  for (const std::string& mark : marks) {
    std::filesystem::remove(dir.file("out/in.png"));
    const QuorvixRun run = Run({"--wm-image=" + dir.file(mark), "--wm-image-position=topleft"});
    EXPECT_EQ(run.exit_status, 0) << mark << run.err;
    EXPECT_EQ(run.err, "") << mark;
    EXPECT_EQ(ReadFileBytes(dir.file("out/in.png")), unmarked) << mark;
  }
}

TEST_F(Hardening, AMaskThatLeavesTheOutputFolderWritesNothing) {
  ASSERT_TRUE(WriteFileBytes(dir.file("victim.txt"), "keep me"));
  for (const char* mask : {"../victim.txt", "a/../../victim.txt", "..", "sub/.."}) {
    const QuorvixRun run = Run({"-d", std::string("--filename-mask=") + mask});
    EXPECT_EQ(run.exit_status, 1) << mask;
    EXPECT_TRUE(Contains(run.Lines(), "Not OK")) << mask;
  }
  EXPECT_EQ(ReadFileBytes(dir.file("victim.txt")), "keep me");
  EXPECT_TRUE(Names(output).empty());

  // Subfolders below the output folder are fine; they must exist.
  std::filesystem::create_directory(dir.file("out/sub"));
  EXPECT_EQ(Run({"--filename-mask=sub/%filename%.%ext%"}).exit_status, 0);
  EXPECT_EQ(Run({"--filename-mask=sub/../top.%ext%"}).exit_status, 0);
  EXPECT_EQ(Run({"--filename-mask=none/x.%ext%"}).exit_status, 1);
  EXPECT_EQ(Names(output), (Lines{"sub", "top.png"}));
  EXPECT_EQ(Names(dir.file("out/sub")), Lines{"in.png"});
}

TEST_F(Hardening, AReplacedOutputKeepsItsPermissions) {
  ASSERT_EQ(Run({}).exit_status, 0);
  const std::string png = dir.file("out/in.png");
  ASSERT_EQ(chmod(png.c_str(), 0600), 0);
  ASSERT_EQ(Run({"--flip-horizontal"}).exit_status, 0);
  struct stat info {};
  ASSERT_EQ(stat(png.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST_F(Hardening, ADeletedWorkingFolderIsNoOutputFolder) {
  std::filesystem::create_directory(dir.file("gone"));
  QuorvixRunOptions in_gone{dir.file("gone"), {}, {}};
  in_gone.remove_working_directory = true;
  for (const char* folder : {"./", "converted"}) {
    const QuorvixRun run = RunQuorvix({"-i", input, "-o", folder}, in_gone);
    EXPECT_EQ(run.exit_status, 1) << folder;
    ASSERT_FALSE(run.Lines().empty());
    EXPECT_EQ(run.Lines().back(), "Error: Invalid output folder");
    std::filesystem::create_directory(dir.file("gone"));
  }
  EXPECT_FALSE(std::filesystem::exists("/in.png"));
}

TEST_F(Hardening, AResizeBeyondMemoryFailsThatFileBeforeAllocating) {
  const QuorvixRun run = Run(
      {"-d", "--width-unit=percent", "--height-unit=percent", "--width=100000", "--height=100000"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_TRUE(Contains(run.Lines(), "Not OK"));
  EXPECT_TRUE(Names(output).empty());
}

TEST_F(Hardening, AKilledSaveLeavesTheOldFileOrTheNewOne) {
  // Large enough that a save takes a while, so the kills fall before, during and after it.
  const std::string big = dir.file("big.psd");
  ASSERT_TRUE(WriteTestPsd(big, 2400, 1800));
  TempDir runtime;
  const QuorvixRunOptions options{dir.path().string(), runtime.path().string(), {}};
  const Lines arguments = {"-q", "-i", big, "-o", output, "--png-compression=none"};
  ASSERT_EQ(RunQuorvix(arguments, options).exit_status, 0);
  const std::string complete = ReadFileBytes(dir.file("out/big.png"));
  ASSERT_FALSE(complete.empty());
  const std::vector<int> signals = {SIGKILL, SIGTERM, SIGINT, SIGHUP};
  for (int attempt = 0; attempt < 16; ++attempt) {
    const int child = StartQuorvix(arguments, options);
    ASSERT_GT(child, 0);
    usleep(static_cast<useconds_t>(20000 + attempt * 12000));
    kill(child, signals[static_cast<size_t>(attempt) % signals.size()]);
    int status = 0;
    waitpid(child, &status, 0);
    Lines names = Names(output);
    // Only a SIGKILL between the link and the rename of the save may leave the complete file
    // under the target's passing name as well.
    const std::string passing = PassingNameOf("big.png");
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL && Contains(names, passing)) {
      EXPECT_EQ(ReadFileBytes(output + "/" + passing), complete) << attempt;
      std::erase(names, passing);
    }
    EXPECT_EQ(names, Lines{"big.png"}) << attempt;
    EXPECT_EQ(ReadFileBytes(dir.file("out/big.png")), complete) << attempt;
  }
  // The next save of that target clears whatever passing name a kill left.
  ASSERT_EQ(RunQuorvix(arguments, options).exit_status, 0);
  EXPECT_EQ(Names(output), Lines{"big.png"});
}

TEST_F(Hardening, ATiffWatermarkPrintsNothing) {
  // The TIFF library warns about a tag it does not know: give the last tag of the directory an
  // unknown number (the order of the tags stays ascending).
  const Bitmap mark(FreeImage_Allocate(8, 8, 24));
  ASSERT_TRUE(FreeImage_Save(FIF_TIFF, mark.get(), dir.file("mark.tif").c_str(), TIFF_NONE));
  std::string tiff = ReadFileBytes(dir.file("mark.tif"));
  ASSERT_EQ(tiff.substr(0, 2), "II");
  const auto little = [&](size_t at, int size) {
    uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(tiff[at + i]);
    return value;
  };
  const uint32_t directory = little(4, 4);
  const uint32_t entries = little(directory, 2);
  const size_t last_tag = directory + 2 + 12 * (entries - 1);
  ASSERT_LT(last_tag + 2, tiff.size());
  tiff[last_tag] = '\xF0';
  tiff[last_tag + 1] = '\xFF';
  ASSERT_TRUE(WriteFileBytes(dir.file("mark.tif"), tiff));
  const QuorvixRun run = Run({"--wm-image=" + dir.file("mark.tif")});
  EXPECT_EQ(run.exit_status, 0);
  if (DecoderSanitizersChecked) {
    GTEST_SKIP() << "the decoder's standard error is kept on purpose where the sanitizers are on";
  }
  EXPECT_EQ(run.err, "");
}

namespace {

// The parent of `pid` and its command name, from /proc; false when it is gone.
bool ReadProcess(pid_t pid, pid_t& parent, std::string& name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(in, line)) return false;
  const size_t open = line.find('('), close = line.rfind(')');
  if (open == std::string::npos || close == std::string::npos) return false;
  name = line.substr(open + 1, close - open - 1);
  char state = 0;
  std::istringstream rest(line.substr(close + 2));
  return static_cast<bool>(rest >> state >> parent) && state != 'Z';
}

// A decoder started by a child of this process: its id and its parent's; false when none runs.
bool FindGrandchildDecoder(pid_t& decoder, pid_t& program) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string id = entry.path().filename().string();
    if (id.find_first_not_of("0123456789") != std::string::npos) continue;
    pid_t parent = 0, grandparent = 0;
    std::string name, parent_name;
    if (!ReadProcess(static_cast<pid_t>(std::stol(id)), parent, name)) continue;
    if (name.rfind("quorvix-psd", 0) != 0) continue;
    if (!ReadProcess(parent, grandparent, parent_name) || grandparent != getpid()) continue;
    decoder = static_cast<pid_t>(std::stol(id));
    program = parent;
    return true;
  }
  return false;
}

}  // namespace

#if defined(QUORVIX_FAKE_DECODERS_DIR)
TEST_F(Hardening, CtrlCDuringADecodeStopsTheRun) {
  // The program beside a decoder that never answers: the decode is still in work when Ctrl-C
  // comes, whenever it comes.
  TempDir bin;
  const std::string program = bin.file("quorvix");
  std::filesystem::copy_file(QuorvixPath(), program);
  std::filesystem::copy_file(std::string(QUORVIX_FAKE_DECODERS_DIR) + "/hang/quorvix-psd-decoder",
                             bin.file("quorvix-psd-decoder"));
  std::atomic<bool> ended{false};
  std::thread interrupt([&ended] {
    pid_t decoder = 0, quorvix = 0;
    while (!ended && !FindGrandchildDecoder(decoder, quorvix)) usleep(2000);
    if (!ended) kill(quorvix, SIGINT);
  });
  QuorvixRunOptions options{dir.path().string(), {}, {}};
  options.program = program;
  const QuorvixRun run = RunQuorvix({"-i", input, "-o", output}, options);
  ended = true;
  interrupt.join();
  // Stopped, not killed: the run says so and ends with its status, and writes nothing.
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_TRUE(Contains(run.Lines(), "Conversion stopped")) << run.out;
  EXPECT_TRUE(Names(output).empty());
}
#endif
