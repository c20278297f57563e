#include "gui/file_choosers.h"

#include <wx/bmpcbox.h>

#include <filesystem>

#include "core/conversion_job.h"
#include "gui/main_window.h"
#include "gui/output_history.h"
#include "gui/window_session.h"
#include "gui/wx_text.h"
#include "settings/program_settings.h"

bool ChooseInputFile() {
  if (!g_main_window) return false;
  WindowSession& session = g_main_window->Session();
  ConversionJob& job = session.Job();
  bool accepted = false;
  if (const std::optional<std::string> chosen = session.Services().ChooseFile(job.input_path)) {
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
  if (std::optional<std::string> chosen = session.Services().ChooseFolder(start)) {
    if (session.ChooseOutputFolder(std::move(*chosen))) g_main_window->FillOutputFolderBox();
  }
  g_main_window->PostSizeEvent();
}
