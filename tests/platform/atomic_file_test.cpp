#include "platform/atomic_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

std::vector<std::string> Names(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

mode_t Mode(const std::string& path) {
  struct stat info {};
  stat(path.c_str(), &info);
  return info.st_mode & 07777;
}

bool WriteWhole(const std::string& path, const std::string& bytes) {
  AtomicFile file;
  return file.Open(path) && file.Write(bytes) && file.Commit();
}

// Restores unnamed temporaries whatever a test did.
class AtomicFileTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { SetUnnamedTemporariesForTesting(GetParam()); }
  void TearDown() override { SetUnnamedTemporariesForTesting(true); }
  TempDir dir;
};

// The child writes `size` bytes in small pieces, slowly enough to be caught mid-way, and
// commits; it ends with 0 when the commit succeeded.
pid_t StartSlowWriter(const std::string& path, size_t size, char fill) {
  const pid_t child = fork();
  if (child != 0) return child;
  AtomicFile file;
  if (!file.Open(path)) _exit(1);
  const std::string piece(4096, fill);
  for (size_t written = 0; written < size; written += piece.size()) {
    if (!file.Write(piece)) _exit(1);
    if (written % (64 * 4096) == 0) usleep(200);
  }
  _exit(file.Commit() ? 0 : 1);
}

// The child replaces `path` over and over from a second thread, as the console's worker saves,
// while its first thread waits: a signal sent to the process may land on either.
pid_t StartThreadedReplacer(const std::string& path) {
  const pid_t child = fork();
  if (child != 0) return child;
  std::thread worker([&path] {
    for (int round = 0;; ++round) {
      if (!WriteWhole(path, std::string(64, static_cast<char>('a' + round % 26)))) _exit(1);
    }
  });
  worker.join();
  _exit(0);
}

}  // namespace

TEST(AtomicFile, APoliteSignalOnAnyThreadLeavesOnlyTheTarget) {
  TempDir dir;
  const std::string path = dir.file("big.png");
  ASSERT_TRUE(WriteWhole(path, std::string(64, 'o')));
  const std::vector<int> signals = {SIGTERM, SIGINT, SIGHUP};
  // The step between the link and the rename is short: many kills, each after a different
  // number of saves, to land some inside it (a scheme that leaves the passing name to a polite
  // signal fails about one run in three).
  for (int attempt = 0; attempt < 200; ++attempt) {
    const pid_t child = StartThreadedReplacer(path);
    ASSERT_GT(child, 0);
    usleep(static_cast<useconds_t>(1000 + attempt * 19));
    kill(child, signals[static_cast<size_t>(attempt) % signals.size()]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status)) << attempt;
    EXPECT_EQ(Names(dir), std::vector<std::string>{"big.png"}) << attempt;
    EXPECT_EQ(ReadFileBytes(path).size(), 64u) << attempt;
  }
}

TEST_P(AtomicFileTest, ReplacesWholeAndLeavesNothingElse) {
  const std::string path = dir.file("out.ini");
  ASSERT_TRUE(WriteWhole(path, "first"));
  ASSERT_TRUE(WriteWhole(path, "second"));
  EXPECT_EQ(ReadFileBytes(path), "second");
  EXPECT_EQ(Names(dir), std::vector<std::string>{"out.ini"});
  {
    AtomicFile dropped;
    ASSERT_TRUE(dropped.Open(path));
    ASSERT_TRUE(dropped.Write("never seen"));
  }
  EXPECT_EQ(ReadFileBytes(path), "second");
  EXPECT_EQ(Names(dir), std::vector<std::string>{"out.ini"});
  AtomicFile missing;
  EXPECT_FALSE(missing.Open(dir.file("absent/out.ini")));
  EXPECT_FALSE(missing.Open(dir.folder()));
}

TEST_P(AtomicFileTest, AReplacementKeepsThePermissionsANewFileTakesTheUmask) {
  const std::string path = dir.file("private.png");
  ASSERT_TRUE(WriteWhole(path, "old"));
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(Mode(path), 0666 & ~mask);
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  ASSERT_TRUE(WriteWhole(path, "new"));
  EXPECT_EQ(Mode(path), 0600u);
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  ASSERT_TRUE(WriteWhole(path, "newer"));
  EXPECT_EQ(Mode(path), 0640u);
}

