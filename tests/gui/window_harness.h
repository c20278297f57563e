#pragma once

// Runs the real main window inside the test process: wx is started once for all tests, each test
// builds a fresh main window and drives it with the events its controls would send.
//
//   WindowTest fixture: window() is built and shown; Pump() lets the event loop run;
//   Snapshot("name") saves a picture when $QUORVIX_SCREENSHOTS names a folder.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "gui/main_window.h"
#include "gui/message_boxes.h"
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

/// The pictures a window run starts with: the built-in ones under the default theme's, for the
/// settings in g_settings.
void LoadStartPictures();

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
};

/// Starts the conversion as the Convert button does. `during` runs once while the worker is in
/// work; at the end the report is read and OK pressed, as a user would.
EndReport Convert(const std::function<void(ProgressWindow&)>& during = {});

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

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  MainWindow& window() { return *window_; }
  /// Builds the window again after the settings were changed.
  void Rebuild();

  TempDir dir_;
  /// The window's state, kept across Rebuild() within a test.
  WindowSession session_{g_settings};
  /// The texts of the message boxes shown so far, answered with `answer_`.
  std::vector<std::string> messages_;
  bool answer_ = true;

 private:
  MainWindow* window_ = nullptr;
};
