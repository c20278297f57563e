#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
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
      {"grey16", PsdMode::Greyscale, 16, 1, 16, FIT_UINT16},
      {"rgb8", PsdMode::Rgb, 8, 3, 24, FIT_BITMAP},
      {"rgba8", PsdMode::Rgb, 8, 4, 32, FIT_BITMAP},
      {"rgb16", PsdMode::Rgb, 16, 3, 48, FIT_RGB16},
      {"rgba16", PsdMode::Rgb, 16, 4, 64, FIT_RGBA16},
  };
  for (const DocumentKind& kind : kinds) {
    SCOPED_TRACE(kind.name);
    job.input_path = WriteDocument(dir.file(std::string(kind.name) + ".psd"), kind.mode, kind.depth,
                                   kind.channels);
    ASSERT_FALSE(job.input_path.empty());
    ASSERT_EQ(ConvertFile(job, settings), FileFailure::None);
    EXPECT_EQ(job.output_path, dir.file(std::string(kind.name) + ".png"));
    EXPECT_EQ(job.target_bpp, static_cast<int32_t>(kind.png_bpp));
    EXPECT_EQ(job.result_width, 5);
    EXPECT_EQ(job.result_height, 4);

    Bitmap png = LoadImageFile(job.output_path);
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
  job.input_path = WriteDocument(dir.file("deep.psd"), PsdMode::Rgb, 16, 4);
  ASSERT_EQ(ConvertFile(job, settings), FileFailure::None);
  Bitmap png = LoadImageFile(job.output_path);
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
  settings.output.png_bpp = 32;
  ASSERT_TRUE(PrepareJob(job, settings));
  job.input_path = WriteDocument(dir.file("deep.psd"), PsdMode::Rgb, 16, 4);
  ASSERT_EQ(ConvertFile(job, settings), FileFailure::None);
  Bitmap png = LoadImageFile(job.output_path);
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
  job.input_path = WriteDocument(dir.file("grey.psd"), PsdMode::Greyscale, 16, 1);
  ASSERT_EQ(ConvertFile(job, settings), FileFailure::None);
  Bitmap png = LoadImageFile(job.output_path);
  ASSERT_TRUE(png);
  // The centre is 0x81..: stretching the range or tone mapping would move it.
  EXPECT_EQ(ToEight(ReadPixel(png, 2, 2).red), 0x81);
}

TEST_F(ConvertFileTest, SixteenBitGreyKeepsSixteenBitsWhenTheOutputHoldsThem) {
  settings.output.png_bpp = 48;
  ASSERT_TRUE(PrepareJob(job, settings));
  job.input_path = WriteDocument(dir.file("grey.psd"), PsdMode::Greyscale, 16, 1);
  ASSERT_EQ(ConvertFile(job, settings), FileFailure::None);
  Bitmap png = LoadImageFile(job.output_path);
  ASSERT_TRUE(png);
  ASSERT_EQ(FreeImage_GetImageType(png.get()), FIT_RGB16);
  EXPECT_EQ(ReadPixel(png, 2, 2).red, DocumentPixelAt(5, 4, 2, 2).red);
  EXPECT_EQ(ReadPixel(png, 2, 2).blue, DocumentPixelAt(5, 4, 2, 2).red);
}

TEST_F(ConvertFileTest, PngNamedLikeADocumentIsAcceptedButFailsToLoad) {
  const std::string path = dir.file("fake.psd");
  Bitmap image = MakeTestBitmap(4, 4, 24);
  ASSERT_TRUE(FreeImage_Save(FIF_PNG, image.get(), path.c_str(), 0));
  ASSERT_TRUE(IsAcceptableInputFile(path));
  job.input_path = path;
  EXPECT_EQ(ConvertFile(job, settings), FileFailure::NotDocument);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "fake.png"));
}

TEST_F(ConvertFileTest, FailedFileKeepsAnExistingOutput) {
  const std::string existing = dir.file("doc.png");
  ASSERT_TRUE(WriteFileBytes(existing, "earlier output"));
  job.input_path = WriteDocument(dir.file("doc.psd"), PsdMode::Rgb, 8, 3);
  job.auto_bpp = 0;
  job.target_bpp = 7;  // no conversion makes this depth
  EXPECT_EQ(ConvertFile(job, settings), FileFailure::SaveFailed);
  EXPECT_EQ(job.output_path, existing);
  EXPECT_EQ(ReadFileBytes(existing), "earlier output");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            2);
}

