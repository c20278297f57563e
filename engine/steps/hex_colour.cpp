#include "engine/steps/hex_colour.h"

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a pair the way a hexadecimal number parser does: stops at the first character that is
// not a digit, so "ZZ" is 0 and "AZ" is 10.
uint32_t ReadPair(std::string_view pair) {
  uint32_t value = 0;
  for (char c : pair) {
    const int digit = HexDigit(c);
    if (digit < 0) break;
    value = value * 16 + static_cast<uint32_t>(digit);
  }
  return value;
}

}  // namespace

uint32_t ParseHexColour(std::string_view text) {
  if (text.size() != 6) return 0;
  return ReadPair(text.substr(0, 2)) | ReadPair(text.substr(2, 2)) << 8 |
         ReadPair(text.substr(4, 2)) << 16;
}

uint32_t ParseHexColourAlpha(std::string_view text, int32_t alpha) {
  return ParseHexColour(text) | (static_cast<uint32_t>(alpha) & 0xFFu) << 24;
}
