#include "gui/window_session.h"

#include <algorithm>
#include <filesystem>

#include "config/settings_file.h"
#include "core/input_sources.h"
#include "gui/output_history.h"
#include "platform/text.h"
#include "settings/program_settings.h"
#include "texts/language_table.h"

namespace {

// Adds what `named` gives to `inputs` and counts it there; false when it gives nothing and is not
// a readable folder.
bool Gather(NamedInput& named, bool recursive, InputFileList& inputs) {
  if (named.folder) {
    named.documents = AppendInputFolder(inputs, named.path, recursive);
    return named.documents >= 0;
  }
  named.documents = AppendInputFile(inputs, named.path) ? 1 : 0;
  return named.documents == 1;
}

}  // namespace

WindowSession::WindowSession() {
  ResetSettings(settings_, false);
  ResetJob(job_);
}

bool WindowSession::LoadSettings() { return ::LoadSettings(settings_, config_path_); }

bool WindowSession::SaveSettings() const {
  return !config_path_.empty() && ::SaveSettings(settings_, config_path_);
}

void WindowSession::NewJob() {
  ResetJob(job_);
  ForgetInputs();
}

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

bool WindowSession::OfferInputs(const std::vector<std::string>& paths,
                                const std::string& shown_folder) {
  std::vector<NamedInput> named;
  InputFileList inputs;
  for (const std::string& path : paths) {
    const auto same = [&path](const NamedInput& earlier) { return earlier.path == path; };
    if (std::any_of(named.begin(), named.end(), same)) continue;
    NamedInput input{path, IsInputFolder(path), 0};
    if (Gather(input, IncludeSubfolders(), inputs)) named.push_back(std::move(input));
  }
  if (named.empty()) return false;
  named_ = std::move(named);
  inputs_ = std::move(inputs);
  if (!shown_folder.empty()) return true;
  const NamedInput& first = named_.front();
  std::string folder = first.folder ? first.path : FolderOf(first.path);
  if (folder.empty()) return true;
  if (folder.back() != '/') folder += '/';
  AddOutputFolderToHistory(settings_, folder);
  job_.output_folder = folder;
  return true;
}

bool WindowSession::HoldsBatch() const {
  return named_.size() > 1 || (named_.size() == 1 && named_.front().folder);
}

std::string WindowSession::InputSummary() const {
  if (named_.empty()) return {};
  if (named_.size() == 1) return named_.front().path;
  if (inputs_.Size() == 1) return inputs_.begin()->first;
  return FormatText(GetText("General", "Input files"), std::to_string(inputs_.Size()));
}

std::string WindowSession::InputListText(size_t limit) const {
  std::string text;
  for (size_t i = 0; i < named_.size() && i < limit; ++i) {
    const NamedInput& input = named_[i];
    if (!text.empty()) text += '\n';
    text += input.folder ? FormatText(GetText("General", "Input folder"), input.path,
                                      std::to_string(input.documents))
                         : input.path;
  }
  if (named_.size() > limit) {
    text +=
        "\n" + FormatText(GetText("General", "Input more"), std::to_string(named_.size() - limit));
  }
  return text;
}

void WindowSession::ForgetInputs() {
  named_.clear();
  inputs_.Clear();
}

void WindowSession::SetIncludeSubfolders(bool include) {
  settings_.advanced.include_subfolders = include ? 1 : 0;
  InputFileList inputs;
  for (NamedInput& input : named_) Gather(input, include, inputs);
  inputs_ = std::move(inputs);
}
