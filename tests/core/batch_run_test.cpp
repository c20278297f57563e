// A run over many files: filling the list from folders and lists, planning outputs and their
// collisions, and several workers giving what one gives.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/input_sources.h"
#include "core/output_plan.h"
#include "engine/isolation/decoder_protocol.h"
#include "engine/isolation/isolated_decode.h"
#include "engine/output/formats.h"
#include "tests/core/documents.h"
#include "tests/support/image_bitmaps.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::pair<std::string, std::string>> Entries(const InputFileList& inputs,
                                                         const std::string& base) {
  std::vector<std::pair<std::string, std::string>> entries;
  for (const auto& [path, entry] : inputs) {
    entries.emplace_back(path.substr(base.size()), entry.subfolder);
  }
  return entries;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Every file below `folder` by its path relative to it, with its bytes.
std::map<std::string, std::string> Tree(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) {
      files[fs::relative(entry.path(), folder).string()] = ReadAll(entry.path().string());
    }
  }
  return files;
}

class InputFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RebuildAcceptedExtensions();
    base = dir.folder() + "in";
    fs::create_directories(base + "/b/deeper");
    fs::create_directories(base + "/a");
    for (const char* name : {"z.psd", "B.PSD", "a/x.psb", "b/deeper/y.Psd", "b/y.psd"}) {
      ASSERT_FALSE(WriteDocument(base + "/" + name, PsdMode::Rgb, 8, 3).empty());
    }
    std::ofstream(base + "/notes.txt") << "not a document";
    std::ofstream(base + "/a/picture.png") << "not a document either";
  }

  TempDir dir;
  std::string base;
};

}  // namespace

TEST_F(InputFolderTest, TakesTheDocumentsOfTheFolderOnlyInByteOrder) {
  InputFileList inputs;
  EXPECT_EQ(AppendInputFolder(inputs, base, false), 2);
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(Entries(inputs, base), (Pairs{{"/B.PSD", ""}, {"/z.psd", ""}}));
}

TEST_F(InputFolderTest, RecursionGivesEachDocumentItsSubfolderAndSkipsLinkedFolders) {
  // A link back up would loop forever if it were followed.
  fs::create_directory_symlink(base, base + "/b/loop");
  InputFileList inputs;
  EXPECT_EQ(AppendInputFolder(inputs, base + "/", true), 5);
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(Entries(inputs, base), (Pairs{{"/B.PSD", ""},
                                          {"/a/x.psb", "a/"},
                                          {"/b/deeper/y.Psd", "b/deeper/"},
                                          {"/b/y.psd", "b/"},
                                          {"/z.psd", ""}}));
  // In the order of adding, numbered as added; a folder added again keeps the places.
  int32_t expected = 1;
  for (const auto& [path, entry] : inputs) EXPECT_EQ(entry.added, expected++) << path;
  EXPECT_EQ(AppendInputFolder(inputs, base, true), 5);
  EXPECT_EQ(inputs.Size(), 5u);
}

TEST_F(InputFolderTest, AMissingFolderAndListsAreReadAsTheUserWroteThem) {
  InputFileList inputs;
  EXPECT_EQ(AppendInputFolder(inputs, base + "/none", true), -1);
  EXPECT_TRUE(inputs.Empty());
  EXPECT_TRUE(AppendInputFile(inputs, base + "/a/x.psb"));
  EXPECT_FALSE(AppendInputFile(inputs, base + "/notes.txt"));
  EXPECT_EQ(inputs.Size(), 1u);

  std::istringstream list("one.psd\r\n\n  two words.psd\nlast.psb");
  EXPECT_EQ(ReadInputList(list),
            (std::vector<std::string>{"one.psd", "  two words.psd", "last.psb"}));
  EXPECT_TRUE(IsDocumentPath("x.PSB"));
  EXPECT_FALSE(IsDocumentPath("psd"));
}

TEST(OutputPlan, CollisionsAreFoundBeforeTheRunAndTheFirstKeepsTheName) {
  RunRequest request;
  ResetSettings(request.settings, true);
  request.job.output_folder = "/out/";
  request.job.output_format = "png";
  request.inputs.Set("/in/a/x.psd", {1, "a/"});
  request.inputs.Set("/in/b/x.psd", {2, "b/"});
  request.inputs.Set("/in/x.psd", {3, ""});

  EXPECT_EQ(PlanOutputPaths(request),
            (std::vector<std::string>{"/out/a/x.png", "/out/b/x.png", "/out/x.png"}));
  EXPECT_EQ(FindCollisions(PlanOutputPaths(request)),
            (std::vector<FileFailure>(3, FileFailure::None)));

  request.settings.advanced.keep_subfolders = 0;
  EXPECT_EQ(FindCollisions(PlanOutputPaths(request)),
            (std::vector<FileFailure>{FileFailure::None, FileFailure::NameCollision,
                                      FileFailure::NameCollision}));

  // Beside their inputs the subfolders mean nothing: each goes to its own folder.
  request.placement = OutputPlacement::BesideInput;
  request.settings.advanced.keep_subfolders = 1;
  EXPECT_EQ(PlanOutputPaths(request),
            (std::vector<std::string>{"/in/a/x.png", "/in/b/x.png", "/in/x.png"}));

  // A name that reads the picture or the run's numbers is known only once the file is done.
  request.settings.advanced.filename_mask = "%filename%-%n%.%ext%";
  EXPECT_EQ(PlanOutputPaths(request), (std::vector<std::string>(3)));
  EXPECT_TRUE(NeedsOrderedNaming(request.settings));
  request.settings.advanced.filename_mask = "%FILENAME[u]%.%ext%";
  EXPECT_FALSE(NeedsOrderedNaming(request.settings));
  request.settings.watermark.do_watermark = ToValue(WatermarkType::Text);
  request.settings.watermark.text = "No. %N%";
  EXPECT_TRUE(NeedsOrderedNaming(request.settings));
}

