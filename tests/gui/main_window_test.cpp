// The main window as a user meets it: layout at two widths, the fixed height, the commands and
// keys, dropped files, the output-folder history.

#include <wx/bmpbuttn.h>
#include <wx/bmpcbox.h>
#include <wx/dnd.h>
#include <wx/menu.h>
#include <wx/textctrl.h>
#include <wx/toolbar.h>
#include <wx/uiaction.h>

#include <filesystem>

#include "core/conversion_job.h"
#include "core/program_identity.h"
#include "gui/commands.h"
#include "gui/mnemonics.h"
#include "gui/output_history.h"
#include "settings/program_settings.h"
#include "tests/gui/window_harness.h"
#include "tests/support/psd_writer.h"
#include "texts/language_table.h"

namespace {

std::string WriteDocument(const std::string& path, uint32_t width = 16, uint32_t height = 12) {
  PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, width, height, 3);
  FillPsdPlanes(spec, [](uint32_t x, uint32_t y, uint32_t channel) -> uint32_t {
    return (x * 7 + y * 3 + channel * 50) & 0xFF;
  });
  return WritePsdFile(path, spec) ? path : std::string();
}

void ExpectLayoutAt(MainWindow& window, int width) {
  window.SetClientSize(width, window.GetClientSize().GetHeight());
  Pump(100);
  ASSERT_EQ(window.GetClientSize().GetWidth(), width);
  EXPECT_EQ(window.InputField()->GetSize().GetWidth(), width - 160);
  EXPECT_EQ(window.OutputFolderBox()->GetSize().GetWidth(), width - 160);
  EXPECT_EQ(window.OutputFormatBox()->GetSize().GetWidth(), width - 160);
  for (wxToolBar* toolbar : window.FieldToolbars()) {
    EXPECT_EQ(toolbar->GetPosition().x, width - 146);
  }
  EXPECT_EQ(window.ConvertButton()->GetPosition().x, width - 110);
}

}  // namespace

TEST_F(WindowTest, LayoutFollowsTheWidth) {
  EXPECT_EQ(window().GetTitle(), "Quorvix 2.7");
  ExpectLayoutAt(window(), 510);
  EXPECT_EQ(window().InputField()->GetSize().GetWidth(), 350);
  EXPECT_EQ(window().FieldToolbars()[0]->GetPosition().x, 364);
  EXPECT_EQ(window().ConvertButton()->GetPosition().x, 400);
  Snapshot(&window(), "main_510");
  ExpectLayoutAt(window(), 710);
  EXPECT_EQ(window().InputField()->GetSize().GetWidth(), 550);
  EXPECT_EQ(window().FieldToolbars()[2]->GetPosition().x, 564);
  EXPECT_EQ(window().ConvertButton()->GetPosition().x, 600);
  Snapshot(&window(), "main_710");
}

TEST_F(WindowTest, HeightCannotChangeAndWidthNotBelowTheBound) {
  const wxSize before = window().GetSize();
  EXPECT_EQ(window().InnerSize().GetHeight(), MainWindow::FixedHeight);
  window().SetSize(before.GetWidth(), before.GetHeight() + 150);
  Pump(100);
  EXPECT_EQ(window().GetSize().GetHeight(), before.GetHeight());
  window().SetSize(before.GetWidth(), before.GetHeight() - 80);
  Pump(100);
  EXPECT_EQ(window().GetSize().GetHeight(), before.GetHeight());
  window().SetClientSize(300, window().GetClientSize().GetHeight());
  Pump(100);
  EXPECT_EQ(window().GetClientSize().GetWidth(), MainWindow::MinimumWidth);
}

