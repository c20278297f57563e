// Batch runs of the console end to end: several inputs, folders, lists, the failure lines and
// the report, interruption, and the several-machines recipe.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cli/cli_documents.h"
#include "tests/cli/run_quorvix.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

// Every file below `folder` relative to it, sorted.
Lines Files(const std::string& folder) {
  Lines names;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) names.push_back(fs::relative(entry.path(), folder).string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

class Batch : public ::testing::Test {
 protected:
  void SetUp() override {
    in = dir.file("in");
    out = dir.file("out");
    fs::create_directories(in + "/sub/deeper");
    fs::create_directories(out);
    for (const char* name : {"a.psd", "b.PSB", "sub/c.psd", "sub/deeper/d.psd"}) {
      ASSERT_TRUE(WriteTestPsd(in + "/" + name));
    }
    std::ofstream(in + "/readme.txt") << "skipped";
  }

  QuorvixRun Run(const Lines& arguments) {
    return RunQuorvix(arguments, {dir.path().string(), {}, {}});
  }

  TempDir dir;
  std::string in;
  std::string out;
};

}  // namespace

TEST_F(Batch, AFolderWithItsSubfoldersKeepsTheirLayout) {
  QuorvixRun run = Run({"-i", in, "-o", out});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(Files(out), (Lines{"a.png", "b.png"}));
  EXPECT_EQ(run.Lines().back(), "Files converted: 2 of 2");

  run = Run({"-i", in, "--recursive", "-o", out, "--jobs=2"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(Files(out), (Lines{"a.png", "b.png", "sub/c.png", "sub/deeper/d.png"}));
  EXPECT_EQ(run.Lines().back(), "Files converted: 4 of 4");
  EXPECT_EQ(run.err, "");  // no progress when standard error is no terminal

  fs::remove_all(out);
  fs::create_directories(out);
  run = Run({"-i", in, "--recursive", "-o", out, "--no-subfolders", "-q"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(Files(out), (Lines{"a.png", "b.png", "c.png", "d.png"}));
  EXPECT_EQ(run.out, "");
}

TEST_F(Batch, SeveralInputsWithoutAnOutputFolderGoBesideTheirOwn) {
  const QuorvixRun run = Run({"-q", "-i", in + "/a.psd", "-i", in + "/sub/c.psd"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_TRUE(fs::exists(in + "/a.png"));
  EXPECT_TRUE(fs::exists(in + "/sub/c.png"));
}

TEST_F(Batch, FailuresAreListedWithTheirReasonsAndTheReportHasEveryInput) {
  std::ofstream(in + "/sub/broken.psd") << "8BPS and nothing sound";
  std::ofstream(in + "/sub/c2.psd") << "plain text";
  fs::create_directories(in + "/other");
  ASSERT_TRUE(WriteTestPsd(in + "/other/c.psd"));
  const std::string report = dir.file("report.jsonl");
  const QuorvixRun run = Run({"-i", in + "/sub", "-i", in + "/other", "-i", in + "/missing.psd",
                              "-o", out, "--no-subfolders", "--report=" + report});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.Lines().back(), "Files converted: 1 of 5");
  EXPECT_EQ(run.ErrorLines(),
            (Lines{in + "/sub/broken.psd: damaged document, or it cannot be read",
                   in + "/sub/c2.psd: not a Photoshop document",
                   in + "/other/c.psd: name collision: an earlier input has the same output file",
                   in + "/missing.psd: damaged document, or it cannot be read"}));
  EXPECT_EQ(Files(out), Lines{"c.png"});

  std::ifstream lines(report);
  Lines objects;
  for (std::string line; std::getline(lines, line);) objects.push_back(line);
  ASSERT_EQ(objects.size(), 5u);
  // In the order the inputs were named, a folder's documents sorted.
  EXPECT_EQ(objects[0].substr(0, objects[0].find(",\"milliseconds\":")),
            "{\"input\":\"" + in +
                "/sub/broken.psd\",\"output\":\"\",\"status\":\"failed\","
                "\"reason\":\"damaged document, or it cannot be read\"");
  EXPECT_NE(objects[1].find("\"input\":\"" + in + "/sub/c.psd\",\"output\":\"" + out +
                            "/c.png\",\"status\":\"converted\",\"reason\":\"\""),
            std::string::npos)
      << objects[1];
  EXPECT_NE(objects[4].find("\"input\":\"" + in + "/missing.psd\""), std::string::npos);
}

TEST_F(Batch, AnInputListComesFromAFileOrStandardInput) {
  std::ofstream(dir.file("list.txt")) << in << "/a.psd\r\n\n" << in << "/sub\n";
  QuorvixRun run = Run({"-q", "--input-list=" + dir.file("list.txt"), "-o", out});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(Files(out), (Lines{"a.png", "c.png"}));

  fs::remove_all(out);
  fs::create_directories(out);
  const std::string command = "find " + Quoted(in) + " -name '*.ps[db]' -o -name '*.PS[DB]' | " +
                              Quoted(QuorvixPath()) + " -q --input-list=- -o " + Quoted(out);
  run = RunQuorvix({"-c", command}, {dir.path().string(), {}, {}, false, "/bin/sh"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(Files(out), (Lines{"a.png", "b.png", "c.png", "d.png"}));

  run = Run({"--input-list=" + dir.file("none.txt"), "-o", out});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.Lines().back(), "Error: Invalid input list");
  run = Run({"-i", in, "--jobs=0", "-o", out});
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.Lines().back(), "Error: Invalid jobs value");
}

TEST_F(Batch, AnInterruptedBatchLeavesOnlyCompleteFiles) {
  // Big enough that the batch is still at work when the signal comes.
  fs::create_directories(in + "/big");
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(WriteTestPsd(in + "/big/p" + std::to_string(i) + ".psd", 2400, 1800));
  }
  TempDir runtime;
  const QuorvixRunOptions options{dir.path().string(), runtime.path().string(), {}};
  for (int signal_number : {SIGINT, SIGTERM}) {
    fs::remove_all(out);
    fs::create_directories(out);
    const int child = StartQuorvix(
        {"-q", "-i", in + "/big", "-o", out, "--jobs=2", "--png-compression=none"}, options);
    ASSERT_GT(child, 0);
    // Signalled once the batch is surely at work: its first output is there.
    for (int wait = 0; wait < 6000 && Files(out).empty(); ++wait) usleep(10000);
    kill(child, signal_number);
    int status = 0;
    waitpid(child, &status, 0);
    // The run ends by itself, reporting that it did not convert everything.
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), Files(out).size() == 6 ? 0 : 1);
    // Whatever is there is whole: each output decodes to the document's size.
    const Lines written = Files(out);
    for (const std::string& name : written) {
      EXPECT_EQ(name.find('.'), name.rfind('.')) << name;  // no temporary names
      EXPECT_EQ(name.substr(name.size() - 4), ".png");
      const QuorvixRun again =
          Run({"-q", "-i", in + "/big/" + name.substr(0, name.size() - 4) + ".psd", "-o",
               dir.folder()});
      EXPECT_EQ(again.exit_status, 0);
      // The interrupted run wrote the same bytes a full run does.
      std::ifstream a(out + "/" + name, std::ios::binary);
      std::ifstream b(dir.file(name), std::ios::binary);
      std::stringstream bytes_a, bytes_b;
      bytes_a << a.rdbuf();
      bytes_b << b.rdbuf();
      EXPECT_TRUE(bytes_a.str() == bytes_b.str()) << name;
    }
  }
}

TEST_F(Batch, GnuParallelSpreadsAListOverRuns) {
  if (std::system("command -v parallel >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "GNU parallel is not installed";
  }
  // The recipe of the README, on this machine: each run takes a chunk of the list. Runs on one
  // machine must not overlap (the single-instance lock), so one job at a time here.
  const std::string command = "find " + Quoted(in) + " -iname '*.ps[db]' | parallel -S : -j1 -X " +
                              Quoted(QuorvixPath()) + " -q -o " + Quoted(out) + " --input={}";
  const QuorvixRun run =
      RunQuorvix({"-c", command}, {dir.path().string(), {}, {}, false, "/bin/sh"});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(Files(out), (Lines{"a.png", "b.png", "c.png", "d.png"}));
}
