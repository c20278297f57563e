#include "gui/output_history.h"

#include <zlib.h>

#include "platform/ascii.h"
#include "settings/program_settings.h"

std::string HistoryEntry(std::string_view history, int index) {
  if (index < 0) return {};
  size_t begin = 0;
  for (int field = 0; field < index; ++field) {
    begin = history.find('\t', begin);
    if (begin == std::string_view::npos) return {};
    ++begin;
  }
  const size_t end = history.find('\t', begin);
  std::string_view entry = history.substr(begin, end == std::string_view::npos ? end : end - begin);
  while (!entry.empty() && entry.front() == ' ') entry.remove_prefix(1);
  while (!entry.empty() && entry.back() == ' ') entry.remove_suffix(1);
  return std::string(entry);
}

uint32_t FolderChecksum(std::string_view folder) {
  const std::string lower = ToLowerAscii(folder);
  return static_cast<uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(lower.data()), static_cast<uInt>(lower.size())));
}

bool AddOutputFolderToHistory(ProgramSettings& settings, const std::string& folder) {
  if (folder.empty()) return false;
  const int limit = settings.advanced.out_folders_number;
  const std::string& old_history = settings.file.recent_out_folders;
  const uint32_t checksum = FolderChecksum(folder);
  std::string history = folder;
  int count = 1;
  for (int n = 0; n < limit; ++n) {
    const std::string entry = HistoryEntry(old_history, n);
    if (entry.empty() || count > limit - 1 || FolderChecksum(entry) == checksum) continue;
    history += '\t';
    history += entry;
    ++count;
  }
  settings.file.recent_out_folders = std::move(history);
  return true;
}
