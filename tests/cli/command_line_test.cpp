// The command-line run, end to end: the first-parameter modes, parse errors, the choice of the
// window run and the single-instance lock.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/instance_lock.h"
#include "tests/cli/cli_documents.h"
#include "tests/cli/run_quorvix.h"
#include "tests/support/temp_dir.h"

namespace {

using Lines = std::vector<std::string>;

// What a window run says when it finds no display: it went to the window program.
const std::string NoDisplayLine =
    "Error: No display for the window; use -i FILE to convert on the command line";

}  // namespace

TEST(VersionOption, PrintsTheVersionOnly) {
  for (const char* option : {"-v", "-V", "--version", "--VERSION"}) {
    const QuorvixRun run = RunQuorvix({option, "-i", "x.psd"});
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.out, "2.7\n") << option;
  }
}

TEST(HelpOption, PrintsTheUsageTextLineByLine) {
  const QuorvixRun run = RunQuorvix({"--help", "-p"});
  EXPECT_EQ(run.exit_status, 0);
  const Lines lines = run.Lines();
  ASSERT_EQ(lines.size(), 41u);
  EXPECT_EQ(lines[0], " ");
  EXPECT_EQ(lines[1], "Usage: quorvix -i <filename> [options]");
  EXPECT_EQ(lines[3], "  quorvix -i example.psd");
  EXPECT_EQ(lines[6], "  quorvix -i c:\\tmp\\example.psd -o d:\\converted --jpg-quality=95");
  EXPECT_EQ(lines[10], "  -h, -?, --help            Display this help and exit");
  EXPECT_EQ(lines[12], "  -i DIR, --input=DIR       Add every PSD/PSB in DIR; -i may be repeated");
  EXPECT_EQ(lines[16], "  -c STR, --conversion=STR  Set output extension, STR = (jpg | bmp | ...)");
  EXPECT_EQ(lines[31], "    ...                     Refer documentation for all available options");
  EXPECT_EQ(lines[35],
            "  --jobs=NUM                Convert NUM files at once (default: one per core)");
  EXPECT_EQ(lines[40], "  -v, --version             Display version information and exit");
  // The help never pauses: the pause option after it is not read.
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Press any key to exit."), 0);
  EXPECT_EQ(RunQuorvix({"-?"}).out, run.out);
  EXPECT_EQ(RunQuorvix({"-H"}).out, run.out);
}

TEST(ParseErrors, PrintOneLineAndExitWithTwo) {
  TempDir dir;
  for (const Lines& arguments :
       {Lines{"-i"}, Lines{"-i", "-o", "d"}, Lines{"--INPUT"}, Lines{"-i", "a.psd", "--WIDTH"},
        Lines{"-o", "x", "-c"}, Lines{"-q", "-i"}}) {
    const QuorvixRun run = RunQuorvix(arguments);
    EXPECT_EQ(run.exit_status, 2) << arguments[0];
    EXPECT_EQ(run.Lines(), Lines{"Error: Incorrect number of parameters"}) << arguments[0];
  }
  const QuorvixRun profile = RunQuorvix({"-i", "a.psd", "--profile=" + dir.file("none.ini")});
  EXPECT_EQ(profile.exit_status, 2);
  EXPECT_EQ(profile.Lines(), Lines{"Error: Invalid profile file"});
  // After a parse error the pause waits without a prompt.
  EXPECT_EQ(RunQuorvix({"-p", "-i"}).Lines(), Lines{"Error: Incorrect number of parameters"});
}

TEST(WindowRun, FollowsWhenThereIsNoConsoleWork) {
  if (!QUORVIX_WITH_WINDOW) GTEST_SKIP() << "built without the window program";
  for (const Lines& arguments : {Lines{}, Lines{"file.psd"}, Lines{"-o", "out"}, Lines{"-q", "-v"},
                                 Lines{"--width=5", "-i=a.psd"}}) {
    // Without a display the window program ends at once instead of opening a window.
    QuorvixRunOptions options;
    options.environment = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}};
    const QuorvixRun run = RunQuorvix(arguments, options);
    EXPECT_EQ(run.exit_status, 4);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.ErrorLines(), Lines{NoDisplayLine});
  }
}

TEST(FirstParameterModes, ScreenshotAndUninstallNeedADisplay) {
  // They are no console work, "-i" after "-U" included: without a display the window program
  // says so in one line.
  if (!QUORVIX_WITH_WINDOW) GTEST_SKIP() << "built without the window program";
  for (const Lines& arguments : {Lines{"-T", "/tmp"}, Lines{"-u"}, Lines{"-U", "-i", "x.psd"}}) {
    QuorvixRunOptions options;
    options.environment = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}};
    const QuorvixRun run = RunQuorvix(arguments, options);
    EXPECT_EQ(run.exit_status, 4);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.ErrorLines(), Lines{"Error: No display to show the window on"});
  }
  // Later on the command line these are plain unknown options.
  EXPECT_EQ(RunQuorvix({"-i", "x", "-T"}).Lines().back(), "Error: Invalid input file");
}

