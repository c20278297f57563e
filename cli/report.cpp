#include "cli/report.h"

#include <cstdio>

#include "cli/keywords.h"
#include "core/program_identity.h"
#include "core/program_settings.h"
#include "engine/formats.h"
#include "platform/console.h"

namespace {

using K = KeywordTable;

std::string Num(int64_t value) { return std::to_string(value); }

std::string Upper(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return result;
}

std::string ReplaceAll(std::string text, std::string_view from, std::string_view to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// The save settings each output format shows after its depth, in the order they are printed.
void ReportSaveSettings(const std::string& key, const OutputSettings& output,
                        const ConsoleReport& report) {
  if (key == "bmp") {
    report.Debug("BMP Compression: " +
                 ValueToKeyword(K::Compression, output.bmp_compression, CompressionFormat::Bmp));
    report.Debug("BMP Color Table: " + ValueToKeyword(K::BmpColorTable, output.bmp_color_table));
  } else if (key == "exr") {
    report.Debug("EXR Compression: " +
                 ValueToKeyword(K::Compression, output.exr_compression, CompressionFormat::Exr));
  } else if (key == "jpg") {
    report.Debug("JPG Quality: " + Num(output.jpg_quality));
    report.Debug("JPG Chroma Subsampling: " + ValueToKeyword(K::JpgChroma, output.jpg_chroma));
    report.Debug("JPG Save As: " + ValueToKeyword(K::JpgSaveAs, output.jpg_save_as));
  } else if (key == "png") {
    report.Debug("PNG Compression: " +
                 ValueToKeyword(K::Compression, output.png_compression, CompressionFormat::Png));
    report.Debug("PNG Interlaced: " + Num(output.png_interlaced));
  } else if (key == "tga") {
    report.Debug("TGA Compression: " +
                 ValueToKeyword(K::Compression, output.tga_compression, CompressionFormat::Tga));
  } else if (key == "tiff") {
    report.Debug("TIFF Compression: " +
                 ValueToKeyword(K::Compression, output.tiff_compression, CompressionFormat::Tiff));
    report.Debug("TIFF Color Model: " + ValueToKeyword(K::TiffColorModel, output.tiff_color_model));
  }
}

// The output keys that have a depth setting and so a depth check, in table order.
constexpr std::string_view CheckedOutputKeys[] = {
    "bmp", "dds", "exr", "gif", "hdr", "ico", "j2k", "jng",  "jp2",  "jpg",  "jxr", "pbm",
    "pcx", "pfm", "pgm", "png", "ppm", "psd", "tga", "tiff", "wbmp", "webp", "xpm"};

bool IsCheckedOutputKey(const std::string& key) {
  for (std::string_view checked : CheckedOutputKeys) {
    if (checked == key) return true;
  }
  return false;
}

}  // namespace

void ConsoleReport::Status(std::string_view line) const {
  if (!quiet_) WriteConsoleLine(line);
}

void ConsoleReport::Debug(std::string_view line) const {
  if (debug_) WriteConsoleLine(line);
}

void ConsoleReport::Always(std::string_view line) const { WriteConsoleLine(line); }

void ConsoleReport::Error(std::string_view message) const {
  WriteConsoleLine("Error: " + std::string(message));
}

std::vector<std::string> BannerLines(const std::string& program_title) {
  return {program_title, ReplaceAll(std::string(NoticeText), "\u00A9", "(c)"),
          std::string(ProductWebAddress), " "};
}

void ReportInputFormat(const std::string& key, const ProgramSettings& settings,
                       const ConsoleReport& report) {
  const InputSettings& input = settings.input;
  if (key == "dds") {
    report.Debug("DDS Load As: " + ValueToKeyword(K::DdsLoadAs, input.dds_load_as));
  } else if (key == "gif") {
    report.Debug("GIF Frame Loading: " + ValueToKeyword(K::FrameLoading, input.gif_frame_loading));
  } else if (key == "ico") {
    report.Debug("ICO Frame Loading: " + ValueToKeyword(K::FrameLoading, input.ico_frame_loading));
  } else if (key == "raw") {
    report.Debug("RAW Load As: " + ValueToKeyword(K::RawLoadAs, input.raw_load_as));
    report.Debug("RAW Header Size: " + Num(input.raw_header_size));
    report.Debug("RAW Image Width: " + Num(input.raw_image_width));
    report.Debug("RAW Image Height: " + Num(input.raw_image_height));
    report.Debug("RAW Tone Mapping: " + ValueToKeyword(K::ToneMapping, input.raw_tone_mapping));
  } else if (key == "tiff") {
    report.Debug("TIFF Frame Loading: " +
                 ValueToKeyword(K::FrameLoading, input.tiff_frame_loading));
  }
}

bool ReportOutputFormat(const std::string& key, ProgramSettings& settings,
                        const ConsoleReport& report) {
  if (!IsCheckedOutputKey(key)) return true;
  const int32_t* bpp = OutputBppSetting(settings, key);
  const int32_t depth = bpp ? *bpp : 0;
  report.Debug(Upper(key) + " BPP: " + Num(depth));
  ReportSaveSettings(key, settings.output, report);
  if (!IsBitDepthAllowed(key, depth)) {
    report.Error("Invalid " + key + "-bpp value");
    return false;
  }
  if (key == "jpg" && (settings.output.jpg_quality < 1 || settings.output.jpg_quality > 100)) {
    report.Error("Invalid jpg-quality value");
    return false;
  }
  return true;
}

bool IsOutputFormatKey(std::string_view key) {
  for (const std::string& offered : g_process.output_format_keys) {
    if (offered == key) return true;
  }
  return false;
}

bool IsBitDepthAllowed(std::string_view key, int32_t bpp) {
  if (bpp == 0) return true;
  const OutputFormatEntry* format = FindOutputFormat(key);
  if (!format) return false;
  std::string_view depths = format->depths;
  while (!depths.empty()) {
    const size_t comma = depths.find(',');
    if (ReadNumber(depths.substr(0, comma)) == bpp) return true;
    if (comma == std::string_view::npos) break;
    depths.remove_prefix(comma + 1);
  }
  return false;
}

std::string FormatTwoDecimals(float value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", static_cast<double>(value));
  return text;
}