TEST_P(AtomicFileTest, AKilledWriteLeavesTheOldFileOrTheNewOne) {
  const std::string path = dir.file("big.png");
  const size_t size = 8 << 20;
  ASSERT_TRUE(WriteWhole(path, std::string(size, 'o')));
  // SIGKILL for unnamed temporaries, which nothing can leave behind; the polite signals for
  // named ones, which the program removes as it goes.
  const std::vector<int> signals =
      GetParam() ? std::vector<int>{SIGKILL} : std::vector<int>{SIGTERM, SIGINT, SIGHUP};
  int replaced = 0;
  for (int attempt = 0; attempt < 24; ++attempt) {
    const char fill = static_cast<char>('a' + attempt);
    const pid_t child = StartSlowWriter(path, size, fill);
    ASSERT_GT(child, 0);
    usleep(static_cast<useconds_t>(attempt * 1500));
    kill(child, signals[static_cast<size_t>(attempt) % signals.size()]);
    int status = 0;
    waitpid(child, &status, 0);
    const std::string content = ReadFileBytes(path);
    ASSERT_EQ(content.size(), size) << attempt;
    EXPECT_TRUE(content == std::string(size, content[0])) << attempt;
    if (content[0] == fill) ++replaced;
    std::vector<std::string> names = Names(dir);
    // A SIGKILL between the link and the rename leaves a complete file under the passing name;
    // no polite signal may, and nothing else may stay behind.
    const std::string passing = PassingNameOf("big.png");
    if (GetParam() && names.size() == 2 && std::count(names.begin(), names.end(), passing) == 1) {
      EXPECT_EQ(ReadFileBytes(dir.file(passing)).size(), size) << attempt;
      std::erase(names, passing);
    }
    EXPECT_EQ(names, std::vector<std::string>{"big.png"}) << attempt;
  }
  // The kills fell at every stage: the later ones find the writer done.
  EXPECT_GT(replaced, 0);
  // And whatever a kill left, the next save clears.
  ASSERT_TRUE(WriteWhole(path, "done"));
  EXPECT_EQ(Names(dir), std::vector<std::string>{"big.png"});
}

TEST(AtomicFile, TheNextSaveClearsAPassingNameAKilledSaveLeft) {
  TempDir dir;
  const std::string path = dir.file("big.png");
  ASSERT_TRUE(WriteWhole(path, "old"));
  // As a save killed between its link and its rename leaves it.
  const std::string passing = dir.file(PassingNameOf("big.png"));
  ASSERT_TRUE(WriteFileBytes(passing, "stale"));
  ASSERT_TRUE(WriteWhole(path, "new"));
  EXPECT_EQ(ReadFileBytes(path), "new");
  EXPECT_EQ(Names(dir), std::vector<std::string>{"big.png"});
}

TEST(AtomicFile, PassingNamesAreHiddenShortAndTheTargetsOwn) {
  const std::string long_name(255, 'x');
  for (const std::string& name : {std::string("a.png"), std::string("b.png"), long_name}) {
    const std::string passing = PassingNameOf(name);
    EXPECT_EQ(passing.front(), '.');
    EXPECT_LE(passing.size(), 64u);
    EXPECT_EQ(passing, PassingNameOf(name));
  }
  EXPECT_NE(PassingNameOf("a.png"), PassingNameOf("b.png"));
}

INSTANTIATE_TEST_SUITE_P(UnnamedAndNamed, AtomicFileTest, ::testing::Bool());

TEST(AtomicFile, AnAppendOnlyFolderKeepsItsFileAndGetsNoTemporary) {
  TempDir dir;
  const std::string path = dir.file("out.png");
  ASSERT_TRUE(WriteWhole(path, "old"));
  const int folder = open(dir.path().c_str(), O_RDONLY | O_DIRECTORY);
  int flags = 0;
  if (folder < 0 || ioctl(folder, FS_IOC_GETFLAGS, &flags) != 0) GTEST_SKIP();
  const int append_only = flags | FS_APPEND_FL;
  if (ioctl(folder, FS_IOC_SETFLAGS, &append_only) != 0) {
    close(folder);
    GTEST_SKIP() << "setting the append-only flag needs privileges";
  }
  EXPECT_FALSE(WriteWhole(path, "new"));
  EXPECT_EQ(ReadFileBytes(path), "old");
  EXPECT_EQ(Names(dir), std::vector<std::string>{"out.png"});
  // A new name can still be added whole; a named temporary could never be removed again.
  EXPECT_TRUE(WriteWhole(dir.file("added.png"), "added"));
  SetUnnamedTemporariesForTesting(false);
  EXPECT_FALSE(WriteWhole(dir.file("other.png"), "added"));
  EXPECT_FALSE(WriteWhole(path, "new"));
  auto names = Names(dir);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"added.png", "out.png"}));
  SetUnnamedTemporariesForTesting(true);
  ioctl(folder, FS_IOC_SETFLAGS, &flags);
  close(folder);
}
