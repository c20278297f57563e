// The two programs from outside: a bare quorvix becomes the window program and hands over its
// lock, a console run never loads the window toolkit, and a window run without a display ends
// with one line.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "config/settings_file.h"
#include "settings/program_settings.h"
#include "tests/gui/window_harness.h"
#include "tests/support/psd_writer.h"

extern char** environ;

namespace {

struct Child {
  pid_t pid = -1;
  int out = -1;  // standard output and error together
};

// Starts bin/quorvix with `arguments`; `set` adds or replaces variables, `unset` removes them.
// Standard input is `input` (or /dev/null when -1).
Child Start(const std::vector<std::string>& arguments,
            const std::vector<std::pair<std::string, std::string>>& set,
            const std::vector<std::string>& unset = {}, int input = -1) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    bool drop = false;
    for (const auto& [key, value] : set) drop = drop || key == name;
    for (const auto& key : unset) drop = drop || key == name;
    if (!drop) environment.push_back(text);
  }
  for (const auto& [key, value] : set) environment.push_back(key + "=" + value);
  std::vector<char*> envp;
  for (std::string& text : environment) envp.push_back(text.data());
  envp.push_back(nullptr);

  std::string program = std::string(QUORVIX_BIN_DIR) + "/quorvix";
  std::vector<std::string> items = arguments;
  std::vector<char*> argv = {program.data()};
  for (std::string& item : items) argv.push_back(item.data());
  argv.push_back(nullptr);

  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (input >= 0) {
    posix_spawn_file_actions_adddup2(&actions, input, 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], 2);
  posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
  Child child;
  if (posix_spawn(&child.pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
    child.pid = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_ends[1]);
  child.out = pipe_ends[0];
  return child;
}

// Waits for the child; returns its exit status (128 + signal when killed) and its output.
int Finish(Child& child, std::string* output = nullptr) {
  std::string text;
  char buffer[4096];
  for (ssize_t got; (got = read(child.out, buffer, sizeof buffer)) > 0;) text.append(buffer, got);
  close(child.out);
  int status = 0;
  waitpid(child.pid, &status, 0);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string ReadText(const std::string& path) {
  std::ifstream file(path);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// True once the X server lists a window titled `title`.
bool WindowShown(const std::string& title) {
  FILE* list = popen("xwininfo -root -tree 2>/dev/null", "r");
  if (!list) return false;
  std::string text;
  char buffer[4096];
  for (size_t got; (got = fread(buffer, 1, sizeof buffer, list)) > 0;) text.append(buffer, got);
  pclose(list);
  return text.find("\"" + title + "\"") != std::string::npos;
}

bool WaitFor(const std::function<bool()>& done, int milliseconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!done() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return done();
}

}  // namespace

TEST(WindowProgram, BareQuorvixOpensTheWindowAndKeepsTheLock) {
  TempDir config;
  TempDir runtime;
  const std::vector<std::pair<std::string, std::string>> environment = {
      {"XDG_CONFIG_HOME", config.folder()}, {"XDG_RUNTIME_DIR", runtime.folder()}};
  // No update question at start: it would hold the window until someone answers.
  ProgramSettings quiet;
  ResetSettings(quiet, false);
  quiet.general.update_range = ToValue(UpdateRange::Never);
  std::filesystem::create_directories(config.folder() + "Halvane/tarnex");
  ASSERT_TRUE(SaveSettings(quiet, config.folder() + "Halvane/tarnex/config.ini"));
  Child window = Start({}, environment);
  ASSERT_GT(window.pid, 0);
  ASSERT_TRUE(WaitFor([] { return WindowShown("Quorvix 2.7"); }, 20000));

  // The same process became the window program, which alone loads the window toolkit.
  const std::string exe =
      std::filesystem::read_symlink("/proc/" + std::to_string(window.pid) + "/exe").string();
  EXPECT_EQ(exe.substr(exe.rfind('/') + 1), "quorvix-window");
  EXPECT_NE(ReadText("/proc/" + std::to_string(window.pid) + "/maps").find("libwx_gtk3u_core"),
            std::string::npos);

  // The lock went with it: a second window run ends silently, a console run says why.
  Child second = Start({}, environment);
  std::string second_output;
  EXPECT_EQ(Finish(second, &second_output), 0);
  EXPECT_EQ(second_output, "");
  Child console = Start({"-i", "/nowhere/x.psd"}, environment);
  std::string console_output;
  EXPECT_EQ(Finish(console, &console_output), 3);
  EXPECT_EQ(console_output, "Error: Another copy of Quorvix 2.7 is running\n");

  // A polite end closes the window as the user would: the settings are written.
  kill(window.pid, SIGTERM);
  EXPECT_EQ(Finish(window), 0);
  ProgramSettings saved;
  ASSERT_TRUE(LoadSettings(saved, config.folder() + "Halvane/tarnex/config.ini"));
  EXPECT_EQ(saved.window.width, 510);
  EXPECT_EQ(saved.window.height, 260);
}

TEST(WindowProgram, ConsoleRunLoadsNoWindowToolkit) {
  TempDir dir;
  PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, 8, 8, 3);
  ASSERT_TRUE(WritePsdFile(dir.file("in.psd"), spec));
  // With -p the run waits for a key on its terminal after the conversion: its maps can be read
  // while it is alive.
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(grantpt(terminal), 0);
  ASSERT_EQ(unlockpt(terminal), 0);
  const int input = open(ptsname(terminal), O_RDWR | O_NOCTTY);
  ASSERT_GE(input, 0);
  TempDir runtime;
  Child run = Start({"-q", "-p", "-i", dir.file("in.psd"), "-o", dir.folder()},
                    {{"XDG_RUNTIME_DIR", runtime.folder()}}, {}, input);
  close(input);
  ASSERT_GT(run.pid, 0);
  ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(dir.file("in.png")); }, 20000));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const std::string maps = ReadText("/proc/" + std::to_string(run.pid) + "/maps");
  EXPECT_NE(maps.find("libfreeimage"), std::string::npos);  // the maps are the run's own
  EXPECT_EQ(maps.find("libwx"), std::string::npos);
  EXPECT_EQ(maps.find("libgtk"), std::string::npos);
  ASSERT_EQ(write(terminal, "x", 1), 1);
  EXPECT_EQ(Finish(run), 0);
  close(terminal);
}