TEST_F(ConvertFileTest, MaskAndSubfolderNameTheOutput) {
  std::filesystem::create_directories(dir.path() / "out" / "sub");
  job.output_folder = dir.folder() + "out/";
  job.input_subfolder = "sub/";
  job.random_number = 321;
  job.sequence_number = 4;
  settings.advanced.filename_mask = "Copy_%FILENAME%_%bpp%_%width%x%height%_%rnd%_%n%.%EXT%";
  job.input_path = WriteDocument(dir.file("Doc.psd"), PsdMode::Rgb, 8, 4, 6, 3);
  ASSERT_EQ(ConvertFile(job, settings), FileFailure::None);
  EXPECT_EQ(job.output_path, dir.folder() + "out/sub/copy_Doc_32_6x3_00321_00004.png");
  EXPECT_TRUE(std::filesystem::exists(job.output_path));

  settings.advanced.keep_subfolders = 0;
  ASSERT_EQ(ConvertFile(job, settings), FileFailure::None);
  EXPECT_EQ(job.output_path, dir.folder() + "out/copy_Doc_32_6x3_00321_00004.png");
}

TEST_F(ConversionWorkerTest, EmptyListEndsAtOnce) {
  const std::unique_ptr<ConversionRun> run = StartConversion(Request());
  ASSERT_NE(run, nullptr);
  EXPECT_EQ(run->Wait(), 0);
  EXPECT_EQ(run->Progress().processed, 0);
  EXPECT_TRUE(run->Ended());
  EXPECT_TRUE(run->Results().empty());
}

TEST_F(ConversionWorkerTest, ConvertsEveryEntryAndCountsFailures) {
  inputs.Set(WriteDocument(dir.file("a.psd"), PsdMode::Rgb, 8, 3), {1, ""});
  ASSERT_TRUE(WriteFileBytes(dir.file("broken.psd"), "8BPS but not really"));
  inputs.Set(dir.file("broken.psd"), {1, ""});
  inputs.Set(WriteDocument(dir.file("b.psd"), PsdMode::Greyscale, 8, 1), {1, ""});
  EXPECT_EQ(RunWorker(), 2);
  EXPECT_EQ(last_progress.processed, 3);
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "a.png"));
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "b.png"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "broken.png"));

  // One result per file, in the order of the list, each with its output and its reason.
  ASSERT_EQ(last_results.size(), 3u);
  EXPECT_EQ(last_results[0].input, dir.file("a.psd"));
  EXPECT_EQ(last_results[0].output_path, dir.file("a.png"));
  EXPECT_TRUE(last_results[0].converted);
  EXPECT_EQ(last_results[0].failure, FileFailure::None);
  EXPECT_EQ(last_results[1].input, dir.file("broken.psd"));
  EXPECT_FALSE(last_results[1].converted);
  EXPECT_EQ(last_results[1].failure, FileFailure::LoadFailed);
  EXPECT_EQ(last_results[1].output_path, "");
  EXPECT_EQ(last_results[2].output_path, dir.file("b.png"));
  EXPECT_TRUE(last_results[2].converted);
}

TEST_F(ConversionWorkerTest, ANameOutsideTheOutputFolderIsRefusedWithItsReason) {
  // The output folder is a folder of the test's own, so that the one above it is too (a stray
  // a.png in the system's temporary folder must not count).
  settings.advanced.filename_mask = "../%filename%.%ext%";
  std::filesystem::create_directories(dir.path() / "out");
  job.output_folder = dir.folder() + "out/";
  inputs.Set(WriteDocument(dir.file("a.psd"), PsdMode::Rgb, 8, 3), {1, ""});
  EXPECT_EQ(RunWorker(), 0);
  ASSERT_EQ(last_results.size(), 1u);
  EXPECT_EQ(last_results[0].failure, FileFailure::OutsideOutputFolder);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "a.png"));
}

