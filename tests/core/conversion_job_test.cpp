#include "core/conversion_job.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/output/formats.h"
#include "engine/output/png_encoder.h"
#include "tests/core/documents.h"

using AddInputFileTest = JobTest;
using ResetJobTest = JobTest;
using PrepareJobTest = JobTest;

TEST_F(AddInputFileTest, AcceptsADocumentWhateverTheCaseOfItsExtension) {
  const std::string path = dir.file("Picture.PSD");
  ASSERT_TRUE(WriteFileBytes(path, "not empty"));
  EXPECT_TRUE(AddInputFile(inputs, path, job.base_input_folder));
  ASSERT_EQ(inputs.Size(), 1u);
  const InputFileEntry* entry = inputs.Find(path);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->added, 1);
  EXPECT_EQ(entry->subfolder, "");
}

TEST_F(AddInputFileTest, RefusedFilesLeaveTheListAsItWas) {
  const std::string kept = dir.file("kept.psd");
  ASSERT_TRUE(WriteFileBytes(kept, "x"));
  ASSERT_TRUE(AddInputFile(inputs, kept, job.base_input_folder));

  const std::string empty = dir.file("empty.psd");
  const std::string large = dir.file("large.tif");
  const std::string bare = dir.file("noextension");
  ASSERT_TRUE(WriteFileBytes(empty, ""));
  ASSERT_TRUE(WriteFileBytes(large, "x"));
  ASSERT_TRUE(WriteFileBytes(bare, "x"));
  for (const std::string& path : {empty, large, bare}) {
    EXPECT_FALSE(AddInputFile(inputs, path, job.base_input_folder)) << path;
  }
  ASSERT_EQ(inputs.Size(), 1u);
  EXPECT_NE(inputs.Find(kept), nullptr);
  // The large document format is a document like any other.
  const std::string big = dir.file("big.PSB");
  ASSERT_TRUE(WriteFileBytes(big, "x"));
  EXPECT_TRUE(AddInputFile(inputs, big, job.base_input_folder));
}

TEST_F(AddInputFileTest, EachAcceptedFileReplacesTheList) {
  const std::string first = dir.file("first.psd");
  const std::string second = dir.file("second.psd");
  ASSERT_TRUE(WriteFileBytes(first, "x"));
  ASSERT_TRUE(WriteFileBytes(second, "x"));
  ASSERT_TRUE(AddInputFile(inputs, first, job.base_input_folder));
  ASSERT_TRUE(AddInputFile(inputs, second, job.base_input_folder));
  ASSERT_EQ(inputs.Size(), 1u);
  EXPECT_NE(inputs.Find(second), nullptr);
}

TEST_F(AddInputFileTest, MissingFileReportsNoSizeAndIsAccepted) {
  // The size test only refuses files that exist and are empty; loading decides the rest.
  EXPECT_TRUE(AddInputFile(inputs, dir.file("missing.psd"), ""));
}

TEST_F(AddInputFileTest, SubfolderIsRelativeToTheBaseInputFolder) {
  std::filesystem::create_directories(dir.path() / "base" / "a" / "b");
  const std::string path = dir.file("base/a/b/x.psd");
  ASSERT_TRUE(WriteFileBytes(path, "x"));

  job.base_input_folder = dir.folder() + "base/";
  ASSERT_TRUE(AddInputFile(inputs, path, job.base_input_folder));
  EXPECT_EQ(inputs.Find(path)->subfolder, "a/b/");

  job.base_input_folder = "/elsewhere/";
  ASSERT_TRUE(AddInputFile(inputs, path, job.base_input_folder));
  EXPECT_EQ(inputs.Find(path)->subfolder, "");

  job.base_input_folder.clear();
  ASSERT_TRUE(AddInputFile(inputs, path, job.base_input_folder));
  EXPECT_EQ(inputs.Find(path)->subfolder, "");
}

TEST_F(ResetJobTest, EmptiesTheJobAndRestartsTheSequence) {
  job.output_format = "png";
  job.base_input_folder = "/in/";
  job.input_path = "/in/a.psd";
  job.output_path = "/out/a.png";
  job.target_bpp = 24;
  job.save_flags = 9;
  job.sequence_number = 40;
  g_accepted_input_extensions.clear();

  ResetJob(job);
  EXPECT_TRUE(job.output_folder.empty());
  EXPECT_TRUE(job.output_format.empty());
  EXPECT_TRUE(job.base_input_folder.empty());
  EXPECT_TRUE(job.input_path.empty());
  EXPECT_TRUE(job.output_path.empty());
  EXPECT_EQ(job.target_bpp, 0);
  EXPECT_EQ(job.save_flags, 0);
  EXPECT_EQ(job.console_run, 0);
  EXPECT_EQ(job.sequence_number, 1);
  EXPECT_GE(job.random_number, 1);
  EXPECT_LE(job.random_number, 99999);
  EXPECT_EQ(g_accepted_input_extensions, (std::vector<std::string>{"psd", "psb"}));
}

TEST_F(PrepareJobTest, FillsTheRunFieldsFromTheSettings) {
  EXPECT_EQ(job.output_format, "png");
  EXPECT_EQ(job.output_fif, 13);
  EXPECT_EQ(job.target_bpp, 0);
  EXPECT_EQ(job.auto_bpp, 1);
  // Unless the document's profile is kept, every PNG says its pixels are sRGB.
  EXPECT_EQ(job.save_flags, 0x100 | PngSrgbChunk);

  ProgramSettings deep = settings;
  deep.output.png_bpp = 24;
  deep.output.png_compression = 3;
  deep.output.png_interlaced = 1;
  ConversionJob other;
  other.output_folder = "/out";
  ASSERT_TRUE(PrepareJob(other, deep));
  EXPECT_EQ(other.target_bpp, 24);
  EXPECT_EQ(other.auto_bpp, 0);
  EXPECT_EQ(other.save_flags, (9 + 0x200) | PngSrgbChunk);
  EXPECT_EQ(other.output_folder, "/out/");
}

TEST_F(PrepareJobTest, UnknownOutputKeyFails) {
  ProgramSettings unknown = settings;
  unknown.output.format = "nope";
  ConversionJob other;
  EXPECT_FALSE(PrepareJob(other, unknown));
}
