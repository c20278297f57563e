// Every real-world document of the corpus goes through the whole per-file conversion with default
// settings, and each picture that has a twin (the same picture at another depth, mode or
// compression) or a reference is compared with it. Skipped, with the reason printed, when the
// corpus is not there.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/conversion_job.h"
#include "core/pipeline.h"
#include "engine/loading/loading.h"
#include "engine/psd/psd_check.h"
#include "settings/program_settings.h"
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

// PNG's allowed depths, the first that holds the source, else the largest; deep grey (loaded as
// 16 bits a pixel) stays 16-bit grey.
int32_t PredictedPngDepth(int32_t source_bpp) {
  if (source_bpp == 16) return 16;
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

// The manifest's rows by file name, each a map from column name to value.
std::map<std::string, std::map<std::string, std::string>> ReadManifest(
    const std::filesystem::path& corpus) {
  std::map<std::string, std::map<std::string, std::string>> rows;
  std::istringstream lines(ReadFileBytes((corpus / "MANIFEST.tsv").string()));
  std::vector<std::string> columns;
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream cells(line);
    for (std::string cell; std::getline(cells, cell, '\t');) fields.push_back(cell);
    if (columns.empty()) {
      columns = fields;
      continue;
    }
    for (size_t i = 0; i < fields.size() && i < columns.size(); ++i) {
      rows[fields[0]][columns[i]] = fields[i];
    }
  }
  return rows;
}

// True when the manifest says the document's stored composite is not its picture: saved without
// compatibility (a placeholder) or cut short.
bool CompositeIsNotThePicture(const std::map<std::string, std::string>& row) {
  const auto merged = row.find("merged");
  const auto composite = row.find("composite");
  return (merged != row.end() && merged->second == "no") ||
         (composite != row.end() && composite->second == "short");
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

// What a picture is compared with: another document's output, or a PNG beside the document.
enum class Against { Twin, Reference, Peer };

// One comparison, and how it measured before faithful loading (PSNR in dB over premultiplied
// colour and alpha; 99 is identical), or, for documents rebuilt from their layers, when they were
// first rebuilt. No document may get worse than that. The references of the documents saved
// without a composite show the placeholder (or, for the 16-bit one, black), not the picture: they
// are left out.
struct Comparison {
  const char* document;
  Against against;
  const char* twin;  // for Against::Twin
  double before;
  bool alpha_only;  // the twins differ in colour by design (CMYK and RGB); compare alpha alone
};

constexpr Comparison Comparisons[] = {
    // Deep grey keeps 16 bits now, so the 8-bit twin's rounding shows (at most 1.3 levels); the
    // 32-bit twin, once 14.6 dB away, follows its grey curve.
    {"gray16-raw-4x4.psd", Against::Twin, "gray8-raw-4x4.psd", 53.47, false},
    {"gray32-raw-4x4.psd", Against::Twin, "gray8-raw-4x4.psd", 43.88, false},
    {"gray32-raw-4x4.psd", Against::Twin, "gray16-raw-4x4.psd", 43.48, false},
    {"rgb16-raw-4x4.psd", Against::Twin, "rgb8-raw-4x4.psd", 61.59, false},
    {"rgb32-raw-4x4.psd", Against::Twin, "rgb8-raw-4x4.psd", 12.86, false},
    {"rgb32-raw-4x4.psd", Against::Twin, "rgb16-raw-4x4.psd", 12.85, false},
    {"rgba8-raw-4x4.psd", Against::Twin, "rgb8-raw-4x4.psd", 3.78, false},
    {"cmyk16-raw-4x4.psd", Against::Twin, "cmyk8-raw-4x4.psd", 59.34, false},
    // Lab goes through LittleCMS's Lab D50 at each twin's own precision. 16 bits hold a and b as
    // 32768 plus 256 a unit; the 8-bit twin's saturated blue lies a unit of a lower than its 16-bit
    // twin's (which is its gradient stop exactly, see below), so the two are 38 dB apart (47.7 when
    // 16 bits were read on ICC's scale, which moved a by the same unit).
    {"lab16-raw-4x4.psd", Against::Twin, "lab8-raw-4x4.psd", 38.02, false},
    {"gray8-1800x1200.psb", Against::Twin, "gray8-1800x1200.psd", 60.43, false},
    {"cmyka8-530x512-220layers.psd", Against::Twin, "rgba8-530x512-220layers.psd", 7.33, true},
    {"bitmap1-raw-300x200.psd", Against::Reference, "", 99.00, false},
    {"bitmap1-rle-300x200.psd", Against::Reference, "", 99.00, false},
    {"cmyk16-raw-200x200.psd", Against::Reference, "", 20.21, false},
    {"gray16-raw-200x200.psd", Against::Reference, "", 99.00, false},
    {"gray8-raw-200x200-17layers.psd", Against::Reference, "", 25.07, false},
    // These references are the samples unmanaged; ours go through the documents' dot gain
    // profiles (within a level of ImageMagick's profile-managed picture, the white matte undone in
    // the document's grey first; undone after the profile, graya16 was 22.63 from its reference).
    {"graya16-64x64.psd", Against::Reference, "", 21.80, false},
    {"graya8-300x200.psd", Against::Reference, "", 26.21, false},
    {"indexed8-rle-32x32.psd", Against::Reference, "", 99.00, false},
    {"indexed8-trans-64x64.psd", Against::Reference, "", 99.00, false},
    {"rgb8-200x200-sai.psd", Against::Reference, "", 99.00, false},
    {"rgb8-3508x4960.psd", Against::Reference, "", 99.00, false},
    {"rgb8-627x510-clipstudio.psd", Against::Reference, "", 99.00, false},
    {"rgb8-raw-200x200.psd", Against::Reference, "", 99.00, false},
    {"rgba8-1x1.psd", Against::Reference, "", 56.00, false},
    // The peer draws no layer effects; the rebuild draws the panel's enabled 5-pixel inside
    // stroke, its black frame.
    {"gray8-549x864-nocompat.psb", Against::Peer, "", 22.78, false},
    {"rgb16-rle-500x500-nocompat.psd", Against::Peer, "", 99.00, false},
    {"rgb8-32x32-nocompat.psd", Against::Peer, "", 99.00, false},
};

// The picture `comparison` is held against: a twin's output or a PNG beside the document.
Bitmap OtherPicture(const Comparison& comparison, const std::filesystem::path& corpus,
                    const std::map<std::string, std::string>& outputs) {
  if (comparison.against == Against::Twin) {
    const auto found = outputs.find(comparison.twin);
    return found == outputs.end() ? Bitmap() : LoadImageFile(found->second);
  }
  const std::string stem = std::filesystem::path(comparison.document).stem().string();
  const char* suffix = comparison.against == Against::Reference ? ".ref.png" : ".peer.png";
  return LoadImageFile((corpus / (stem + suffix)).string());
}

// Only the alpha of two pictures.
PictureDifference CompareAlpha(const Bitmap& a, const Bitmap& b) {
  PictureDifference difference = ComparePictures(a, b);
  if (!difference.same_size) return difference;
  const int width = static_cast<int>(FreeImage_GetWidth(a.get()));
  const int height = static_cast<int>(FreeImage_GetHeight(a.get()));
  double squares = 0;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double d = (ReadPixel(a, x, y).alpha - ReadPixel(b, x, y).alpha) / 257.0;
      squares += d * d;
    }
  }
  const double mean = squares / (static_cast<double>(width) * height);
  difference.psnr =
      mean == 0 ? IdenticalPsnr : std::min(IdenticalPsnr, 10 * std::log10(255.0 * 255.0 / mean));
  difference.max_colour = 0;
  return difference;
}

