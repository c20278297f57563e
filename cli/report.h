#pragma once

// What a console run prints: the banner, the debug lines of the settings and the checks of the
// output formats, each line gated by quiet and debug as the run asks.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct ConversionJob;
struct ProgramSettings;
struct SettingField;

/// Prints lines of a console run: status lines unless quiet, debug lines only in debug mode,
/// errors and closing lines always.
class ConsoleReport {
 public:
  ConsoleReport(bool quiet, bool debug) : quiet_(quiet), debug_(debug) {}

  bool quiet() const { return quiet_; }
  bool debug() const { return debug_; }

  void Status(std::string_view line) const;
  void Debug(std::string_view line) const;
  void Always(std::string_view line) const;
  /// Writes `line` to standard error unless quiet.
  void Notice(std::string_view line) const;
  /// Prints "Error: " and `message`.
  void Error(std::string_view message) const;

 private:
  bool quiet_;
  bool debug_;
};

/// The banner's four lines: title, notice with "(c)", web address and a line of one space.
std::vector<std::string> BannerLines(const std::string& program_title);

/// Debug lines of the load settings of input format `key`; none for a key without load settings.
void ReportInputFormat(const std::string& key, const ProgramSettings& settings,
                       const ConsoleReport& report);

/// Debug lines of how documents' layers are used: "Rebuild From Layers" and each "--hide-layer"
/// pattern of `job`.
void ReportLayerOptions(const ProgramSettings& settings, const ConversionJob& job,
                        const ConsoleReport& report);

/// The line that tells what the rebuilt picture of `input` leaves out (`left_out`), e.g.
/// "Not drawn in a.psd: adjustment layers, layer effects".
std::string LeftOutLine(const std::string& input, const std::string& left_out);

/// Debug lines of the depth and save settings of output format `key`; none for a key without a
/// depth setting.
void ReportOutputFormat(const std::string& key, const ProgramSettings& settings,
                        const ConsoleReport& report);

/// `value` with two decimals.
std::string FormatTwoDecimals(float value);

/// One debug line that shows a setting as it is: "LABEL: VALUE".
struct ReportRow {
  std::string_view label;
  std::string_view group;
  std::string_view key;
};

/// The value of `field` in `settings` as the debug report shows it: an enumeration's keyword in
/// lower case (empty for a value outside it), a float with two decimals, a number or a text as
/// it is.
std::string ReportValue(const SettingField& field, const ProgramSettings& settings);

/// Prints the debug line of each row, its value taken through the settings schema.
void ReportRows(std::span<const ReportRow> rows, const ProgramSettings& settings,
                const ConsoleReport& report);
