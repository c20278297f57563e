#pragma once

// The image formats the engine knows: input formats by extension, output formats by key, and the
// input extensions the offered input keys accept.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct InputFormatEntry {
  std::string group;        // the input format key the extension belongs to
  std::string description;  // shown in the file dialog's filter
};

struct OutputFormatEntry {
  int32_t fif = 0;        // FreeImage format number used to save
  std::string extension;  // always equal to the key
  std::string description;
  std::string depths;  // allowed bits per pixel, comma-separated, increasing
};

/// A table keyed by text that is walked in the order of building.
template <typename Entry>
class FormatTable {
 public:
  using Item = std::pair<std::string, Entry>;

  void Clear() { items_.clear(); }
  bool Empty() const { return items_.empty(); }
  size_t Size() const { return items_.size(); }
  /// Adds or replaces the entry of `key`, keeping the place of an existing one.
  void Set(std::string key, Entry entry) {
    for (Item& item : items_) {
      if (item.first == key) {
        item.second = std::move(entry);
        return;
      }
    }
    items_.emplace_back(std::move(key), std::move(entry));
  }
  /// The entry of `key`, compared exactly; nullptr when there is none.
  const Entry* Find(std::string_view key) const {
    for (const Item& item : items_) {
      if (item.first == key) return &item.second;
    }
    return nullptr;
  }
  typename std::vector<Item>::const_iterator begin() const { return items_.begin(); }
  typename std::vector<Item>::const_iterator end() const { return items_.end(); }

 private:
  std::vector<Item> items_;
};

using InputFormatTable = FormatTable<InputFormatEntry>;
using OutputFormatTable = FormatTable<OutputFormatEntry>;

extern InputFormatTable g_input_formats;
extern OutputFormatTable g_output_formats;
/// The extensions of the offered input keys, as `RebuildAcceptedExtensions` left them.
extern std::vector<std::string> g_accepted_input_extensions;

/// Fills the output table once; later calls leave it as it is.
void BuildOutputFormats();

/// Fills the input table once; later calls leave it as it is.
void BuildInputFormats();

/// The extensions of `table` whose group is one of `keys`, key by key, in the table's order.
std::vector<std::string> AcceptedExtensionsFor(const std::vector<std::string>& keys,
                                               const InputFormatTable& table);

/// Rebuilds the accepted extensions from the offered input keys (building the input table when
/// it is still empty).
void RebuildAcceptedExtensions();

/// The lower-cased extension of the file name in `path` (after its last "."); empty when none.
std::string LowerExtension(std::string_view path);

/// True when the lower-cased extension of `path` is one of the accepted input extensions.
bool IsAcceptedInputPath(std::string_view path);

/// The output table's entry of `key`; nullptr when the key is unknown.
const OutputFormatEntry* FindOutputFormat(std::string_view key);

/// True when `key` is exactly one of the offered output keys.
bool IsValidOutputKey(std::string_view key);

/// The depths of a comma-separated list, in its order; entries that are not numbers are skipped.
std::vector<int32_t> ParseDepthList(std::string_view depths);
