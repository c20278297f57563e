#include "gui/mnemonics.h"

#include "platform/ascii.h"

namespace {

bool IsAsciiLetterOrDigit(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The position of the letter a caption is reached by; npos when every letter is taken.
size_t ChooseLetter(std::string_view text, const std::string& taken) {
  const auto free = [&](size_t at) {
    return IsAsciiLetterOrDigit(text[at]) &&
           taken.find(ToLowerAscii(std::string(1, text[at]))) == std::string::npos;
  };
  // A word's first letter reads best, then any other.
  for (size_t at = 0; at < text.size(); ++at) {
    const bool word_start = at == 0 || text[at - 1] == ' ' || text[at - 1] == '-';
    if (word_start && free(at)) return at;
  }
  for (size_t at = 0; at < text.size(); ++at) {
    if (free(at)) return at;
  }
  return std::string_view::npos;
}

}  // namespace

std::vector<std::string> AddMnemonics(const std::vector<std::string>& captions,
                                      std::string_view taken_before) {
  std::string taken = ToLowerAscii(std::string(taken_before));
  std::vector<std::string> marked;
  marked.reserve(captions.size());
  for (const std::string& caption : captions) {
    const size_t tab = caption.find('\t');
    const std::string_view text = std::string_view(caption).substr(0, tab);
    const size_t letter = ChooseLetter(text, taken);
    std::string result;
    for (size_t at = 0; at < text.size(); ++at) {
      if (at == letter) result += '&';
      result += text[at];
      if (text[at] == '&') result += '&';
    }
    if (tab != std::string::npos) result += caption.substr(tab);
    if (letter != std::string_view::npos) taken += ToLowerAscii(std::string(1, text[letter]));
    marked.push_back(std::move(result));
  }
  return marked;
}

std::string MnemonicLetters(const std::vector<std::string>& captions) {
  std::string letters;
  for (const std::string& caption : captions) {
    for (size_t at = 0; at + 1 < caption.size(); ++at) {
      if (caption[at] != '&') continue;
      if (caption[at + 1] == '&') {
        ++at;
        continue;
      }
      letters += ToLowerAscii(std::string(1, caption[at + 1]));
      break;
    }
  }
  return letters;
}

std::string WithoutMnemonic(std::string_view caption) {
  std::string plain;
  for (size_t at = 0; at < caption.size(); ++at) {
    // The marker goes; the character after it stays, a second "&" included.
    if (caption[at] == '&' && ++at == caption.size()) break;
    plain += caption[at];
  }
  return plain;
}

std::string SpokenName(std::string_view caption) {
  std::string name = WithoutMnemonic(caption.substr(0, caption.find('\t')));
  for (std::string_view end : {std::string_view(":"), std::string_view("...")}) {
    if (name.size() >= end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0) {
      name.resize(name.size() - end.size());
    }
  }
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return name;
}
