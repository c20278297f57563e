#include "gui/commands.h"

#include <wx/frame.h>
#include <wx/menu.h>
#include <wx/toolbar.h>

#include "core/program_identity.h"
#include "gui/gtk_calls.h"
#include "gui/mnemonics.h"
#include "gui/pictures.h"
#include "gui/wx_text.h"
#include "texts/language_table.h"

namespace {

constexpr std::array<Command, 15> CommandTable = {{
    {CmdNew, "New", "Ctrl+N", "New"},
    {CmdExit, "Exit", "Alt+X", "Exit"},
    {CmdAddInputFile, "Select Input File", "", "Add"},
    {CmdAddInputFolder, "Select Input Folder", "", "InFolder"},
    {CmdSelectOutputFolder, "Select Output Folder", "", "OutFolder"},
    {CmdOutputFormatOptions, "Output Format Options", "", "OutFormat"},
    {CmdIncludeSubfolders, "Include Subfolders", "", "", true},
    {CmdConvert, "Convert", "F5", "Convert"},
    {CmdFindConverter, "Custom Converter", "", "CustomConverter"},
    {CmdPreferences, "Preferences", "", "Preferences"},
    {CmdManual, "Manual", "F1", "Help"},
    {CmdSendFeedback, "Send Feedback", "", "Email"},
    {CmdVisitHomepage, "Visit Homepage", "", "Web"},
    {CmdCheckForUpdates, "Check For New Version", "", "Updates"},
    {CmdAbout, "About", "", "About"},
}};

// A line of a menu or the toolbar that is not a command.
constexpr int Separator = -1;
struct MenuLayout {
  const char* title_key;
  std::array<int, 9> items;
  int count;
};
constexpr std::array<MenuLayout, 3> MenuLayouts = {{
    {"File",
     {CmdNew, Separator, CmdAddInputFile, CmdAddInputFolder, CmdIncludeSubfolders, Separator,
      CmdSelectOutputFolder, Separator, CmdExit},
     9},
    {"Converter", {CmdConvert, Separator, CmdFindConverter, Separator, CmdPreferences}, 5},
    {"Help",
     {CmdManual, Separator, CmdSendFeedback, CmdVisitHomepage, CmdCheckForUpdates, Separator,
      CmdAbout},
     7},
}};

constexpr std::array<int, 13> ToolbarLayout = {CmdNew,
                                               CmdAddInputFile,
                                               CmdAddInputFolder,
                                               CmdSelectOutputFolder,
                                               Separator,
                                               CmdPreferences,
                                               Separator,
                                               CmdConvert,
                                               Separator,
                                               CmdManual,
                                               CmdSendFeedback,
                                               CmdVisitHomepage,
                                               CmdCheckForUpdates};

constexpr std::array<CommandId, 3> FieldCommands = {CmdAddInputFile, CmdSelectOutputFolder,
                                                    CmdOutputFormatOptions};

std::string CommandText(const Command& command) { return GetText("Menu", command.text_key); }

// The one-button toolbar beside a field. wx leaves toolbars out of the tab order; this one's
// button is as much a control of the window as the field, so Tab reaches it.
class FieldToolbar : public wxToolBar {
 public:
  explicit FieldToolbar(wxWindow* parent)
      : wxToolBar(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                  wxTB_FLAT | wxTB_NODIVIDER | wxTB_HORIZONTAL) {}
  bool AcceptsFocus() const override { return true; }
  bool AcceptsFocusFromKeyboard() const override { return true; }
};

}  // namespace

const std::array<Command, 15>& Commands() { return CommandTable; }

const Command* FindCommand(int32_t id) {
  for (const Command& command : CommandTable) {
    if (command.id == id) return &command;
  }
  return nullptr;
}

std::string MenuCaption(const Command& command) {
  std::string caption = CommandText(command);
  if (!command.accelerator.empty()) caption += "\t" + std::string(command.accelerator);
  return caption;
}

