#include "cli/report.h"

#include <cstdio>
#include <type_traits>
#include <variant>

#include "cli/keywords.h"
#include "core/conversion_job.h"
#include "core/program_identity.h"
#include "engine/output/formats.h"
#include "platform/ascii.h"
#include "platform/console.h"
#include "settings/program_settings.h"

namespace {

using K = KeywordTable;

std::string Num(int64_t value) { return std::to_string(value); }

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

}  // namespace

void ConsoleReport::Status(std::string_view line) const {
  if (!quiet_) WriteConsoleLine(line);
}

void ConsoleReport::Debug(std::string_view line) const {
  if (debug_) WriteConsoleLine(line);
}

void ConsoleReport::Always(std::string_view line) const { WriteConsoleLine(line); }

void ConsoleReport::Notice(std::string_view line) const {
  if (!quiet_) WriteErrorLine(line);
}

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

std::string LeftOutLine(const std::string& input, const std::string& left_out) {
  return "Not drawn in " + input + ": " + left_out;
}

void ReportLayerOptions(const ProgramSettings& settings, const ConversionJob& job,
                        const ConsoleReport& report) {
  report.Debug("Rebuild From Layers: " + Num(settings.input.rebuild_from_layers));
  for (const std::string& pattern : job.hidden_layers) report.Debug("Hide Layer: " + pattern);
}

void ReportOutputFormat(const std::string& key, const ProgramSettings& settings,
                        const ConsoleReport& report) {
  const int32_t* bpp = OutputBppSetting(settings, key);
  if (!bpp) return;
  report.Debug(ToUpperAscii(key) + " BPP: " + Num(*bpp));
  ReportSaveSettings(key, settings.output, report);
  report.Debug("Keep ICC Profile: " + Num(settings.output.keep_icc_profile));
}

std::string FormatTwoDecimals(float value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", static_cast<double>(value));
  return text;
}

std::string ReportValue(const SettingField& field, const ProgramSettings& settings) {
  return std::visit(
      [&field](const auto* value) -> std::string {
        using Value = std::remove_cv_t<std::remove_pointer_t<decltype(value)>>;
        if constexpr (std::is_same_v<Value, std::string>) {
          return *value;
        } else if constexpr (std::is_same_v<Value, float>) {
          return FormatTwoDecimals(*value);
        } else {
          if (field.choices.empty()) return Num(*value);
          if (*value < 0 || static_cast<size_t>(*value) >= field.choices.size()) return {};
          return ToLowerAscii(field.choices[static_cast<size_t>(*value)].keyword);
        }
      },
      field.Read(settings));
}

void ReportRows(std::span<const ReportRow> rows, const ProgramSettings& settings,
                const ConsoleReport& report) {
  if (!report.debug()) return;
  for (const ReportRow& row : rows) {
    report.Debug(std::string(row.label) + ": " +
                 ReportValue(SettingOf(row.group, row.key), settings));
  }
}
