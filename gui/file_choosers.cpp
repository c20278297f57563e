#include "gui/file_choosers.h"

#include <wx/bmpcbox.h>
#include <wx/dirdlg.h>
#include <wx/filedlg.h>

#include <filesystem>

#include "core/conversion_job.h"
#include "settings/program_settings.h"
// FreeImage.h defines _WINDOWS_, which sends the wx headers down their Windows path.
#undef _WINDOWS_
#include "gui/input_file_filter.h"
#include "gui/main_window.h"
#include "gui/output_history.h"
#include "gui/wx_text.h"
#include "texts/language_table.h"

namespace {

ChoiceHandler& FileHandler() {
  static ChoiceHandler handler;
  return handler;
}

ChoiceHandler& FolderHandler() {
  static ChoiceHandler handler;
  return handler;
}

std::optional<std::string> AskForFile(const std::string& start) {
  if (FileHandler()) return FileHandler()(start);
  const std::string filter = BuildInputFileFilter(GetText("Dialog", "All Supported Files"),
                                                  GetText("Dialog", "All Files"));
  wxFileDialog dialog(g_main_window, FromUtf8(GetText("Dialog", "Select Input Files")),
                      wxEmptyString, FromUtf8(start), FromUtf8(filter),
                      wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  if (dialog.ShowModal() != wxID_OK) return std::nullopt;
  return ToUtf8(dialog.GetPath());
}

std::optional<std::string> AskForFolder(const std::string& start) {
  if (FolderHandler()) return FolderHandler()(start);
  wxDirDialog dialog(g_main_window, FromUtf8(GetText("Dialog", "Select Output Folder")),
                     FromUtf8(start), wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
  if (dialog.ShowModal() != wxID_OK) return std::nullopt;
  return ToUtf8(dialog.GetPath());
}

}  // namespace

void SetFileChoiceHandler(ChoiceHandler handler) { FileHandler() = std::move(handler); }

void SetFolderChoiceHandler(ChoiceHandler handler) { FolderHandler() = std::move(handler); }

bool ChooseInputFile() {
  bool accepted = false;
  if (const std::optional<std::string> chosen = AskForFile(g_job.input_path)) {
    accepted = AddInputFile(*chosen);
  }
  g_job.input_path.clear();
  if (g_main_window) g_main_window->PostSizeEvent();
  return accepted;
}

void ChooseOutputFolder() {
  std::string start = g_job.output_folder;
  if (g_main_window && !g_main_window->OutputFolderBox()->GetValue().empty()) {
    const std::string shown = ToUtf8(g_main_window->OutputFolderBox()->GetValue());
    start = shown.substr(0, shown.find_last_of('/') + 1);
  }
  if (std::optional<std::string> chosen = AskForFolder(start)) {
    std::string folder = std::move(*chosen);
    std::error_code error;
    if (!folder.empty() && std::filesystem::is_directory(folder, error)) {
      if (folder.back() != '/') folder += '/';
      AddOutputFolderToHistory(g_settings, folder);
      g_job.output_folder = folder;
      if (g_main_window) g_main_window->FillOutputFolderBox();
    }
  }
  if (g_main_window) g_main_window->PostSizeEvent();
}
