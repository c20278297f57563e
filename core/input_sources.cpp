#include "core/input_sources.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "engine/output/formats.h"
#include "platform/text.h"

namespace fs = std::filesystem;

bool IsDocumentPath(const std::string& path) {
  const std::string extension = LowerExtension(path);
  return extension == "psd" || extension == "psb";
}

bool AppendInputFile(InputFileList& inputs, const std::string& path, const std::string& subfolder) {
  if (!IsAcceptableInputFile(path)) return false;
  if (const InputFileEntry* existing = inputs.Find(path)) {
    inputs.Set(path, InputFileEntry{existing->added, subfolder});
    return true;
  }
  inputs.Set(path, InputFileEntry{static_cast<int32_t>(inputs.Size()) + 1, subfolder});
  return true;
}

int32_t AppendInputFolder(InputFileList& inputs, const std::string& folder, bool recursive) {
  std::string base = folder;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  std::error_code error;
  if (!fs::is_directory(base, error)) return -1;
  std::vector<std::string> found;
  const auto consider = [&found](const fs::directory_entry& entry) {
    std::error_code status_error;
    // A link to a document is the document; a link to a folder is never entered.
    if (entry.is_regular_file(status_error) && IsDocumentPath(entry.path().string())) {
      found.push_back(entry.path().string());
    }
  };
  const auto options = fs::directory_options::skip_permission_denied;
  if (recursive) {
    fs::recursive_directory_iterator walk(base, options, error);
    if (error) return -1;
    for (; walk != fs::recursive_directory_iterator(); walk.increment(error)) {
      if (error) break;
      consider(*walk);
    }
  } else {
    fs::directory_iterator walk(base, options, error);
    if (error) return -1;
    for (; walk != fs::directory_iterator(); walk.increment(error)) {
      if (error) break;
      consider(*walk);
    }
  }
  std::sort(found.begin(), found.end());
  const std::string prefix = base == "/" ? base : base + "/";
  int32_t added = 0;
  for (const std::string& path : found) {
    const std::string subfolder = FolderOf(std::string_view(path).substr(prefix.size()));
    if (AppendInputFile(inputs, path, subfolder)) ++added;
  }
  return added;
}

std::vector<std::string> ReadInputList(std::istream& list) {
  std::vector<std::string> paths;
  std::string line;
  while (std::getline(list, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) paths.push_back(std::move(line));
  }
  return paths;
}

bool IsInputFolder(const std::string& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}