std::string FeedbackAddress() {
  return "mailto:" + std::string(SupportAddress) + "?subject=" + BuildProgramTitle() + " Feedback";
}

std::string HomepageAddress() { return std::string(ProductWebAddress); }

std::vector<std::string> MenuTitles() {
  std::vector<std::string> titles;
  for (const MenuLayout& layout : MenuLayouts) titles.push_back(GetText("Menu", layout.title_key));
  return AddMnemonics(titles);
}

std::string MenuBarMnemonics() { return MnemonicLetters(MenuTitles()); }

void BuildMainMenu(wxFrame* frame) {
  auto* bar = new wxMenuBar;
  const std::vector<std::string> titles = MenuTitles();
  for (size_t m = 0; m < MenuLayouts.size(); ++m) {
    const MenuLayout& layout = MenuLayouts[m];
    std::vector<const Command*> commands;
    std::vector<std::string> captions;
    for (int i = 0; i < layout.count; ++i) {
      const Command* command = FindCommand(layout.items[i]);
      if (command) captions.push_back(MenuCaption(*command));
      commands.push_back(command);
    }
    // The items of one menu have letters of their own.
    const std::vector<std::string> marked = AddMnemonics(captions);
    auto* menu = new wxMenu;
    size_t next = 0;
    for (const Command* command : commands) {
      if (!command) {
        menu->AppendSeparator();
        continue;
      }
      // The caption's "\t" + name makes wx both show the accelerator and bind it.
      auto* item = new wxMenuItem(menu, command->id, FromUtf8(marked[next++]), wxEmptyString,
                                  command->checkable ? wxITEM_CHECK : wxITEM_NORMAL);
      if (!command->picture.empty()) item->SetBitmap(IconPicture(MenuIcons(), command->picture));
      menu->Append(item);
    }
    bar->Append(menu, FromUtf8(titles[m]));
  }
  wxMenuBar* old = frame->GetMenuBar();
  frame->SetMenuBar(bar);
  delete old;
}

void SetToolbarPictureSize(wxToolBar* toolbar, int size) {
  toolbar->SetToolBitmapSize(wxSize(size, size));
  toolbar->Realize();
}

int32_t BuildMainToolbar(wxFrame* frame, int picture_size) {
  if (wxToolBar* old = frame->GetToolBar()) {
    frame->SetToolBar(nullptr);
    old->Destroy();
  }
  wxToolBar* toolbar = frame->CreateToolBar(wxTB_FLAT | wxTB_HORIZONTAL | wxTB_NODIVIDER);
  if (!toolbar) return 0;
  toolbar->SetToolBitmapSize(wxSize(picture_size, picture_size));
  for (int id : ToolbarLayout) {
    const Command* command = FindCommand(id);
    if (!command) {
      toolbar->AddSeparator();
      continue;
    }
    const wxString tip = FromUtf8(CommandText(*command));
    toolbar->AddTool(command->id, tip, IconPicture(ToolbarIcons(), command->picture), tip);
  }
  SetToolbarPictureSize(toolbar, picture_size);
  return toolbar->GetSize().GetHeight();
}

wxToolBar* BuildFieldToolbar(wxWindow* parent, int field, wxToolBar* existing) {
  if (existing) existing->Destroy();
  auto* toolbar = new FieldToolbar(parent);
  const Command* command = FindCommand(FieldCommands.at(static_cast<size_t>(field)));
  toolbar->SetToolBitmapSize(wxSize(16, 16));
  const wxString tip = FromUtf8(CommandText(*command));
  toolbar->AddTool(command->id, tip, IconPicture(MenuIcons(), command->picture), tip);
  toolbar->Realize();
  // A toolbar that is not the frame's own sends its clicks to its parent chain: the panel,
  // then the main window, whose menu handler dispatches them.
  SetAccessibleName(toolbar, SpokenName(CommandText(*command)));
  return toolbar;
}
