// The console run, end to end: each check's line and exit status, the report in its modes, and
// where the output lands.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "tests/cli/cli_documents.h"
#include "tests/cli/run_quorvix.h"
#include "tests/support/temp_dir.h"

namespace {

using Lines = std::vector<std::string>;

const Lines Banner = {"Quorvix 2.7", "(c) 2024-2026 Halvane", "https://halvane.example/tarnex/",
                      " "};

class ConsoleRun : public ::testing::Test {
 protected:
  void SetUp() override {
    input = dir.file("in.psd");
    ASSERT_TRUE(WriteTestPsd(input));
    std::filesystem::create_directory(dir.file("out"));
    output = dir.file("out");
  }

  // Runs with the input and output given, in the temporary folder, plus `extra` options.
  QuorvixRun Run(Lines extra) {
    Lines arguments = {"-i", input, "-o", output};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return RunQuorvix(arguments, {dir.path().string(), {}, {}});
  }

  // The run must stop with exactly `error` after the start of the report, writing nothing.
  void ExpectStopsWith(const Lines& extra, const std::string& error) {
    const QuorvixRun run = Run(extra);
    EXPECT_EQ(run.exit_status, 1) << error;
    ASSERT_FALSE(run.Lines().empty());
    EXPECT_EQ(run.Lines().back(), error);
    EXPECT_FALSE(std::filesystem::exists(dir.file("out/in.png"))) << error;
  }

  TempDir dir;
  std::string input;
  std::string output;
};

}  // namespace

TEST_F(ConsoleRun, ConvertsAndReports) {
  const QuorvixRun run = Run({});
  EXPECT_EQ(run.exit_status, 0) << run.err;
  Lines expected = Banner;
  expected.insert(expected.end(),
                  {"Preparing...", "Importing...", "Import complete, new files added: 1",
                   "Converting...", "Conversion complete", "Files converted: 1 of 1"});
  EXPECT_EQ(run.Lines(), expected);
  EXPECT_EQ(run.err, "");
  EXPECT_GT(std::filesystem::file_size(dir.file("out/in.png")), 0u);
}

