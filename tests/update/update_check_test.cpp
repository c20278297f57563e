#include "update/update_check.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "settings/program_settings.h"
#include "tests/update/test_http_server.h"

namespace {

constexpr std::string_view Headers = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";

// A server that answers with `body` after the headers and closes.
TestHttpServer::Script Answer(std::string body) {
  return [body](int fd) { SendText(fd, std::string(Headers) + body); };
}

// A fetch that may take 300 ms in all, for tests of what it gives up on.
FetchEnvironment Briefly() {
  FetchEnvironment environment;
  environment.budget = std::chrono::milliseconds(300);
  return environment;
}

UpdateOutcome CheckAgainst(TestHttpServer& server) {
  return CheckForUpdates({server.Address("/files/tarnex.dat"), "Quorvix 2.7", 270});
}

TEST(FetchUpdateInfo, SendsTheExactRequest) {
  TestHttpServer server(Answer("271"));
  EXPECT_EQ(FetchUpdateInfo(server.Address("/files/tarnex.dat"), "Quorvix 2.7"), "271");
  EXPECT_EQ(server.Request(),
            "GET /files/tarnex.dat HTTP/1.0\r\n"
            "Host: 127.0.0.1\r\n"
            "Accept: */*\r\n"
            "User-Agent: Quorvix 2.7\r\n"
            "Connection: close\r\n"
            "\r\n");
}

TEST(FetchUpdateInfo, EmptyAgentSendsTheFallback) {
  TestHttpServer server(Answer("271"));
  FetchUpdateInfo(server.Address("/v"), "");
  EXPECT_NE(server.Request().find("\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT "
                                  "5.1; en)\r\n"),
            std::string::npos);
}

TEST(CheckForUpdates, ComparesTheServersNumberWithOurs) {
  {
    TestHttpServer server(Answer("271"));
    EXPECT_EQ(CheckAgainst(server), UpdateOutcome::NewUpdate);
  }
  {
    TestHttpServer server(Answer("270\r\n"));
    EXPECT_EQ(CheckAgainst(server), UpdateOutcome::NoUpdate);
  }
  {
    TestHttpServer server(Answer("-5"));
    EXPECT_EQ(CheckAgainst(server), UpdateOutcome::NoUpdate);
  }
  {
    TestHttpServer server(Answer("  271xyz"));
    EXPECT_EQ(CheckAgainst(server), UpdateOutcome::NewUpdate);
  }
}

TEST(CheckForUpdates, LettersOrNothingAreAConnectionProblem) {
  for (const char* body : {"abc", "", "   "}) {
    TestHttpServer server(Answer(body));
    EXPECT_EQ(CheckAgainst(server), UpdateOutcome::ConnectionProblem) << '"' << body << '"';
  }
  TestHttpServer headers_only([](int fd) { SendText(fd, "HTTP/1.0 200 OK\r\n"); });
  EXPECT_EQ(CheckAgainst(headers_only), UpdateOutcome::ConnectionProblem);
}

TEST(FetchUpdateInfo, ReadsABodyThatComesInALaterPacket) {
  TestHttpServer server([](int fd) {
    SendText(fd, Headers);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    SendText(fd, "271");
  });
  int ticks = 0;
  EXPECT_EQ(FetchUpdateInfo(server.Address("/files/tarnex.dat"), "Quorvix 2.7",
                            [&] {
                              ++ticks;
                              return true;
                            }),
            "271");
  EXPECT_GT(ticks, 0) << "the wait hook lets the window show it is busy";
}

TEST(FetchUpdateInfo, KeepsOnlyTheStartOfAnEndlessAnswer) {
  TestHttpServer server([](int fd) {
    std::string answer = std::string(Headers) + "271";
    answer.resize(10u << 20, 'x');
    SendText(fd, answer);  // fails once the client has enough and hangs up
  });
  EXPECT_EQ(FetchUpdateInfo(server.Address("/files/tarnex.dat"), "Quorvix 2.7"), "271");
}

TEST(FetchUpdateInfo, GivesUpOnASilentServer) {
  TestHttpServer server([](int fd) { WaitForClientClose(fd, 20000); });
  EXPECT_EQ(FetchUpdateInfo(server.Address("/files/tarnex.dat"), "Quorvix 2.7", {}, Briefly()), "");
}

TEST(FetchUpdateInfo, ALookupThatNeverAnswersEndsAtTheDeadlineWithTheWindowAlive) {
  // Answers only when the test lets it, after the fetch has long given up.
  auto release = std::make_shared<std::promise<void>>();
  FetchEnvironment environment = Briefly();
  environment.lookup = [answer = release->get_future().share()](const std::string& host,
                                                                const std::string& port) {
    answer.wait();
    return SystemNameLookup(host, port);
  };
  int ticks = 0;
  EXPECT_EQ(FetchUpdateInfo(
                "http://127.0.0.1:9/v", "Quorvix 2.7",
                [&] {
                  ++ticks;
                  return true;
                },
                environment),
            "");
  EXPECT_GT(ticks, 0) << "the window is served while the name is looked up";
  release->set_value();
}

TEST(FetchUpdateInfo, TheWaitHookCanGiveTheCheckUp) {
  TestHttpServer server([](int fd) { WaitForClientClose(fd, 20000); });
  int ticks = 0;
  // The full ten seconds: only the hook can end this soon.
  EXPECT_EQ(FetchUpdateInfo(server.Address("/v"), "Quorvix 2.7", [&] { return ++ticks < 3; }), "");
  EXPECT_EQ(ticks, 3);
}

TEST(FetchUpdateInfo, LookupConnectAndAnswerShareOneDeadline) {
  // The lookup takes all but 200 ms of the ten seconds (on a clock the test moves on); the server
  // then trickles an answer that needs about two seconds. Only a fresh deadline after the
  // lookup would wait for all of it.
  auto skipped = std::make_shared<std::atomic<int64_t>>(0);
  FetchEnvironment environment;
  environment.clock = [skipped] {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(skipped->load());
  };
  environment.lookup = [skipped](const std::string& host, const std::string& port) {
    skipped->store(MaxUpdateWaitMilliseconds - 200);
    return SystemNameLookup(host, port);
  };
  TestHttpServer server([](int fd) {
    for (const char c : std::string(Headers) + "271") {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      if (!SendText(fd, std::string(1, c))) return;
    }
  });
  EXPECT_EQ(FetchUpdateInfo(server.Address("/v"), "Quorvix 2.7", {}, environment), "");
  // The same server without the slow lookup is answered in full.
  TestHttpServer again([](int fd) { SendText(fd, std::string(Headers) + "271"); });
  EXPECT_EQ(FetchUpdateInfo(again.Address("/v"), "Quorvix 2.7", {}, FetchEnvironment{}), "271");
}

TEST(FetchUpdateInfo, UnreachableOrUnusableAddressesGiveNothing) {
  EXPECT_EQ(FetchUpdateInfo("", "Quorvix 2.7"), "");
  EXPECT_EQ(FetchUpdateInfo("http://127.0.0.1:" + std::to_string(UnusedLocalPort()) + "/v", "a"),
            "");
  EXPECT_EQ(FetchUpdateInfo("http://:80/v", "a"), "");
  EXPECT_EQ(FetchUpdateInfo("ftp://127.0.0.1/v", "a"), "");
}

TEST(SplitHttpAddress, TakesHostPortAndPath) {
  const auto full = SplitHttpAddress("HTTP://halvane.example:8080/files/tarnex.dat");
  ASSERT_TRUE(full);
  EXPECT_EQ(full->host, "halvane.example");
  EXPECT_EQ(full->port, "8080");
  EXPECT_EQ(full->path, "/files/tarnex.dat");

  const auto bare = SplitHttpAddress("halvane.example");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->port, "80");
  EXPECT_EQ(bare->path, "/");

