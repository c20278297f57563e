#include "gui/converter_terms.h"

#include "platform/ascii.h"
#include "platform/utf8.h"

std::string ConverterSearchTerm(std::string_view text) {
  size_t characters = 0;
  size_t end = 0;
  while (end < text.size()) {
    if (!IsUtf8Continuation(text[end]) && characters++ == MaxSearchTermCharacters) break;
    ++end;
  }
  std::string term;
  for (const char c : ToLowerAscii(text.substr(0, end))) {
    if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) term += c;
  }
  return term;
}

std::string ConverterSearchPath(std::string_view source, std::string_view target) {
  return "/find/" + std::string(source) + "-" + std::string(target) + "/";
}
