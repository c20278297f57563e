#pragma once

// Small text helpers shared by every folder: trimming and the parts of a path.

#include <string>
#include <string_view>

/// `text` without its leading and trailing characters that are in `set`.
constexpr std::string_view TrimSet(std::string_view text, std::string_view set) {
  const size_t first = text.find_first_not_of(set);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(set) - first + 1);
}

/// `text` without leading and trailing spaces and tabs.
constexpr std::string_view TrimBlanks(std::string_view text) { return TrimSet(text, " \t"); }

/// The folder part of `path` up to and with its last "/"; empty when it has none.
inline std::string FolderOf(std::string_view path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash + 1));
}

/// What follows the last "/" of `path`; all of it when it has none.
constexpr std::string_view FileNameOf(std::string_view path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}
