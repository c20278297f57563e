#include "cli/profile.h"

#include "config/config_file.h"
#include "platform/ascii.h"
#include "platform/text.h"

namespace {

bool IsTextRule(ValueRule rule) {
  return rule == ValueRule::PathNext || rule == ValueRule::TextNext || rule == ValueRule::Text;
}

}  // namespace

bool LoadProfile(const std::string& path, OptionTarget& target) {
  if (path.empty()) return false;
  ConfigFile file;
  if (!file.OpenConfig(path)) return false;
  // Without the group every read below finds nothing, which is still a usable profile.
  if (!file.SelectGroup("CLI")) {
    file.CloseConfig();
    return true;
  }
  for (bool more = file.FirstKey(); more; more = file.NextKey()) {
    const std::string key = ToUpperAscii(file.KeyName());
    const OptionSpec* option = FindProfileOption(key);
    if (!option) continue;
    std::string value = file.KeyValue();
    if (IsTextRule(option->rule)) {
      // The mask may need its blanks, so quotes protect them instead.
      value = TrimSet(value, key == "--FILENAME-MASK" ? "\"" : " ");
    }
    ApplyOptionValue(*option, target, value);
  }
  file.CloseConfig();
  return true;
}
