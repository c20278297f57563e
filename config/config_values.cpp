// The value formats of the configuration file and the decoding of files without a byte-order mark.

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "config/config_file.h"
#include "config/config_text.h"
#include "platform/ascii.h"
#include "platform/text.h"
#include "platform/utf8.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// For a decimal number outside float's range: true when it is too large, false when too small.
bool IsHugeNumber(std::string_view number) {
  double wide = 0.0;
  const auto result = std::from_chars(number.data(), number.data() + number.size(), wide);
  if (result.ec == std::errc()) return std::fabs(wide) >= 1.0;
  // Beyond double as well: the exponent's sign decides, or without one a non-zero integer part.
  const std::size_t exponent = number.find_first_of("eE");
  if (exponent != std::string_view::npos) return number[exponent + 1] != '-';
  const std::size_t nonzero = number.find_first_not_of("0");
  return nonzero != std::string_view::npos && nonzero < number.find('.');
}

}  // namespace

bool IsConfigBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimConfigBlanks(std::string_view text) { return TrimBlanks(text); }

int64_t ParseConfigInteger(std::string_view text) {
  while (!text.empty() && IsConfigBlank(text.front())) text.remove_prefix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // Accumulate towards the sign so that the most negative value still fits; stop at the limit.
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  int64_t value = 0;
  for (char c : text) {
    if (!IsDigit(c)) break;
    const int digit = c - '0';
    if (negative) {
      if (value < (kMin + digit) / 10) return kMin;
      value = value * 10 - digit;
    } else {
      if (value > (kMax - digit) / 10) return kMax;
      value = value * 10 + digit;
    }
  }
  return value;
}

float ParseConfigFloat(std::string_view text) {
  text = TrimConfigBlanks(text);
  if (EqualsIgnoringCase(text, "+Infinity")) return std::numeric_limits<float>::infinity();
  if (EqualsIgnoringCase(text, "-Infinity")) return -std::numeric_limits<float>::infinity();
  if (EqualsIgnoringCase(text, "NaN")) return std::numeric_limits<float>::quiet_NaN();

  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // Take only digits, point, fraction and exponent: from_chars alone would also take "inf",
  // "nan" and hexadecimal forms, which are no decimal number here.
  std::size_t end = 0;
  std::size_t digits = 0;
  while (end < text.size() && IsDigit(text[end])) ++end, ++digits;
  if (end < text.size() && text[end] == '.') {
    ++end;
    while (end < text.size() && IsDigit(text[end])) ++end, ++digits;
  }
  if (digits == 0) return 0.0f;
  if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
    std::size_t exponent = end + 1;
    if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
    if (exponent < text.size() && IsDigit(text[exponent])) {
      end = exponent;
      while (end < text.size() && IsDigit(text[end])) ++end;
    }
  }
  const std::string_view number = text.substr(0, end);
  float value = 0.0f;
  const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    value = IsHugeNumber(number) ? std::numeric_limits<float>::infinity() : 0.0f;
  } else if (result.ec != std::errc()) {
    value = 0.0f;
  }
  return negative ? -value : value;
}

std::string FormatConfigFloat(float value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Infinity" : "-Infinity";
  // to_chars is printf's "%f" without its dependence on the locale's decimal point.
  char buffer[64];
  const auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
  if (error != std::errc()) return "0.000000";
  return std::string(buffer, end);
}

std::string DecodeUnmarkedText(std::string_view bytes) {
  if (IsValidUtf8(bytes)) return std::string(bytes);
  std::string text;
  text.reserve(bytes.size() + bytes.size() / 4);
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      text += c;
    } else {
      text += static_cast<char>(0xC0 | (byte >> 6));
      text += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return text;
}
