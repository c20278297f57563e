#include "gui/conversion_run.h"

#include <wx/bmpcbox.h>
#include <wx/textctrl.h>

#include <filesystem>

#include "core/conversion_job.h"
#include "core/program_settings.h"
#include "engine/formats.h"
#include "engine/watermark.h"
// FreeImage.h defines _WINDOWS_, which sends the wx headers down their Windows path.
#undef _WINDOWS_
#include "gui/main_window.h"
#include "gui/message_boxes.h"
#include "gui/output_history.h"
#include "gui/progress_window.h"
#include "gui/wx_text.h"
#include "texts/language_table.h"

namespace {

// A regular file with at least one byte: a missing file is no input either.
bool IsNonEmptyFile(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return false;
  const auto size = std::filesystem::file_size(path, error);
  return !error && size > 0;
}

bool IsFolder(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

// A refusal that stops the run: the status bar says so, then the warning.
void Refuse(const std::string& text) {
  g_main_window->SetStatusText(GetText("Msg", "Conversion is not complete"));
  ShowWarning(text);
}

// The length of a UTF-8 text in characters, and the byte offset of character `index`.
size_t CharacterCount(const std::string& text) {
  size_t count = 0;
  for (unsigned char c : text) count += (c & 0xC0) != 0x80;
  return count;
}

size_t ByteOffset(const std::string& text, size_t index) {
  size_t count = 0;
  for (size_t at = 0; at < text.size(); ++at) {
    if ((static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) continue;
    if (count == index) return at;
    ++count;
  }
  return text.size();
}

// Reads the fields and checks them in order; false after the warning of the first fault.
bool PrepareWindowRun(bool& font_loaded) {
  MainWindow& window = *g_main_window;
  const std::string input_path = ToUtf8(window.InputField()->GetValue());
  g_job.input_path = input_path;
  g_input_files.Clear();
  if (IsNonEmptyFile(input_path) && IsAcceptedInputPath(input_path)) {
    g_input_files.Set(input_path, InputFileEntry{1, ""});
  }
  g_job.output_folder = ToUtf8(window.OutputFolderBox()->GetValue());
  const int selected = window.OutputFormatBox()->GetSelection();
  if (selected != wxNOT_FOUND) {
    const auto index = static_cast<size_t>(
        reinterpret_cast<intptr_t>(window.OutputFormatBox()->GetClientData(selected)));
    if (index < g_process.output_format_keys.size()) {
      g_settings.output.format = g_process.output_format_keys[index];
    }
  }
  window.SetStatusText(GetText("General", "Preparing"));

  if (g_input_files.Empty()) {
    Refuse(GetText("Msg", "Empty input files"));
    return false;
  }
  if (g_job.output_folder.empty()) {
    Refuse(GetText("Msg", "Empty output folder"));
    return false;
  }
  if (g_job.output_folder.back() != '/') g_job.output_folder += '/';
  if (!IsFolder(g_job.output_folder)) {
    Refuse(FormatText(GetText("Msg", "Invalid output folder"), g_job.output_folder));
    return false;
  }
  const TransformSettings& transform = g_settings.transform;
  if (transform.do_image_resize != 0 && transform.image_width == 0) {
    Refuse(GetText("Msg", "Invalid width"));
    return false;
  }
  if (transform.do_image_resize != 0 && transform.image_height == 0) {
    Refuse(GetText("Msg", "Invalid height"));
    return false;
  }
  const WatermarkSettings& mark = g_settings.watermark;
  if (mark.do_watermark == 1) {
    if (!LoadWatermarkFont(g_settings)) {
      ShowWarning(FormatText(GetText("Msg", "Invalid watermark font"), mark.font));
      return false;
    }
    font_loaded = true;
  } else if (mark.do_watermark == 2) {
    if (mark.image.empty()) {
      ShowWarning(GetText("Msg", "Empty watermark image"));
      return false;
    }
    if (!IsNonEmptyFile(mark.image)) {
      ShowWarning(FormatText(GetText("Msg", "Invalid watermark image"), mark.image));
      return false;
    }
  }
  return PrepareJob(g_job, g_settings);
}

}  // namespace

std::string ShortenPath(const std::string& text, int limit) {
  const size_t length = CharacterCount(text);
  if (text.empty() || limit < 3 || length <= static_cast<size_t>(limit)) return text;
  const size_t keep = static_cast<size_t>((limit - 3) / 2);
  return text.substr(0, ByteOffset(text, keep)) + "..." +
         text.substr(ByteOffset(text, length - keep));
}

void RunConversionFromWindow() {
  if (!g_main_window || g_main_window->RunInWork()) return;
  bool font_loaded = false;
  if (!PrepareWindowRun(font_loaded)) {
    if (font_loaded) ReleaseWatermarkFont();
    return;
  }
  AddOutputFolderToHistory(g_settings, g_job.output_folder);
  g_main_window->FillOutputFolderBox();
  g_main_window->SetStatusText(GetText("General", "Converting"));

  bool close_after = false;
  {
    ProgressWindow progress(g_main_window, static_cast<int>(g_input_files.Size()));
    if (!progress.Run()) {
      g_main_window->SetStatusText(GetText("Msg", "Conversion is not complete"));
    }
    close_after = progress.CloseAfter();
  }
  if (font_loaded) ReleaseWatermarkFont();
  g_main_window->Raise();
  if (close_after) g_main_window->Close();
}

void RequestBreakOfRun() {
  if (ProgressWindow* progress = ProgressWindow::Current()) progress->AskBreak(true);
}
