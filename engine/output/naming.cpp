#include "engine/output/naming.h"

#include <locale.h>
#include <wctype.h>

#include <cctype>
#include <cstdio>
#include <ctime>

#include "platform/ascii.h"
#include "platform/text.h"
#include "platform/utf8.h"

namespace {

constexpr size_t NumberWidth = 5;

// Case mapping follows the C library's Unicode tables, independent of the process locale.
locale_t CaseLocale() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  return locale;
}

enum class CaseChange { Upper, Lower, Title };

std::string ChangeCase(std::string_view text, CaseChange change) {
  const locale_t locale = CaseLocale();
  std::string out;
  out.reserve(text.size());
  bool first = true;
  for (size_t index = 0; index < text.size();) {
    size_t length = 1;
    const char32_t code = DecodeUtf8(text, index, length);
    if (length == 1 && code >= 0x80) {
      out += text[index];  // a stray byte is kept as it is
    } else {
      const bool upper = change == CaseChange::Upper || (change == CaseChange::Title && first);
      wint_t mapped = static_cast<wint_t>(code);
      if (locale != static_cast<locale_t>(0)) {
        mapped = upper ? towupper_l(mapped, locale) : towlower_l(mapped, locale);
      } else if (code < 0x80) {
        mapped = static_cast<wint_t>(upper ? std::toupper(static_cast<int>(code))
                                           : std::tolower(static_cast<int>(code)));
      }
      AppendUtf8(out, static_cast<char32_t>(mapped));
    }
    first = false;
    index += length;
  }
  return out;
}

std::string ZeroFilled(int32_t number) {
  std::string digits = std::to_string(number);
  // Longer numbers keep every digit: cutting them would give two files the same name.
  if (digits.size() < NumberWidth) digits.insert(0, NumberWidth - digits.size(), '0');
  return digits;
}

std::string TwoDigits(int value) {
  char buffer[8];
  std::snprintf(buffer, sizeof buffer, "%02d", value);
  return buffer;
}

// The local clock, read anew for every token so that each shows the moment it is expanded.
struct tm LocalClock() {
  const time_t now = time(nullptr);
  struct tm fields {};
  localtime_r(&now, &fields);
  return fields;
}

// The value of `token`, or nothing when it is not one of the naming tokens.
bool TokenValue(std::string_view token, const TokenValues& values, std::string& value) {
  std::string lower = ChangeCase(token, CaseChange::Lower);
  const auto base = [&] { return BaseName(std::string(FileNameOf(values.input_path))); };
  if (lower == "%filename%") {
    value = base();
  } else if (lower == "%filename[u]%") {
    value = ChangeCase(base(), CaseChange::Upper);
  } else if (lower == "%filename[l]%") {
    value = ChangeCase(base(), CaseChange::Lower);
  } else if (lower == "%filename[t]%") {
    value = ChangeCase(base(), CaseChange::Title);
  } else if (lower == "%ext%") {
    value = values.output_format;
  } else if (lower == "%ext[u]%") {
    value = ChangeCase(values.output_format, CaseChange::Upper);
  } else if (lower == "%ext[t]%") {
    value = ChangeCase(values.output_format, CaseChange::Title);
  } else if (lower == "%yyyy%") {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04d", LocalClock().tm_year + 1900);
    value = buffer;
  } else if (lower == "%mm%") {
    value = TwoDigits(LocalClock().tm_mon + 1);
  } else if (lower == "%dd%") {
    value = TwoDigits(LocalClock().tm_mday);
  } else if (lower == "%hh%") {
    value = TwoDigits(LocalClock().tm_hour);
  } else if (lower == "%ii%") {
    value = TwoDigits(LocalClock().tm_min);
  } else if (lower == "%ss%") {
    value = TwoDigits(LocalClock().tm_sec);
  } else if (lower == "%bpp%") {
    value = std::to_string(values.bpp);
  } else if (lower == "%width%") {
    value = std::to_string(values.width);
  } else if (lower == "%height%") {
    value = std::to_string(values.height);
  } else if (lower == "%rnd%") {
    value = ZeroFilled(values.random_number);
  } else if (lower == "%n%") {
    value = ZeroFilled(values.sequence_number);
  } else {
    return false;
  }
  return true;
}

// Tokens are ASCII, so an ASCII comparison without case finds them in any UTF-8 text.
bool MatchesAt(std::string_view text, size_t index, std::string_view token) {
  if (text.size() - index < token.size()) return false;
  for (size_t i = 0; i < token.size(); ++i) {
    if (AsciiLower(text[index + i]) != AsciiLower(token[i])) return false;
  }
  return true;
}

bool ContainsToken(std::string_view text, std::string_view token) {
  for (size_t index = 0; index < text.size(); ++index) {
    if (MatchesAt(text, index, token)) return true;
  }
  return false;
}

}  // namespace

std::string ReplaceToken(std::string_view text, std::string_view token, const TokenValues& values) {
  std::string value;
  if (token.empty() || !TokenValue(token, values, value)) return std::string(text);
  std::string out;
  out.reserve(text.size());
  size_t index = 0;
  while (index < text.size()) {
    if (MatchesAt(text, index, token)) {
      out += value;
      index += token.size();
    } else {
      out += text[index];
      ++index;
    }
  }
  return out;
}

std::string BaseName(std::string_view file_name) {
  const size_t dot = file_name.find_last_of('.');
  if (file_name.empty() || dot == std::string_view::npos) return std::string(file_name);
  return std::string(file_name.substr(0, dot));
}

std::string BuildOutputName(std::string_view mask, const TokenValues& values) {
  std::string name = ChangeCase(mask, CaseChange::Lower);
  if (name.empty()) name = "%filename%.%ext%";
  for (std::string_view token : NamingTokens) {
    if (ContainsToken(name, token)) name = ReplaceToken(name, token, values);
  }
  return name;
}

std::string BuildOutputPath(std::string_view output_folder, std::string_view input_subfolder,
                            bool keep_subfolders, std::string_view name) {
  std::string path(output_folder);
  if (keep_subfolders) path += input_subfolder;
  path += name;
  return path;
}

bool StaysInOutputFolder(std::string_view relative) {
  if (relative.empty() || relative.back() == '/') return false;  // a folder, not a file
  int64_t depth = 0;
  std::string_view last;
  while (!relative.empty()) {
    const size_t slash = relative.find('/');
    last = relative.substr(0, slash);
    relative = slash == std::string_view::npos ? std::string_view() : relative.substr(slash + 1);
    if (last.empty() || last == ".") continue;
    if (last == "..") {
      if (--depth < 0) return false;
      continue;
    }
    ++depth;
  }
  return !last.empty() && last != "." && last != "..";
}