TEST_F(ConsoleRun, QuietSuccessPrintsNothing) {
  const QuorvixRun run = Run({"-q"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(std::filesystem::exists(dir.file("out/in.png")));
}

TEST_F(ConsoleRun, DebugReportsEverySettingInOrder) {
  const QuorvixRun run = Run({"--debug"});
  EXPECT_EQ(run.exit_status, 0);
  Lines expected = Banner;
  expected.insert(expected.end(), {"Preparing...",
                                   "Input: " + input,
                                   "Output: " + output,
                                   "Conversion: png",
                                   "Rebuild From Layers: 0",
                                   "PNG BPP: 0",
                                   "PNG Compression: none",
                                   "PNG Interlaced: 0",
                                   "Keep ICC Profile: 0",
                                   "Flip Horizontal: 0",
                                   "Flip Vertical: 0",
                                   "Greyscale: 0",
                                   "Frame: none",
                                   "Watermark: none",
                                   "Filename Mask: %filename%.%ext%",
                                   "File Timestamp: current",
                                   "Keep Subfolders: 1",
                                   "Importing...",
                                   "Import complete, new files added: 1",
                                   "Converting...",
                                   "Processing: " + input,
                                   "Saving As: " + output + "/in.png",
                                   "OK",
                                   "Conversion complete",
                                   "Files converted: 1 of 1"});
  EXPECT_EQ(run.Lines(), expected);
}

TEST_F(ConsoleRun, QuietDebugKeepsOnlyTheDebugLines) {
  const QuorvixRun run =
      Run({"-q", "-d", "--png-compression=zlib6", "--png-interlaced", "--rotation=90", "--width=3",
           "--height=50", "--width-unit=percent", "--height-unit=percent", "--fr-solid-left=2",
           "--fr-solid-left-color=FF0000", "--file-timestamp=custom",
           "--file-timestamp-custom=1000", "--threshold=99"});
  EXPECT_EQ(run.exit_status, 0) << run.out;
  const Lines expected = {"Input: " + input,
                          "Output: " + output,
                          "Conversion: png",
                          "Rebuild From Layers: 0",
                          "PNG BPP: 0",
                          "PNG Compression: zlib6",
                          "PNG Interlaced: 1",
                          "Keep ICC Profile: 0",
                          "Image Rotation Type: simple",
                          "Image Rotation: 90",
                          "Image Rotation Back Color: 000000",
                          "Width: 3 percent",
                          "Height: 50 percent",
                          "Keep Aspect Ratio: 0",
                          "Image Resize Type: allimages",
                          "Image Resize Algorithm: bicubic",
                          "Flip Horizontal: 0",
                          "Flip Vertical: 0",
                          "Greyscale: 0",
                          "Image Threshold: 99",
                          "Frame: solid",
                          "Frame left: 2",
                          "Frame right: 0",
                          "Frame top: 0",
                          "Frame bottom: 0",
                          "Frame left color: FF0000",
                          "Frame right color: 000000",
                          "Frame top color: 000000",
                          "Frame bottom color: 000000",
                          "Frame opacity: 255",
                          "Watermark: none",
                          "Filename Mask: %filename%.%ext%",
                          "File Timestamp: custom",
                          "Custom Timestamp: 1000",
                          "Keep Subfolders: 1",
                          "Processing: " + input,
                          "Saving As: " + output + "/in.png",
                          "OK"};
  EXPECT_EQ(run.Lines(), expected);
}

TEST_F(ConsoleRun, DebugShowsColourCorrectionAndWatermarkSettings) {
  ASSERT_TRUE(WriteFileBytes(dir.file("mark.png"), "not really a picture"));
  const QuorvixRun run = Run({"-q", "-d", "--brightness=-20", "--contrast=5", "--gamma=1.5",
                              "--wm-image=" + dir.file("mark.png"), "--wm-image-position=topleft",
                              "--wm-image-x-offset=3", "--wm-image-y-offset=-4"});
  const Lines lines = run.Lines();
  const auto has = [&lines](const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  EXPECT_TRUE(has("Brightness: -20"));
  EXPECT_TRUE(has("Contrast: 5"));
  EXPECT_TRUE(has("Gamma: 1.50"));
  EXPECT_TRUE(has("Invert: 0"));
  EXPECT_TRUE(has("Watermark: image"));
  EXPECT_TRUE(has("Watermark image: " + dir.file("mark.png")));
  EXPECT_TRUE(has("Watermark position: topleft"));
  EXPECT_TRUE(has("Watermark offset (x/y): 3/-4"));
  EXPECT_TRUE(has("Watermark size/mode: fixed"));
}

TEST_F(ConsoleRun, RefusesBadInputFiles) {
  ASSERT_TRUE(WriteFileBytes(dir.file("empty.psd"), ""));
  std::filesystem::create_directory(dir.file("folder.psd"));
  for (const std::string& path : {dir.file("missing.psd"), dir.file("empty.psd"), dir.file("noext"),
                                  dir.file("in.psd/x"), dir.file("in. psd")}) {
    const QuorvixRun run = RunQuorvix({"-q", "-i", path, "-o", output});
    EXPECT_EQ(run.exit_status, 1) << path;
    EXPECT_EQ(run.Lines(), Lines{"Error: Invalid input file"}) << path;
  }
  // A folder is a folder of documents, whatever its name; this one holds none.
  const QuorvixRun run = RunQuorvix({"-q", "-i", dir.file("folder.psd"), "-o", output});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.Lines(),
            (Lines{"Conversion stopped",
                   "No input file(s) found. Please, add valid file(s) and try again!"}));
}

TEST_F(ConsoleRun, RefusesBadOutputFolders) {
  ExpectStopsWith({"-o", "../out"}, "Error: Incorrect output folder");
  ExpectStopsWith({"-o", "..hidden"}, "Error: Incorrect output folder");
  ExpectStopsWith({"-o", dir.file("missing")}, "Error: Invalid output folder");
  ExpectStopsWith({"-o", input}, "Error: Invalid output folder");
}

TEST_F(ConsoleRun, RefusesConversionKeysOtherThanTheOfferedOne) {
  ExpectStopsWith({"-c", "jpg"}, "Error: Invalid conversion type");
  ExpectStopsWith({"-c", "PNG"}, "Error: Invalid conversion type");
  ExpectStopsWith({"--conversion=bmp"}, "Error: Invalid conversion type");
}

TEST_F(ConsoleRun, ChecksEveryValueTheRunDependsOn) {
  ExpectStopsWith({"--png-bpp=16"}, "Error: Invalid png-bpp value");
  ExpectStopsWith({"--png-bpp=2"}, "Error: Invalid png-bpp value");
  ExpectStopsWith({"--width=100"}, "Error: Invalid height value");
  ExpectStopsWith({"--width=abc", "--height=5"}, "Error: Invalid width value");
  ExpectStopsWith({"--height=5"}, "Error: Invalid width value");
  ExpectStopsWith({"--brightness=101"}, "Error: Invalid brightness value");
  ExpectStopsWith({"--brightness=-101"}, "Error: Invalid brightness value");
  ExpectStopsWith({"--contrast=-101"}, "Error: Invalid contrast value");
  ExpectStopsWith({"--gamma=0"}, "Error: Invalid gamma value");
  ExpectStopsWith({"--gamma=10"}, "Error: Invalid gamma value");
  ExpectStopsWith({"--gamma=nan"}, "Error: Invalid gamma value");
  ExpectStopsWith({"--wm-text=Hi", "--wm-font=No Such Face Qx"}, "Error: Invalid watermark font");
  ExpectStopsWith({"--wm-image=" + dir.file("missing.png")}, "Error: Invalid watermark image");
  ExpectStopsWith({"--wm-image=" + dir.folder()}, "Error: Invalid watermark image");
}

TEST_F(ConsoleRun, AcceptsTheLimitsOfEachRange) {
  for (const Lines& extra :
       {Lines{"--png-bpp=0"}, Lines{"--png-bpp=24"}, Lines{"--gamma=9.99"}, Lines{"--gamma=0.01"},
        Lines{"--brightness=-100", "--contrast=100"}, Lines{"--width=2", "--height=2"}}) {
    const QuorvixRun run = Run(extra);
    EXPECT_EQ(run.exit_status, 0) << extra[0] << "\n" << run.out;
  }
}

TEST_F(ConsoleRun, QuietNeverHidesAnError) {
  const QuorvixRun run = Run({"-q", "--gamma=0"});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.Lines(), Lines{"Error: Invalid gamma value"});
}

TEST_F(ConsoleRun, NeverConvertsAListFile) {
  ASSERT_TRUE(WriteFileBytes(dir.file("list.txt"), "in.psd\n"));
  const QuorvixRun run = RunQuorvix({"-i", dir.file("list.txt"), "-o", output});
  EXPECT_EQ(run.exit_status, 1);
  Lines expected = Banner;
  expected.insert(
      expected.end(),
      {"Preparing...", "Importing...", "Import complete, new files added: 0", "Conversion stopped",
       "No input file(s) found. Please, add valid file(s) and try again!"});
  EXPECT_EQ(run.Lines(), expected);

  const QuorvixRun quiet = RunQuorvix({"-q", "-i", dir.file("list.txt"), "-o", output});
  EXPECT_EQ(quiet.Lines(),
            (Lines{"Conversion stopped",
                   "No input file(s) found. Please, add valid file(s) and try again!"}));
}

TEST_F(ConsoleRun, ReportsAFileTheWorkerCannotConvert) {
  ASSERT_TRUE(WriteFileBytes(dir.file("broken.psd"), "8BPS but nothing more"));
  const QuorvixRun run = RunQuorvix({"-q", "-i", dir.file("broken.psd"), "-o", output});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.Lines(), Lines{"Conversion stopped"});
}