  EXPECT_FALSE(SplitHttpAddress("halvane.example:0/x"));
  EXPECT_FALSE(SplitHttpAddress("halvane.example:65536/x"));
  EXPECT_FALSE(SplitHttpAddress("halvane.example:/x"));
  EXPECT_FALSE(SplitHttpAddress("https://halvane.example/x"));
}

TEST(UpdateInfoFromResponse, TakesTheTrimmedBodyBeforeAnyFurtherBlankLine) {
  EXPECT_EQ(UpdateInfoFromResponse("H: 1\r\n\r\n\t 27\r\n\r\n1"), "27");
  EXPECT_EQ(UpdateInfoFromResponse("H: 1\r\n\r\n 2712"), "271");
  EXPECT_EQ(UpdateInfoFromResponse(std::string("H: 1\r\n\r\n2\0"
                                               "71",
                                               12)),
            "2");
  EXPECT_EQ(UpdateInfoFromResponse("271"), "");
}

TEST(ReadVersionNumber, ReadsASignAndDigits) {
  EXPECT_EQ(ReadVersionNumber("271"), 271);
  EXPECT_EQ(ReadVersionNumber("+27"), 27);
  EXPECT_EQ(ReadVersionNumber("-2x"), -2);
  EXPECT_EQ(ReadVersionNumber("x27"), 0);
  EXPECT_EQ(ReadVersionNumber("99999999999"), INT32_MAX);
}