const char* AgainstName(const Comparison& comparison) {
  switch (comparison.against) {
    case Against::Twin:
      return comparison.twin;
    case Against::Reference:
      return "reference";
    case Against::Peer:
      return "peer picture";
  }
  return "";
}

// Prints the table of comparisons and checks that none got worse and that the pictures the
// document's own records decide come out as their twins and references say.
void CompareWithTwinsAndReferences(const std::filesystem::path& corpus,
                                   const std::map<std::string, std::string>& outputs) {
  std::printf("\n%-32s %-30s %7s %7s %6s %6s\n", "document", "compared with", "before", "after",
              "colour", "alpha");
  for (const Comparison& comparison : Comparisons) {
    SCOPED_TRACE(std::string(comparison.document) + " against " + AgainstName(comparison));
    const auto output = outputs.find(comparison.document);
    if (output == outputs.end()) continue;  // a document the corpus does not hold
    const Bitmap picture = LoadImageFile(output->second);
    const Bitmap other = OtherPicture(comparison, corpus, outputs);
    if (!other) continue;
    const PictureDifference difference =
        comparison.alpha_only ? CompareAlpha(picture, other) : ComparePictures(picture, other);
    ASSERT_TRUE(difference.same_size);
    std::printf("%-32s %-30s %7.2f %7.2f %6.1f %6.1f\n", comparison.document,
                AgainstName(comparison), comparison.before, difference.psnr, difference.max_colour,
                difference.max_alpha);
    const std::string document = comparison.document;
    // Both CMYK twins now go through their profile, whose curve spreads the 8-bit twin's rounding
    // over up to three levels; each is much closer to the document's colours than before (see
    // cmyk16-raw-200x200 against its reference).
    const double floor = document == "cmyk16-raw-4x4.psd" ? 50.0 : comparison.before - 0.01;
    EXPECT_GE(difference.psnr, floor) << "worse than before";

    if (document == "rgba8-raw-4x4.psd") {
      // The saved selection is no transparency; the twins' stored pictures differ by a level.
      EXPECT_LE(difference.max_colour, 1.0);
      EXPECT_EQ(difference.max_alpha, 0.0);
    }
    if (document == "lab16-raw-4x4.psd") {
      // Its gradient's stops are the RGB twin's stop colours in Lab to the second decimal: where a
      // stop lies (the blue at the first pixel, the red at the third), both show one colour.
      const auto rgb = outputs.find("rgb16-raw-4x4.psd");
      const Bitmap twin = rgb == outputs.end() ? Bitmap() : LoadImageFile(rgb->second);
      for (const int x : {0, 2}) {
        if (!twin) break;
        const Rgba16 ours = ReadPixel(picture, x, 0), theirs = ReadPixel(twin, x, 0);
        EXPECT_NEAR(ours.red / 257.0, theirs.red / 257.0, 1.0) << x;
        EXPECT_NEAR(ours.green / 257.0, theirs.green / 257.0, 1.0) << x;
        EXPECT_NEAR(ours.blue / 257.0, theirs.blue / 257.0, 1.0) << x;
      }
    }
    if (document == "cmyka8-530x512-220layers.psd") {
      EXPECT_EQ(difference.max_alpha, 0.0);
    }
    if (document == "cmyk16-raw-200x200.psd") {
      EXPECT_GE(difference.psnr, 45.0);
    }
    if (document == "rgb32-raw-4x4.psd") {
      // Unblended colours match the twins; a 32-bit document blends its layers in linear light,
      // so its blended pixels are a different picture (tests/core/README.md).
      for (const auto& [x, y] : {std::pair{0, 0}, {2, 0}}) {
        const Rgba16 ours = ReadPixel(picture, x, y), twin = ReadPixel(other, x, y);
        EXPECT_NEAR(ours.red / 257.0, twin.red / 257.0, 1.0) << x;
        EXPECT_NEAR(ours.green / 257.0, twin.green / 257.0, 1.0) << x;
        EXPECT_NEAR(ours.blue / 257.0, twin.blue / 257.0, 1.0) << x;
      }
    }
  }
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

  ProgramSettings settings;
  ResetSettings(settings, true);
  ConversionJob job;
  ResetJob(job);
  TempDir dir;
  job.console_run = 1;
  job.output_folder = dir.folder();
  ASSERT_TRUE(PrepareJob(job, settings));

  const auto manifest = ReadManifest(corpus);
  int converted = 0;
  int not_loaded = 0;
  int rebuilt = 0;
  std::map<std::string, std::string> outputs;  // document file name -> its PNG
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
    // Only the documents whose composite is not their picture are built from their layers; every
    // other one takes the stored composite exactly as before.
    const std::string bytes = ReadFileBytes(input);
    const std::optional<PsdLayout> layout =
        CheckPsdStructure({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}, 0);
    const bool from_layers = layout && layout->RebuildsFromLayers();
    const auto row = manifest.find(name);
    if (row != manifest.end()) {
      const bool rebuildable =
          row->second.at("mode") == "RGB" || row->second.at("mode") == "Grayscale";
      EXPECT_EQ(from_layers, rebuildable && CompositeIsNotThePicture(row->second));
    }
    rebuilt += from_layers ? 1 : 0;

    job.input_path = input;
    job.source_bpp = 0;
    const bool ok = ConvertFile(job, settings) == FileFailure::None;
    if (job.source_bpp == 0) {
      ++not_loaded;
      EXPECT_FALSE(ok);
      std::printf("%-40s not loaded\n", name.c_str());
      continue;
    }
    int32_t expected_bpp = PredictedPngDepth(job.source_bpp);
    // The PNG encoder writes a 32-bit image whose alpha is opaque everywhere as plain RGB.
    if (expected_bpp == 32 && !HasTransparency(input)) expected_bpp = 24;
    EXPECT_TRUE(ok) << "loaded at " << job.source_bpp << " bpp but not saved";
    Bitmap png = ok ? LoadImageFile(job.output_path) : Bitmap();
    EXPECT_TRUE(ok ? static_cast<bool>(png) : true) << "the output does not read back";
    const unsigned width = png ? FreeImage_GetWidth(png.get()) : 0;
    const unsigned height = png ? FreeImage_GetHeight(png.get()) : 0;
    const unsigned bpp = png ? FreeImage_GetBPP(png.get()) : 0;
    if (png) {
      EXPECT_EQ(width, header.width);
      EXPECT_EQ(height, header.height);
      EXPECT_EQ(static_cast<int32_t>(bpp), expected_bpp) << "source " << job.source_bpp;
      ++converted;
    }
    std::printf("%-40s %5ux%-5u source %3d bpp -> png %2u bpp (expected %2d) %s%s\n", name.c_str(),
                width, height, job.source_bpp, bpp, expected_bpp, ok ? "ok" : "NOT SAVED",
                from_layers ? ", from its layers" : "");
    if (ok) outputs[name] = job.output_path;
  }
  std::printf("corpus: %zu documents, %d converted, %d not loaded, %d built from their layers\n",
              documents.size(), converted, not_loaded, rebuilt);
  CompareWithTwinsAndReferences(corpus, outputs);
}
