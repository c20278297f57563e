#include "platform/atomic_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
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

// What a path is, seen without following a link: 'f' regular file, 'p' FIFO, 'd' folder, 's'
// socket, 'c' character device, 'l' link, '-' nothing.
char KindOf(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return '-';
  if (S_ISREG(info.st_mode)) return 'f';
  if (S_ISFIFO(info.st_mode)) return 'p';
  if (S_ISDIR(info.st_mode)) return 'd';
  if (S_ISSOCK(info.st_mode)) return 's';
  if (S_ISCHR(info.st_mode)) return 'c';
  if (S_ISLNK(info.st_mode)) return 'l';
  return '?';
}

// Binds a socket at `path` (a short one); the descriptor stays open for the test.
int BindSocketAt(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (fd < 0 || path.size() >= sizeof address.sun_path) return -1;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
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

TEST_P(AtomicFileTest, WritesThroughLinksToARegularFileOrAFreeName) {
  const std::string target = dir.file("real.png");
  ASSERT_TRUE(WriteFileBytes(target, "old"));
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  // A chain: a relative link to a link to the file.
  std::filesystem::create_symlink(target, dir.file("middle.png"));
  std::filesystem::create_symlink("middle.png", dir.file("out.png"));
  ASSERT_TRUE(WriteWhole(dir.file("out.png"), "new"));
  EXPECT_EQ(ReadFileBytes(target), "new");
  EXPECT_EQ(Mode(target), 0640u);
  EXPECT_EQ(KindOf(dir.file("out.png")), 'l');
  EXPECT_EQ(KindOf(dir.file("middle.png")), 'l');

  // A link whose file does not exist yet makes it there.
  std::filesystem::create_directory(dir.file("sub"));
  std::filesystem::create_symlink("sub/later.ini", dir.file("config.ini"));
  ASSERT_TRUE(WriteWhole(dir.file("config.ini"), "made"));
  EXPECT_EQ(ReadFileBytes(dir.file("sub/later.ini")), "made");
  EXPECT_EQ(KindOf(dir.file("config.ini")), 'l');

  // Links round in a circle lead nowhere.
  std::filesystem::create_symlink("loop_b", dir.file("loop_a"));
  std::filesystem::create_symlink("loop_a", dir.file("loop_b"));
  EXPECT_FALSE(WriteWhole(dir.file("loop_a"), "x"));
  EXPECT_EQ(KindOf(dir.file("loop_a")), 'l');
}

TEST_P(AtomicFileTest, NeverReplacesAFifoFolderSocketOrDeviceNorWhatALinkPointsTo) {
  std::vector<std::string> others;
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  others.push_back("fifo");
  std::filesystem::create_directory(dir.file("folder"));
  ASSERT_TRUE(WriteFileBytes(dir.file("folder/inside"), "keep"));
  others.push_back("folder");
  const int socket_fd = BindSocketAt(dir.file("sock"));
  ASSERT_GE(socket_fd, 0);
  others.push_back("sock");
  // A private device node, the kind of /dev/null: only root may make one.
  if (mknod(dir.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
    others.push_back("null");
  }

  for (const std::string& name : others) {
    const char kind = KindOf(dir.file(name));
    const std::string link = dir.file("link-to-" + name);
    std::filesystem::create_symlink(name, link);
    EXPECT_FALSE(WriteWhole(dir.file(name), "settings")) << name;
    EXPECT_FALSE(WriteWhole(link, "settings")) << name;
    EXPECT_EQ(KindOf(dir.file(name)), kind) << name;
    EXPECT_EQ(KindOf(link), 'l') << name;
  }
  EXPECT_EQ(ReadFileBytes(dir.file("folder/inside")), "keep");
  // No temporary, passing name or stray file is left.
  EXPECT_EQ(Names(dir).size(), 2 * others.size());
  close(socket_fd);
}

TEST(AtomicFile, ALinkAnotherUserPlantedInASharedStickyFolderIsNotFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "planting another user's link needs root";
  TempDir dir;
  const std::string shared = dir.file("shared");
  std::filesystem::create_directory(shared);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  const std::string victim = dir.file("victim.txt");
  ASSERT_TRUE(WriteFileBytes(victim, "precious"));
  const std::string planted = shared + "/out.png";
  std::filesystem::create_symlink(victim, planted);
  ASSERT_EQ(lchown(planted.c_str(), 4242, 4242), 0);
  EXPECT_FALSE(WriteWhole(planted, "overwritten"));
  EXPECT_EQ(ReadFileBytes(victim), "precious");
  // Our own link there is followed as anywhere else.
  ASSERT_EQ(lchown(planted.c_str(), 0, 0), 0);
  EXPECT_TRUE(WriteWhole(planted, "ours"));
  EXPECT_EQ(ReadFileBytes(victim), "ours");
}
