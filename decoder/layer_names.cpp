#include "decoder/layer_names.h"

#include "engine/image/byte_cursor.h"
#include "platform/utf8.h"

namespace {

constexpr char32_t Replacement = 0xFFFD;

std::u32string CodePoints(std::string_view text) {
  std::u32string points;
  points.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    size_t length = 1;
    points += DecodeUtf8(text, at, length);
    at += length;
  }
  return points;
}

// Matches one "[...]" set at `pattern[at]` (just past the "[") against `c`; `at` ends past the
// "]". False with `at` unchanged when the set is not closed: the "[" is then itself.
bool MatchSet(std::u32string_view pattern, size_t& at, char32_t c, bool& matched) {
  size_t i = at;
  bool negated = false;
  if (i < pattern.size() && (pattern[i] == U'!' || pattern[i] == U'^')) {
    negated = true;
    ++i;
  }
  bool found = false;
  bool first = true;
  while (i < pattern.size() && (first || pattern[i] != U']')) {
    first = false;
    char32_t low = pattern[i];
    if (low == U'\\' && i + 1 < pattern.size()) low = pattern[++i];
    char32_t high = low;
    if (i + 2 < pattern.size() && pattern[i + 1] == U'-' && pattern[i + 2] != U']') {
      high = pattern[i + 2];
      if (high == U'\\' && i + 3 < pattern.size()) high = pattern[++i + 2];
      i += 2;
    }
    if (c >= low && c <= high) found = true;
    ++i;
  }
  if (i >= pattern.size()) return false;
  at = i + 1;
  matched = found != negated;
  return true;
}

// Iterative glob with one point of return for the last "*": linear in practice, and never
// exponential however many stars a pattern has.
bool Glob(std::u32string_view pattern, std::u32string_view name) {
  size_t p = 0, n = 0;
  size_t star = std::u32string_view::npos, star_name = 0;
  while (n < name.size()) {
    if (p < pattern.size()) {
      const char32_t token = pattern[p];
      if (token == U'*') {
        star = ++p;
        star_name = n;
        continue;
      }
      if (token == U'?') {
        ++p;
        ++n;
        continue;
      }
      if (token == U'[') {
        size_t after = p + 1;
        bool matched = false;
        if (MatchSet(pattern, after, name[n], matched)) {
          if (matched) {
            p = after;
            ++n;
            continue;
          }
        } else if (name[n] == U'[') {
          ++p;
          ++n;
          continue;
        }
      } else {
        char32_t literal = token;
        size_t width = 1;
        if (token == U'\\' && p + 1 < pattern.size()) {
          literal = pattern[p + 1];
          width = 2;
        }
        if (literal == name[n]) {
          p += width;
          ++n;
          continue;
        }
      }
    }
    if (star == std::u32string_view::npos) return false;
    p = star;
    n = ++star_name;
  }
  while (p < pattern.size() && pattern[p] == U'*') ++p;
  return p == pattern.size();
}

}  // namespace

std::string UnicodeLayerName(std::span<const uint8_t> block) {
  ByteCursor cursor(block);
  uint64_t count = 0;
  if (!cursor.Read(4, count) || count > cursor.remaining() / 2) return {};
  std::string name;
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t unit = 0;
    cursor.Read(2, unit);
    char32_t code = static_cast<char32_t>(unit);
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      uint64_t low = 0;
      const std::span<const uint8_t> next = cursor.Peek(2);
      if (i + 1 < count && next.size() == 2) low = BigEndian16(next.data());
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cursor.Skip(2);
        ++i;
        code = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
               (static_cast<char32_t>(low) - 0xDC00);
      } else {
        code = Replacement;
      }
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      code = Replacement;
    }
    // Photoshop ends some names with a NUL unit.
    if (code == 0 && i + 1 == count) break;
    AppendUtf8(name, code);
  }
  return name;
}

std::string PascalLayerName(std::span<const uint8_t> bytes) {
  std::string name;
  for (const uint8_t byte : bytes) AppendUtf8(name, byte);
  return name;
}

bool LayerNameMatches(std::string_view pattern, std::string_view name) {
  return Glob(CodePoints(pattern), CodePoints(name));
}

size_t HideLayersByName(LayeredDocument& document, const std::vector<std::string>& patterns) {
  if (patterns.empty()) return 0;
  std::vector<std::u32string> globs;
  globs.reserve(patterns.size());
  for (const std::string& pattern : patterns) globs.push_back(CodePoints(pattern));
  size_t hidden = 0;
  for (LayerRecord& layer : document.layers) {
    if (layer.section == LayerSection::GroupEnd) continue;
    const std::u32string name = CodePoints(layer.name);
    for (const std::u32string& glob : globs) {
      if (Glob(glob, name)) {
        layer.hidden = true;
        ++hidden;
        break;
      }
    }
  }
  return hidden;
}