TEST(SingleInstance, RefusesASecondCopyWhileTheFirstHoldsTheLock) {
  TempDir runtime;
  TempDir work;
  const std::string input = work.file("in.psd");
  ASSERT_TRUE(WriteTestPsd(input));
  const QuorvixRunOptions shared{{}, runtime.path().string(), {}};

  // Stand in for the first copy: take the lock of the same title in the same runtime folder.
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string saved_value = saved ? saved : "";
  setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  InstanceLock first;
  const bool held = first.Acquire("Quorvix 2.7") == LockResult::Acquired;
  if (saved)
    setenv("XDG_RUNTIME_DIR", saved_value.c_str(), 1);
  else
    unsetenv("XDG_RUNTIME_DIR");
  ASSERT_TRUE(held);

  const QuorvixRun convert = RunQuorvix({"-i", input, "-o", work.folder()}, shared);
  EXPECT_EQ(convert.exit_status, 3);
  EXPECT_EQ(convert.out, "");
  EXPECT_EQ(convert.ErrorLines(), Lines{"Error: Another copy of Quorvix 2.7 is running"});
  EXPECT_FALSE(std::filesystem::exists(work.file("in.png")));

  for (const Lines& arguments : {Lines{"--help"}, Lines{"-i"}}) {
    const QuorvixRun run = RunQuorvix(arguments, shared);
    EXPECT_EQ(run.exit_status, 3);
    EXPECT_EQ(run.out, "");
  }
  // A window run is refused without a word.
  const QuorvixRun window = RunQuorvix({}, shared);
  EXPECT_EQ(window.exit_status, 0);
  EXPECT_EQ(window.out, "");
  EXPECT_EQ(window.err, "");

  // Once the first copy is gone the next one runs.
  first.Release();
  const QuorvixRun later = RunQuorvix({"-q", "-i", input, "-o", work.folder()}, shared);
  EXPECT_EQ(later.exit_status, 0) << later.err;
  EXPECT_TRUE(std::filesystem::exists(work.file("in.png")));
}

TEST(SingleInstance, AnotherVersionHasALockOfItsOwn) {
  TempDir runtime;
  setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  InstanceLock first;
  InstanceLock same;
  InstanceLock other;
  EXPECT_EQ(first.Acquire("Quorvix 2.7"), LockResult::Acquired);
  EXPECT_EQ(same.Acquire("Quorvix 2.7"), LockResult::HeldElsewhere);
  EXPECT_EQ(other.Acquire("Quorvix 2.8"), LockResult::Acquired);
  EXPECT_TRUE(std::filesystem::exists(runtime.path() / "Quorvix_2.7.lock"));
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(InstanceLockName("a/../b"), "a_.._b.lock");
  EXPECT_EQ(SharedLockFolder(), "/tmp/quorvix-" + std::to_string(getuid()));
}

TEST(SingleInstance, OnlyARunningCopyRefusesARun) {
  TempDir work;
  const std::string input = work.file("in.psd");
  ASSERT_TRUE(WriteTestPsd(input));
  // No runtime folder, or a folder in the lock file's place: the run goes ahead.
  TempDir runtime;
  std::filesystem::create_directory(runtime.path() / "Quorvix_2.7.lock");
  for (const std::string& folder : {work.file("missing"), runtime.path().string()}) {
    const QuorvixRun run = RunQuorvix({"-q", "-i", input, "-o", work.folder()}, {{}, folder, {}});
    EXPECT_EQ(run.exit_status, 0) << folder << run.err;
    EXPECT_EQ(run.err, "");
  }
}

TEST(SingleInstance, TheSharedFolderIsUsedOnlyWhenItIsOurOwn) {
  // A folder of /tmp is used only when it is this user's own and closed to others; a planted one
  // neither blocks the run nor gets our lock.
  TempDir tmp;
  const std::string shared = tmp.file("quorvix-uid");
  SetSharedLockFolderForTesting(shared);
  unsetenv("XDG_RUNTIME_DIR");
  ASSERT_EQ(mkdir(shared.c_str(), 0700), 0);
  ASSERT_EQ(chmod(shared.c_str(), 0777), 0);
  InstanceLock lock;
  EXPECT_EQ(lock.Acquire("Quorvix 2.7"), LockResult::Unavailable);
  EXPECT_FALSE(std::filesystem::exists(shared + "/Quorvix_2.7.lock"));
  ASSERT_EQ(rmdir(shared.c_str()), 0);
  // A link in the folder's place is not followed.
  std::filesystem::create_directory_symlink(tmp.folder(), shared);
  EXPECT_EQ(lock.Acquire("Quorvix 2.7"), LockResult::Unavailable);
  std::filesystem::remove(shared);
  // Missing, it is made 0700 and used.
  InstanceLock second;
  EXPECT_EQ(lock.Acquire("Quorvix 2.7"), LockResult::Acquired);
  EXPECT_EQ(std::filesystem::status(shared).permissions(), std::filesystem::perms::owner_all);
  EXPECT_EQ(second.Acquire("Quorvix 2.7"), LockResult::HeldElsewhere);
  SetSharedLockFolderForTesting("");
}
