// Feeds arbitrary bytes to the INI reader and checks what must hold for any of them: no crash,
// the written layout reads back to the same text, and a written key reads back as written.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/config_file.h"
#include "config/settings_file.h"
#include "settings/program_settings.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

// Reads every key of the current group in every type, as the settings and profile readers do.
void WalkGroup(ConfigFile& file) {
  for (bool more = file.FirstKey(); more; more = file.NextKey()) {
    const std::string name = file.KeyName();
    const std::string value = file.KeyValue();
    (void)file.ReadString(name, "");
    (void)file.ReadLong(name, 0);
    (void)file.ReadDate(name, 0);
    (void)file.ReadFloat(name, 0.0f);
    (void)ParseConfigFloat(value);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  ConfigFile file;
  if (!file.ParseConfig(bytes)) return 0;

  // Group names taken from the input itself reach groups the fixed names would miss.
  const std::string_view first_line = bytes.substr(0, bytes.find_first_of("\r\n"));
  for (std::string_view group : {std::string_view(), std::string_view("General"),
                                 std::string_view("CLI"), first_line.substr(0, 32)}) {
    file.SelectGroup(group);
    WalkGroup(file);
  }

  ProgramSettings settings;
  ReadSettings(file, settings);

  // What is written reads back as text that parses to itself.
  const std::string text = file.ConfigText();
  ConfigFile again;
  if (again.ParseConfig(text)) Require(again.ConfigText() == text);

  // A written key is found again, with its value as written, after a write and reparse. A "]"
  // would end the group's name early when read.
  std::string group(first_line.substr(0, 16));
  std::erase(group, ']');
  file.SelectGroup(group);
  file.WriteString("Fuzz Key", " value ");
  file.WriteLong("Fuzz Long", -42);
  file.WriteComment("note");
  ConfigFile written;
  if (written.ParseConfig(file.ConfigText())) {
    written.SelectGroup(group);
    Require(written.ReadString("fuzz key", "") == "value");
    Require(written.ReadLong("FUZZ LONG", 0) == -42);
  }
  return 0;
}
