#pragma once

// ASCII-only case handling for keys, option names and tokens: independent of the locale, so a
// locale switch elsewhere in the program cannot change what matches.

#include <cstddef>
#include <string>
#include <string_view>

constexpr char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

constexpr char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

/// `text` with its ASCII letters in upper case.
inline std::string ToUpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = AsciiUpper(c);
  return upper;
}

/// `text` with its ASCII letters in lower case.
inline std::string ToLowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = AsciiLower(c);
  return lower;
}

/// True when `a` and `b` differ at most in the case of ASCII letters.
inline bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}
