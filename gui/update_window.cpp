#include "gui/update_window.h"

#include <wx/app.h>
#include <wx/utils.h>
#include <wx/weakref.h>

#include "core/program_identity.h"
#include "gui/gtk_calls.h"
#include "gui/main_window.h"
#include "gui/message_boxes.h"
#include "gui/window_session.h"
#include "platform/system.h"
#include "settings/program_settings.h"
#include "update/update_check.h"

namespace {

MessageKind KindOf(const UpdateMessage& message) {
  if (message.buttons == MessageButtons::YesNo) return MessageKind::Question;
  return message.icon == MessageIcon::Error ? MessageKind::Error : MessageKind::Information;
}

bool Show(WindowServices& services, const UpdateMessage& message) {
  return ShowMessage(services, KindOf(message), std::string(message.title_key),
                     std::string(message.text_key));
}

UpdateOutcome FetchUnderBusyCursor(MainWindow& window) {
  UpdateCheckState& check = window.Session().UpdateCheck();
  const UpdateServer server{window.Session().Services().VersionFileAddress(), BuildProgramTitle(),
                            VersionNumber};
  // Input is shut out while the network is waited for, but the window keeps painting, the
  // cursor says why nothing answers and a close request ends the wait.
  const wxWeakRef<MainWindow> alive(&window);
  SetTakesInput(&window, false);
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
  if (alive) SetTakesInput(alive, true);
  return outcome;
}

// Shows the box of `outcome`, or closes the window when that was asked for during the check.
void Report(MainWindow& window, UpdateOutcome outcome) {
  WindowSession& session = window.Session();
  if (session.UpdateCheck().close_after) {
    session.UpdateCheck().close_after = false;
    window.Close();
    return;
  }
  const bool yes = Show(session.Services(), UpdateMessageFor(outcome));
  if (outcome == UpdateOutcome::NewUpdate && yes) {
    session.Services().Open(std::string(ProductWebAddress));
  }
}

}  // namespace

void CheckForUpdatesFromWindow(MainWindow& window) {
  if (window.Session().UpdateCheck().in_work) return;
  Report(window, FetchUnderBusyCursor(window));
}

void RunAutomaticUpdateCheckFromWindow(MainWindow& window) {
  WindowSession& session = window.Session();
  const std::optional<UpdateOutcome> outcome = RunAutomaticUpdateCheck(
      session.Settings().general, LocalNowSeconds,
      [&session] { return Show(session.Services(), UpdateQuestionMessage()); },
      [&window] { return FetchUnderBusyCursor(window); });
  if (outcome) Report(window, *outcome);
}

bool UpdateCheckInWork(WindowSession& session) { return session.UpdateCheck().in_work; }

void CloseAfterUpdateCheck(WindowSession& session) {
  if (session.UpdateCheck().in_work) session.UpdateCheck().close_after = true;
}
