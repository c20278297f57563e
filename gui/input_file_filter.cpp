#include "gui/input_file_filter.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "engine/output/formats.h"

std::string BuildInputFileFilter(std::string_view all_supported_text,
                                 std::string_view all_files_text) {
  std::string all_patterns;
  // Keyed by description, in the order each description first appears.
  std::vector<std::pair<std::string, std::string>> by_description;
  for (const std::string& extension : g_accepted_input_extensions) {
    const std::string pattern = "*." + extension;
    all_patterns += pattern + ";";
    const InputFormatEntry* entry = g_input_formats.Find(extension);
    const std::string description = entry ? entry->description : extension;
    auto found = std::find_if(by_description.begin(), by_description.end(),
                              [&](const auto& item) { return item.first == description; });
    if (found == by_description.end()) {
      by_description.emplace_back(description, pattern);
    } else {
      found->second = pattern + ";" + found->second;
    }
  }
  if (!all_patterns.empty()) all_patterns.pop_back();

  std::string filter;
  filter.append(all_supported_text).append("|").append(all_patterns).append("|");
  for (const auto& [description, patterns] : by_description) {
    filter.append(description).append("|").append(patterns).append("|");
  }
  filter.append(all_files_text).append(" (*.*)|*.*");
  return filter;
}
