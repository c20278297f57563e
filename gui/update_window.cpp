#include "gui/update_window.h"

#include <wx/app.h>
#include <wx/utils.h>

#include "core/program_identity.h"
#include "gui/gtk_calls.h"
#include "gui/main_window.h"
#include "gui/message_boxes.h"
#include "gui/system_services.h"
#include "gui/window_session.h"
#include "platform/system.h"
#include "settings/program_settings.h"
#include "update/update_check.h"

namespace {

MessageKind KindOf(const UpdateMessage& message) {
  if (message.buttons == MessageButtons::YesNo) return MessageKind::Question;
  return message.icon == MessageIcon::Error ? MessageKind::Error : MessageKind::Information;
}

bool Show(const UpdateMessage& message) {
  return ShowMessage(KindOf(message), std::string(message.title_key),
                     std::string(message.text_key));
}

UpdateOutcome FetchUnderBusyCursor(WindowSession& session) {
  UpdateCheckState& check = session.UpdateCheck();
  const UpdateServer server{CurrentServices().VersionFileAddress(), BuildProgramTitle(),
                            VersionNumber};
  // Input is shut out while the network is waited for, but the window keeps painting, the
  // cursor says why nothing answers and a close request ends the wait.
  MainWindow* const window = g_main_window;
  SetTakesInput(window, false);
  check.in_work = true;
  UpdateOutcome outcome = UpdateOutcome::ConnectionProblem;
  {
    wxBusyCursor busy;
    outcome = CheckForUpdates(server, [&check] {
      if (wxTheApp) wxTheApp->Yield(true);
      return !check.close_after;
    });
  }
  check.in_work = false;
  if (g_main_window == window) SetTakesInput(window, true);
  return outcome;
}

// Shows the box of `outcome`, or closes the window when that was asked for during the check.
void Report(WindowSession& session, UpdateOutcome outcome) {
  if (session.UpdateCheck().close_after) {
    session.UpdateCheck().close_after = false;
    if (g_main_window) g_main_window->Close();
    return;
  }
  const bool yes = Show(UpdateMessageFor(outcome));
  if (outcome == UpdateOutcome::NewUpdate && yes) {
    CurrentServices().Open(std::string(ProductWebAddress));
  }
}

}  // namespace

void CheckForUpdatesFromWindow(WindowSession& session) {
  if (session.UpdateCheck().in_work) return;
  Report(session, FetchUnderBusyCursor(session));
}

void RunAutomaticUpdateCheckFromWindow(WindowSession& session) {
  const std::optional<UpdateOutcome> outcome = RunAutomaticUpdateCheck(
      g_settings.general, LocalNowSeconds, [] { return Show(UpdateQuestionMessage()); },
      [&session] { return FetchUnderBusyCursor(session); });
  if (outcome) Report(session, *outcome);
}

bool UpdateCheckInWork(WindowSession& session) { return session.UpdateCheck().in_work; }

void CloseAfterUpdateCheck(WindowSession& session) {
  if (session.UpdateCheck().in_work) session.UpdateCheck().close_after = true;
}
