#include "gui/main_window.h"

#include <wx/bmpbuttn.h>
#include <wx/bmpcbox.h>
#include <wx/display.h>
#include <wx/dnd.h>
#include <wx/listbox.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/stattext.h>
#include <wx/statusbr.h>
#include <wx/textctrl.h>
#include <wx/toolbar.h>

#include <algorithm>

#include "core/conversion_job.h"
#include "core/program_identity.h"
#include "engine/output/formats.h"
#include "gui/about_window.h"
#include "gui/commands.h"
#include "gui/conversion_run.h"
#include "gui/converter_search.h"
#include "gui/file_choosers.h"
#include "gui/gtk_calls.h"
#include "gui/mnemonics.h"
#include "gui/output_history.h"
#include "gui/picture_list_box.h"
#include "gui/pictures.h"
#include "gui/preferences_dialog.h"
#include "gui/progress_window.h"
#include "gui/system_services.h"
#include "gui/theme_pictures.h"
#include "gui/update_window.h"
#include "gui/window_run.h"
#include "gui/window_session.h"
#include "gui/wx_text.h"
#include "platform/ascii.h"
#include "platform/system.h"
#include "platform/text.h"
#include "settings/program_settings.h"
#include "texts/language_table.h"
#include "themes/theme_pack.h"

namespace {

// Rows of the content panel at the default font. GTK's text fields and drop-down lists need more
// height than the original 20 pixels, so each row is 45 pixels apart instead of 40; x positions
// and widths keep the original layout. A larger font makes labels and fields taller, and the
// rows, the panel and the window grow with them.
constexpr int LabelX = 10;
constexpr int LabelWidth = 350;
constexpr int LabelHeight = 17;
constexpr int FieldHeight = 28;
constexpr int TopMargin = 5;
constexpr int FieldToolbarSide = 28;
constexpr int ConvertSide = 100;
constexpr int ConvertY = 30;
// The panel ends below the last field; the notice line sits below it.
constexpr int PanelMargin = 10;
constexpr int NoticeHeight = 20;
constexpr int NoticeGap = 4;

// The lines of the input field's tooltip: enough to tell what was named, few enough to fit.
constexpr size_t InputListLines = 30;

// Every dropped file and folder is offered, in the order of the drop. The window owns its drop
// target.
class FileDrop : public wxFileDropTarget {
 public:
  explicit FileDrop(MainWindow& window) : window_(window) {}
  bool OnDropFiles(wxCoord, wxCoord, const wxArrayString& files) override {
    if (files.empty()) return false;
    std::vector<std::string> paths;
    for (const wxString& file : files) paths.push_back(ToUtf8(file));
    window_.OfferInputs(paths);
    return true;
  }

 private:
  MainWindow& window_;
};

}  // namespace

std::string FormatBoxEntry(const std::string& key, bool with_descriptions) {
  std::string entry = ToUpperAscii(key);
  if (!with_descriptions) return entry;
  const OutputFormatEntry* format = FindOutputFormat(key);
  return entry + " (" + (format ? format->description : std::string()) + ")";
}

void FillFormatBox(wxBitmapComboBox* box, bool with_descriptions, const std::string& selected_key) {
  int selected = -1;
  const std::vector<std::string>& keys = g_process.output_format_keys;
  for (size_t i = 0; i < keys.size(); ++i) {
    if (keys[i].empty()) continue;
    const int position = box->Append(FromUtf8(FormatBoxEntry(keys[i], with_descriptions)),
                                     IconPicture(MenuIcons(), "New"),
                                     reinterpret_cast<void*>(static_cast<intptr_t>(i)));
    if (keys[i] == selected_key) selected = position;
  }
  if (box->GetCount() > 0) box->SetSelection(selected >= 0 ? selected : 0);
}

wxRect PlaceOnScreen(const wxRect& saved) {
  wxRect place = saved;
  const wxRect screen = wxDisplay(0u).GetClientArea();
  // No wider than the screen, no narrower than the bound: a hand-edited size stays usable.
  place.width = std::clamp(place.width, MainWindow::MinimumWidth,
                           std::max(MainWindow::MinimumWidth, screen.width));
  // The title bar must be reachable: the top-left corner has to lie on some screen.
  if (wxDisplay::GetFromPoint(place.GetTopLeft()) != wxNOT_FOUND) return place;
  place.x = screen.x + (screen.width - place.width) / 2;
  place.y = screen.y + std::max(0, (screen.height - place.height) / 2);
  return place;
}

