#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/conversion_job.h"
#include "core/pipeline.h"
#include "engine/isolation/decoder_stop.h"
#include "platform/system.h"
#include "tests/core/documents.h"
#include "tests/support/image_bitmaps.h"

namespace {

using ConvertFileTest = JobTest;
using ConversionWorkerTest = JobTest;

struct DocumentKind {
  const char* name;
  PsdMode mode;
  uint16_t depth;
  uint16_t channels;
  unsigned png_bpp;
  FREE_IMAGE_TYPE png_type;
};

int ToEight(uint16_t value) { return value >> 8; }

void ExpectNear(int actual, int expected, const std::string& what) {
  EXPECT_LE(std::abs(actual - expected), 1) << what << ": " << actual << " vs " << expected;
}

time_t ModifiedSeconds(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0) return 0;
  return status.st_mtim.tv_sec;
}

bool SetModifiedSeconds(const std::string& path, time_t seconds) {
  const timespec times[2] = {{seconds, 0}, {seconds, 0}};
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

}  // namespace

TEST_F(ConvertFileTest, AutomaticDepthFollowsEachKindOfDocument) {
  const std::vector<DocumentKind> kinds = {
      {"bitmap", PsdMode::Bitmap, 1, 1, 1, FIT_BITMAP},
      {"grey8", PsdMode::Greyscale, 8, 1, 8, FIT_BITMAP},
      {"grey16", PsdMode::Greyscale, 16, 1, 24, FIT_BITMAP},
      {"rgb8", PsdMode::Rgb, 8, 3, 24, FIT_BITMAP},
      {"rgba8", PsdMode::Rgb, 8, 4, 32, FIT_BITMAP},
      {"rgb16", PsdMode::Rgb, 16, 3, 48, FIT_RGB16},
      {"rgba16", PsdMode::Rgb, 16, 4, 64, FIT_RGBA16},
  };
  for (const DocumentKind& kind : kinds) {
    SCOPED_TRACE(kind.name);
    g_job.input_path = WriteDocument(dir.file(std::string(kind.name) + ".psd"), kind.mode,
                                     kind.depth, kind.channels);
    ASSERT_FALSE(g_job.input_path.empty());
    ASSERT_TRUE(ConvertFile(g_job, g_settings));
    EXPECT_EQ(g_job.output_path, dir.file(std::string(kind.name) + ".png"));
    EXPECT_EQ(g_job.target_bpp, static_cast<int32_t>(kind.png_bpp));
    EXPECT_EQ(g_job.result_width, 5);
    EXPECT_EQ(g_job.result_height, 4);

    Bitmap png = LoadImageFile(g_job.output_path);
    ASSERT_TRUE(png);
    EXPECT_EQ(FreeImage_GetBPP(png.get()), kind.png_bpp);
    EXPECT_EQ(FreeImage_GetImageType(png.get()), kind.png_type);
    EXPECT_EQ(FreeImage_GetWidth(png.get()), 5u);
    EXPECT_EQ(FreeImage_GetHeight(png.get()), 4u);

    const bool grey = kind.mode != PsdMode::Rgb;
    for (const auto& [x, y] : {std::pair{0u, 0u}, {4u, 0u}, {0u, 3u}, {4u, 3u}, {2u, 2u}}) {
      const DocumentPixel expected = DocumentPixelAt(5, 4, x, y);
      const Rgba16 actual = ReadPixel(png, static_cast<int>(x), static_cast<int>(y));
      const std::string where = std::to_string(x) + "," + std::to_string(y);
      if (kind.depth == 1) {
        EXPECT_EQ(actual.red, expected.red >= 0x8000 ? 0xFFFF : 0) << where;
        continue;
      }
      ExpectNear(ToEight(actual.red), ToEight(expected.red), where + " red");
      ExpectNear(ToEight(actual.green), ToEight(grey ? expected.red : expected.green),
                 where + " green");
      ExpectNear(ToEight(actual.blue), ToEight(grey ? expected.red : expected.blue),
                 where + " blue");
    }
  }
}

