// Feeds arbitrary argument vectors to the command-line parser and checks what must hold for any
// of them: no crash or undefined behaviour, only the two parse errors, and keyword and number
// readers that agree with themselves.
//
// Input: the bytes up to the first NUL are the content of a profile file; the rest, split at NUL
// bytes, are the arguments. Every "--profile" argument is pointed at that file, so the parser
// never reads any other file.
//
// It needs only the parser's sources; built by hand with clang from the repository root:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. tests/fuzz/cli_fuzz.cpp
//     cli/command_line.cpp cli/options.cpp cli/keywords.cpp cli/profile.cpp config/config_*.cpp
//     settings/program_settings.cpp platform/system.cpp -o /tmp/cli_fuzz
//   /tmp/cli_fuzz -max_total_time=120 -max_len=512 /tmp/cli-corpus tests/fuzz/seeds/cli

#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.h"
#include "cli/keywords.h"
#include "core/conversion_job.h"
#include "settings/program_settings.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

const std::string& ProfilePath() {
  static const std::string path = [] {
    char folder[] = "/tmp/quorvix-cli-fuzz-XXXXXX";
    Require(mkdtemp(folder) != nullptr);
    return std::string(folder) + "/profile.ini";
  }();
  return path;
}

void WriteProfile(std::string_view content) {
  std::FILE* file = std::fopen(ProfilePath().c_str(), "wb");
  Require(file != nullptr);
  std::fwrite(content.data(), 1, content.size(), file);
  std::fclose(file);
}

bool IsUpperName(const std::string& name) {
  for (char c : name) {
    if (c >= 'a' && c <= 'z') return false;
  }
  return name.empty() || name.front() == '-';
}

void CheckReaders(const std::string& text) {
  for (int32_t table = 0; table < KeywordTableCount; ++table) {
    const auto id = static_cast<KeywordTable>(table);
    const int32_t value = KeywordToValue(id, text);
    const std::string keyword = ValueToKeyword(id, value);
    // Every value a keyword gives has a name that reads back to it.
    if (value != 0) Require(KeywordToValue(id, keyword) == value);
  }
  (void)ReadNumber(text);
  const float decimal = ReadDecimal(text);
  (void)std::isnan(decimal);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const size_t split = bytes.find('\0');
  WriteProfile(bytes.substr(0, split));

  std::vector<std::string> arguments;
  if (split != std::string_view::npos) {
    std::string_view rest = bytes.substr(split + 1);
    // A bound keeps each run short; real command lines are far below it.
    while (arguments.size() < 64) {
      const size_t end = rest.find('\0');
      std::string argument(rest.substr(0, end));
      const std::string upper = Parameters({argument}).OptionName(0);
      if (upper.rfind("--PROFILE", 0) == 0) argument = "--profile=" + ProfilePath();
      arguments.push_back(std::move(argument));
      if (end == std::string_view::npos) break;
      rest.remove_prefix(end + 1);
    }
  }

  const Parameters parameters(arguments);
  for (size_t i = 0; i <= parameters.Count(); ++i) {
    Require(IsUpperName(parameters.OptionName(i)));
    CheckReaders(parameters.OptionValue(i));
  }
  (void)ReadFirstParameterMode(parameters);

  ProgramSettings settings;
  ResetSettings(settings, true);
  ConversionJob job;
  CommandLineState state;
  OptionTarget target{settings, job, state};
  ParseOptions(parameters, target);
  Require(state.error_message.empty() || state.error_message == "Incorrect number of parameters" ||
          state.error_message == "Invalid profile file");
  Require(job.console_run == 0 || job.console_run == 1);
  return 0;
}
