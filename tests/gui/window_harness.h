#pragma once

// Runs the real main window inside the test process: wx is started once for all tests, each test
// builds a fresh main window and drives it with the events its controls would send.
//
//   WindowTest fixture: window() is built and shown; Pump() lets the event loop run;
//   Snapshot("name") saves a picture when $QUORVIX_SCREENSHOTS names a folder.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "gui/main_window.h"
#include "gui/message_boxes.h"
#include "gui/system_services.h"
#include "gui/window_session.h"
#include "settings/program_settings.h"
#include "tests/support/temp_dir.h"

/// Lets the event loop run for about `milliseconds`.
void Pump(int milliseconds = 50);

/// Pumps until `done` is true or `milliseconds` have passed; returns `done()`.
bool PumpUntil(const std::function<bool()>& done, int milliseconds = 10000);

/// Saves a picture of `window` (menu bar and toolbar included) as NAME.png into the folder named
/// by $QUORVIX_SCREENSHOTS; does nothing without it.
void Snapshot(wxWindow* window, const std::string& name);

/// The pictures a window run starts with: the built-in ones under the default theme's, for
/// `interface`.
void LoadStartPictures(InterfaceSettings& interface);

/// The main window that is open and not being destroyed; nullptr when there is none.
MainWindow* OpenMainWindow();

/// Sends a menu command to the main window as a menu item, toolbar or accelerator would.
void SendCommand(int id);

class ProgressWindow;

/// The input field and the chosen output folder, as the user leaves them.
void FillFields(MainWindow& window, const std::string& document, const std::string& folder);

/// What the progress window showed when the run had ended.
struct EndReport {
  std::string title;
  std::string label;
  int bar = -1;
  int range = -1;
  std::string failures;  // the list of failed files, empty while it is hidden
  std::string left_out;  // the list of what rebuilt pictures leave out, empty while it is hidden
  std::string copied;    // what its Copy button put on the clipboard; empty while it is hidden
  wxSize size;           // of the window as the report showed
};

/// Starts the conversion as the Convert button does. `during` runs once while the worker is in
/// work; at the end the report is read and OK pressed, as a user would.
/// The report is pictured as `picture`.png (see Snapshot).
EndReport Convert(const std::function<void(ProgressWindow&)>& during = {},
                  const std::string& picture = "progress_after");

/// A stand-in for xdg-open, first on PATH while it lives, that writes each target it is given as
/// one line of a file.
class OpenerStub {
 public:
  explicit OpenerStub(const TempDir& dir);
  ~OpenerStub();
  OpenerStub(const OpenerStub&) = delete;
  OpenerStub& operator=(const OpenerStub&) = delete;

  /// The targets opened so far, one a line.
  std::string Opened() const;
  /// Pumps until `count` targets were opened or `milliseconds` passed; true when they were.
  bool WaitForOpened(int count, int milliseconds = 5000) const;

 private:
  std::string record_;
  std::string saved_path_;
};

/// The window's services with answers in place of a person: each set function answers its
/// question; an empty one leaves it to the system (a real chooser, the desktop's opener).
class TestServices : public SystemServices {
 public:
  using Choice = std::function<std::optional<std::string>(const std::string& start)>;

  std::function<bool(MessageKind kind, const std::string& title, const std::string& text)> message;
  std::function<std::vector<std::string>(const std::string& start)> files;
  Choice input_folder;
  Choice folder;
  std::function<bool(uint32_t& colour)> colour;
  std::function<bool(std::string& name, int& size, int& style_flags)> font;
  std::function<bool(const std::string& start, const std::string& filter, std::string& path)> image;
  /// Where the update check fetches the version file; empty for the maker's address.
  std::string version_file_address;

  bool Message(MessageKind kind, const std::string& title, const std::string& text) override {
    return message ? message(kind, title, text) : SystemServices::Message(kind, title, text);
  }
  std::vector<std::string> ChooseFiles(const std::string& start) override {
    return files ? files(start) : SystemServices::ChooseFiles(start);
  }
  std::optional<std::string> ChooseInputFolder(const std::string& start) override {
    return input_folder ? input_folder(start) : SystemServices::ChooseInputFolder(start);
  }
  std::optional<std::string> ChooseFolder(const std::string& start) override {
    return folder ? folder(start) : SystemServices::ChooseFolder(start);
  }
  bool ChooseColour(uint32_t& value) override {
    return colour ? colour(value) : SystemServices::ChooseColour(value);
  }
  bool ChooseFont(std::string& name, int& size, int& style_flags) override {
    return font ? font(name, size, style_flags)
                : SystemServices::ChooseFont(name, size, style_flags);
  }
  bool ChooseImage(const std::string& start, const std::string& filter,
                   std::string& path) override {
    return image ? image(start, filter, path) : SystemServices::ChooseImage(start, filter, path);
  }
  std::string VersionFileAddress() const override {
    return version_file_address.empty() ? SystemServices::VersionFileAddress()
                                        : version_file_address;
  }
};

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  MainWindow& window() { return *window_; }
  /// The settings of the window's session.
  ProgramSettings& settings() { return session_.Settings(); }
  /// Builds the window again after the settings were changed.
  void Rebuild();

  TempDir dir_;
  /// The window's state, kept across Rebuild() within a test.
  WindowSession session_;
  /// The session's services, answering the message boxes with `answer_` into `messages_`.
  TestServices& services() { return *services_; }
  /// The texts of the message boxes shown so far, answered with `answer_`.
  std::vector<std::string> messages_;
  bool answer_ = true;

 private:
  MainWindow* window_ = nullptr;
  TestServices* services_ = nullptr;
};
