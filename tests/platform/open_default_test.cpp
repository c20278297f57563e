#include "platform/open_default.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "tests/support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

// An xdg-open of the test's own on PATH: it writes down its argument, the signals it ignores and
// holds, and its session, then ends.
class OpenerStandIn {
 public:
  explicit OpenerStandIn(const TempDir& dir) : record_(dir.file("opened.txt")) {
    const std::string script = dir.file("xdg-open");
    // Only builtins until the record is written: a shell blocks its signals around each fork,
    // so a child reading /proc/$$/status could catch a mask the helper never had.
    EXPECT_TRUE(WriteFileBytes(
        script,
        "#!/bin/sh\n{ echo \"$1\"\n"
        "while IFS= read -r line; do case \"$line\" in Sig[IB][gl][nk]:*) echo \"$line\";; "
        "esac; done < /proc/$$/status\n"
        "read -r stat < /proc/$$/stat; set -- $stat; echo \"Session: $6 $$\"\n} > '" +
            record_ + ".part'\nmv '" + record_ + ".part' '" + record_ + "'\n"));
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    saved_path_ = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (dir.path().string() + ":" + saved_path_).c_str(), 1);
  }
  ~OpenerStandIn() { setenv("PATH", saved_path_.c_str(), 1); }

  // The record once the stand-in has run; empty when it has not within a few seconds.
  std::string WaitForRecord() const {
    for (int waited = 0; waited < 500; ++waited) {
      if (std::filesystem::exists(record_)) return ReadFileBytes(record_);
      std::this_thread::sleep_for(10ms);
    }
    return {};
  }

 private:
  std::string record_;
  std::string saved_path_;
};

// The value after `key` on its line of `record`.
std::string Field(const std::string& record, const std::string& key) {
  std::istringstream lines(record);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with(key)) return line.substr(key.size());
  }
  return {};
}

}  // namespace

TEST(OpenWithDefaultHandler, ReturnsAtOnceWithSigchldIgnored) {
  TempDir dir;
  OpenerStandIn opener(dir);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGCHLD, &ignore, &previous), 0);
  // On a thread of its own, so a call that spins fails the test instead of hanging it.
  auto result = std::make_shared<std::promise<bool>>();
  std::future<bool> returned = result->get_future();
  std::thread([result] {
    result->set_value(OpenWithDefaultHandler("https://example.test/a b"));
  }).detach();
  const bool in_time = returned.wait_for(10s) == std::future_status::ready;
  const std::string record = opener.WaitForRecord();
  sigaction(SIGCHLD, &previous, nullptr);
  ASSERT_TRUE(in_time) << "the call never returned";
  EXPECT_TRUE(returned.get());
  EXPECT_TRUE(record.starts_with("https://example.test/a b\n")) << record;
  // Nothing of the program's own signal state reaches the helper: SIGCHLD (bit 17) is no longer
  // ignored there, nothing is held, and it leads a session of its own.
  const unsigned long ignored = std::stoul(Field(record, "SigIgn:"), nullptr, 16);
  EXPECT_EQ(ignored & (1ul << (SIGCHLD - 1)), 0u);
  EXPECT_EQ(std::stoul(Field(record, "SigBlk:"), nullptr, 16), 0u);
  std::istringstream session(Field(record, "Session: "));
  pid_t session_id = 0;
  pid_t own_id = -1;
  session >> session_id >> own_id;
  EXPECT_EQ(session_id, own_id);
}

TEST(OpenWithDefaultHandler, LeavesNoZombieBehind) {
  TempDir dir;
  OpenerStandIn opener(dir);
  ASSERT_TRUE(OpenWithDefaultHandler("mailto:someone@example.test"));
  std::istringstream session(Field(opener.WaitForRecord(), "Session: "));
  pid_t session_id = 0;
  pid_t helper = 0;
  ASSERT_TRUE(session >> session_id >> helper);
  // Once it has ended it is collected without anyone asking: a zombie would still take signals.
  bool gone = false;
  for (int waited = 0; waited < 500 && !gone; ++waited) {
    gone = kill(helper, 0) != 0 && errno == ESRCH;
    if (!gone) std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(gone);
}

TEST(OpenWithDefaultHandler, FailsWithoutAHelperOrATarget) {
  TempDir dir;
  const std::string saved_path = std::getenv("PATH") ? std::getenv("PATH") : "";
  setenv("PATH", dir.path().c_str(), 1);
  EXPECT_FALSE(OpenWithDefaultHandler("https://example.test/"));
  setenv("PATH", saved_path.c_str(), 1);
  OpenerStandIn opener(dir);
  EXPECT_FALSE(OpenWithDefaultHandler(""));
}
