#include "platform/console.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace {

void WriteLineTo(std::FILE* stream, std::string_view line) {
  // One write per line, so lines of the worker thread never interleave inside ours.
  std::string text;
  text.reserve(line.size() + 1);
  text.append(line);
  text.push_back('\n');
  std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace

void WriteConsoleLine(std::string_view line) { WriteLineTo(stdout, line); }

void WriteErrorLine(std::string_view line) {
  WriteLineTo(stderr, line);
  std::fflush(stderr);
}

void SetConsoleTitle(std::string_view title) {
  if (!isatty(STDOUT_FILENO)) return;
  // Control characters in the title would end the escape early or start another one.
  std::string text = "\x1b]0;";
  for (char c : title) text.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? ' ' : c);
  text.push_back('\x07');
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void WaitForKeyPress() {
  if (!isatty(STDIN_FILENO)) return;
  std::fflush(stdout);
  termios saved{};
  if (tcgetattr(STDIN_FILENO, &saved) != 0) return;
  // Non-canonical, without echo: one key ends the wait without Enter.
  termios raw = saved;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return;
  char key = 0;
  while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
  }
  tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

void FlushConsole() {
  std::fflush(stdout);
  std::fflush(stderr);
}