MainWindow::MainWindow(WindowSession& session)
    : wxFrame(nullptr, wxID_ANY, FromUtf8(BuildProgramTitle()), wxDefaultPosition, wxDefaultSize,
              wxDEFAULT_FRAME_STYLE),
      session_(session) {
  if (!session_.HasServices()) session_.SetServices(std::make_unique<SystemServices>());
  BuildMainMenu(this);
  ShowMenuChecks();
  toolbar_height_ = BuildMainToolbar(this, ThemePictureSize(session_.Settings().interface.ui_size));
  wxStatusBar* status = CreateStatusBar(1);
  status_bar_height_ = status ? status->GetSize().GetHeight() : 0;
  BuildControls();
  SetDropTarget(new FileDrop(*this));

  wxAcceleratorEntry keys[4];
  keys[0].Set(wxACCEL_CTRL, 'N', CmdNew);
  keys[1].Set(wxACCEL_ALT, 'X', CmdExit);
  keys[2].Set(wxACCEL_NORMAL, WXK_F5, CmdConvert);
  keys[3].Set(wxACCEL_NORMAL, WXK_F1, CmdManual);
  SetAcceleratorTable(wxAcceleratorTable(4, keys));

  const WindowSettings& window = session_.Settings().window;
  const wxRect place = PlaceOnScreen(wxRect(window.x, window.y, window.width, FixedHeight));
  SetHeightBounds();
  SetClientSize(place.width, GetClientSize().GetHeight());
  Move(place.x, place.y);

  Bind(wxEVT_SIZE, &MainWindow::OnSize, this);
  Bind(wxEVT_CLOSE_WINDOW, &MainWindow::OnClose, this);
  Bind(wxEVT_MENU, &MainWindow::OnMenu, this);
  Bind(wxEVT_TOOL, &MainWindow::OnMenu, this);
  output_folder_box_->Bind(wxEVT_COMBOBOX, &MainWindow::OnOutputFolderBox, this);
  output_format_box_->Bind(wxEVT_COMBOBOX, &MainWindow::OnOutputFormatBox, this);
  convert_button_->Bind(wxEVT_BUTTON, &MainWindow::OnConvertButton, this);
  input_field_->Bind(wxEVT_TEXT, &MainWindow::OnInputText, this);
  Bind(wxEVT_CHAR_HOOK, &MainWindow::OnCharHook, this);
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildControls() {
  panel_ = new wxPanel(this, wxID_ANY, wxPoint(0, 0), wxSize(MinimumWidth, PanelHeight()),
                       wxTAB_TRAVERSAL | wxBORDER_NONE);
  const int field_width = MinimumWidth - 160;
  const std::array<const char*, 3> label_keys = {"Input File", "Output Folder", "Output Format"};
  std::vector<std::string> captions;
  for (const char* key : label_keys) captions.push_back(GetText("General", key));
  // The menu bar's letters are the window's too.
  const std::vector<std::string> marked = AddMnemonics(captions, MenuBarMnemonics());
  // Each label comes right before its field: wx gives a label's mnemonic to the next control
  // that takes the keyboard, and the tab order is the order of creation.
  std::array<wxWindow*, 3> fields{};
  for (int row = 0; row < 3; ++row) {
    labels_[row] = new wxStaticText(panel_, wxID_ANY, FromUtf8(marked[row]), wxDefaultPosition,
                                    wxSize(LabelWidth, LabelHeight));
    switch (row) {
      case 0:
        input_field_ = new wxTextCtrl(panel_, InputFieldId, wxEmptyString, wxDefaultPosition,
                                      wxSize(field_width, FieldHeight));
        fields[row] = input_field_;
        break;
      case 1:
        // Editable, so a folder can be typed or pasted; the list keeps the history.
        output_folder_box_ =
            new wxBitmapComboBox(panel_, OutputFolderBoxId, wxEmptyString, wxDefaultPosition,
                                 wxSize(field_width, FieldHeight), 0, nullptr);
        fields[row] = output_folder_box_;
        break;
      default:
        output_format_box_ = new PictureListBox(panel_, OutputFormatBoxId, wxDefaultPosition,
                                                wxSize(field_width, FieldHeight));
        fields[row] = output_format_box_;
        break;
    }
    field_toolbars_[row] = BuildFieldToolbar(panel_, row, nullptr);
    SetAccessibleName(fields[row], SpokenName(marked[row]));
  }
  convert_button_ =
      new wxBitmapButton(panel_, ConvertButtonId, IconPicture(ButtonIcons(), "Convert"),
                         wxDefaultPosition, wxSize(ConvertSide, ConvertSide));
  convert_button_->SetToolTip(FromUtf8(GetText("Menu", "Convert")));
  // A picture alone says nothing to a screen reader.
  SetAccessibleName(convert_button_, GetText("Menu", "Convert"));
  notice_label_ = new wxStaticText(this, wxID_ANY, FromUtf8(std::string(NoticeText)),
                                   wxDefaultPosition, wxSize(LabelWidth, NoticeHeight));

  // The font decides the heights; the default font gives the original ones.
  label_height_ = LabelHeight;
  for (wxStaticText* label : labels_) {
    label_height_ = std::max(label_height_, label->GetBestSize().GetHeight());
  }
  // The fields are as much taller as the labels: GTK's fields are clipped a little at every
  // size, as the original layout asks for 28 pixels where GTK would take 34.
  field_height_ = FieldHeight + (label_height_ - LabelHeight);
  notice_height_ = std::max(NoticeHeight, notice_label_->GetBestSize().GetHeight());
  for (int row = 0; row < 3; ++row) {
    labels_[row]->SetSize(LabelX, LabelY(row), LabelWidth, label_height_);
    fields[row]->SetSize(LabelX, FieldY(row), field_width, field_height_);
  }
  convert_button_->Move(MinimumWidth - 110, ConvertY);
  notice_label_->SetSize(LabelX, PanelHeight() + NoticeGap, LabelWidth, notice_height_);
}

int MainWindow::LabelY(int row) const { return TopMargin + row * (label_height_ + field_height_); }

int MainWindow::FieldY(int row) const { return LabelY(row) + label_height_; }

int MainWindow::PanelHeight() const { return LabelY(3) + PanelMargin - TopMargin; }

void MainWindow::SetHeightBounds() {
  // The inner height counts the toolbar and the status bar, as on the original platform; the
  // controls need at least the panel and the notice line, whatever the toolbar's size.
  const int content = std::max(PanelHeight() + NoticeGap + notice_height_ + NoticeGap,
                               FixedHeight - toolbar_height_ - status_bar_height_);
  SetMinClientSize(wxSize(-1, -1));
  SetMaxClientSize(wxSize(-1, -1));
  SetMinSize(wxDefaultSize);
  SetMaxSize(wxDefaultSize);
  SetClientSize(std::max(GetClientSize().GetWidth(), least_width_), content);
  const int frame_height = GetSize().GetHeight();
  const int frame_extra = GetSize().GetWidth() - GetClientSize().GetWidth();
  SetSizeHints(least_width_ + frame_extra, frame_height, -1, frame_height);
}

void MainWindow::Finish() {
  BuildOutputFormats();
  BuildInputFormats();
  if (session_.Settings().window.is_maximized == 1) Maximize(true);
  FillFormatBox(output_format_box_, true, session_.Settings().output.format);
  // A larger font may need a wider format box than the least width leaves it (the fields are
  // 160 pixels narrower than the window); the window then starts and stays that much wider. The
  // entries are measured: GTK's own reckoning follows the size the box was given. Beside the
  // text go the picture and the box's frame and arrow.
  int longest = 0;
  for (unsigned i = 0; i < output_format_box_->GetCount(); ++i) {
    longest =
        std::max(longest, output_format_box_->GetTextExtent(output_format_box_->GetString(i)).x);
  }
  const int format_width = longest + 16 + 70;
  if (format_width + 160 > least_width_) {
    least_width_ = format_width + 160;
    SetHeightBounds();
  }
  StartNewJob();
  Show(true);
  LayoutControls();
  PostSizeEvent();
}

void MainWindow::OnCharHook(wxKeyEvent& event) {
  // wx leaves toolbars out of the tab order: Tab visits each field, then the button beside it,
  // then Convert, in the order on the screen.
  const int modifiers = event.GetModifiers();
  if (event.GetKeyCode() != WXK_TAB || (modifiers & ~wxMOD_SHIFT) != 0) {
    event.Skip();
    return;
  }
  const std::array<wxWindow*, 7> order = {
      input_field_,       field_toolbars_[0], output_folder_box_, field_toolbars_[1],
      output_format_box_, field_toolbars_[2], convert_button_};
  const auto at = std::find_if(order.begin(), order.end(), HoldsFocus);
  if (at == order.end()) {
    event.Skip();
    return;
  }
  const int step = (modifiers & wxMOD_SHIFT) ? -1 : 1;
  const int count = static_cast<int>(order.size());
  int next = static_cast<int>(at - order.begin());
  for (int tries = 0; tries < count; ++tries) {
    next = (next + step + count) % count;
    if (order[next]->IsShownOnScreen() && order[next]->IsEnabled() && FocusInside(order[next])) {
      return;
    }
  }
  event.Skip();
}

void MainWindow::LayoutControls() {
  const int w = GetClientSize().GetWidth();
  panel_->SetSize(0, 0, w, PanelHeight());
  for (wxWindow* field :
       {static_cast<wxWindow*>(input_field_), static_cast<wxWindow*>(output_folder_box_),
        static_cast<wxWindow*>(output_format_box_)}) {
    field->SetSize(w - 160, field_height_);
  }
  for (size_t row = 0; row < field_toolbars_.size(); ++row) {
    wxToolBar* toolbar = field_toolbars_[row];
    if (!toolbar) continue;
    // A GTK toolbar smaller than its button hides the button behind an overflow arrow.
    const wxSize best = toolbar->GetBestSize();
    const int side = std::max({FieldToolbarSide, best.GetWidth(), best.GetHeight()});
    toolbar->SetSize(w - 146, FieldY(static_cast<int>(row)) + (field_height_ - side) / 2, side,
                     side);
  }
  convert_button_->Move(w - 110, ConvertY);
  Refresh();
}

void MainWindow::FillOutputFolderBox() {
  const ProgramSettings& settings = session_.Settings();
  const std::string& history = settings.file.recent_out_folders;
  if (history.empty()) return;
  output_folder_box_->Clear();
  int selected = -1;
  for (int n = 0; n < settings.advanced.out_folders_number; ++n) {
    const std::string entry = HistoryEntry(history, n);
    if (entry.empty()) continue;
    const int position =
        output_folder_box_->Append(FromUtf8(entry), IconPicture(MenuIcons(), "FavFolder"));
    if (selected < 0 && entry == session_.Job().output_folder) selected = position;
  }
  if (output_folder_box_->GetCount() > 0) output_folder_box_->SetSelection(std::max(selected, 0));
}

void MainWindow::StartNewJob() {
  FillOutputFolderBox();
  session_.NewJob();
  input_field_->ChangeValue(wxEmptyString);
  input_field_->UnsetToolTip();
  output_folder_box_->SetSelection(wxNOT_FOUND);
  // The box is editable: no selection still leaves its typed text.
  output_folder_box_->ChangeValue(wxEmptyString);
}

bool MainWindow::ChooseInputFile() {
  const std::vector<std::string> chosen = AskForInputFiles(
      session_, ToUtf8(input_field_->GetValue()), ToUtf8(output_folder_box_->GetValue()));
  const bool accepted = !chosen.empty() && OfferInputs(chosen);
  PostSizeEvent();
  return accepted;
}

bool MainWindow::ChooseInputFolder() {
  const std::optional<std::string> chosen = AskForInputFolder(
      session_, ToUtf8(input_field_->GetValue()), ToUtf8(output_folder_box_->GetValue()));
  const bool accepted = chosen && OfferInputs({*chosen});
  PostSizeEvent();
  return accepted;
}

void MainWindow::ToggleIncludeSubfolders() {
  // The field shows the walked folders only while it was not typed over.
  const bool shown =
      session_.HoldsBatch() && ToUtf8(input_field_->GetValue()) == session_.InputSummary();
  session_.SetIncludeSubfolders(!session_.IncludeSubfolders());
  if (shown) ShowInputs();
  ShowMenuChecks();
}

void MainWindow::ShowMenuChecks() {
  wxMenuBar* bar = GetMenuBar();
  if (bar && bar->FindItem(CmdIncludeSubfolders)) {
    bar->Check(CmdIncludeSubfolders, session_.IncludeSubfolders());
  }
}

void MainWindow::ShowInputs() {
  input_field_->ChangeValue(FromUtf8(session_.InputSummary()));
  // One file shows itself whole; several, or a folder, list what was named.
  if (session_.HoldsBatch()) {
    input_field_->SetToolTip(FromUtf8(session_.InputListText(InputListLines)));
  } else {
    input_field_->UnsetToolTip();
  }
}

void MainWindow::ChooseOutputFolder() {
  std::optional<std::string> chosen = AskForOutputFolder(
      session_, ToUtf8(output_folder_box_->GetValue()), ToUtf8(input_field_->GetValue()));
  if (chosen && session_.ChooseOutputFolder(std::move(*chosen))) FillOutputFolderBox();
  PostSizeEvent();
}

bool MainWindow::OfferInputs(const std::vector<std::string>& paths) {
  const bool folder_shown = !output_folder_box_->GetValue().empty();
  if (!session_.OfferInputs(paths, ToUtf8(output_folder_box_->GetValue()))) return false;
  ShowInputs();
  if (!folder_shown) FillOutputFolderBox();
  return true;
}

wxSize MainWindow::InnerSize() const {
  const wxSize client = GetClientSize();
  return wxSize(client.GetWidth(), client.GetHeight() + toolbar_height_ + status_bar_height_);
}

void MainWindow::RefreshPictures() {
  for (int row = 0; row < 3; ++row) {
    field_toolbars_[row] = BuildFieldToolbar(panel_, row, field_toolbars_[row]);
  }
  // The rebuilt toolbars keep their places in the tab order, each after its field.
  field_toolbars_[0]->MoveAfterInTabOrder(input_field_);
  field_toolbars_[1]->MoveAfterInTabOrder(output_folder_box_);
  field_toolbars_[2]->MoveAfterInTabOrder(output_format_box_);
  convert_button_->SetBitmap(IconPicture(ButtonIcons(), "Convert"));
  for (unsigned i = 0; i < output_folder_box_->GetCount(); ++i) {
    output_folder_box_->SetItemBitmap(i, IconPicture(MenuIcons(), "FavFolder"));
  }
  for (unsigned i = 0; i < output_format_box_->GetCount(); ++i) {
    output_format_box_->SetItemBitmap(i, IconPicture(MenuIcons(), "New"));
  }
}

void MainWindow::RebuildToolbar() {
  toolbar_height_ = BuildMainToolbar(this, ThemePictureSize(session_.Settings().interface.ui_size));
  SetHeightBounds();
}

void MainWindow::RebuildInterface(InterfaceRebuild rebuild) {
  InterfaceSettings& interface = session_.Settings().interface;
  if (rebuild == InterfaceRebuild::IconSize) {
    // The built-in pictures are drawn again at the new size first, so a name the theme lacks
    // does not keep a picture of the old size.
    LoadToolbarPictures(ThemePictureSize(interface.ui_size));
    LoadThemePictures(interface, false, false, true);
    RebuildToolbar();
    PostSizeEvent();
  } else if (rebuild == InterfaceRebuild::Theme) {
    // The previous theme's pictures stay where the new theme has none.
    LoadThemePictures(interface, true, true, true);
    BuildMainMenu(this);
    ShowMenuChecks();
    RebuildToolbar();
    RefreshPictures();
    PostSizeEvent();
  }
  if (static_cast<int>(output_folder_box_->GetCount()) !=
      session_.Settings().advanced.out_folders_number) {
    FillOutputFolderBox();
  }
}

void MainWindow::ShutDown() {
  ProgramSettings& settings = session_.Settings();
  WindowSettings& place = settings.window;
  if (IsMaximized()) {
    place.is_maximized = 1;
  } else if (!IsIconized()) {
    place.is_maximized = 0;
    const wxSize inner = InnerSize();
    place.width = inner.GetWidth();
    place.height = inner.GetHeight();
    const wxPoint at = GetPosition();
    place.x = at.x;
    place.y = at.y;
  }
  if (settings.advanced.out_folders_history == ToValue(FolderHistory::CleanOnExit)) {
    settings.file.recent_out_folders.clear();
  }
  session_.SaveSettings();
}

void MainWindow::ShowStatus(const std::string& text) {
  if (GetStatusBar()) wxFrame::SetStatusText(FromUtf8(text), 0);
}

std::string MainWindow::StatusText() const {
  return GetStatusBar() ? ToUtf8(GetStatusBar()->GetStatusText(0)) : std::string();
}

void MainWindow::OnSize(wxSizeEvent& event) {
  LayoutControls();
  event.Skip();
}

void MainWindow::OnClose(wxCloseEvent& event) {
  // A run in work is asked first; the window goes only once no output is half written.
  if (RunInWork()) {
    if (event.CanVeto()) event.Veto();
    RequestBreakOfRun();
    return;
  }
  // A check for a new version waiting for the network gives up, and the window closes after it.
  if (UpdateCheckInWork(session_)) {
    CloseAfterUpdateCheck(session_);
    if (event.CanVeto()) {
      event.Veto();
      return;
    }
  }
  ShutDown();
  event.Skip();
}

void MainWindow::OnMenu(wxCommandEvent& event) { RunCommand(event.GetId()); }

void MainWindow::RunCommand(int id) {
  switch (id) {
    case CmdNew:
      StartNewJob();
      return;
    case CmdExit:
      Close();
      return;
    case CmdAddInputFile:
      ChooseInputFile();
      return;
    case CmdAddInputFolder:
      ChooseInputFolder();
      return;
    case CmdIncludeSubfolders:
      ToggleIncludeSubfolders();
      return;
    case CmdSelectOutputFolder:
      ChooseOutputFolder();
      return;
    case CmdConvert:
      RunConversionFromWindow(*this);
      return;
    case CmdManual:
      session_.Services().Open(RunningProgramPaths().manual_folder + ManualFileName);
      return;
    case CmdSendFeedback:
      session_.Services().Open(FeedbackAddress());
      return;
    case CmdVisitHomepage:
      session_.Services().Open(HomepageAddress());
      return;
    case CmdOutputFormatOptions:
      OpenPreferences(PageOutput);
      return;
    case CmdPreferences:
      OpenPreferences(PageGeneral);
      return;
    case CmdFindConverter:
      OpenConverterSearch();
      return;
    case CmdCheckForUpdates:
      CheckForUpdatesFromWindow(*this);
      return;
    case CmdAbout:
      OpenAbout();
      return;
    default:
      return;
  }
}

void MainWindow::RequestBreakOfRun() {
  if (progress_) progress_->AskBreak(true);
}

void MainWindow::OnInputText(wxCommandEvent& event) {
  event.Skip();
  // Typing makes the field one path again: the dropped or chosen inputs are forgotten.
  if (!session_.NamedInputs().empty()) {
    session_.ForgetInputs();
    input_field_->UnsetToolTip();
  }
  // A typed or pasted path fills an empty output folder as a dropped file does; until it names
  // an input file, nothing changes.
  if (!output_folder_box_->GetValue().empty()) return;
  const std::string path = ToUtf8(input_field_->GetValue());
  if (session_.OfferInputFile(path, "")) {
    FillOutputFolderBox();
    output_folder_box_->ChangeValue(FromUtf8(session_.Job().output_folder));
  }
}

void MainWindow::OnOutputFolderBox(wxCommandEvent&) {
  session_.Job().output_folder = ToUtf8(output_folder_box_->GetValue());
}

void MainWindow::OnOutputFormatBox(wxCommandEvent&) {
  const int selected = output_format_box_->GetSelection();
  if (selected == wxNOT_FOUND) return;
  const auto index =
      static_cast<size_t>(reinterpret_cast<intptr_t>(output_format_box_->GetClientData(selected)));
  if (index < g_process.output_format_keys.size()) {
    session_.Settings().output.format = g_process.output_format_keys[index];
  }
}

void MainWindow::OnConvertButton(wxCommandEvent&) { RunConversionFromWindow(*this); }

void MainWindow::OpenConverterSearch() {
  if (converter_search_) return;
  converter_search_ =
      new ConverterSearchWindow(this, session_.Services(), [this] { converter_search_ = nullptr; });
}

void MainWindow::OpenAbout() {
  if (about_) return;
  about_ = new AboutWindow(this, [this] { about_ = nullptr; });
}

void MainWindow::OpenPreferences(int start_page) {
  if (preferences_) {
    preferences_->Raise();
    return;
  }
  preferences_ = new PreferencesDialog(
      this, session_.Settings(), session_.Services(),
      [this](PreferencesOutcome outcome) { TakePreferences(std::move(outcome)); });
  preferences_->FillPreferences(start_page);
  preferences_->CentreOnParent();
  preferences_->Show();
  Disable();
  preferences_->CategoryList()->SetFocus();
}

void MainWindow::TakePreferences(PreferencesOutcome outcome) {
  preferences_ = nullptr;
  Enable();
  ProgramSettings& settings = session_.Settings();
  if (outcome.accepted) {
    const InterfaceRebuild rebuild = RebuildFor(settings.interface, outcome.accepted->interface);
    settings = std::move(*outcome.accepted);
    session_.SaveSettings();
    RebuildInterface(rebuild);
  } else {
    KeepChosenEntries(outcome.chosen, settings.watermark);
  }
  Raise();
  SetFocus();
}
