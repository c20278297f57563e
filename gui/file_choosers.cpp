#include "gui/file_choosers.h"

#include "gui/window_session.h"

std::optional<std::string> AskForInputFile(WindowSession& session) {
  std::optional<std::string> chosen = session.Services().ChooseFile(session.Job().input_path);
  session.Job().input_path.clear();
  return chosen;
}

std::optional<std::string> AskForOutputFolder(WindowSession& session, const std::string& shown) {
  const std::string start =
      shown.empty() ? session.Job().output_folder : shown.substr(0, shown.find_last_of('/') + 1);
  return session.Services().ChooseFolder(start);
}