TEST_F(ConvertFileTest, SixteenBitDocumentKeepsItsSamplesAndTransparency) {
  g_job.input_path = WriteDocument(dir.file("deep.psd"), PsdMode::Rgb, 16, 4);
  ASSERT_TRUE(ConvertFile(g_job, g_settings));
  Bitmap png = LoadImageFile(g_job.output_path);
  ASSERT_TRUE(png);
  ASSERT_EQ(FreeImage_GetImageType(png.get()), FIT_RGBA16);
  const DocumentPixel centre = DocumentPixelAt(5, 4, 2, 2);
  const Rgba16 actual = ReadPixel(png, 2, 2);
  EXPECT_EQ(actual.red, centre.red);
  EXPECT_EQ(actual.green, centre.green);
  EXPECT_EQ(actual.blue, centre.blue);
  ExpectNear(ToEight(ReadPixel(png, 1, 0).alpha), ToEight(DocumentPixelAt(5, 4, 1, 0).alpha),
             "alpha");
}

TEST_F(ConvertFileTest, SixteenBitMidGreyStaysMidGreyAtEightBits) {
  g_settings.output.png_bpp = 32;
  ASSERT_TRUE(PrepareJob(g_job, g_settings));
  g_job.input_path = WriteDocument(dir.file("deep.psd"), PsdMode::Rgb, 16, 4);
  ASSERT_TRUE(ConvertFile(g_job, g_settings));
  Bitmap png = LoadImageFile(g_job.output_path);
  ASSERT_TRUE(png);
  ASSERT_EQ(FreeImage_GetBPP(png.get()), 32u);
  const DocumentPixel centre = DocumentPixelAt(5, 4, 2, 2);
  const Rgba16 actual = ReadPixel(png, 2, 2);
  ExpectNear(ToEight(actual.red), ToEight(centre.red), "red");
  ExpectNear(ToEight(actual.green), ToEight(centre.green), "green");
  ExpectNear(ToEight(actual.blue), ToEight(centre.blue), "blue");
  ExpectNear(ToEight(ReadPixel(png, 1, 0).alpha), ToEight(DocumentPixelAt(5, 4, 1, 0).alpha),
             "alpha");
}

TEST_F(ConvertFileTest, SixteenBitGreyGoesOutByItsHighByte) {
  g_job.input_path = WriteDocument(dir.file("grey.psd"), PsdMode::Greyscale, 16, 1);
  ASSERT_TRUE(ConvertFile(g_job, g_settings));
  Bitmap png = LoadImageFile(g_job.output_path);
  ASSERT_TRUE(png);
  // The centre is 0x81..: stretching the range or tone mapping would move it.
  EXPECT_EQ(ToEight(ReadPixel(png, 2, 2).red), 0x81);
}

TEST_F(ConvertFileTest, SixteenBitGreyKeepsSixteenBitsWhenTheOutputHoldsThem) {
  g_settings.output.png_bpp = 48;
  ASSERT_TRUE(PrepareJob(g_job, g_settings));
  g_job.input_path = WriteDocument(dir.file("grey.psd"), PsdMode::Greyscale, 16, 1);
  ASSERT_TRUE(ConvertFile(g_job, g_settings));
  Bitmap png = LoadImageFile(g_job.output_path);
  ASSERT_TRUE(png);
  ASSERT_EQ(FreeImage_GetImageType(png.get()), FIT_RGB16);
  EXPECT_EQ(ReadPixel(png, 2, 2).red, DocumentPixelAt(5, 4, 2, 2).red);
  EXPECT_EQ(ReadPixel(png, 2, 2).blue, DocumentPixelAt(5, 4, 2, 2).red);
}