using BatchRunTest = JobTest;

TEST_F(BatchRunTest, TwoWorkersGiveTheNamesAndBytesOfOne) {
  RebuildAcceptedExtensions();
  const std::string in = dir.folder() + "in/";
  fs::create_directories(in + "sub");
  for (int i = 0; i < 7; ++i) {
    const std::string name = (i % 2 ? "sub/" : "") + std::string("d") + std::to_string(i) + ".psd";
    ASSERT_FALSE(WriteDocument(in + name, i % 3 ? PsdMode::Rgb : PsdMode::Greyscale, 8,
                               i % 3 ? 4 : 1, 5 + i, 4 + i)
                     .empty());
  }
  // A damaged document among good ones is not numbered; the files after it still are.
  std::ofstream(in + "sub/d3.psd", std::ios::trunc) << "8BPS broken";
  settings.advanced.filename_mask = "%filename%-%n%.%ext%";
  job.sequence_number = 10;

  std::map<std::string, std::string> trees[2];
  for (int jobs : {1, 2}) {
    const std::string out = dir.folder() + "out" + std::to_string(jobs) + "/";
    fs::create_directories(out);
    RunRequest request = Request();
    request.job.output_folder = out;
    ASSERT_EQ(AppendInputFolder(request.inputs, in, true), 7) << jobs;
    request.jobs = jobs;
    const std::unique_ptr<ConversionRun> run = StartConversion(request);
    ASSERT_TRUE(run);
    EXPECT_EQ(run->Wait(), 6);
    EXPECT_EQ(run->Job().sequence_number, 16);
    const std::vector<FileResult>& results = run->Results();
    ASSERT_EQ(results.size(), 7u);
    EXPECT_EQ(results[5].input, in + "sub/d3.psd");
    EXPECT_EQ(results[5].failure, FileFailure::LoadFailed);
    EXPECT_EQ(run->Progress().finished, 7);
    trees[jobs - 1] = Tree(out);
  }
  std::vector<std::string> names;
  for (const auto& [name, bytes] : trees[0]) names.push_back(name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"d0-00010.png", "d2-00011.png", "d4-00012.png",
                                      "d6-00013.png", "sub/d1-00014.png", "sub/d5-00015.png"}));
  EXPECT_EQ(trees[0], trees[1]);
}

TEST_F(BatchRunTest, ACollisionIsReportedAndNeverOverwritesWhatTheRunWrote) {
  RebuildAcceptedExtensions();
  const std::string in = dir.folder() + "in/";
  fs::create_directories(in + "a");
  fs::create_directories(in + "b");
  ASSERT_FALSE(WriteDocument(in + "a/x.psd", PsdMode::Rgb, 8, 3, 5, 4).empty());
  ASSERT_FALSE(WriteDocument(in + "b/x.psd", PsdMode::Rgb, 8, 3, 7, 6).empty());
  const std::string out = dir.folder() + "out/";
  fs::create_directories(out);
  for (const char* mask : {"%filename%.%ext%", "%filename%-%width%.%ext%", "x.%ext%"}) {
    fs::remove_all(out);
    fs::create_directories(out);
    settings.advanced.keep_subfolders = 0;
    settings.advanced.filename_mask = mask;
    RunRequest request = Request();
    request.job.output_folder = out;
    ASSERT_EQ(AppendInputFolder(request.inputs, in, true), 2);
    request.jobs = 2;
    const std::unique_ptr<ConversionRun> run = StartConversion(request);
    const int32_t converted = run->Wait();
    const std::vector<FileResult>& results = run->Results();
    if (std::string(mask).find("width") != std::string::npos) {
      // Different sizes, different names: no collision.
      EXPECT_EQ(converted, 2) << mask;
      continue;
    }
    EXPECT_EQ(converted, 1) << mask;
    EXPECT_TRUE(results[0].converted) << mask;
    EXPECT_EQ(results[1].failure, FileFailure::NameCollision) << mask;
    EXPECT_EQ(results[1].output_path, results[0].output_path) << mask;
    // The first input's picture is what the output holds.
    const Bitmap kept = Bitmap(FreeImage_Load(FIF_PNG, results[0].output_path.c_str(), 0));
    ASSERT_TRUE(kept);
    EXPECT_EQ(FreeImage_GetWidth(kept.get()), 5u) << mask;
  }
}

