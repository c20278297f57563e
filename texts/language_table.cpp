#include "texts/language_table.h"

#include <algorithm>
#include <cassert>
#include <tuple>

#include "platform/ascii.h"

namespace {

const std::string& MissText() {
  static const std::string miss(TextMissMarker);
  return miss;
}

}  // namespace

LanguageTable::LanguageTable(std::span<const TextPair> source) {
  // First pass: count, so the second fills without reallocating.
  std::size_t group_count = 0;
  std::size_t entry_count = 0;
  bool in_group = false;
  for (const TextPair& pair : source) {
    if (EqualsIgnoringCase(pair.name, TextEndMarker)) break;
    if (EqualsIgnoringCase(pair.name, TextGroupMarker)) {
      ++group_count;
      in_group = true;
    } else if (in_group) {
      ++entry_count;
    }
  }
  // Positions are 32-bit; a compiled-in table is a few hundred pairs.
  assert(entry_count < NoEntry && "text table too large for 32-bit positions");
  groups_.reserve(group_count);
  entries_.reserve(entry_count);

  for (const TextPair& pair : source) {
    if (EqualsIgnoringCase(pair.name, TextEndMarker)) break;
    if (EqualsIgnoringCase(pair.name, TextGroupMarker)) {
      if (!groups_.empty()) groups_.back().end = static_cast<std::uint32_t>(entries_.size());
      Group group;
      group.name = ToUpperAscii(pair.text);
      group.begin = static_cast<std::uint32_t>(entries_.size());
      groups_.push_back(std::move(group));
      continue;
    }
    // An entry before the first group belongs nowhere.
    if (groups_.empty()) continue;
    entries_.push_back(Entry{ToUpperAscii(pair.name), std::string(pair.text)});
  }
  if (!groups_.empty()) groups_.back().end = static_cast<std::uint32_t>(entries_.size());

  for (Group& group : groups_) {
    const auto first = entries_.begin() + group.begin;
    const auto last = entries_.begin() + group.end;
    // std::string compares by char_traits<char>, which orders bytes as unsigned: ordinal order.
    std::sort(first, last, [](const Entry& a, const Entry& b) {
      return std::tie(a.key, a.text) < std::tie(b.key, b.text);
    });
    group.first_by_char.fill(NoEntry);
    // Walk backwards so each slot ends up at the first entry with its character.
    for (std::uint32_t i = group.end; i-- > group.begin;) {
      const std::string& key = entries_[i].key;
      if (key.empty()) continue;
      group.first_by_char[static_cast<unsigned char>(key.front())] = i;
    }
  }
}

std::ptrdiff_t LanguageTable::FindGroup(std::string_view upper_name) const {
  const std::ptrdiff_t guess = last_group_.load(std::memory_order_relaxed);
  if (guess >= 0 && static_cast<std::size_t>(guess) < groups_.size() &&
      groups_[static_cast<std::size_t>(guess)].name == upper_name) {
    return guess;
  }
  for (std::size_t i = 0; i < groups_.size(); ++i) {
    if (groups_[i].name != upper_name) continue;
    last_group_.store(static_cast<std::ptrdiff_t>(i), std::memory_order_relaxed);
    return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

const std::string& LanguageTable::Find(std::string_view group_name, std::string_view key) const {
  const std::string upper_group = ToUpperAscii(group_name);
  const std::string upper_key = ToUpperAscii(key);

  const std::ptrdiff_t found = FindGroup(upper_group);
  if (found < 0) return MissText();
  const Group& group = groups_[static_cast<std::size_t>(found)];
  if (upper_key.empty()) return MissText();

  const std::uint32_t start = group.first_by_char[static_cast<unsigned char>(upper_key.front())];
  if (start == NoEntry) return MissText();
  for (std::uint32_t i = start; i < group.end; ++i) {
    const int order = entries_[i].key.compare(upper_key);
    if (order == 0) return entries_[i].text;
    if (order > 0) break;
  }
  return MissText();
}

std::vector<std::string> LanguageTable::GroupNames() const {
  std::vector<std::string> names;
  names.reserve(groups_.size());
  for (const Group& group : groups_) names.push_back(group.name);
  return names;
}

const LanguageTable& InterfaceTexts() {
  // A function-local static is built exactly once, even when threads race to the first call.
  static const LanguageTable table(EnglishTextSource());
  return table;
}

void BuildLanguageTable() { InterfaceTexts(); }

const std::string& GetText(std::string_view group, std::string_view key) {
  return InterfaceTexts().Find(group, key);
}

std::string FormatText(std::string_view text, std::string_view s1, std::string_view s2,
                       std::string_view s3, std::string_view s4) {
  std::string result(text);
  if (result.empty()) return result;

  const std::string_view values[] = {s1, s2, s3, s4};
  const std::string_view placeholders[] = {"%S1%", "%S2%", "%S3%", "%S4%"};
  for (std::size_t n = 0; n < 4; ++n) {
    const std::string_view value = values[n];
    if (value.empty()) continue;
    const std::string_view placeholder = placeholders[n];
    std::string filled;
    filled.reserve(result.size());
    std::size_t pos = 0;
    while (pos < result.size()) {
      if (result.size() - pos >= placeholder.size() &&
          EqualsIgnoringCase(std::string_view(result).substr(pos, placeholder.size()),
                             placeholder)) {
        // The value goes to the new text, so one holding its own placeholder is not refilled.
        filled.append(value);
        pos += placeholder.size();
      } else {
        filled.push_back(result[pos]);
        ++pos;
      }
    }
    result = std::move(filled);
  }
  return result;
}
