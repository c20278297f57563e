#pragma once

// The modal progress window of a conversion run: the file in work, a bar and an OK button that
// is enabled once the run has ended.

#include <wx/dialog.h>
#include <wx/timer.h>

#include <functional>
#include <memory>
#include <string>

#include "core/conversion_run.h"

class wxButton;
class wxGauge;
class wxStaticText;
class WindowServices;

class ProgressWindow : public wxDialog {
 public:
  /// Inner size of the window.
  static constexpr int Width = 300;
  static constexpr int Height = 110;
  /// How often the worker's progress is read, in milliseconds.
  static constexpr int PollMilliseconds = 15;

  /// Built hidden over `parent` for a run of `total` files; `services` asks the break question
  /// and `report` hears the status line of the run's end ("Conversion complete", ...).
  ProgressWindow(wxWindow* parent, int total, WindowServices& services,
                 std::function<void(const std::string&)> report);
  ~ProgressWindow() override;

  /// Starts the worker on `request` with the run's `resources` and shows the window until the
  /// user closes the finished run. False when the worker could not start (then the window was
  /// not shown).
  bool Run(RunRequest request, RunResources resources);

  /// The run the window owns; nullptr before Run().
  const ConversionRun* Run() const { return run_.get(); }

  /// Asks the break question while the worker runs; on Yes it stops after its file. With
  /// `close_after`, the window and its run end by themselves once the worker has ended, and a
  /// finished run's report is closed at once.
  void AskBreak(bool close_after);

  bool Running() const { return running_; }
  bool Stopped() const { return stopped_; }
  bool CloseAfter() const { return close_after_; }
  wxStaticText* FileLabel() const { return file_label_; }
  wxGauge* Bar() const { return bar_; }
  wxButton* OkButton() const { return ok_button_; }

 private:
  void OnTimer(wxTimerEvent& event);
  void OnOk(wxCommandEvent& event);
  void OnClose(wxCloseEvent& event);
  void ShowProgress();
  void ShowEnd();
  std::string ProgressTitle(const std::string& head, int count) const;

  WindowServices& services_;
  std::function<void(const std::string&)> report_;
  wxStaticText* file_label_ = nullptr;
  wxGauge* bar_ = nullptr;
  wxButton* ok_button_ = nullptr;
  wxTimer timer_;
  std::unique_ptr<ConversionRun> run_;
  int total_ = 0;
  int shown_processed_ = 0;
  int char_width_ = 7;
  int limit_ = 50;
  bool running_ = false;
  bool stopped_ = false;
  bool close_after_ = false;
};
