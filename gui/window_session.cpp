#include "gui/window_session.h"

#include <filesystem>

#include "config/settings_file.h"
#include "gui/output_history.h"
#include "platform/text.h"
#include "settings/program_settings.h"

WindowSession::WindowSession() {
  ResetSettings(settings_, false);
  ResetJob(job_);
}

bool WindowSession::LoadSettings() { return ::LoadSettings(settings_, config_path_); }

bool WindowSession::SaveSettings() const {
  return !config_path_.empty() && ::SaveSettings(settings_, config_path_);
}

void WindowSession::NewJob() { ResetJob(job_); }

bool WindowSession::OfferInputFile(const std::string& path, const std::string& shown_folder) {
  if (!IsAcceptableInputFile(path)) return false;
  if (!shown_folder.empty()) return true;
  std::string folder = job_.base_input_folder;
  if (folder.empty()) folder = FolderOf(path);
  AddOutputFolderToHistory(settings_, folder);
  job_.output_folder = folder;
  return true;
}

bool WindowSession::ChooseOutputFolder(std::string folder) {
  std::error_code error;
  if (folder.empty() || !std::filesystem::is_directory(folder, error)) return false;
  if (folder.back() != '/') folder += '/';
  AddOutputFolderToHistory(settings_, folder);
  job_.output_folder = folder;
  return true;
}
