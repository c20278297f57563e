#pragma once

// What a console run prints: the banner, the debug lines of the settings and the checks of the
// output formats, each line gated by quiet and debug as the run asks.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct ProgramSettings;

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

/// Debug lines of the depth and save settings of output format `key`; none for a key without a
/// depth setting.
void ReportOutputFormat(const std::string& key, ProgramSettings& settings,
                        const ConsoleReport& report);

/// `value` with two decimals.
std::string FormatTwoDecimals(float value);
