#include "core/program_identity.h"

std::string FormatVersion(int32_t version) {
  std::string digits = std::to_string(version);
  std::string text;
  for (size_t i = 0; i < digits.size(); ++i) {
    text.push_back(digits[i]);
    if (i == 0 || i == 1) text.push_back('.');
  }
  if (!text.empty() && text.back() == '0' && text.size() >= 2) text.resize(text.size() - 2);
  return text;
}

std::string MakerAddress(std::string_view path) {
  return "https://" + std::string(MakerHost) + std::string(path);
}

std::string BuildProgramTitle() {
  return std::string(ProductName) + " " + FormatVersion(VersionNumber);
}

// The addresses are written out in full so they read as what they are; they must name one host.
static_assert(ProductWebAddress.substr(8, MakerHost.size()) == MakerHost);
static_assert(VersionFileAddress.substr(7, MakerHost.size()) == MakerHost);
static_assert(SupportAddress.ends_with(MakerHost));
