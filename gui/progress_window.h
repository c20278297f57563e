#pragma once

// The progress window of a conversion run: the file in work, a bar and an OK button that is
// enabled once the run has ended, with the files that failed listed below then.

#include <wx/dialog.h>
#include <wx/timer.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/conversion_run.h"

class wxButton;
class wxGUIEventLoop;
class wxGauge;
class wxStaticText;
class wxTextCtrl;
class WindowServices;
struct RunReport;

class ProgressWindow : public wxDialog {
 public:
  /// Least inner size of the window (its size at the default font).
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
  /// user closes the finished run; the owner takes no input meanwhile, but its close box still
  /// asks the break question. False when the worker could not start (then the window was not
  /// shown).
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
  /// Copies the lists shown to the clipboard; shown with them. False when the clipboard could
  /// not be had.
  wxButton* CopyButton() const { return copy_button_; }
  bool CopyFailures();
  /// The failed files with their reasons, one a line; hidden unless some file failed.
  wxTextCtrl* FailureList() const { return failure_list_; }
  wxStaticText* FailureHeading() const { return failure_heading_; }
  /// The converted files whose rebuilt pictures leave something out, with what; hidden unless
  /// there is one.
  wxTextCtrl* LeftOutList() const { return left_out_list_; }

 private:
  void OnTimer(wxTimerEvent& event);
  void OnOk(wxCommandEvent& event);
  void OnClose(wxCloseEvent& event);
  void ShowProgress();
  void ShowBatchProgress(const ProgressSnapshot& progress);
  void ShowEnd();
  void ShowLists(const RunReport& report);
  void Finish();
  std::string FittingPath(const std::string& path) const;
  std::string ProgressTitle(const std::string& head, int count) const;

  WindowServices& services_;
  std::function<void(const std::string&)> report_;
  wxStaticText* file_label_ = nullptr;
  wxGauge* bar_ = nullptr;
  wxButton* ok_button_ = nullptr;
  wxButton* copy_button_ = nullptr;
  wxStaticText* failure_heading_ = nullptr;
  wxTextCtrl* failure_list_ = nullptr;
  wxStaticText* left_out_heading_ = nullptr;
  wxTextCtrl* left_out_list_ = nullptr;
  wxGUIEventLoop* loop_ = nullptr;
  bool finished_ = false;
  wxTimer timer_;
  std::unique_ptr<ConversionRun> run_;
  int total_ = 0;
  int shown_processed_ = 0;
  int shown_finished_ = -1;
  std::string shown_file_;
  bool running_ = false;
  bool stopped_ = false;
  bool close_after_ = false;
};
