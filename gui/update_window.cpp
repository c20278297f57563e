#include "gui/update_window.h"

#include <wx/app.h>
#include <wx/utils.h>

#include "core/program_identity.h"
#include "gui/gtk_calls.h"
#include "gui/main_window.h"
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

bool check_in_work = false;
bool close_after_check = false;

UpdateOutcome FetchUnderBusyCursor() {
  const UpdateServer server{
      AddressOverride().empty() ? std::string(VersionFileAddress) : AddressOverride(),
      BuildProgramTitle(), VersionNumber};
  // Input is shut out while the network is waited for, but the window keeps painting, the
  // cursor says why nothing answers and a close request ends the wait.
  MainWindow* const window = g_main_window;
  SetTakesInput(window, false);
  check_in_work = true;
  UpdateOutcome outcome = UpdateOutcome::ConnectionProblem;
  {
    wxBusyCursor busy;
    outcome = CheckForUpdates(server, [] {
      if (wxTheApp) wxTheApp->Yield(true);
      return !close_after_check;
    });
  }
  check_in_work = false;
  if (g_main_window == window) SetTakesInput(window, true);
  return outcome;
}

// Shows the box of `outcome`, or closes the window when that was asked for during the check.
void Report(UpdateOutcome outcome) {
  if (close_after_check) {
    close_after_check = false;
    if (g_main_window) g_main_window->Close();
    return;
  }
  const bool yes = Show(UpdateMessageFor(outcome));
  if (outcome == UpdateOutcome::NewUpdate && yes) {
    OpenWithDefaultHandler(std::string(ProductWebAddress));
  }
}

}  // namespace

void SetVersionFileAddress(std::string address) { AddressOverride() = std::move(address); }

void CheckForUpdatesFromWindow() {
  if (check_in_work) return;
  Report(FetchUnderBusyCursor());
}

void RunAutomaticUpdateCheckFromWindow() {
  const std::optional<UpdateOutcome> outcome = RunAutomaticUpdateCheck(
      g_settings.general, LocalNowSeconds, [] { return Show(UpdateQuestionMessage()); },
      FetchUnderBusyCursor);
  if (outcome) Report(*outcome);
}

bool UpdateCheckInWork() { return check_in_work; }

void CloseAfterUpdateCheck() {
  if (check_in_work) close_after_check = true;
}
