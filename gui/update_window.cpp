#include "gui/update_window.h"

#include <wx/app.h>
#include <wx/utils.h>

#include "core/program_identity.h"
#include "gui/message_boxes.h"
#include "platform/open_default.h"
#include "platform/system.h"
#include "settings/program_settings.h"
#include "update/update_check.h"

namespace {

std::string& AddressOverride() {
  static std::string address;
  return address;
}

MessageKind KindOf(const UpdateMessage& message) {
  if (message.buttons == MessageButtons::YesNo) return MessageKind::Question;
  return message.icon == MessageIcon::Error ? MessageKind::Error : MessageKind::Information;
}

bool Show(const UpdateMessage& message) {
  return ShowMessage(KindOf(message), std::string(message.title_key),
                     std::string(message.text_key));
}

UpdateOutcome FetchUnderBusyCursor() {
  const UpdateServer server{
      AddressOverride().empty() ? std::string(VersionFileAddress) : AddressOverride(),
      BuildProgramTitle(), VersionNumber};
  // Input is shut out while the network is waited for, but the windows keep painting and the
  // cursor says why nothing answers.
  wxWindowDisabler disabler;
  wxBusyCursor busy;
  return CheckForUpdates(server, [] {
    if (wxTheApp) wxTheApp->Yield(true);
  });
}

void Report(UpdateOutcome outcome) {
  const bool yes = Show(UpdateMessageFor(outcome));
  if (outcome == UpdateOutcome::NewUpdate && yes) {
    OpenWithDefaultHandler(std::string(ProductWebAddress));
  }
}

}  // namespace

void SetVersionFileAddress(std::string address) { AddressOverride() = std::move(address); }

void CheckForUpdatesFromWindow() { Report(FetchUnderBusyCursor()); }

void RunAutomaticUpdateCheckFromWindow() {
  const std::optional<UpdateOutcome> outcome = RunAutomaticUpdateCheck(
      g_settings.general, LocalNowSeconds, [] { return Show(UpdateQuestionMessage()); },
      FetchUnderBusyCursor);
  if (outcome) Report(*outcome);
}