TEST_F(WindowTest, MenusHoldEveryCommandWithPictureAndAccelerator) {
  wxMenuBar* bar = window().GetMenuBar();
  ASSERT_NE(bar, nullptr);
  ASSERT_EQ(bar->GetMenuCount(), 3u);
  EXPECT_EQ(bar->GetMenuLabelText(0), "File");
  EXPECT_EQ(bar->GetMenuLabelText(1), "Converter");
  EXPECT_EQ(bar->GetMenuLabelText(2), "Help");
  const std::vector<std::pair<int, std::string>> items = {
      {CmdNew, "New\tCtrl+N"},
      {CmdAddInputFile, "Add Input File..."},
      {CmdAddInputFolder, "Add Input Folder..."},
      {CmdSelectOutputFolder, "Select Output Folder..."},
      {CmdExit, "Exit\tAlt+X"},
      {CmdConvert, "Convert\tF5"},
      {CmdFindConverter, "Find a File Converter..."},
      {CmdPreferences, "Preferences..."},
      {CmdManual, "User Manual...\tF1"},
      {CmdSendFeedback, "Send Feedback"},
      {CmdVisitHomepage, "Visit the Program's Homepage"},
      {CmdCheckForUpdates, "Check For a New Version"},
      {CmdAbout, "About..."}};
  for (const auto& [id, caption] : items) {
    wxMenuItem* item = bar->FindItem(id);
    ASSERT_NE(item, nullptr) << caption;
    // Each item has its mnemonic; the caption is the text's and the accelerator's.
    const std::string label = item->GetItemLabel().ToStdString();
    EXPECT_EQ(WithoutMnemonic(label), caption);
    EXPECT_EQ(MnemonicLetters({label}).size(), 1u) << label;
    EXPECT_TRUE(item->GetBitmap().IsOk()) << caption;
  }
  EXPECT_EQ(bar->FindItem(CmdOutputFormatOptions), nullptr);
  // "Include Subfolders" is a setting shown by its check mark.
  wxMenuItem* include = bar->FindItem(CmdIncludeSubfolders);
  ASSERT_NE(include, nullptr);
  EXPECT_TRUE(include->IsCheckable());
  EXPECT_EQ(WithoutMnemonic(include->GetItemLabel().ToStdString()), "Include Subfolders");
  EXPECT_EQ(MnemonicLetters({include->GetItemLabel().ToStdString()}).size(), 1u);

  wxToolBar* toolbar = window().GetToolBar();
  ASSERT_NE(toolbar, nullptr);
  EXPECT_EQ(toolbar->GetToolBitmapSize(), wxSize(32, 32));  // "UI Size" 2
  const std::vector<int> buttons = {
      CmdNew,     CmdAddInputFile, CmdAddInputFolder, CmdSelectOutputFolder, CmdPreferences,
      CmdConvert, CmdManual,       CmdSendFeedback,   CmdVisitHomepage,      CmdCheckForUpdates};
  for (int id : buttons) {
    const wxToolBarToolBase* tool = toolbar->FindById(id);
    ASSERT_NE(tool, nullptr) << id;
    EXPECT_FALSE(tool->GetShortHelp().empty());
    EXPECT_EQ(tool->GetNormalBitmap().GetWidth(), 32);
  }
  EXPECT_EQ(toolbar->FindById(CmdConvert)->GetShortHelp(), "Convert");
  EXPECT_EQ(window().FieldToolbars()[2]->FindById(CmdOutputFormatOptions)->GetShortHelp(),
            "Options...");
}

TEST_F(WindowTest, ToolbarPictureSizeFollowsUiSize) {
  for (const auto& [ui_size, pixels] :
       std::vector<std::pair<int, int>>{{0, 16}, {1, 24}, {4, 64}, {7, 16}}) {
    settings().interface.ui_size = ui_size;
    window().RebuildInterface(InterfaceRebuild::IconSize);
    Pump(50);
    EXPECT_EQ(window().GetToolBar()->GetToolBitmapSize(), wxSize(pixels, pixels)) << ui_size;
    EXPECT_EQ(window().InnerSize().GetHeight() >= MainWindow::FixedHeight, true);
    // Only the toolbar changes: the menu keeps its 16-pixel pictures.
    EXPECT_EQ(window().GetMenuBar()->FindItem(CmdNew)->GetBitmap().GetWidth(), 16);
  }
}

TEST_F(WindowTest, NewAndConvertKeysReachTheirCommands) {
  const std::string document = WriteDocument(dir_.file("key.psd"));
  wxArrayString dropped;
  dropped.Add(document);
  static_cast<wxFileDropTarget*>(window().GetDropTarget())->OnDropFiles(20, 20, dropped);
  EXPECT_EQ(window().InputField()->GetValue(), document);

  wxUIActionSimulator user;
  window().Raise();
  window().InputField()->SetFocus();
  Pump(100);
  user.Char('N', wxMOD_CONTROL);
  ASSERT_TRUE(PumpUntil([&] { return window().InputField()->GetValue().empty(); }, 3000));

  // F5 with nothing to convert: the run refuses with its warning.
  user.Char(WXK_F5);
  ASSERT_TRUE(PumpUntil([&] { return !messages_.empty(); }, 3000));
  EXPECT_EQ(messages_.front(), GetText("Msg", "Empty input files"));
  // No run started, so the status bar tells of no stop.
  EXPECT_EQ(window().StatusText(), "");
}

