// Writes the manual page and the bash completion from the option table, at build time:
//
//   quorvix-make-docs MANUAL.1 COMPLETION

#include <cstdio>
#include <fstream>
#include <string>

#include "cli/option_docs.h"

namespace {

bool WriteText(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: quorvix-make-docs MANUAL.1 COMPLETION\n");
    return 2;
  }
  if (!WriteText(argv[1], ManualPage()) || !WriteText(argv[2], BashCompletion())) {
    std::fprintf(stderr, "quorvix-make-docs: cannot write %s or %s\n", argv[1], argv[2]);
    return 1;
  }
  return 0;
}
