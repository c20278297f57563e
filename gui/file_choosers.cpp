#include "gui/file_choosers.h"

#include <cstdlib>
#include <filesystem>

#include "gui/window_session.h"

namespace {

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  return home && *home ? WithSlash(home) : std::string("/");
}

}  // namespace

std::string ChooserStartFolder(const std::vector<std::string>& candidates,
                               const std::string& home) {
  std::error_code error;
  for (const std::string& candidate : candidates) {
    // Only absolute paths: a relative one would depend on where the program was started.
    if (candidate.empty() || candidate.front() != '/') continue;
    if (std::filesystem::is_directory(candidate, error)) return WithSlash(candidate);
    const std::string parent = candidate.substr(0, candidate.find_last_of('/') + 1);
    if (std::filesystem::is_directory(parent, error)) return parent;
  }
  return home.empty() ? home : WithSlash(home);
}

namespace {

// Where the input choosers open: the last file's folder, the first named input's, the shown
// input's, then the output folder's.
std::string InputStartFolder(const WindowSession& session, const std::string& shown_input,
                             const std::string& shown_output) {
  const ConversionJob& job = session.Job();
  const std::string named =
      session.NamedInputs().empty() ? std::string() : session.NamedInputs().front().path;
  return ChooserStartFolder({job.input_path, named, shown_input, job.output_folder, shown_output},
                            HomeFolder());
}

}  // namespace

std::vector<std::string> AskForInputFiles(WindowSession& session, const std::string& shown_input,
                                          const std::string& shown_output) {
  const std::string start = InputStartFolder(session, shown_input, shown_output);
  std::vector<std::string> chosen = session.Services().ChooseFiles(start);
  session.Job().input_path.clear();
  return chosen;
}

std::optional<std::string> AskForInputFolder(WindowSession& session, const std::string& shown_input,
                                             const std::string& shown_output) {
  const std::string start = InputStartFolder(session, shown_input, shown_output);
  std::optional<std::string> chosen = session.Services().ChooseInputFolder(start);
  session.Job().input_path.clear();
  return chosen;
}

std::optional<std::string> AskForOutputFolder(WindowSession& session, const std::string& shown,
                                              const std::string& shown_input) {
  const std::string start =
      ChooserStartFolder({shown, session.Job().output_folder, shown_input}, HomeFolder());
  return session.Services().ChooseFolder(start);
}
