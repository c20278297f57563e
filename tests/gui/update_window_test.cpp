// The update check from the window: the command's boxes for each answer of a server the test
// runs, the busy state while it waits, and the start-up check's due rule.

#include "gui/update_window.h"

#include <dlfcn.h>
#include <wx/timer.h>
#include <wx/utils.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "config/settings_file.h"
#include "core/program_identity.h"
#include "gui/commands.h"
#include "gui/gtk_calls.h"
#include "platform/system.h"
#include "settings/program_settings.h"
#include "tests/gui/window_harness.h"
#include "tests/update/test_http_server.h"

namespace {

constexpr std::string_view Headers = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";
constexpr int64_t Day = 24 * 60 * 60;

TestHttpServer::Script Answer(std::string body, int pause_milliseconds = 0) {
  return [body, pause_milliseconds](int fd) {
    std::this_thread::sleep_for(std::chrono::milliseconds(pause_milliseconds));
    SendText(fd, std::string(Headers) + body);
  };
}

class UpdateWindowTest : public WindowTest {
 protected:
  void TearDown() override {
    services().version_file_address.clear();
    WindowTest::TearDown();
  }
  // Runs the update command against a server answering `body`; the boxes land in messages_.
  void CheckWith(const std::string& body) {
    TestHttpServer server(Answer(body));
    services().version_file_address = server.Address("/files/tarnex.dat");
    SendCommand(CmdCheckForUpdates);
  }
};

}  // namespace

TEST_F(UpdateWindowTest, EachAnswerHasItsBox) {
  const OpenerStub opener(dir_);
  answer_ = false;
  CheckWith("271");
  CheckWith("270");
  CheckWith("abc");
  CheckWith("");
  CheckWith("  271xyz");
  ASSERT_EQ(messages_.size(), 5u);
  EXPECT_EQ(messages_[0],
            "A new version of Quorvix is available! Are you ready to download it right now?");
  EXPECT_EQ(messages_[1],
            "There is no update of Quorvix yet. You're using the most recent version.");
  EXPECT_EQ(messages_[2], "Internet connection problems!");
  EXPECT_EQ(messages_[3], "Internet connection problems!");
  EXPECT_EQ(messages_[4], messages_[0]);
  // No was answered each time: nothing was opened.
  Pump(200);
  EXPECT_EQ(opener.Opened(), "");

  answer_ = true;
  CheckWith("300");
  ASSERT_TRUE(opener.WaitForOpened(1));
  EXPECT_EQ(opener.Opened(), std::string(ProductWebAddress) + "\n");
}

TEST_F(UpdateWindowTest, ARefusedPortReportsTheConnectionProblem) {
  services().version_file_address = "http://127.0.0.1:" + std::to_string(UnusedLocalPort()) + "/v";
  SendCommand(CmdCheckForUpdates);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Internet connection problems!");
}

TEST_F(UpdateWindowTest, TheWindowShowsItIsBusyWhileTheServerIsSlow) {
  TestHttpServer server(Answer("270", 600));
  services().version_file_address = server.Address("/files/tarnex.dat");
  // A timer that fires during the wait sees the busy cursor and the shut-out input; one that
  // only fires after the check would see neither.
  bool fired_busy = false;
  bool input_shut = false;
  wxTimer probe;
  probe.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    fired_busy = wxIsBusy();
    input_shut = !TakesInput(&window());
  });
  probe.StartOnce(150);
  SendCommand(CmdCheckForUpdates);
  EXPECT_TRUE(fired_busy);
  EXPECT_TRUE(input_shut);
  EXPECT_FALSE(wxIsBusy());
  EXPECT_TRUE(TakesInput(&window()));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0],
            "There is no update of Quorvix yet. You're using the most recent version.");
}

TEST_F(UpdateWindowTest, TheCloseBoxEndsAWaitingCheckAndTheWindow) {
  // A server that never answers: the check would wait its full ten seconds.
  TestHttpServer server([](int fd) { WaitForClientClose(fd, 20000); });
  services().version_file_address = server.Address("/files/tarnex.dat");
  session_.SetConfigPath(BuildConfigFilePath());
  // The window manager's close request, as the frame's close box sends it.
  const auto close_window =
      reinterpret_cast<void (*)(void*)>(dlsym(RTLD_DEFAULT, "gtk_window_close"));
  ASSERT_NE(close_window, nullptr);
  void* const frame = window().GetHandle();
  wxTimer closer;
  closer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) { close_window(frame); });
  closer.StartOnce(150);
  SendCommand(CmdCheckForUpdates);
  Pump(100);
  EXPECT_TRUE(messages_.empty()) << "a given-up check shows no box";
  EXPECT_EQ(OpenMainWindow(), nullptr) << "the window closed";
  EXPECT_TRUE(std::filesystem::exists(g_process.config_file_path)) << "and saved the settings";
}

TEST_F(UpdateWindowTest, StartUpCheckAsksWhenDueAndDatesTheQuestion) {
  TestHttpServer server(Answer("271"));
  services().version_file_address = server.Address("/files/tarnex.dat");
  // Weekly, last asked eight days ago: due. No still moves the date to now.
  settings().general.update_range = 1;
  const int64_t eight_days_ago = LocalNowSeconds() - 8 * Day;
  settings().general.update_date = eight_days_ago;
  answer_ = false;
  RunAutomaticUpdateCheckFromWindow(window());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Do you want to check for updates?");
  EXPECT_GE(settings().general.update_date, eight_days_ago + 8 * Day);

  // Asked again at once: not due, nothing shown.
  RunAutomaticUpdateCheckFromWindow(window());
  EXPECT_EQ(messages_.size(), 1u);

  // Due again and answered Yes: the check runs and shows its outcome.
  settings().general.update_date = eight_days_ago;
  answer_ = true;
  const OpenerStub opener(dir_);
  RunAutomaticUpdateCheckFromWindow(window());
  ASSERT_EQ(messages_.size(), 3u);
  EXPECT_EQ(messages_[2],
            "A new version of Quorvix is available! Are you ready to download it right now?");
  EXPECT_TRUE(opener.WaitForOpened(1));

  // "Never" never asks.
  settings().general.update_range = 5;
  settings().general.update_date = 0;
  RunAutomaticUpdateCheckFromWindow(window());
  EXPECT_EQ(messages_.size(), 3u);
}
