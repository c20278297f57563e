#include "gui/commands.h"

#include <wx/frame.h>
#include <wx/menu.h>
#include <wx/toolbar.h>

#include "core/program_identity.h"
#include "gui/pictures.h"
#include "gui/wx_text.h"
#include "texts/language_table.h"

namespace {

constexpr std::array<Command, 13> CommandTable = {{
    {CmdNew, "New", "Ctrl+N", "New"},
    {CmdExit, "Exit", "Alt+X", "Exit"},
    {CmdAddInputFile, "Select Input File", "", "Add"},
    {CmdSelectOutputFolder, "Select Output Folder", "", "OutFolder"},
    {CmdOutputFormatOptions, "Output Format Options", "", "OutFormat"},
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
  std::array<int, 7> items;
  int count;
};
constexpr std::array<MenuLayout, 3> MenuLayouts = {{
    {"File", {CmdNew, Separator, CmdAddInputFile, CmdSelectOutputFolder, Separator, CmdExit}, 6},
    {"Converter", {CmdConvert, Separator, CmdFindConverter, Separator, CmdPreferences}, 5},
    {"Help",
     {CmdManual, Separator, CmdSendFeedback, CmdVisitHomepage, CmdCheckForUpdates, Separator,
      CmdAbout},
     7},
}};

constexpr std::array<int, 12> ToolbarLayout = {
    CmdNew,          CmdAddInputFile,  CmdSelectOutputFolder,
    Separator,       CmdPreferences,   Separator,
    CmdConvert,      Separator,        CmdManual,
    CmdSendFeedback, CmdVisitHomepage, CmdCheckForUpdates};

constexpr std::array<CommandId, 3> FieldCommands = {CmdAddInputFile, CmdSelectOutputFolder,
                                                    CmdOutputFormatOptions};

std::string CommandText(const Command& command) { return GetText("Menu", command.text_key); }

}  // namespace

const std::array<Command, 13>& Commands() { return CommandTable; }

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

void BuildMainMenu(wxFrame* frame) {
  auto* bar = new wxMenuBar;
  for (const MenuLayout& layout : MenuLayouts) {
    auto* menu = new wxMenu;
    for (int i = 0; i < layout.count; ++i) {
      const Command* command = FindCommand(layout.items[i]);
      if (!command) {
        menu->AppendSeparator();
        continue;
      }
      // The caption's "\t" + name makes wx both show the accelerator and bind it.
      auto* item = new wxMenuItem(menu, command->id, FromUtf8(MenuCaption(*command)));
      item->SetBitmap(IconPicture(MenuIcons(), command->picture));
      menu->Append(item);
    }
    bar->Append(menu, FromUtf8(GetText("Menu", layout.title_key)));
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

std::array<wxToolBar*, 3> BuildFieldToolbars(wxWindow* parent,
                                             const std::array<wxToolBar*, 3>& existing) {
  std::array<wxToolBar*, 3> toolbars{};
  for (size_t i = 0; i < FieldCommands.size(); ++i) {
    if (existing[i]) existing[i]->Destroy();
    auto* toolbar = new wxToolBar(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                  wxTB_FLAT | wxTB_NODIVIDER | wxTB_HORIZONTAL);
    const Command* command = FindCommand(FieldCommands[i]);
    toolbar->SetToolBitmapSize(wxSize(16, 16));
    const wxString tip = FromUtf8(CommandText(*command));
    toolbar->AddTool(command->id, tip, IconPicture(MenuIcons(), command->picture), tip);
    toolbar->Realize();
    // A toolbar that is not the frame's own sends its clicks to its parent chain: the panel,
    // then the main window, whose menu handler dispatches them.
    toolbars[i] = toolbar;
  }
  return toolbars;
}
