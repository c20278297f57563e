#include "gui/system_services.h"

#include <wx/app.h>
#include <wx/colordlg.h>
#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/fontdlg.h>
#include <wx/msgdlg.h>

#include "core/program_identity.h"
#include "gui/input_file_filter.h"
#include "gui/wx_text.h"
#include "platform/open_default.h"
#include "texts/language_table.h"

namespace {

// The window a box or chooser belongs to: the one in front (a dialog asking), else the main one.
wxWindow* Owner() {
  wxWindow* active = wxGetActiveWindow();
  if (active) return active;
  return wxTheApp ? wxTheApp->GetTopWindow() : nullptr;
}

long StyleOf(MessageKind kind) {
  switch (kind) {
    case MessageKind::Question:
      return wxYES_NO | wxICON_QUESTION;
    case MessageKind::QuestionDefaultNo:
      return wxYES_NO | wxNO_DEFAULT | wxICON_QUESTION;
    // Breaking a run loses work: a warning, though it asks.
    case MessageKind::BreakQuestion:
      return wxYES_NO | wxICON_WARNING;
    case MessageKind::Warning:
      return wxOK | wxICON_WARNING;
    case MessageKind::Error:
      return wxOK | wxICON_ERROR;
    case MessageKind::Information:
      break;
  }
  return wxOK | wxICON_INFORMATION;
}

}  // namespace

bool SystemServices::Message(MessageKind kind, const std::string& title, const std::string& text) {
  wxMessageDialog box(Owner(), WindowText(text), FromUtf8(title), StyleOf(kind));
  // Counted as shown until it is answered.
  ++boxes_shown_;
  const int answer = box.ShowModal();
  --boxes_shown_;
  return answer == wxID_YES || answer == wxID_OK;
}

std::vector<std::string> SystemServices::ChooseFiles(const std::string& start) {
  const std::string filter = BuildInputFileFilter(GetText("Dialog", "All Supported Files"),
                                                  GetText("Dialog", "All Files"));
  // Opened in a folder, never on GTK's list of recent files, where a typed path is refused.
  wxFileDialog dialog(Owner(), FromUtf8(GetText("Dialog", "Select Input Files")), FromUtf8(start),
                      wxEmptyString, FromUtf8(filter),
                      wxFD_OPEN | wxFD_FILE_MUST_EXIST | wxFD_MULTIPLE);
  if (dialog.ShowModal() != wxID_OK) return {};
  wxArrayString paths;
  dialog.GetPaths(paths);
  std::vector<std::string> chosen;
  for (const wxString& path : paths) chosen.push_back(ToUtf8(path));
  return chosen;
}

std::optional<std::string> SystemServices::ChooseInputFolder(const std::string& start) {
  wxDirDialog dialog(Owner(), FromUtf8(GetText("Dialog", "Select Input Folder")), FromUtf8(start),
                     wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
  if (dialog.ShowModal() != wxID_OK) return std::nullopt;
  return ToUtf8(dialog.GetPath());
}

std::optional<std::string> SystemServices::ChooseFolder(const std::string& start) {
  wxDirDialog dialog(Owner(), FromUtf8(GetText("Dialog", "Select Output Folder")), FromUtf8(start),
                     wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
  if (dialog.ShowModal() != wxID_OK) return std::nullopt;
  return ToUtf8(dialog.GetPath());
}

bool SystemServices::ChooseColour(uint32_t& colour) {
  wxColourData data;
  data.SetColour(wxColour(colour & 0xFF, colour >> 8 & 0xFF, colour >> 16 & 0xFF));
  wxColourDialog dialog(Owner(), &data);
  if (dialog.ShowModal() != wxID_OK) return false;
  const wxColour picked = dialog.GetColourData().GetColour();
  colour = picked.Red() | picked.Green() << 8 | picked.Blue() << 16;
  return true;
}

bool SystemServices::ChooseFont(std::string& name, int& size, int& style_flags) {
  wxFontData data;
  data.SetInitialFont(wxFont(wxFontInfo(size > 0 ? size : 10).FaceName(FromUtf8(name))));
  wxFontDialog dialog(Owner(), data);
  if (dialog.ShowModal() != wxID_OK) return false;
  const wxFont font = dialog.GetFontData().GetChosenFont();
  name = ToUtf8(font.GetFaceName());
  size = font.GetPointSize();
  style_flags = (font.GetWeight() >= wxFONTWEIGHT_BOLD ? 256 : 0) |
                (font.GetStyle() != wxFONTSTYLE_NORMAL ? 512 : 0);
  return true;
}

bool SystemServices::ChooseImage(const std::string& start, const std::string& filter,
                                 std::string& path) {
  wxFileDialog dialog(Owner(), FromUtf8(GetText("Dialog", "Select Watermark Image")), wxEmptyString,
                      FromUtf8(start), FromUtf8(filter), wxFD_OPEN);
  if (dialog.ShowModal() != wxID_OK) return false;
  path = ToUtf8(dialog.GetPath());
  return true;
}

void SystemServices::Open(const std::string& address) { OpenWithDefaultHandler(address); }

std::string SystemServices::VersionFileAddress() const { return std::string(::VersionFileAddress); }
