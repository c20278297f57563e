#include "gui/progress_window.h"

#include <wx/button.h>
#include <wx/dcclient.h>
#include <wx/gauge.h>
#include <wx/stattext.h>

#include "gui/message_boxes.h"
#include "gui/run_messages.h"
#include "gui/wx_text.h"
#include "texts/language_table.h"

namespace {

constexpr int LabelWidth = 280;

}  // namespace

ProgressWindow::ProgressWindow(wxWindow* parent, int total, WindowServices& services,
                               std::function<void(const std::string&)> report)
    : wxDialog(parent, wxID_ANY, FromUtf8(GetText("Dialog", "Convert Progress")), wxDefaultPosition,
               wxDefaultSize, wxCAPTION | wxCLOSE_BOX | wxSYSTEM_MENU),
      services_(services),
      report_(std::move(report)),
      timer_(this),
      total_(total) {
  SetClientSize(Width, Height);
  file_label_ = new wxStaticText(this, wxID_ANY, wxEmptyString, wxPoint(10, 13),
                                 wxSize(LabelWidth, 20), wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
  bar_ = new wxGauge(this, wxID_ANY, total + 1, wxPoint(10, 40), wxSize(LabelWidth, 20),
                     wxGA_HORIZONTAL | wxGA_SMOOTH);
  ok_button_ = new wxButton(this, wxID_OK, FromUtf8(GetText("Dialog", "OK")), wxPoint(110, 72),
                            wxSize(80, 32));
  ok_button_->Disable();
  CentreOnParent();

  // The limit of a shown path in characters, from the average width of the window's font.
  wxClientDC dc(this);
  dc.SetFont(GetFont());
  const int width = dc.GetTextExtent("abc123:\\-").GetWidth() / 9;
  if (width > 0) {
    char_width_ = width;
    limit_ = (Width - 20) / width;
  }

  Bind(wxEVT_TIMER, &ProgressWindow::OnTimer, this);
  Bind(wxEVT_CLOSE_WINDOW, &ProgressWindow::OnClose, this);
  ok_button_->Bind(wxEVT_BUTTON, &ProgressWindow::OnOk, this);
}

ProgressWindow::~ProgressWindow() { timer_.Stop(); }

bool ProgressWindow::Run(RunRequest request, RunResources resources) {
  run_ = StartConversion(std::move(request), std::move(resources));
  if (!run_) return false;
  running_ = true;
  timer_.Start(PollMilliseconds);
  ShowModal();
  timer_.Stop();
  return true;
}

std::string ProgressWindow::ProgressTitle(const std::string& head, int count) const {
  return head + " " +
         FormatText(GetText("Msg", "Progress"), std::to_string(count), std::to_string(total_));
}

void ProgressWindow::OnTimer(wxTimerEvent&) {
  if (!running_) return;
  if (!run_->Ended()) {
    ShowProgress();
    return;
  }
  ShowEnd();
}

void ProgressWindow::ShowProgress() {
  const ProgressSnapshot progress = run_->Progress();
  if (progress.processed <= shown_processed_) return;
  shown_processed_ = progress.processed;
  SetTitle(FromUtf8(ProgressTitle(GetText("Dialog", "Convert Progress"), progress.processed)));
  std::string file = progress.current_file;
  if (static_cast<int>(file.size()) * char_width_ > LabelWidth) file = ShortenPath(file, limit_);
  file_label_->SetLabel(FromUtf8(file));
  bar_->SetValue(std::min(progress.processed, total_ + 1));
}

void ProgressWindow::ShowEnd() {
  running_ = false;
  timer_.Stop();
  const int converted = run_->Wait();
  const int processed = run_->Progress().processed;
  if (stopped_) {
    const std::string& stopped = GetText("Msg", "Conversion is not complete");
    if (report_) report_(stopped);
    SetTitle(FromUtf8(ProgressTitle(stopped, processed)));
    file_label_->SetLabel(FromUtf8(stopped));
  } else {
    const std::string& complete = GetText("Msg", "Conversion complete");
    if (report_) report_(complete);
    SetTitle(FromUtf8(ProgressTitle(complete, processed)));
    file_label_->SetLabel(FromUtf8(FormatText(GetText("Msg", "Files converted"),
                                              std::to_string(converted), std::to_string(total_))));
    bar_->SetValue(total_ + 1);
  }
  ok_button_->Enable();
  ok_button_->SetFocus();
  if (close_after_) EndModal(wxID_OK);
}

void ProgressWindow::AskBreak(bool close_after) {
  if (!running_) {
    // The run has ended and its report waits for OK: nothing to stop, the window just goes.
    if (close_after) {
      close_after_ = true;
      EndModal(wxID_OK);
    }
    return;
  }
  // The worker goes on meanwhile; on Yes it finishes the file in work and stops.
  stopped_ = AskBreakConversion(services_);
  if (!stopped_) return;
  run_->Stop();
  close_after_ = close_after_ || close_after;
}

void ProgressWindow::OnOk(wxCommandEvent&) {
  if (running_) return;
  EndModal(wxID_OK);
}

void ProgressWindow::OnClose(wxCloseEvent& event) {
  if (running_) {
    if (event.CanVeto()) event.Veto();
    AskBreak(false);
    return;
  }
  EndModal(wxID_OK);
}
