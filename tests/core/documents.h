#pragma once

// Small Photoshop documents with known pixels for the job and worker tests, and a fixture that
// gives every test a fresh job, settings record and folder.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/conversion_run.h"
#include "settings/program_settings.h"
#include "tests/support/psd_writer.h"
#include "tests/support/temp_dir.h"

/// What a test document holds at one pixel, at 16 bits per sample (8-bit samples times 257).
struct DocumentPixel {
  uint16_t red = 0;
  uint16_t green = 0;
  uint16_t blue = 0;
  uint16_t alpha = 0xFFFF;
};

/// The pixel of a `width` x `height` test document: red, green, blue and white corners, a grey
/// centre whose 16-bit samples use their low byte, and one half-transparent pixel at (1, 0) when
/// the document has alpha. Greyscale documents hold the red sample.
inline DocumentPixel DocumentPixelAt(uint32_t width, uint32_t height, uint32_t x, uint32_t y) {
  const bool right = x == width - 1;
  const bool bottom = y == height - 1;
  if (x == 0 && y == 0) return {0xFFFF, 0, 0, 0xFFFF};
  if (right && y == 0) return {0, 0xFFFF, 0, 0xFFFF};
  if (x == 0 && bottom) return {0, 0, 0xFFFF, 0xFFFF};
  if (right && bottom) return {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
  if (x == 1 && y == 0) return {0x8000, 0x8000, 0x8000, 0x4000};
  return {0x8123, 0x40F0, 0xC00F, 0xFFFF};
}

/// Writes a document of `mode`, `depth` and `channels` (an extra channel is alpha) with the
/// pixels of `DocumentPixelAt`; the path, or empty when it could not be written.
inline std::string WriteDocument(const std::string& path, PsdMode mode, uint16_t depth,
                                 uint16_t channels, uint32_t width = 5, uint32_t height = 4) {
  PsdSpec spec = MakePsdSpec(mode, depth, width, height, channels);
  const uint16_t colour_channels = mode == PsdMode::Rgb ? 3 : 1;
  FillPsdPlanes(spec, [&](uint32_t x, uint32_t y, uint32_t channel) -> uint32_t {
    const DocumentPixel pixel = DocumentPixelAt(width, height, x, y);
    uint16_t value = pixel.alpha;
    if (channel < colour_channels) {
      value = channel == 0 ? pixel.red : channel == 1 ? pixel.green : pixel.blue;
    }
    switch (depth) {
      case 1:
        return value >= 0x8000 ? 0 : 1;  // Photoshop stores 1 for black
      case 8:
        return value >> 8;
      default:
        return value;
    }
  });
  spec.compression = PsdCompression::Rle;
  return WritePsdFile(path, spec) ? path : std::string();
}

/// A fresh job (console run, output to a temporary folder), default settings and an empty input
/// list for each test: the request a front end would hand to a run.
class JobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSettings(settings, true);
    ResetJob(job);
    job.console_run = 1;
    job.output_folder = dir.folder();
    ASSERT_TRUE(PrepareJob(job, settings));
  }

  /// The request of the test's settings, job and inputs.
  RunRequest Request() const { return RunRequest{settings, job, inputs}; }

  /// Runs the worker over the input list to its end and takes back the job as it left it, as the
  /// window does; the number of files converted, -1 when no run started.
  int32_t RunWorker() {
    const std::unique_ptr<ConversionRun> run = StartConversion(Request());
    if (!run) return -1;
    const int32_t converted = run->Wait();
    last_progress = run->Progress();
    last_results = run->Results();
    job = run->Job();
    return converted;
  }

  TempDir dir;
  ProgramSettings settings;
  ConversionJob job;
  InputFileList inputs;
  ProgressSnapshot last_progress;
  std::vector<FileResult> last_results;
};
