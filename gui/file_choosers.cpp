#include "gui/file_choosers.h"

#include <wx/bmpcbox.h>
#include <wx/dirdlg.h>
#include <wx/filedlg.h>

#include <filesystem>

#include "core/conversion_job.h"
#include "gui/input_file_filter.h"
#include "gui/main_window.h"
#include "gui/output_history.h"
#include "gui/window_session.h"
#include "gui/wx_text.h"
#include "settings/program_settings.h"
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
  if (!g_main_window) return false;
  ConversionJob& job = g_main_window->Session().Job();
  bool accepted = false;
  if (const std::optional<std::string> chosen = AskForFile(job.input_path)) {
    accepted = g_main_window->OfferInputFile(*chosen);
  }
  job.input_path.clear();
  g_main_window->PostSizeEvent();
  return accepted;
}

void ChooseOutputFolder() {
  if (!g_main_window) return;
  WindowSession& session = g_main_window->Session();
  std::string start = session.Job().output_folder;
  if (!g_main_window->OutputFolderBox()->GetValue().empty()) {
    const std::string shown = ToUtf8(g_main_window->OutputFolderBox()->GetValue());
    start = shown.substr(0, shown.find_last_of('/') + 1);
  }
  if (std::optional<std::string> chosen = AskForFolder(start)) {
    if (session.ChooseOutputFolder(std::move(*chosen))) g_main_window->FillOutputFolderBox();
  }
  g_main_window->PostSizeEvent();
}