TEST_F(ConsoleRun, ResolvesRelativeOutputFoldersAgainstTheWorkingDirectory) {
  std::filesystem::create_directories(dir.file("work/converted"));
  const QuorvixRunOptions in_work{dir.file("work"), {}, {}};
  for (const char* folder : {"converted", "./converted", "converted/"}) {
    std::filesystem::remove(dir.file("work/converted/in.png"));
    const QuorvixRun run = RunQuorvix({"-q", "-i", input, "-o", folder}, in_work);
    EXPECT_EQ(run.exit_status, 0) << folder << run.out;
    EXPECT_TRUE(std::filesystem::exists(dir.file("work/converted/in.png"))) << folder;
  }
  const QuorvixRun parent = RunQuorvix({"-i", input, "-o", "../out"}, in_work);
  EXPECT_EQ(parent.exit_status, 1);
  EXPECT_EQ(parent.Lines().back(), "Error: Incorrect output folder");
  const QuorvixRun debug = RunQuorvix({"-q", "-d", "-i", input, "-o", "converted"}, in_work);
  EXPECT_EQ(debug.Lines()[1], "Output: converted");
  EXPECT_EQ(debug.Lines()[17], "Saving As: " + dir.file("work/converted/in.png"));
}

TEST_F(ConsoleRun, WritesABareInputNameIntoTheWorkingDirectory) {
  const QuorvixRun run = RunQuorvix({"-q", "-i", "in.psd"}, {dir.path().string(), {}, {}});
  EXPECT_EQ(run.exit_status, 0) << run.out;
  EXPECT_TRUE(std::filesystem::exists(dir.file("in.png")));
}

TEST_F(ConsoleRun, PauseAtExitPromptsAndReturnsWithoutATerminal) {
  const QuorvixRun run = Run({"-q", "-p"});
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.Lines(), Lines{"Press any key to exit."});
}

TEST_F(ConsoleRun, AppliesProfilesBeforeAndAfterOptions) {
  const std::string profile = dir.file("wide.ini");
  ASSERT_TRUE(WriteFileBytes(profile, "[CLI]\r\n--width=800\r\n--height=600\r\n"));
  const QuorvixRun before = Run({"-q", "-d", "--profile=" + profile, "--width=640"});
  const QuorvixRun after = Run({"-q", "-d", "--width=640", "--profile=" + profile});
  ASSERT_GT(before.Lines().size(), 9u);
  ASSERT_GT(after.Lines().size(), 9u);
  EXPECT_EQ(before.Lines()[8], "Width: 640 pixels");
  EXPECT_EQ(after.Lines()[8], "Width: 800 pixels");
  EXPECT_EQ(after.Lines()[9], "Height: 600 pixels");
}