TEST_F(ConversionWorkerTest, TheRunWorksOnItsOwnCopyOfTheRequest) {
  inputs.Set(WriteDocument(dir.file("a.psd"), PsdMode::Rgb, 8, 3), {1, ""});
  const ConversionJob before = job;
  const std::unique_ptr<ConversionRun> run = StartConversion(Request());
  ASSERT_NE(run, nullptr);
  // What the starter does with its own records afterwards reaches no file of the run.
  settings.advanced.filename_mask = "changed.%ext%";
  inputs.Clear();
  job.output_folder = "/nowhere/";
  ASSERT_EQ(run->Wait(), 1);
  EXPECT_TRUE(std::filesystem::exists(dir.path() / "a.png"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "changed.png"));
  // The run counted on in its own job; the starter takes the numbers back when it wants them.
  EXPECT_EQ(run->Job().sequence_number, before.sequence_number + 1);
  EXPECT_EQ(run->Job().input_path, dir.file("a.psd"));
  EXPECT_EQ(job.sequence_number, before.sequence_number);
}

TEST_F(ConversionWorkerTest, ARunLetGoInWorkStopsAfterItsFileAndWaits) {
  const std::string pipe = dir.file("first.psd");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  inputs.Set(pipe, {1, ""});
  inputs.Set(WriteDocument(dir.file("second.psd"), PsdMode::Rgb, 8, 3), {1, ""});
  std::unique_ptr<ConversionRun> run = StartConversion(Request());
  ASSERT_NE(run, nullptr);
  while (run->Progress().processed < 1) std::this_thread::yield();
  // The load of the pipe waits for a writer: one comes and goes while the run is let go.
  std::atomic<bool> released{false};
  std::thread opener([&pipe, &released] {
    while (!released) {
      const int writer = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
      if (writer >= 0) {
        close(writer);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  run.reset();
  released = true;
  opener.join();
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "second.png"));
}

TEST_F(ConversionWorkerTest, StopDuringTheFirstFileEndsTheRunAfterIt) {
  // The first input is a pipe: its load cannot finish until the test opens the other end, so
  // the stop certainly arrives while the first file is in work.
  const std::string pipe = dir.file("first.psd");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  inputs.Set(pipe, {1, ""});
  inputs.Set(WriteDocument(dir.file("second.psd"), PsdMode::Rgb, 8, 3), {1, ""});
  const std::unique_ptr<ConversionRun> run = StartConversion(Request());
  ASSERT_NE(run, nullptr);
  while (run->Progress().processed < 1) std::this_thread::yield();
  run->Stop();

  int writer = -1;
  while (writer < 0 && !run->Ended()) {
    writer = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (writer >= 0) close(writer);

  const int32_t converted = run->Wait();
  EXPECT_EQ(run->Progress().processed, 1);
  EXPECT_LE(converted, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "second.png"));
  // The file the stop cut off is listed as never reached.
  ASSERT_EQ(run->Results().size(), 2u);
  EXPECT_EQ(run->Results()[1].failure, FileFailure::NotReached);
  EXPECT_FALSE(run->Results()[1].converted);
}

TEST_F(ConversionWorkerTest, AStopEndsTheDecodesOfItsRunOnly) {
  // The input is a pipe: its load waits for the test to open the other end, so the stop comes
  // while the run is in work.
  const std::string pipe = dir.file("first.psd");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  inputs.Set(pipe, {1, ""});
  const std::unique_ptr<ConversionRun> run = StartConversion(Request());
  ASSERT_NE(run, nullptr);
  while (run->Progress().processed < 1) std::this_thread::yield();
  run->Stop();
  // No decoder of the stopped run goes on, and none starts for it any more.
  EXPECT_TRUE(DecodersStopped());
  int writer = -1;
  while (writer < 0 && !run->Ended()) {
    writer = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (writer >= 0) close(writer);
  EXPECT_EQ(run->Wait(), 0);
  // Once it has ended, decodes are allowed again, and the next run converts.
  EXPECT_FALSE(DecodersStopped());
  inputs.Clear();
  inputs.Set(WriteDocument(dir.file("a.psd"), PsdMode::Rgb, 8, 3), {1, ""});
  EXPECT_EQ(RunWorker(), 1);
}

TEST_F(ConversionWorkerTest, RandomAndSequenceNumbersMoveOnlyAfterASuccess) {
  settings.advanced.filename_mask = "%filename%_%rnd%_%n%.%ext%";
  const std::string broken = dir.file("broken.psd");
  ASSERT_TRUE(WriteFileBytes(broken, "junk"));
  inputs.Set(broken, {1, ""});
  const int32_t random_before = job.random_number;
  ASSERT_EQ(RunWorker(), 0);
  EXPECT_EQ(job.random_number, random_before);
  EXPECT_EQ(job.sequence_number, 1);

  std::vector<int32_t> randoms{job.random_number};
  for (int run = 0; run < 3; ++run) {
    inputs.Clear();
    inputs.Set(WriteDocument(dir.file("doc" + std::to_string(run) + ".psd"), PsdMode::Rgb, 8, 3),
               {1, ""});
    ASSERT_EQ(RunWorker(), 1);
    EXPECT_EQ(job.sequence_number, run + 2);
    EXPECT_GE(job.random_number, 1);
    EXPECT_LE(job.random_number, 99999);
    randoms.push_back(job.random_number);
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
  settings.advanced.file_timestamp = ToValue(FileTimestamp::Original);
  inputs.Set(input, {1, ""});
  ASSERT_EQ(RunWorker(), 1);
  EXPECT_EQ(ModifiedSeconds(dir.file("old.png")), then);
}

TEST_F(ConversionWorkerTest, CustomTimestampIsLocalTime) {
  const time_t moment = 1200000000;  // 2008-01-10, UTC
  settings.advanced.file_timestamp = ToValue(FileTimestamp::Custom);
  settings.advanced.custom_timestamp = UtcSecondsToLocal(moment);
  inputs.Set(WriteDocument(dir.file("doc.psd"), PsdMode::Rgb, 8, 3), {1, ""});
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
  settings.advanced.file_timestamp = ToValue(FileTimestamp::Original);
  inputs.Set(vanishing, {1, ""});
  inputs.Set(staying, {1, ""});
  inputs.Set(broken, {1, ""});
  std::vector<std::string> trace;
  const std::unique_ptr<ConversionRun> run =
      StartConversion(Request(), {}, [&](std::string_view line) {
        if (line == "OK" && trace.size() == 2) std::filesystem::remove(vanishing);
        trace.emplace_back(line);
      });
  ASSERT_NE(run, nullptr);
  EXPECT_EQ(run->Wait(), 2);
  ASSERT_EQ(trace.size(), 10u);
  EXPECT_EQ(trace[2], "OK");
  EXPECT_EQ(trace[3], "Timestamp not set");
  EXPECT_EQ(trace[6], "OK");
  EXPECT_EQ(trace[7], "Processing: " + broken);
  EXPECT_TRUE(std::filesystem::exists(dir.file("vanishing.png")));
  EXPECT_EQ(ModifiedSeconds(dir.file("staying.png")), 1000000000);

  const std::vector<FileResult>& results = run->Results();
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[0].input, vanishing);
  EXPECT_TRUE(results[0].converted);
  EXPECT_FALSE(results[0].timestamp_set);
  EXPECT_TRUE(results[1].converted);
  EXPECT_TRUE(results[1].timestamp_set);
  EXPECT_FALSE(results[2].converted);

  // A new run starts a list of its own.
  inputs.Clear();
  EXPECT_EQ(RunWorker(), 0);
  EXPECT_TRUE(last_results.empty());
}

TEST_F(ConversionWorkerTest, CurrentTimestampLeavesTheTimeOfWriting) {
  const std::string input = WriteDocument(dir.file("doc.psd"), PsdMode::Rgb, 8, 3);
  ASSERT_TRUE(SetModifiedSeconds(input, 1000000000));
  const time_t before = time(nullptr);
  inputs.Set(input, {1, ""});
  ASSERT_EQ(RunWorker(), 1);
  EXPECT_GE(ModifiedSeconds(dir.file("doc.png")), before);
}

TEST_F(ConversionWorkerTest, TraceHearsEachStepOfEachFileAndNothingIsPrinted) {
  const std::string input = WriteDocument(dir.file("doc.psd"), PsdMode::Rgb, 8, 3);
  const std::string broken = dir.file("bad.psd");
  ASSERT_TRUE(WriteFileBytes(broken, "junk"));
  inputs.Set(input, {1, ""});
  inputs.Set(broken, {1, ""});
  std::string trace;
  testing::internal::CaptureStdout();
  const std::unique_ptr<ConversionRun> run =
      StartConversion(Request(), {}, [&trace](std::string_view line) {
        trace += line;
        trace += '\n';
      });
  ASSERT_NE(run, nullptr);
  ASSERT_EQ(run->Wait(), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(trace, "Processing: " + input + "\nSaving As: " + dir.file("doc.png") + "\nOK\n" +
                       "Processing: " + broken + "\nSaving As: \nNot OK\n");
}
