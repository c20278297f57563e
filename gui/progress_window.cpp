#include "gui/progress_window.h"

#include <wx/button.h>
#include <wx/clipbrd.h>
#include <wx/dcclient.h>
#include <wx/display.h>
#include <wx/evtloop.h>
#include <wx/gauge.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>
#include <initializer_list>
#include <utility>

#include "gui/gtk_calls.h"
#include "gui/message_boxes.h"
#include "gui/mnemonics.h"
#include "gui/run_messages.h"
#include "gui/wx_text.h"
#include "texts/language_table.h"

namespace {

// At the default font these give the original places: the label at (10, 13), the bar at
// (10, 40), an 80 by 32 OK button centred at y 72, in a 300 by 110 window.
constexpr int Margin = 10;
constexpr int LabelWidth = 280;
// The height of the default font's lines.
constexpr int DefaultTextHeight = 17;
constexpr int LabelHeight = 20;
constexpr int BarHeight = 20;
constexpr int ButtonWidth = 80;
constexpr int ButtonHeight = 32;
// The list of failed files is wide enough for a path and its reason, and a few lines tall.
constexpr int FailureListWidth = 520;
constexpr int FailureListLines = 6;

wxSize AtLeast(const wxSize& best, int width, int height) {
  return wxSize(std::max(best.GetWidth(), width), std::max(best.GetHeight(), height));
}

}  // namespace

ProgressWindow::ProgressWindow(wxWindow* parent, int total, WindowServices& services,
                               std::function<void(const std::string&)> report)
    : wxDialog(parent, wxID_ANY, FromUtf8(GetText("Dialog", "Convert Progress")), wxDefaultPosition,
               wxDefaultSize, wxCAPTION | wxCLOSE_BOX | wxSYSTEM_MENU),
      services_(services),
      report_(std::move(report)),
      timer_(this),
      total_(total) {
  file_label_ =
      new wxStaticText(this, wxID_ANY, wxEmptyString, wxDefaultPosition,
                       wxSize(LabelWidth, LabelHeight), wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_MIDDLE);
  // The label's height follows the font: measured on a text with ascenders and descenders. The
  // default font's 17 pixels fit the original 20. A larger font widens the label as much, so a
  // file name still fits whole.
  const int text_height = GetTextExtent("Ag/").GetHeight();
  const int label_width = std::max(LabelWidth, LabelWidth * text_height / DefaultTextHeight);
  file_label_->SetMinSize(wxSize(label_width, std::max(LabelHeight, text_height + 3)));
  bar_ = new wxGauge(this, wxID_ANY, total + 1, wxDefaultPosition, wxSize(LabelWidth, BarHeight),
                     wxGA_HORIZONTAL | wxGA_SMOOTH);
  // Two lists under the bar for the end of the run: the files that failed, and the converted
  // ones whose rebuilt pictures leave something out.
  const wxSize list_size(
      std::max(FailureListWidth, FailureListWidth * text_height / DefaultTextHeight),
      GetTextExtent("Ag").GetHeight() * FailureListLines + 12);
  const auto make_list = [&](const std::string& heading_key, wxStaticText*& heading,
                             wxTextCtrl*& list) {
    heading = new wxStaticText(this, wxID_ANY, FromUtf8(GetText("Msg", heading_key)));
    list = new wxTextCtrl(this, wxID_ANY, wxEmptyString, wxDefaultPosition, wxDefaultSize,
                          wxTE_MULTILINE | wxTE_READONLY | wxTE_DONTWRAP);
    list->SetMinSize(list_size);
    SetAccessibleName(list, SpokenName(GetText("Msg", heading_key)));
  };
  make_list("Files not converted", failure_heading_, failure_list_);
  make_list("Parts not drawn", left_out_heading_, left_out_list_);
  ok_button_ = new wxButton(this, wxID_OK, FromUtf8(GetText("Dialog", "OK")));
  // GTK's own button is a few pixels larger than the original 80 by 32 at every size; the
  // original frame around the caption is kept and grows with the font.
  const wxSize caption = ok_button_->GetTextExtent(ok_button_->GetLabel());
  ok_button_->SetMinSize(
      AtLeast(wxSize(caption.GetWidth() + 24, text_height + 15), ButtonWidth, ButtonHeight));
  ok_button_->Disable();
  // The failure list goes to the clipboard whole, for a bug report or a list of files to redo.
  copy_button_ = new wxButton(this, wxID_ANY, FromUtf8(AddMnemonics({GetText("Menu", "Copy")})[0]));
  copy_button_->SetMinSize(ok_button_->GetMinSize());

  auto* column = new wxBoxSizer(wxVERTICAL);
  column->AddSpacer(13);
  column->Add(file_label_, 0, wxEXPAND | wxLEFT | wxRIGHT, Margin);
  column->AddSpacer(7);
  column->Add(bar_, 0, wxEXPAND | wxLEFT | wxRIGHT, Margin);
  column->Add(failure_heading_, 0, wxLEFT | wxRIGHT | wxTOP, Margin);
  column->Add(failure_list_, 1, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, Margin);
  column->Add(left_out_heading_, 0, wxLEFT | wxRIGHT | wxTOP, Margin);
  column->Add(left_out_list_, 1, wxEXPAND | wxLEFT | wxRIGHT | wxTOP, Margin);
  column->AddSpacer(12);
  // The Copy button is hidden until there is a list, and then takes no room from OK's place.
  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  buttons->Add(copy_button_, 0, wxRIGHT, Margin);
  buttons->Add(ok_button_, 0);
  column->Add(buttons, 0, wxALIGN_CENTRE_HORIZONTAL);
  column->AddSpacer(6);
  for (wxWindow* hidden : std::initializer_list<wxWindow*>{
           failure_heading_, failure_list_, left_out_heading_, left_out_list_, copy_button_}) {
    hidden->Hide();
  }
  SetSizer(column);
  column->SetSizeHints(this);
  SetClientSize(std::max(GetClientSize().GetWidth(), Width),
                std::max(GetClientSize().GetHeight(), Height));
  CentreOnParent();

  Bind(wxEVT_TIMER, &ProgressWindow::OnTimer, this);
  Bind(wxEVT_CLOSE_WINDOW, &ProgressWindow::OnClose, this);
  ok_button_->Bind(wxEVT_BUTTON, &ProgressWindow::OnOk, this);
  copy_button_->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { CopyFailures(); });
  // Escape does what the close box does: asks during the run, closes the report after it.
  Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
    if (event.GetKeyCode() != WXK_ESCAPE) {
      event.Skip();
      return;
    }
    if (running_) {
      AskBreak(false);
    } else {
      Finish();
    }
  });
}