TEST_F(ConvertFileTest, PngNamedLikeADocumentIsAcceptedButFailsToLoad) {
  const std::string path = dir.file("fake.psd");
  Bitmap image = MakeTestBitmap(4, 4, 24);
  ASSERT_TRUE(FreeImage_Save(FIF_PNG, image.get(), path.c_str(), 0));
  ASSERT_TRUE(AddInputFile(path));
  g_job.input_path = path;
  EXPECT_FALSE(ConvertFile(g_job, g_settings));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "fake.png"));
}

TEST_F(ConvertFileTest, FailedFileKeepsAnExistingOutput) {
  const std::string existing = dir.file("doc.png");
  ASSERT_TRUE(WriteFileBytes(existing, "earlier output"));
  g_job.input_path = WriteDocument(dir.file("doc.psd"), PsdMode::Rgb, 8, 3);
  g_job.auto_bpp = 0;
  g_job.target_bpp = 7;  // no conversion makes this depth
  EXPECT_FALSE(ConvertFile(g_job, g_settings));
  EXPECT_EQ(g_job.output_path, existing);
  EXPECT_EQ(ReadFileBytes(existing), "earlier output");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            2);
}

TEST_F(ConvertFileTest, MaskAndSubfolderNameTheOutput) {
  std::filesystem::create_directories(dir.path() / "out" / "sub");
  g_job.output_folder = dir.folder() + "out/";
  g_job.input_subfolder = "sub/";
  g_job.random_number = 321;
  g_job.sequence_number = 4;
  g_settings.advanced.filename_mask = "Copy_%FILENAME%_%bpp%_%width%x%height%_%rnd%_%n%.%EXT%";
  g_job.input_path = WriteDocument(dir.file("Doc.psd"), PsdMode::Rgb, 8, 4, 6, 3);
  ASSERT_TRUE(ConvertFile(g_job, g_settings));
  EXPECT_EQ(g_job.output_path, dir.folder() + "out/sub/copy_Doc_32_6x3_00321_00004.png");
  EXPECT_TRUE(std::filesystem::exists(g_job.output_path));

  g_settings.advanced.keep_subfolders = 0;
  ASSERT_TRUE(ConvertFile(g_job, g_settings));
  EXPECT_EQ(g_job.output_path, dir.folder() + "out/copy_Doc_32_6x3_00321_00004.png");
}

TEST_F(ConversionWorkerTest, EmptyListEndsAtOnce) {
  EXPECT_EQ(RunWorker(), 0);
  EXPECT_EQ(ReadProgress().processed, 0);
  EXPECT_TRUE(ConversionEnded());
}

TEST_F(ConversionWorkerTest, ConvertsEveryEntryAndCountsFailures) {
  g_input_files.Set(WriteDocument(dir.file("a.psd"), PsdMode::Rgb, 8, 3), {1, ""});
  ASSERT_TRUE(WriteFileBytes(dir.file("broken.psd"), "8BPS but not really"));
  g_input_files.Set(dir.file("broken.psd"), {1, ""});
  g_input_files.Set(WriteDocument(dir.file("b.psd"), PsdMode::Greyscale, 8, 1), {1, ""});
  EXPECT_EQ(RunWorker(), 2);
  EXPECT_EQ(ReadProgress().processed, 3);
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "a.png"));
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "b.png"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "broken.png"));
}

TEST_F(ConversionWorkerTest, StopDuringTheFirstFileEndsTheRunAfterIt) {
  // The first input is a pipe: its load cannot finish until the test opens the other end, so
  // the stop certainly arrives while the first file is in work.
  const std::string pipe = dir.file("first.psd");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  g_input_files.Set(pipe, {1, ""});
  g_input_files.Set(WriteDocument(dir.file("second.psd"), PsdMode::Rgb, 8, 3), {1, ""});
  ASSERT_TRUE(StartConversion());
  while (ReadProgress().processed < 1) std::this_thread::yield();
  StopConversion();

  int writer = -1;
  while (writer < 0 && !ConversionEnded()) {
    writer = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (writer >= 0) close(writer);

  const int32_t converted = WaitForConversion();
  EXPECT_EQ(ReadProgress().processed, 1);
  EXPECT_LE(converted, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "second.png"));
}

