#include "platform/console.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <string>

namespace {

// The terminal's mode while nobody waits for a key, and what the signals that end a program did
// before the wait: both for the handler, which puts them back.
termios mode_before_wait{};
constexpr int EndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr std::size_t EndingSignalCount = std::size(EndingSignals);
struct sigaction actions_before_wait[EndingSignalCount];
bool handled_during_wait[EndingSignalCount] = {};
volatile std::sig_atomic_t wait_interrupted = 0;

// A signal during the wait gives the terminal its mode back before it does what it did before
// (by default, end the program); should it not end the program, the wait ends as after a key.
void RestoreModeAndPassOn(int signal_number) {
  const int saved_errno = errno;
  tcsetattr(STDIN_FILENO, TCSANOW, &mode_before_wait);
  for (std::size_t i = 0; i < EndingSignalCount; ++i) {
    if (EndingSignals[i] == signal_number)
      sigaction(signal_number, &actions_before_wait[i], nullptr);
  }
  // Held until this handler returns, then acted on as before the wait.
  raise(signal_number);
  wait_interrupted = 1;
  errno = saved_errno;
}

// Catches the ending signals for the wait; one that is ignored stays ignored.
void CatchEndingSignals() {
  wait_interrupted = 0;
  for (std::size_t i = 0; i < EndingSignalCount; ++i) {
    handled_during_wait[i] = false;
    if (sigaction(EndingSignals[i], nullptr, &actions_before_wait[i]) != 0) continue;
    if (actions_before_wait[i].sa_handler == SIG_IGN &&
        (actions_before_wait[i].sa_flags & SA_SIGINFO) == 0) {
      continue;
    }
    struct sigaction restore {};
    restore.sa_handler = RestoreModeAndPassOn;
    sigemptyset(&restore.sa_mask);
    for (const int other : EndingSignals) sigaddset(&restore.sa_mask, other);
    handled_during_wait[i] = sigaction(EndingSignals[i], &restore, nullptr) == 0;
  }
}

void ReleaseEndingSignals() {
  for (std::size_t i = 0; i < EndingSignalCount; ++i) {
    if (handled_during_wait[i]) sigaction(EndingSignals[i], &actions_before_wait[i], nullptr);
    handled_during_wait[i] = false;
  }
}

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
  if (tcgetattr(STDIN_FILENO, &mode_before_wait) != 0) return;
  // Non-canonical, without echo: one key ends the wait without Enter. Whatever ends the wait,
  // a key, the end of input or a signal, the terminal gets its mode back.
  termios raw = mode_before_wait;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  CatchEndingSignals();
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) {
    char key = 0;
    while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR && !wait_interrupted) {
    }
    tcsetattr(STDIN_FILENO, TCSANOW, &mode_before_wait);
  }
  // Only once the mode is back: a signal from here on ends the program as it always did.
  ReleaseEndingSignals();
}

void FlushConsole() {
  std::fflush(stdout);
  std::fflush(stderr);
}