TEST(WindowProgram, WithoutADisplayAWindowRunEndsWithOneLine) {
  TempDir config;
  TempDir runtime;
  Child run =
      Start({}, {{"XDG_CONFIG_HOME", config.folder()}, {"XDG_RUNTIME_DIR", runtime.folder()}},
            {"DISPLAY", "WAYLAND_DISPLAY"});
  std::string output;
  EXPECT_EQ(Finish(run, &output), 4);
  EXPECT_EQ(output.rfind("Error: ", 0), 0u) << output;
  EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
}

namespace {

// Width and height from a JPEG's start-of-frame marker; 0, 0 when there is none.
std::pair<int, int> JpegSize(const std::string& bytes) {
  for (size_t at = 2; at + 9 < bytes.size();) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (byte(at) != 0xFF) return {0, 0};
    const int marker = byte(at + 1);
    const size_t length = (byte(at + 2) << 8) | byte(at + 3);
    if (marker >= 0xC0 && marker <= 0xC3) {
      return {(byte(at + 7) << 8) | byte(at + 8), (byte(at + 5) << 8) | byte(at + 6)};
    }
    at += 2 + length;
  }
  return {0, 0};
}

}  // namespace

TEST(WindowProgram, ScreenshotModeWritesBothPictures) {
  TempDir config;
  TempDir runtime;
  TempDir out;
  // A relative folder without its "/" is taken from the working directory.
  const std::filesystem::path here = std::filesystem::current_path();
  std::filesystem::current_path(out.path());
  std::filesystem::create_directory("shots");
  Child run = Start({"-T", "shots"},
                    {{"XDG_CONFIG_HOME", config.folder()}, {"XDG_RUNTIME_DIR", runtime.folder()}});
  std::string output;
  const int status = Finish(run, &output);
  std::filesystem::current_path(here);
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(output, "");

  const std::string large = ReadText(out.file("shots/tarnex1.jpg"));
  const std::string small = ReadText(out.file("shots/tarnex1x.jpg"));
  ASSERT_GT(large.size(), 1000u);
  ASSERT_GT(small.size(), 200u);
  EXPECT_EQ(large.substr(0, 3), "\xFF\xD8\xFF");
  const auto [width, height] = JpegSize(large);
  EXPECT_GE(width, 510);
  EXPECT_GE(height, 260);
  const auto [small_width, small_height] = JpegSize(small);
  EXPECT_EQ(small_width, 180);
  EXPECT_EQ(small_height, static_cast<int>(std::lround(180.0 * height / width)));
  // A screenshot run never touches the settings file.
  EXPECT_FALSE(std::filesystem::exists(config.folder() + "Halvane/tarnex/config.ini"));

  if (const char* shots = std::getenv("QUORVIX_SCREENSHOTS"); shots && *shots) {
    for (const char* name : {"tarnex1.jpg", "tarnex1x.jpg"}) {
      std::filesystem::copy_file(out.file(std::string("shots/") + name),
                                 std::string(shots) + "/" + name,
                                 std::filesystem::copy_options::overwrite_existing);
    }
  }
}

TEST(WindowProgram, ScreenshotModeSaysWhyItSavedNothing) {
  TempDir runtime;
  Child missing = Start({"-T", "/nowhere/at/all"}, {{"XDG_RUNTIME_DIR", runtime.folder()}});
  std::string output;
  EXPECT_EQ(Finish(missing, &output), 1);
  EXPECT_EQ(output, "Error: Invalid screenshot folder\n");

  TempDir out;
  Child blind = Start({"-T", out.folder()}, {{"XDG_RUNTIME_DIR", runtime.folder()}},
                      {"DISPLAY", "WAYLAND_DISPLAY"});
  EXPECT_EQ(Finish(blind, &output), 4);
  EXPECT_EQ(output.rfind("Error: ", 0), 0u) << output;
  EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
  EXPECT_FALSE(std::filesystem::exists(out.file("tarnex1.jpg")));
}

TEST(WindowProgram, UninstallPageShowsItselfAndWritesNoSettings) {
  TempDir config;
  TempDir runtime;
  Child page =
      Start({"-U"}, {{"XDG_CONFIG_HOME", config.folder()}, {"XDG_RUNTIME_DIR", runtime.folder()}});
  ASSERT_GT(page.pid, 0);
  const bool shown = WaitFor([] { return WindowShown("Uninstall"); }, 20000);
  kill(page.pid, SIGTERM);
  std::string output;
  Finish(page, &output);
  EXPECT_TRUE(shown) << output;
  EXPECT_FALSE(std::filesystem::exists(config.folder() + "Halvane"));
}
