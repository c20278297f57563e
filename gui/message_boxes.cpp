#include "gui/message_boxes.h"

#include "gui/system_services.h"
#include "texts/language_table.h"

void ShowWarning(const std::string& text) {
  CurrentServices().Message(MessageKind::Warning, GetText("Msg", "Warning"), text);
}

bool ShowMessage(MessageKind kind, const std::string& title_key, const std::string& text_key) {
  return CurrentServices().Message(kind, GetText("Msg", title_key), GetText("Msg", text_key));
}

bool AskBreakConversion() {
  return CurrentServices().Message(MessageKind::BreakQuestion, GetText("Msg", "Warning"),
                                   GetText("Msg", "Ask break conversion"));
}