TEST_F(BatchRunTest, SubfoldersAreMadeBelowTheOutputFolderAndFailuresHaveTheirReasons) {
  RebuildAcceptedExtensions();
  const std::string in = dir.folder() + "in/";
  fs::create_directories(in + "deep/er");
  ASSERT_FALSE(WriteDocument(in + "deep/er/x.psd", PsdMode::Rgb, 8, 3).empty());
  std::ofstream(in + "fake.psd") << "just text";
  const std::string out = dir.folder() + "out/";
  fs::create_directories(out + "locked");
  RunRequest request = Request();
  request.job.output_folder = out;
  ASSERT_EQ(AppendInputFolder(request.inputs, in, true), 2);
  const std::unique_ptr<ConversionRun> run = StartConversion(request);
  EXPECT_EQ(run->Wait(), 1);
  EXPECT_TRUE(fs::is_regular_file(out + "deep/er/x.png"));
  EXPECT_EQ(run->Results()[1].failure, FileFailure::NotDocument);

  if (geteuid() != 0) {
    fs::permissions(out + "locked", fs::perms::owner_read | fs::perms::owner_exec);
    RunRequest locked = Request();
    locked.job.output_folder = out + "locked/";
    ASSERT_TRUE(AppendInputFile(locked.inputs, in + "deep/er/x.psd", "deep/"));
    const std::unique_ptr<ConversionRun> refused = StartConversion(locked);
    EXPECT_EQ(refused->Wait(), 0);
    EXPECT_EQ(refused->Results()[0].failure, FileFailure::OutputNotWritable);
    fs::permissions(out + "locked", fs::perms::owner_all);
  }
  for (FileFailure failure :
       {FileFailure::LoadFailed, FileFailure::NotDocument, FileFailure::TooLarge,
        FileFailure::OutputNotWritable, FileFailure::NameCollision, FileFailure::NotReached}) {
    EXPECT_FALSE(FailureTextKey(failure).empty());
  }
}

TEST_F(BatchRunTest, AFileThatBreaksItsWorkersDecoderFailsAloneAndTheFilesAfterItConvert) {
  RebuildAcceptedExtensions();
  const std::string in = dir.folder() + "in/";
  fs::create_directories(in);
  // The same document under every name: the decoder misbehaves on the names that say how
  // (tests/fake_decoder), and decodes the others as the real one does.
  const std::vector<std::string> names = {
      "a.psd",         "b-crash.psd", "c.psd", "d-hang.psd",  "e.psd",
      "f-garbage.psd", "g-leak.psd",  "h.psd", "i-fails.psd", "j.psd"};
  for (const std::string& name : names) {
    ASSERT_FALSE(WriteDocument(in + name, PsdMode::Rgb, 8, 4, 9, 7).empty());
  }
  const std::string folder = std::string(QUORVIX_FAKE_DECODERS_DIR) + "/serving";
  ASSERT_TRUE(fs::is_regular_file(folder + "/" + PsdDecoderName)) << folder;

  std::map<std::string, std::string> trees[3];
  for (int jobs : {0, 1, 2}) {
    // The real decoder first, for the bytes the good files must have.
    SetPsdDecoderFolder(jobs == 0 ? "" : folder);
    SetDecodeTimeLimitForTesting(std::chrono::milliseconds(jobs == 0 ? 0 : 1500));
    const std::string out = dir.folder() + "out" + std::to_string(jobs) + "/";
    fs::create_directories(out);
    RunRequest request = Request();
    request.job.output_folder = out;
    ASSERT_EQ(AppendInputFolder(request.inputs, in, false), 10);
    request.jobs = std::max(jobs, 1);
    const std::unique_ptr<ConversionRun> run = StartConversion(request);
    ASSERT_TRUE(run);
    const int32_t converted = run->Wait();
    trees[jobs] = Tree(out);
    if (jobs == 0) {
      EXPECT_EQ(converted, 10);
      continue;
    }
    EXPECT_EQ(converted, 6) << jobs;
    const std::vector<FileResult>& results = run->Results();
    for (size_t i = 0; i < names.size(); ++i) {
      const bool broken = names[i].find('-') != std::string::npos && names[i] != "g-leak.psd";
      EXPECT_EQ(results[i].converted, !broken) << names[i] << " with " << jobs;
      if (broken) {
        EXPECT_EQ(results[i].failure, FileFailure::LoadFailed) << names[i];
      }
    }
  }
  SetPsdDecoderFolder("");
  SetDecodeTimeLimitForTesting(std::chrono::milliseconds(0));
  // What the good files gave is what the real decoder gives them.
  for (int jobs : {1, 2}) {
    EXPECT_EQ(trees[jobs].size(), 6u) << jobs;
    for (const auto& [name, bytes] : trees[jobs]) {
      EXPECT_EQ(bytes, trees[0][name]) << name << " with " << jobs;
    }
  }
}
