#include "gui/message_boxes.h"

#include "texts/language_table.h"

void ShowWarning(WindowServices& services, const std::string& text) {
  services.Message(MessageKind::Warning, GetText("Msg", "Warning"), text);
}

bool ShowMessage(WindowServices& services, MessageKind kind, const std::string& title_key,
                 const std::string& text_key) {
  return services.Message(kind, GetText("Msg", title_key), GetText("Msg", text_key));
}

bool AskBreakConversion(WindowServices& services) {
  return services.Message(MessageKind::BreakQuestion, GetText("Msg", "Warning"),
                          GetText("Msg", "Ask break conversion"));
}