TEST(UpdateMessageFor, EachOutcomeHasItsBox) {
  EXPECT_EQ(UpdateMessageFor(UpdateOutcome::NewUpdate).text_key, "New Update Text");
  EXPECT_EQ(UpdateMessageFor(UpdateOutcome::NewUpdate).buttons, MessageButtons::YesNo);
  EXPECT_EQ(UpdateMessageFor(UpdateOutcome::NoUpdate).text_key, "No Update Text");
  EXPECT_EQ(UpdateMessageFor(UpdateOutcome::ConnectionProblem).text_key,
            "Internet connection problems");
  EXPECT_EQ(UpdateMessageFor(UpdateOutcome::ConnectionProblem).icon, MessageIcon::Error);
}

// A clock the test moves by hand, and a record of what the check asked and did.
struct AutomaticCheck {
  GeneralSettings general;
  int64_t now = 1'000'000'000;
  int questions = 0;
  int checks = 0;
  bool answer = false;

  std::optional<UpdateOutcome> Run() {
    return RunAutomaticUpdateCheck(
        general, [this] { return now; },
        [this] {
          ++questions;
          return answer;
        },
        [this] {
          ++checks;
          return UpdateOutcome::NoUpdate;
        });
  }
};

constexpr int64_t Day = 24 * 60 * 60;

TEST(RunAutomaticUpdateCheck, WeeklyCheckAsksAgainOnlyAfterAWeek) {
  AutomaticCheck check;
  check.general.update_range = ToValue(UpdateRange::EveryWeek);
  check.general.update_date = check.now - 8 * Day;

  EXPECT_EQ(check.Run(), std::nullopt);  // answered No
  EXPECT_EQ(check.questions, 1);
  EXPECT_EQ(check.checks, 0);
  EXPECT_EQ(check.general.update_date, check.now) << "No still stamps the date";

  check.now += 7 * Day;
  check.Run();
  EXPECT_EQ(check.questions, 1) << "exactly a week later is not yet due";

  check.now += 1;
  check.answer = true;
  EXPECT_EQ(check.Run(), UpdateOutcome::NoUpdate);
  EXPECT_EQ(check.questions, 2);
  EXPECT_EQ(check.checks, 1);
  EXPECT_EQ(check.general.update_date, check.now);
}

TEST(RunAutomaticUpdateCheck, NeverNeverAsks) {
  AutomaticCheck check;
  check.general.update_range = ToValue(UpdateRange::Never);
  check.general.update_date = 0;
  check.Run();
  EXPECT_EQ(check.questions, 0);
  EXPECT_EQ(check.general.update_date, 0);
}

TEST(RunAutomaticUpdateCheck, UnknownRangeMeansMonthlyAndHugeDatesDoNotOverflow) {
  AutomaticCheck check;
  check.general.update_range = 9;
  check.general.update_date = check.now - 30 * Day;
  check.Run();
  EXPECT_EQ(check.questions, 0);
  check.now += 1;
  check.Run();
  EXPECT_EQ(check.questions, 1);

  check.general.update_date = INT64_MAX;
  check.Run();
  EXPECT_EQ(check.questions, 1);
}

}  // namespace
