#include "update/update_check.h"

#include "settings/program_settings.h"

UpdateOutcome CheckForUpdates(const UpdateServer& server, const UpdateWaitHook& wait_hook) {
  const int32_t version =
      ReadVersionNumber(FetchUpdateInfo(server.version_file_address, server.user_agent, wait_hook));
  if (version == 0) return UpdateOutcome::ConnectionProblem;
  if (version > server.own_version) return UpdateOutcome::NewUpdate;
  return UpdateOutcome::NoUpdate;
}

UpdateMessage UpdateMessageFor(UpdateOutcome outcome) {
  switch (outcome) {
    case UpdateOutcome::NewUpdate:
      return {"New Update", "New Update Text", MessageButtons::YesNo, MessageIcon::Question};
    case UpdateOutcome::NoUpdate:
      return {"No Update", "No Update Text", MessageButtons::Ok, MessageIcon::Information};
    case UpdateOutcome::ConnectionProblem:
      break;
  }
  return {"Error", "Internet connection problems", MessageButtons::Ok, MessageIcon::Error};
}

UpdateMessage UpdateQuestionMessage() {
  return {"Check for Updates", "Ask check for updates", MessageButtons::YesNo,
          MessageIcon::Question};
}

std::optional<int32_t> UpdateIntervalDays(int32_t update_range) {
  switch (update_range) {
    case ToValue(UpdateRange::EveryDay):
      return 1;
    case ToValue(UpdateRange::EveryWeek):
      return 7;
    case ToValue(UpdateRange::Every3Months):
      return 90;
    case ToValue(UpdateRange::Every6Months):
      return 180;
    case ToValue(UpdateRange::Never):
      return std::nullopt;
    default:
      return 30;  // every month, and any value a hand-edited file may hold
  }
}

bool IsUpdateCheckDue(const GeneralSettings& general, int64_t now) {
  const std::optional<int32_t> days = UpdateIntervalDays(general.update_range);
  if (!days) return false;
  // Compared on the side of `now`: "Update Date" comes from the file and may be absurdly large.
  constexpr int64_t SecondsPerDay = 24 * 60 * 60;
  return now - *days * SecondsPerDay > general.update_date;
}

std::optional<UpdateOutcome> RunAutomaticUpdateCheck(GeneralSettings& general,
                                                     const std::function<int64_t()>& clock,
                                                     const std::function<bool()>& ask_to_check,
                                                     const std::function<UpdateOutcome()>& check) {
  if (!IsUpdateCheckDue(general, clock())) return std::nullopt;
  std::optional<UpdateOutcome> outcome;
  if (ask_to_check()) outcome = check();
  general.update_date = clock();
  return outcome;
}
