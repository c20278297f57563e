#include "gui/message_boxes.h"

#include <wx/msgdlg.h>

#include "gui/main_window.h"
#include "gui/wx_text.h"
#include "texts/language_table.h"

namespace {

MessageHandler& Handler() {
  static MessageHandler handler;
  return handler;
}

int g_boxes_shown = 0;

// Shows `box` and counts it as shown until it is answered.
int ShowCounted(wxMessageDialog& box) {
  ++g_boxes_shown;
  const int answer = box.ShowModal();
  --g_boxes_shown;
  return answer;
}

wxWindow* Owner() {
  wxWindow* active = wxGetActiveWindow();
  return active ? active : g_main_window;
}

}  // namespace

void SetMessageHandler(MessageHandler handler) { Handler() = std::move(handler); }

bool MessageBoxShown() { return g_boxes_shown > 0; }

void ShowWarning(const std::string& text) {
  if (Handler()) {
    Handler()(MessageKind::Warning, text);
    return;
  }
  wxMessageDialog box(Owner(), WindowText(text), FromUtf8(GetText("Msg", "Warning")),
                      wxOK | wxICON_WARNING);
  ShowCounted(box);
}

bool ShowMessage(MessageKind kind, const std::string& title_key, const std::string& text_key) {
  const std::string& text = GetText("Msg", text_key);
  if (Handler()) return Handler()(kind, text);
  long style = wxOK | wxICON_INFORMATION;
  switch (kind) {
    case MessageKind::Question:
    case MessageKind::BreakQuestion:
      style = wxYES_NO | wxICON_QUESTION;
      break;
    case MessageKind::Warning:
      style = wxOK | wxICON_WARNING;
      break;
    case MessageKind::Error:
      style = wxOK | wxICON_ERROR;
      break;
    case MessageKind::Information:
      break;
  }
  wxMessageDialog box(Owner(), WindowText(text), FromUtf8(GetText("Msg", title_key)), style);
  const int answer = ShowCounted(box);
  return answer == wxID_YES || answer == wxID_OK;
}

bool AskBreakConversion() {
  const std::string& text = GetText("Msg", "Ask break conversion");
  if (Handler()) return Handler()(MessageKind::BreakQuestion, text);
  wxMessageDialog box(Owner(), WindowText(text), FromUtf8(GetText("Msg", "Warning")),
                      wxYES_NO | wxICON_WARNING);
  return ShowCounted(box) == wxID_YES;
}