ProgressWindow::~ProgressWindow() { timer_.Stop(); }

bool ProgressWindow::Run(RunRequest request, RunResources resources) {
  run_ = StartConversion(std::move(request), std::move(resources));
  if (!run_) return false;
  running_ = true;
  // Not a modal dialog: wx drops every close request of other windows while one is open, and the
  // main window's close box has to ask the break question. The owner is greyed at GTK's level
  // only, so its frame still hears the window manager.
  wxWindow* owner = GetParent();
  if (owner) SetTakesInput(owner, false);
  timer_.Start(PollMilliseconds);
  Show();
  Raise();
  wxGUIEventLoop loop;
  loop_ = &loop;
  if (!finished_) loop.Run();
  loop_ = nullptr;
  timer_.Stop();
  Hide();
  if (owner) SetTakesInput(owner, true);
  return true;
}

void ProgressWindow::Finish() {
  finished_ = true;
  if (loop_ && loop_->IsRunning()) loop_->Exit(wxID_OK);
}

std::string ProgressWindow::ProgressTitle(const std::string& head, int count) const {
  return head + " " +
         FormatText(GetText("Msg", "Progress"), std::to_string(count), std::to_string(total_));
}

std::string ProgressWindow::FittingPath(const std::string& path) const {
  const int width = file_label_->GetClientSize().GetWidth();
  const auto fits = [&](const std::string& text) {
    return file_label_->GetTextExtent(FromUtf8(text)).GetWidth() <= width;
  };
  if (width <= 0 || fits(path)) return path;
  // The longest shortening that fits; the file name is never cut.
  for (int limit = static_cast<int>(FromUtf8(path).length()) - 1; limit > 3; --limit) {
    const std::string shortened = ShortenPath(path, limit);
    if (fits(shortened)) return shortened;
  }
  return ShortenPath(path, 3);
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
  if (total_ > 1) {
    ShowBatchProgress(progress);
    return;
  }
  if (progress.processed <= shown_processed_) return;
  shown_processed_ = progress.processed;
  SetTitle(FromUtf8(ProgressTitle(GetText("Dialog", "Convert Progress"), progress.processed)));
  file_label_->SetLabel(FromUtf8(FittingPath(progress.current_file)));
  bar_->SetValue(std::min(progress.processed, total_ + 1));
}

