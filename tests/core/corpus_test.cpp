// Every real-world document of the corpus goes through the whole per-file conversion with default
// settings. Skipped, with the reason printed, when the corpus is not there.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/conversion_job.h"
#include "core/program_settings.h"
#include "engine/loading.h"
#include "tests/support/image_bitmaps.h"
#include "tests/support/temp_dir.h"

namespace {

struct HeaderSize {
  uint32_t width = 0;
  uint32_t height = 0;
};

uint32_t BigEndian32(const std::string& bytes, size_t offset) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i)
    value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
  return value;
}

// The size the document's header promises; 0 by 0 when the header is missing.
HeaderSize ReadHeaderSize(const std::string& path) {
  const std::string bytes = ReadFileBytes(path);
  if (bytes.size() < 26 || bytes.compare(0, 4, "8BPS") != 0) return {};
  return HeaderSize{BigEndian32(bytes, 18), BigEndian32(bytes, 14)};
}

// PNG's allowed depths, the first that holds the source, else the largest.
int32_t PredictedPngDepth(int32_t source_bpp) {
  for (int32_t depth : {1, 4, 8, 24, 32, 48, 64}) {
    if (depth >= source_bpp) return depth;
  }
  return 64;
}

// True when some pixel of the loaded document is not fully opaque.
bool HasTransparency(const std::string& path) {
  const Bitmap image = LoadInputImage(path);
  if (!image) return false;
  const int width = static_cast<int>(FreeImage_GetWidth(image.get()));
  const int height = static_cast<int>(FreeImage_GetHeight(image.get()));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (ReadPixel(image, x, y).alpha != 0xFFFF) return true;
    }
  }
  return false;
}

std::vector<std::filesystem::path> CorpusDocuments(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> documents;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string extension = entry.path().extension().string();
    if (extension == ".psd" || extension == ".psb") documents.push_back(entry.path());
  }
  std::sort(documents.begin(), documents.end());
  return documents;
}

}  // namespace

TEST(Corpus, EveryDocumentConvertsOrFailsCleanly) {
  const std::filesystem::path corpus = QUORVIX_CORPUS_DIR;
  std::error_code error;
  if (!std::filesystem::is_directory(corpus, error)) {
    std::printf("corpus check skipped: no folder %s\n", corpus.string().c_str());
    GTEST_SKIP() << "no corpus folder at " << corpus;
  }
  const std::vector<std::filesystem::path> documents = CorpusDocuments(corpus);
  if (documents.empty()) GTEST_SKIP() << "the corpus folder holds no documents";

  ResetSettings(g_settings, true);
  ResetJob();
  TempDir dir;
  g_job.console_run = 1;
  g_job.output_folder = dir.folder();
  ASSERT_TRUE(PrepareJob(g_job, g_settings));

  int converted = 0;
  int not_loaded = 0;
  for (const std::filesystem::path& document : documents) {
    const std::string name = document.filename().string();
    SCOPED_TRACE(name);
    // Only ".psd" is an input extension: the large-document variant goes in under that name.
    std::string input = document.string();
    if (document.extension() == ".psb") {
      input = dir.file(document.stem().string() + "-psb.psd");
      ASSERT_TRUE(std::filesystem::copy_file(document, input, error)) << error.message();
    }
    const HeaderSize header = ReadHeaderSize(input);

    g_job.input_path = input;
    g_job.source_bpp = 0;
    const bool ok = ConvertFile(g_job, g_settings);
    if (g_job.source_bpp == 0) {
      ++not_loaded;
      EXPECT_FALSE(ok);
      std::printf("%-40s not loaded\n", name.c_str());
      continue;
    }
    int32_t expected_bpp = PredictedPngDepth(g_job.source_bpp);
    // The PNG encoder writes a 32-bit image whose alpha is opaque everywhere as plain RGB.
    if (expected_bpp == 32 && !HasTransparency(input)) expected_bpp = 24;
    EXPECT_TRUE(ok) << "loaded at " << g_job.source_bpp << " bpp but not saved";
    Bitmap png = ok ? LoadImageFile(g_job.output_path) : Bitmap();
    EXPECT_TRUE(ok ? static_cast<bool>(png) : true) << "the output does not read back";
    const unsigned width = png ? FreeImage_GetWidth(png.get()) : 0;
    const unsigned height = png ? FreeImage_GetHeight(png.get()) : 0;
    const unsigned bpp = png ? FreeImage_GetBPP(png.get()) : 0;
    if (png) {
      EXPECT_EQ(width, header.width);
      EXPECT_EQ(height, header.height);
      EXPECT_EQ(static_cast<int32_t>(bpp), expected_bpp) << "source " << g_job.source_bpp;
      ++converted;
    }
    std::printf("%-40s %5ux%-5u source %3d bpp -> png %2u bpp (expected %2d) %s\n", name.c_str(),
                width, height, g_job.source_bpp, bpp, expected_bpp, ok ? "ok" : "NOT SAVED");
    std::error_code ignored;
    std::filesystem::remove(g_job.output_path, ignored);
  }
  std::printf("corpus: %zu documents, %d converted, %d not loaded\n", documents.size(), converted,
              not_loaded);
  ResetJob();
}
