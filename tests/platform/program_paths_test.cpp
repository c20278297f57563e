#include <gtest/gtest.h>

#include <filesystem>

#include "platform/system.h"
#include "tests/support/temp_dir.h"

namespace {

TEST(ProgramPaths, BuildFolderKeepsEverythingBesideTheExecutable) {
  TempDir root;
  // A build's bin/ has no private helper folder beside it.
  std::filesystem::create_directories(root.path() / "bin");
  const std::string bin = root.folder() + "bin/";
  const ProgramPaths paths = ProgramPathsOf(bin);
  EXPECT_EQ(paths.helper_folder, bin);
  EXPECT_EQ(paths.data_folder, bin);
  EXPECT_EQ(paths.manual_folder, bin);

  const std::string other = root.folder() + "somewhere/";
  EXPECT_EQ(ProgramPathsOf(other).helper_folder, other);
  EXPECT_TRUE(ProgramPathsOf("").helper_folder.empty());
}

TEST(ProgramPaths, InstalledLayoutFromThePrefix) {
  TempDir root;
  std::filesystem::create_directories(root.path() / "usr/bin");
  std::filesystem::create_directories(root.path() / "usr/lib/quorvix");
  const std::string prefix = root.folder() + "usr/";
  const ProgramPaths paths = ProgramPathsOf(prefix + "bin/");
  EXPECT_EQ(paths.helper_folder, prefix + "lib/quorvix/");
  EXPECT_EQ(paths.data_folder, prefix + "share/quorvix/");
  EXPECT_EQ(paths.manual_folder, prefix + "share/doc/quorvix/");
  // A helper program (the window) started from the private folder sees the same layout.
  const ProgramPaths helper = ProgramPathsOf(prefix + "lib/quorvix/");
  EXPECT_EQ(helper.helper_folder, paths.helper_folder);
  EXPECT_EQ(helper.data_folder, paths.data_folder);
  EXPECT_EQ(helper.manual_folder, paths.manual_folder);
}

TEST(ProgramPaths, AFileNamedLikeTheHelperFolderIsNoInstall) {
  TempDir root;
  std::filesystem::create_directories(root.path() / "bin");
  std::filesystem::create_directories(root.path() / "lib");
  ASSERT_TRUE(WriteFileBytes(root.file("lib/quorvix"), "not a folder"));
  EXPECT_EQ(ProgramPathsOf(root.folder() + "bin/").helper_folder, root.folder() + "bin/");
}

TEST(ProgramPaths, TheRunningTestIsABuild) {
  // Test binaries sit in the build's bin/ with the program.
  EXPECT_EQ(RunningProgramPaths().helper_folder, ExecutableFolder());
  EXPECT_EQ(RunningProgramPaths().data_folder, ExecutableFolder());
}

}  // namespace
