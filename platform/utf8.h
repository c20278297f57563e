#pragma once

// UTF-8 decoding and encoding shared by every folder. Byte-level only: no locale is involved.

#include <cstddef>
#include <string>
#include <string_view>

/// True for a byte that continues a multi-byte sequence (10xxxxxx).
constexpr bool IsUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

/// Length of the valid UTF-8 sequence at `text[at]` (1 to 4), or 0 when the bytes there form
/// none: stray continuation bytes, overlong forms, surrogates, code points past U+10FFFF and
/// sequences cut off by the end of `text` are all invalid.
constexpr std::size_t Utf8SequenceLength(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!IsUtf8Continuation(text[at + i])) return 0;
  }
  return length;
}

constexpr bool IsValidUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8SequenceLength(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

/// The code point of the sequence at `text[at]` and its `length`; a byte that starts no valid
/// sequence comes back as itself with `length` 1, so callers can pass it through unchanged.
constexpr char32_t DecodeUtf8(std::string_view text, std::size_t at, std::size_t& length) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const std::size_t valid = Utf8SequenceLength(text, at);
  length = 1;
  if (valid <= 1) return byte(at);
  constexpr unsigned char LeadMasks[] = {0, 0, 0x1F, 0x0F, 0x07};
  char32_t code = byte(at) & LeadMasks[valid];
  for (std::size_t i = 1; i < valid; ++i) code = (code << 6) | (byte(at + i) & 0x3F);
  length = valid;
  return code;
}

/// Appends the UTF-8 form of `code` (at most U+10FFFF) to `out`.
inline void AppendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}
