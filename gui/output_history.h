#pragma once

// The output-folder history: "Recent Out Folders", folder paths separated by TAB, the most recent
// first, at most "Out Folders Number" of them. No window is needed for any of this.

#include <cstdint>
#include <string>
#include <string_view>

struct ProgramSettings;

/// Entry `index` (from 0) of a TAB-separated history, blanks at both ends removed; empty when the
/// history has fewer fields.
std::string HistoryEntry(std::string_view history, int index);

/// The CRC-32 of `folder` in lower case, taken as UTF-8 bytes: two folders with the same sum are
/// the same folder.
uint32_t FolderChecksum(std::string_view folder);

/// Puts `folder` at the head of the history of `settings`, drops an older entry of the same folder
/// and keeps at most "Out Folders Number" entries; false, with the history unchanged, when
/// `folder` is empty.
bool AddOutputFolderToHistory(ProgramSettings& settings, const std::string& folder);
