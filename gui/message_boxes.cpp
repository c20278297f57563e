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

wxWindow* Owner() {
  wxWindow* active = wxGetActiveWindow();
  return active ? active : g_main_window;
}

}  // namespace

void SetMessageHandler(MessageHandler handler) { Handler() = std::move(handler); }

void ShowWarning(const std::string& text) {
  if (Handler()) {
    Handler()(MessageKind::Warning, text);
    return;
  }
  wxMessageDialog box(Owner(), WindowText(text), FromUtf8(GetText("Msg", "Warning")),
                      wxOK | wxICON_WARNING);
  box.ShowModal();
}

bool AskBreakConversion() {
  const std::string& text = GetText("Msg", "Ask break conversion");
  if (Handler()) return Handler()(MessageKind::BreakQuestion, text);
  wxMessageDialog box(Owner(), WindowText(text), FromUtf8(GetText("Msg", "Warning")),
                      wxYES_NO | wxICON_WARNING);
  return box.ShowModal() == wxID_YES;
}

bool AskResetToDefaults() {
  const std::string& text = GetText("Msg", "Ask reset to defaults");
  if (Handler()) return Handler()(MessageKind::ResetQuestion, text);
  wxMessageDialog box(Owner(), WindowText(text), FromUtf8(GetText("Msg", "Reset to Defaults")),
                      wxYES_NO | wxICON_QUESTION);
  return box.ShowModal() == wxID_YES;
}