void ProgressWindow::ShowBatchProgress(const ProgressSnapshot& progress) {
  // Several workers take files before earlier ones are done: the count and the bar are of the
  // files done, the label names the file taken last.
  if (progress.finished == shown_finished_ && progress.current_file == shown_file_) return;
  shown_finished_ = progress.finished;
  shown_file_ = progress.current_file;
  const std::string count = FormatText(GetText("Msg", "Progress"),
                                       std::to_string(progress.finished), std::to_string(total_));
  SetTitle(FromUtf8(GetText("Dialog", "Convert Progress") + " " + count));
  file_label_->SetLabel(FromUtf8(FittingPath(count + " " + progress.current_file)));
  bar_->SetValue(std::min(progress.finished, total_ + 1));
}

void ProgressWindow::ShowEnd() {
  running_ = false;
  timer_.Stop();
  const int converted = run_->Wait();
  const int processed = run_->Progress().processed;
  const RunReport report = BuildRunReport(run_->Results(), stopped_);
  if (report_) report_(report.headline);
  SetTitle(FromUtf8(ProgressTitle(report.headline, processed)));
  if (stopped_ && total_ > 1) {
    // The title says the batch was stopped; the label how much of it was done.
    file_label_->SetLabel(FromUtf8(FormatText(GetText("Msg", "Files converted"),
                                              std::to_string(converted), std::to_string(total_))));
  } else if (stopped_) {
    file_label_->SetLabel(FromUtf8(report.headline));
  } else {
    file_label_->SetLabel(FromUtf8(FormatText(GetText("Msg", "Files converted"),
                                              std::to_string(converted), std::to_string(total_))));
    bar_->SetValue(total_ + 1);
  }
  if (report.failed || !report.left_out.empty()) ShowLists(report);
  ok_button_->Enable();
  ok_button_->SetDefault();
  ok_button_->SetFocus();
  if (close_after_) Finish();
}

void ProgressWindow::ShowLists(const RunReport& report) {
  const int display = wxDisplay::GetFromWindow(this);
  const wxRect area =
      wxDisplay(display == wxNOT_FOUND ? 0u : static_cast<unsigned>(display)).GetClientArea();
  const auto show = [&](const std::vector<std::string>& lines, wxStaticText* heading,
                        wxTextCtrl* list) {
    if (lines.empty()) return;
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
    list->ChangeValue(FromUtf8(text));
    heading->Show();
    list->Show();
    // A list is as wide as its longest line, as far as the screen allows; a longer one scrolls.
    int longest = 0;
    for (const std::string& line : lines) {
      longest = std::max(longest, list->GetTextExtent(FromUtf8(line)).GetWidth());
    }
    const int room = std::max(list->GetMinSize().GetWidth(), area.width - 80);
    list->SetMinSize(wxSize(std::clamp(longest + 30, list->GetMinSize().GetWidth(), room),
                            list->GetMinSize().GetHeight()));
  };
  show(report.failures, failure_heading_, failure_list_);
  show(report.left_out, left_out_heading_, left_out_list_);
  copy_button_->Show();
  // The window grows to hold the list, stays centred where it was, and on the screen.
  const wxPoint centre = GetRect().GetPosition() + GetSize() / 2;
  GetSizer()->SetSizeHints(this);
  Layout();
  wxPoint at = centre - GetSize() / 2;
  at.x = std::clamp(at.x, area.x, std::max(area.x, area.GetRight() + 1 - GetSize().GetWidth()));
  at.y = std::clamp(at.y, area.y, std::max(area.y, area.GetBottom() + 1 - GetSize().GetHeight()));
  Move(at);
}

bool ProgressWindow::CopyFailures() {
  // One list goes as it is; both go under their headings.
  wxString text;
  const bool both = failure_list_->IsShown() && left_out_list_->IsShown();
  for (const auto& [heading, list] :
       {std::pair{failure_heading_, failure_list_}, std::pair{left_out_heading_, left_out_list_}}) {
    if (!list->IsShown()) continue;
    if (!text.empty()) text += "\n\n";
    if (both) text += heading->GetLabel() + "\n";
    text += list->GetValue();
  }
  if (!wxTheClipboard->Open()) return false;
  const bool copied = wxTheClipboard->SetData(new wxTextDataObject(text));
  // Kept after the window (and the program) has gone.
  wxTheClipboard->Flush();
  wxTheClipboard->Close();
  return copied;
}

void ProgressWindow::AskBreak(bool close_after) {
  if (!running_) {
    // The run has ended and its report waits for OK: nothing to stop, the window just goes.
    if (close_after) {
      close_after_ = true;
      Finish();
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
  Finish();
}

void ProgressWindow::OnClose(wxCloseEvent& event) {
  if (event.CanVeto()) event.Veto();
  if (running_) {
    AskBreak(false);
    return;
  }
  Finish();
}
