#include "platform/console.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

constexpr tcflag_t KeyModes = ICANON | ECHO;

// How a wait ends: a key typed on the terminal or a signal sent to the program, and the signal
// that should then end it (0: it ends normally, as after the key).
struct WaitEnding {
  const char* name;
  const char* typed;
  int sent;
  int ending_signal;
};

// A child waiting for a key on a pseudo-terminal of its own, as `quorvix -p` does at the end of
// a run in a terminal.
class KeyWaitOnTerminal : public ::testing::TestWithParam<WaitEnding> {
 protected:
  void SetUp() override {
    ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
    termios mode{};
    ASSERT_EQ(tcgetattr(slave_, &mode), 0);
    mode.c_lflag |= KeyModes | ISIG;
    ASSERT_EQ(tcsetattr(slave_, TCSANOW, &mode), 0);
    child_ = fork();
    ASSERT_GE(child_, 0);
    if (child_ == 0) {
      // The terminal becomes the child's controlling one, so Ctrl-C there reaches it.
      setsid();
      ioctl(slave_, TIOCSCTTY, 0);
      dup2(slave_, STDIN_FILENO);
      dup2(slave_, STDOUT_FILENO);
      close(master_);
      const rlimit no_core{0, 0};
      setrlimit(RLIMIT_CORE, &no_core);
      WaitForKeyPress();
      _exit(7);
    }
  }

  void TearDown() override {
    if (child_ > 0) {
      kill(child_, SIGKILL);
      waitpid(child_, nullptr, 0);
    }
    close(master_);
    close(slave_);
  }

  tcflag_t Modes() const {
    termios mode{};
    tcgetattr(slave_, &mode);
    return mode.c_lflag & KeyModes;
  }

  // True once the child has turned echo and line editing off, within a few seconds.
  bool WaitsForAKey() const {
    for (int waited = 0; waited < 500; ++waited) {
      if (Modes() == 0) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  int master_ = -1;
  int slave_ = -1;
  pid_t child_ = -1;
};

}  // namespace

TEST_P(KeyWaitOnTerminal, TheTerminalGetsItsModeBackHoweverTheWaitEnds) {
  const WaitEnding& ending = GetParam();
  ASSERT_TRUE(WaitsForAKey());
  if (ending.typed) {
    ASSERT_EQ(write(master_, ending.typed, 1), 1);
  } else {
    ASSERT_EQ(kill(child_, ending.sent), 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child_, &status, 0), child_);
  child_ = -1;
  if (ending.ending_signal == 0) {
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 7);
  } else {
    // The signal still ends the program as it would have without the wait.
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), ending.ending_signal);
  }
  EXPECT_EQ(Modes(), KeyModes);
}

INSTANTIATE_TEST_SUITE_P(KeysAndSignals, KeyWaitOnTerminal,
                         ::testing::Values(WaitEnding{"Key", "k", 0, 0},
                                           WaitEnding{"CtrlC", "\x03", 0, SIGINT},
                                           WaitEnding{"CtrlBackslash", "\x1c", 0, SIGQUIT},
                                           WaitEnding{"Terminate", nullptr, SIGTERM, SIGTERM},
                                           WaitEnding{"HangUp", nullptr, SIGHUP, SIGHUP}),
                         [](const ::testing::TestParamInfo<WaitEnding>& info) {
                           return std::string(info.param.name);
                         });
