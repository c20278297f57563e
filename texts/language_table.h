#pragma once

// The built-in English table of interface texts, looked up by group and key.
//
// Groups and keys compare in ASCII upper case; texts are kept as written and may hold CR LF line
// breaks and the placeholders "%s1%" to "%s4%". The global table is built once and never changes,
// so any thread may read it; the texts it hands out live as long as the program.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

/// What a lookup returns for a group or key the table does not hold.
inline constexpr std::string_view TextMissMarker = "%NO_STRING_ERROR%";
/// The name of a source pair that starts a group named by its text (any letter case).
inline constexpr std::string_view TextGroupMarker = "_GROUP_";
/// The name of the source pair that ends the table (any letter case); its text is ignored.
inline constexpr std::string_view TextEndMarker = "_END_";

/// One pair of a table source: a group marker, the end marker or an entry's key and text.
struct TextPair {
  std::string_view name;
  std::string_view text;
};

/// The compiled-in English source: eight groups from "Menu" to "Uninstall", then the end marker.
std::span<const TextPair> EnglishTextSource();

/// Texts by group and key, built from a source of pairs; read-only once constructed.
class LanguageTable {
 public:
  /// Builds the table: pairs before the first group and after the end marker are ignored, and a
  /// source without an end marker ends with its last pair.
  explicit LanguageTable(std::span<const TextPair> source);
  LanguageTable(const LanguageTable&) = delete;
  LanguageTable& operator=(const LanguageTable&) = delete;

  /// The text of `key` in `group`, both in any letter case; TextMissMarker when either is missing.
  /// The reference stays valid as long as the table.
  const std::string& Find(std::string_view group, std::string_view key) const;

  /// The group names in table order, in upper case.
  std::vector<std::string> GroupNames() const;

 private:
  static constexpr std::uint32_t NoEntry = UINT32_MAX;

  struct Entry {
    std::string key;  // upper case
    std::string text;
  };
  struct Group {
    std::string name;  // upper case
    std::uint32_t begin = 0;
    std::uint32_t end = 0;
    // The first entry of the group whose key starts with each byte, or NoEntry.
    std::array<std::uint32_t, 256> first_by_char;
  };

  std::ptrdiff_t FindGroup(std::string_view upper_name) const;

  std::vector<Entry> entries_;
  std::vector<Group> groups_;
  // Only a starting guess for the next search: a stale value costs a full search, never a wrong
  // answer, so relaxed order is enough between threads.
  mutable std::atomic<std::ptrdiff_t> last_group_{-1};
};

/// Builds the global table from EnglishTextSource on the first call; later calls and concurrent
/// calls find it built. Lookups build it themselves when no one has called this yet.
void BuildLanguageTable();

/// The global table, built on first use.
const LanguageTable& InterfaceTexts();

/// The text of `key` in `group` of the global table (any letter case); TextMissMarker when the
/// group or key is missing. The reference stays valid for the whole run.
const std::string& GetText(std::string_view group, std::string_view key);

/// `text` with each "%s1%".."%s4%" (any letter case) replaced by `s1`..`s4`, in that order, so a
/// value holding a later placeholder is filled in turn; an empty value leaves its placeholder.
std::string FormatText(std::string_view text, std::string_view s1 = "", std::string_view s2 = "",
                       std::string_view s3 = "", std::string_view s4 = "");