TEST_F(WindowTest, DropTakesEveryFileAndFolderAndShowsTheirSummary) {
  const std::string first = WriteDocument(dir_.file("first.psd"));
  const std::string second = WriteDocument(dir_.file("second.psd"));
  std::filesystem::create_directories(dir_.file("shoot/day2"));
  WriteDocument(dir_.file("shoot/a.psd"));
  WriteDocument(dir_.file("shoot/day2/b.psd"));
  WriteFileBytes(dir_.file("notes.txt"), "text");
  wxArrayString files;
  files.Add(first);
  files.Add(dir_.file("notes.txt"));
  files.Add(second);
  files.Add(dir_.file("shoot"));
  auto* target = static_cast<wxFileDropTarget*>(window().GetDropTarget());
  ASSERT_NE(target, nullptr);
  EXPECT_TRUE(target->OnDropFiles(20, 20, files));
  // Two files and the folder's own document (its subfolder is left out by default); the text
  // file is passed over.
  EXPECT_EQ(window().InputField()->GetValue(), "3 files");
  EXPECT_EQ(window().InputField()->GetToolTipText(),
            first + "\n" + second + "\n" + dir_.file("shoot") + " (files: 1)");
  // The output folder comes from the first file.
  EXPECT_EQ(window().OutputFolderBox()->GetValue(), dir_.folder());
  EXPECT_EQ(HistoryEntry(settings().file.recent_out_folders, 0), dir_.folder());

  // "Include Subfolders" walks the shown folder again, and the menu shows the setting.
  SendCommand(CmdIncludeSubfolders);
  EXPECT_EQ(settings().advanced.include_subfolders, 1);
  EXPECT_TRUE(window().GetMenuBar()->IsChecked(CmdIncludeSubfolders));
  EXPECT_EQ(window().InputField()->GetValue(), "4 files");

  // A folder alone shows its path; a later drop takes the place of the earlier one.
  files.Clear();
  files.Add(dir_.file("shoot"));
  target->OnDropFiles(20, 20, files);
  EXPECT_EQ(window().InputField()->GetValue(), dir_.file("shoot"));
  EXPECT_EQ(window().OutputFolderBox()->GetValue(), dir_.folder());

  // One file is shown as always, with no list; a drop with nothing to take changes nothing.
  TempDir other;
  const std::string elsewhere = WriteDocument(other.file("elsewhere.psd"));
  files.Clear();
  files.Add(elsewhere);
  target->OnDropFiles(20, 20, files);
  EXPECT_EQ(window().InputField()->GetValue(), elsewhere);
  EXPECT_EQ(window().InputField()->GetToolTipText(), "");
  files.Clear();
  files.Add(dir_.file("notes.txt"));
  target->OnDropFiles(20, 20, files);
  EXPECT_EQ(window().InputField()->GetValue(), elsewhere);

  // The folder chooser takes a folder the same way.
  services().input_folder = [&](const std::string&) { return dir_.file("shoot"); };
  SendCommand(CmdAddInputFolder);
  services().input_folder = nullptr;
  EXPECT_EQ(window().InputField()->GetValue(), dir_.file("shoot"));
  EXPECT_EQ(window().InputField()->GetToolTipText(), dir_.file("shoot") + " (files: 2)");

  // Typing makes the field one path again: the list is forgotten.
  window().InputField()->SetValue(elsewhere);
  EXPECT_TRUE(session_.NamedInputs().empty());
  EXPECT_EQ(window().InputField()->GetToolTipText(), "");
}

TEST_F(WindowTest, HistoryFillsTheBoxButNewSelectsNothing) {
  settings().advanced.out_folders_number = 3;
  settings().file.recent_out_folders = "/one/\t/two/\t/three/\t/four/";
  SendCommand(CmdNew);
  EXPECT_EQ(window().OutputFolderBox()->GetCount(), 3u);
  EXPECT_EQ(window().OutputFolderBox()->GetString(1), "/two/");
  EXPECT_EQ(window().OutputFolderBox()->GetSelection(), wxNOT_FOUND);
  EXPECT_TRUE(window().OutputFolderBox()->GetValue().empty());

  window().OutputFolderBox()->SetSelection(2);
  wxCommandEvent chosen(wxEVT_COMBOBOX, OutputFolderBoxId);
  chosen.SetEventObject(window().OutputFolderBox());
  window().OutputFolderBox()->GetEventHandler()->ProcessEvent(chosen);
  EXPECT_EQ(session_.Job().output_folder, "/three/");

  // An empty history leaves the box as it was.
  settings().file.recent_out_folders.clear();
  window().FillOutputFolderBox();
  EXPECT_EQ(window().OutputFolderBox()->GetCount(), 3u);
}

TEST_F(WindowTest, HelpAndFeedbackAreHandedToTheDesktop) {
  const OpenerStub opener(dir_);
  SendCommand(CmdManual);
  SendCommand(CmdSendFeedback);
  ASSERT_TRUE(opener.WaitForOpened(2));
  const std::string text = opener.Opened();
  const std::string manual = g_process.program_folder + "tarnex.html";
  EXPECT_NE(text.find(manual + "\n"), std::string::npos) << text;
  EXPECT_TRUE(std::filesystem::exists(manual));
  EXPECT_NE(text.find("?subject=Quorvix 2.7 Feedback\n"), std::string::npos) << text;
}

TEST_F(WindowTest, StatusTextOfTheWindowAndOfWxMeetInOneField) {
  window().ShowStatus("Preparing...");
  EXPECT_EQ(window().StatusText(), "Preparing...");
  // wx's own call (menu help, for one) is not hidden by the window's and writes the same field.
  window().SetStatusText(wxString("From wx"));
  EXPECT_EQ(window().StatusText(), "From wx");
  window().ShowStatus("Conversion complete");
  EXPECT_EQ(window().GetStatusBar()->GetStatusText(0), "Conversion complete");
}