TEST_F(ConversionWorkerTest, AStopEndsTheDecodesOfItsRunOnly) {
  // The input is a pipe: its load waits for the test to open the other end, so the stop comes
  // while the run is in work.
  const std::string pipe = dir.file("first.psd");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  g_input_files.Set(pipe, {1, ""});
  ASSERT_TRUE(StartConversion());
  while (ReadProgress().processed < 1) std::this_thread::yield();
  StopConversion();
  // No decoder of the stopped run goes on, and none starts for it any more.
  EXPECT_TRUE(DecodersStopped());
  int writer = -1;
  while (writer < 0 && !ConversionEnded()) {
    writer = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (writer >= 0) close(writer);
  EXPECT_EQ(WaitForConversion(), 0);
  // Once it has ended, decodes are allowed again, and the next run converts.
  EXPECT_FALSE(DecodersStopped());
  g_input_files.Clear();
  g_input_files.Set(WriteDocument(dir.file("a.psd"), PsdMode::Rgb, 8, 3), {1, ""});
  EXPECT_EQ(RunWorker(), 1);
}

TEST_F(ConversionWorkerTest, RandomAndSequenceNumbersMoveOnlyAfterASuccess) {
  g_settings.advanced.filename_mask = "%filename%_%rnd%_%n%.%ext%";
  const std::string broken = dir.file("broken.psd");
  ASSERT_TRUE(WriteFileBytes(broken, "junk"));
  g_input_files.Set(broken, {1, ""});
  const int32_t random_before = g_job.random_number;
  ASSERT_EQ(RunWorker(), 0);
  EXPECT_EQ(g_job.random_number, random_before);
  EXPECT_EQ(g_job.sequence_number, 1);

  std::vector<int32_t> randoms{g_job.random_number};
  for (int run = 0; run < 3; ++run) {
    g_input_files.Clear();
    g_input_files.Set(
        WriteDocument(dir.file("doc" + std::to_string(run) + ".psd"), PsdMode::Rgb, 8, 3), {1, ""});
    ASSERT_EQ(RunWorker(), 1);
    EXPECT_EQ(g_job.sequence_number, run + 2);
    EXPECT_GE(g_job.random_number, 1);
    EXPECT_LE(g_job.random_number, 99999);
    randoms.push_back(g_job.random_number);
  }
  // The names carry the values the file was converted with, counting from 00001.
  EXPECT_TRUE(std::filesystem::exists(dir.path() / ("doc0_" + [&] {
                                        std::string text = std::to_string(randoms[0]);
                                        return std::string(5 - text.size(), '0') + text;
                                      }() + "_00001.png")));
  // Four equal draws from 99999 values would mean nothing is drawn.
  EXPECT_FALSE(randoms[0] == randoms[1] && randoms[1] == randoms[2] && randoms[2] == randoms[3]);
}

TEST_F(ConversionWorkerTest, OriginalTimestampCopiesTheInputsTime) {
  const std::string input = WriteDocument(dir.file("old.psd"), PsdMode::Rgb, 8, 3);
  const time_t then = 1000000000;  // 2001-09-09
  ASSERT_TRUE(SetModifiedSeconds(input, then));
  g_settings.advanced.file_timestamp = ToValue(FileTimestamp::Original);
  g_input_files.Set(input, {1, ""});
  ASSERT_EQ(RunWorker(), 1);
  EXPECT_EQ(ModifiedSeconds(dir.file("old.png")), then);
}

TEST_F(ConversionWorkerTest, CustomTimestampIsLocalTime) {
  const time_t moment = 1200000000;  // 2008-01-10, UTC
  g_settings.advanced.file_timestamp = ToValue(FileTimestamp::Custom);
  g_settings.advanced.custom_timestamp = UtcSecondsToLocal(moment);
  g_input_files.Set(WriteDocument(dir.file("doc.psd"), PsdMode::Rgb, 8, 3), {1, ""});
  ASSERT_EQ(RunWorker(), 1);
  EXPECT_EQ(ModifiedSeconds(dir.file("doc.png")), moment);
}

TEST_F(ConversionWorkerTest, AnUnsetTimestampStillCountsButIsTracedAndKept) {
  // The first input is gone by the time its time is to be copied: removed when its "OK" is heard.
  const std::string vanishing = WriteDocument(dir.file("vanishing.psd"), PsdMode::Rgb, 8, 3);
  const std::string staying = WriteDocument(dir.file("staying.psd"), PsdMode::Rgb, 8, 3);
  const std::string broken = dir.file("broken.psd");
  ASSERT_TRUE(WriteFileBytes(broken, "junk"));
  ASSERT_TRUE(SetModifiedSeconds(staying, 1000000000));
  g_settings.advanced.file_timestamp = ToValue(FileTimestamp::Original);
  g_input_files.Set(vanishing, {1, ""});
  g_input_files.Set(staying, {1, ""});
  g_input_files.Set(broken, {1, ""});
  std::vector<std::string> trace;
  ASSERT_TRUE(StartConversion({}, [&](std::string_view line) {
    if (line == "OK" && trace.size() == 2) std::filesystem::remove(vanishing);
    trace.emplace_back(line);
  }));
  EXPECT_EQ(WaitForConversion(), 2);
  ASSERT_EQ(trace.size(), 10u);
  EXPECT_EQ(trace[2], "OK");
  EXPECT_EQ(trace[3], "Timestamp not set");
  EXPECT_EQ(trace[6], "OK");
  EXPECT_EQ(trace[7], "Processing: " + broken);
  EXPECT_TRUE(std::filesystem::exists(dir.file("vanishing.png")));
  EXPECT_EQ(ModifiedSeconds(dir.file("staying.png")), 1000000000);

  const std::vector<FileOutcome> outcomes = ReadFileOutcomes();
  ASSERT_EQ(outcomes.size(), 3u);
  EXPECT_EQ(outcomes[0].input_path, vanishing);
  EXPECT_TRUE(outcomes[0].converted);
  EXPECT_FALSE(outcomes[0].timestamp_set);
  EXPECT_TRUE(outcomes[1].converted);
  EXPECT_TRUE(outcomes[1].timestamp_set);
  EXPECT_FALSE(outcomes[2].converted);

  // A new run starts a new list.
  g_input_files.Clear();
  EXPECT_EQ(RunWorker(), 0);
  EXPECT_TRUE(ReadFileOutcomes().empty());
}

TEST_F(ConversionWorkerTest, CurrentTimestampLeavesTheTimeOfWriting) {
  const std::string input = WriteDocument(dir.file("doc.psd"), PsdMode::Rgb, 8, 3);
  ASSERT_TRUE(SetModifiedSeconds(input, 1000000000));
  const time_t before = time(nullptr);
  g_input_files.Set(input, {1, ""});
  ASSERT_EQ(RunWorker(), 1);
  EXPECT_GE(ModifiedSeconds(dir.file("doc.png")), before);
}

TEST_F(ConversionWorkerTest, TraceHearsEachStepOfEachFileAndNothingIsPrinted) {
  const std::string input = WriteDocument(dir.file("doc.psd"), PsdMode::Rgb, 8, 3);
  const std::string broken = dir.file("bad.psd");
  ASSERT_TRUE(WriteFileBytes(broken, "junk"));
  g_input_files.Set(input, {1, ""});
  g_input_files.Set(broken, {1, ""});
  std::string trace;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(StartConversion({}, [&trace](std::string_view line) {
    trace += line;
    trace += '\n';
  }));
  ASSERT_EQ(WaitForConversion(), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(trace, "Processing: " + input + "\nSaving As: " + dir.file("doc.png") + "\nOK\n" +
                       "Processing: " + broken + "\nSaving As: \nNot OK\n");
}
