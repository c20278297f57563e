#include "core/conversion_job.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/output/formats.h"
#include "tests/core/documents.h"

using AddInputFileTest = JobTest;
using ResetJobTest = JobTest;
using PrepareJobTest = JobTest;

TEST_F(AddInputFileTest, AcceptsADocumentWhateverTheCaseOfItsExtension) {
  const std::string path = dir.file("Picture.PSD");
  ASSERT_TRUE(WriteFileBytes(path, "not empty"));
  EXPECT_TRUE(AddInputFile(path));
  ASSERT_EQ(g_input_files.Size(), 1u);
  const InputFileEntry* entry = g_input_files.Find(path);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->added, 1);
  EXPECT_EQ(entry->subfolder, "");
}

TEST_F(AddInputFileTest, RefusedFilesLeaveTheListAsItWas) {
  const std::string kept = dir.file("kept.psd");
  ASSERT_TRUE(WriteFileBytes(kept, "x"));
  ASSERT_TRUE(AddInputFile(kept));

  const std::string empty = dir.file("empty.psd");
  const std::string large = dir.file("large.psb");
  const std::string bare = dir.file("noextension");
  ASSERT_TRUE(WriteFileBytes(empty, ""));
  ASSERT_TRUE(WriteFileBytes(large, "x"));
  ASSERT_TRUE(WriteFileBytes(bare, "x"));
  for (const std::string& path : {empty, large, bare}) {
    EXPECT_FALSE(AddInputFile(path)) << path;
  }
  ASSERT_EQ(g_input_files.Size(), 1u);
  EXPECT_NE(g_input_files.Find(kept), nullptr);
}

TEST_F(AddInputFileTest, EachAcceptedFileReplacesTheList) {
  const std::string first = dir.file("first.psd");
  const std::string second = dir.file("second.psd");
  ASSERT_TRUE(WriteFileBytes(first, "x"));
  ASSERT_TRUE(WriteFileBytes(second, "x"));
  ASSERT_TRUE(AddInputFile(first));
  ASSERT_TRUE(AddInputFile(second));
  ASSERT_EQ(g_input_files.Size(), 1u);
  EXPECT_NE(g_input_files.Find(second), nullptr);
}

TEST_F(AddInputFileTest, MissingFileReportsNoSizeAndIsAccepted) {
  // The size test only refuses files that exist and are empty; loading decides the rest.
  EXPECT_TRUE(AddInputFile(dir.file("missing.psd")));
}

TEST_F(AddInputFileTest, SubfolderIsRelativeToTheBaseInputFolder) {
  std::filesystem::create_directories(dir.path() / "base" / "a" / "b");
  const std::string path = dir.file("base/a/b/x.psd");
  ASSERT_TRUE(WriteFileBytes(path, "x"));

  g_job.base_input_folder = dir.folder() + "base/";
  ASSERT_TRUE(AddInputFile(path));
  EXPECT_EQ(g_input_files.Find(path)->subfolder, "a/b/");

  g_job.base_input_folder = "/elsewhere/";
  ASSERT_TRUE(AddInputFile(path));
  EXPECT_EQ(g_input_files.Find(path)->subfolder, "");

  g_job.base_input_folder.clear();
  ASSERT_TRUE(AddInputFile(path));
  EXPECT_EQ(g_input_files.Find(path)->subfolder, "");
}

TEST_F(AddInputFileTest, WindowHookRunsOnlyOutsideAConsoleRun) {
  std::vector<std::string> seen;
  SetInputFileAddedHook([&](const std::string& path) { seen.push_back(path); });
  const std::string path = dir.file("x.psd");
  ASSERT_TRUE(WriteFileBytes(path, "x"));

  g_job.console_run = 1;
  ASSERT_TRUE(AddInputFile(path));
  EXPECT_TRUE(seen.empty());

  g_job.console_run = 0;
  ASSERT_TRUE(AddInputFile(path));
  EXPECT_FALSE(AddInputFile(dir.file("x.png")));
  EXPECT_EQ(seen, std::vector<std::string>{path});
}

TEST_F(ResetJobTest, EmptiesTheJobAndRestartsTheSequence) {
  g_job.output_format = "png";
  g_job.base_input_folder = "/in/";
  g_job.input_path = "/in/a.psd";
  g_job.output_path = "/out/a.png";
  g_job.target_bpp = 24;
  g_job.save_flags = 9;
  g_job.sequence_number = 40;
  g_input_files.Set("/in/a.psd", InputFileEntry{1, ""});
  g_accepted_input_extensions.clear();

  ResetJob();
  EXPECT_TRUE(g_job.output_folder.empty());
  EXPECT_TRUE(g_job.output_format.empty());
  EXPECT_TRUE(g_job.base_input_folder.empty());
  EXPECT_TRUE(g_job.input_path.empty());
  EXPECT_TRUE(g_job.output_path.empty());
  EXPECT_EQ(g_job.target_bpp, 0);
  EXPECT_EQ(g_job.save_flags, 0);
  EXPECT_EQ(g_job.console_run, 0);
  EXPECT_EQ(g_job.sequence_number, 1);
  EXPECT_GE(g_job.random_number, 1);
  EXPECT_LE(g_job.random_number, 99999);
  EXPECT_TRUE(g_input_files.Empty());
  EXPECT_EQ(g_accepted_input_extensions, std::vector<std::string>{"psd"});
}

TEST_F(PrepareJobTest, FillsTheRunFieldsFromTheSettings) {
  EXPECT_EQ(g_job.output_format, "png");
  EXPECT_EQ(g_job.output_fif, 13);
  EXPECT_EQ(g_job.target_bpp, 0);
  EXPECT_EQ(g_job.auto_bpp, 1);
  EXPECT_EQ(g_job.save_flags, 0x100);

  ProgramSettings settings = g_settings;
  settings.output.png_bpp = 24;
  settings.output.png_compression = 3;
  settings.output.png_interlaced = 1;
  ConversionJob job;
  job.output_folder = "/out";
  ASSERT_TRUE(PrepareJob(job, settings));
  EXPECT_EQ(job.target_bpp, 24);
  EXPECT_EQ(job.auto_bpp, 0);
  EXPECT_EQ(job.save_flags, 9 + 0x200);
  EXPECT_EQ(job.output_folder, "/out/");
}

TEST_F(PrepareJobTest, UnknownOutputKeyFails) {
  ProgramSettings settings = g_settings;
  settings.output.format = "nope";
  ConversionJob job;
  EXPECT_FALSE(PrepareJob(job, settings));
}
