// The small windows around the main window: the converter search, About, the uninstall page and
// the output-folder chooser's history.

#include <wx/bmpcbox.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/hyperlink.h>
#include <wx/textctrl.h>

#include <filesystem>

#include "core/conversion_job.h"
#include "core/program_identity.h"
#include "gui/about_window.h"
#include "gui/commands.h"
#include "gui/converter_search.h"
#include "gui/message_boxes.h"
#include "gui/uninstall_page.h"
#include "settings/program_settings.h"
#include "tests/gui/window_harness.h"
#include "tests/support/psd_writer.h"

namespace {

void Click(wxButton* button) {
  wxCommandEvent click(wxEVT_BUTTON, button->GetId());
  click.SetEventObject(button);
  button->GetEventHandler()->ProcessEvent(click);
}

void PressKey(wxWindow* window, int key) {
  wxKeyEvent press(wxEVT_CHAR_HOOK);
  press.m_keyCode = key;
  press.SetEventObject(window);
  window->GetEventHandler()->ProcessEvent(press);
}

void FollowLink(wxHyperlinkCtrlBase* link) {
  wxHyperlinkEvent follow(link, link->GetId(), link->GetURL());
  link->GetEventHandler()->ProcessEvent(follow);
}

}  // namespace

TEST_F(WindowTest, ConverterSearchOpensThePageForBothTerms) {
  const OpenerStub opener(dir_);
  SendCommand(CmdFindConverter);
  ASSERT_NE(window().ConverterSearch(), nullptr);
  EXPECT_FALSE(window().IsEnabled());
  Pump(100);
  Snapshot(window().ConverterSearch(), "converter_search");

  window().ConverterSearch()->SourceField()->ChangeValue("Photoshop PSD!");
  window().ConverterSearch()->TargetField()->ChangeValue("PNG-8");
  Click(window().ConverterSearch()->SearchButton());
  ASSERT_TRUE(opener.WaitForOpened(1));
  EXPECT_EQ(opener.Opened(), "https://halvane.example/find/photoshopps-png8/\n");
  EXPECT_EQ(window().ConverterSearch(), nullptr);
  EXPECT_TRUE(window().IsEnabled());
  EXPECT_TRUE(messages_.empty());

  // Return in a field searches as the button does.
  SendCommand(CmdFindConverter);
  ASSERT_NE(window().ConverterSearch(), nullptr);
  window().ConverterSearch()->SourceField()->ChangeValue("TIFF");
  window().ConverterSearch()->TargetField()->ChangeValue("jpeg 2000");
  wxCommandEvent enter(wxEVT_TEXT_ENTER, TargetFieldId);
  enter.SetEventObject(window().ConverterSearch()->TargetField());
  window().ConverterSearch()->TargetField()->GetEventHandler()->ProcessEvent(enter);
  ASSERT_TRUE(opener.WaitForOpened(2));
  EXPECT_EQ(opener.Opened(),
            "https://halvane.example/find/photoshopps-png8/\n"
            "https://halvane.example/find/tiff-jpeg2000/\n");
}

TEST_F(WindowTest, ConverterSearchWithAnEmptyTermWarnsAndStaysOpen) {
  const OpenerStub opener(dir_);
  SendCommand(CmdFindConverter);
  ASSERT_NE(window().ConverterSearch(), nullptr);
  window().ConverterSearch()->SourceField()->ChangeValue("psd");
  // Nothing of the target survives the term rules.
  window().ConverterSearch()->TargetField()->ChangeValue("-!-");
  Click(window().ConverterSearch()->SearchButton());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0], "Please, fill all required fields and try again!");
  ASSERT_NE(window().ConverterSearch(), nullptr);
  EXPECT_FALSE(window().IsEnabled());

  // A second command cannot open a second window; Escape closes the one there is.
  ConverterSearchWindow* open = window().ConverterSearch();
  window().OpenConverterSearch();
  EXPECT_EQ(window().ConverterSearch(), open);
  PressKey(window().ConverterSearch(), WXK_ESCAPE);
  Pump(50);
  EXPECT_EQ(window().ConverterSearch(), nullptr);
  EXPECT_TRUE(window().IsEnabled());
  EXPECT_EQ(opener.Opened(), "");
}

TEST_F(WindowTest, AboutOpensItsLinksAndClosesWithOk) {
  const OpenerStub opener(dir_);
  SendCommand(CmdAbout);
  ASSERT_NE(window().About(), nullptr);
  EXPECT_FALSE(window().IsEnabled());
  EXPECT_EQ(window().About()->GetClientSize(), wxSize(360, 240));
  Pump(100);
  Snapshot(window().About(), "about");

  // The opener is not waited for: the second would race the first to the record.
  FollowLink(window().About()->WebLink());
  ASSERT_TRUE(opener.WaitForOpened(1));
  FollowLink(window().About()->MailLink());
  ASSERT_TRUE(opener.WaitForOpened(2));
  EXPECT_EQ(opener.Opened(),
            std::string(ProductWebAddress) + "\nmailto:" + std::string(SupportAddress) + "\n");
  // The links leave the window open.
  ASSERT_NE(window().About(), nullptr);
  // The theme's link colour, not a fixed blue that a dark theme cannot carry.
  EXPECT_NE(window().About()->WebLink()->GetNormalColour(), wxColour(0, 0, 255));

  Click(window().About()->OkButton());
  Pump(50);
  EXPECT_EQ(window().About(), nullptr);
  EXPECT_TRUE(window().IsEnabled());

  // Return acts as OK too.
  SendCommand(CmdAbout);
  ASSERT_NE(window().About(), nullptr);
  PressKey(window().About(), WXK_RETURN);
  Pump(50);
  EXPECT_EQ(window().About(), nullptr);
}

TEST(AboutBanner, IsDrawnAtItsSize) {
  const wxImage banner = DrawAboutBanner().ConvertToImage();
  ASSERT_EQ(banner.GetWidth(), AboutBannerWidth);
  ASSERT_EQ(banner.GetHeight(), AboutBannerHeight);
  // Not one flat colour: the band is shaded and carries a picture and the name.
  EXPECT_NE(banner.GetRed(2, 2), banner.GetRed(AboutBannerWidth - 3, 2));
  int white = 0;
  for (int x = 60; x < 200; ++x) {
    for (int y = 0; y < AboutBannerHeight; ++y) {
      white +=
          banner.GetRed(x, y) > 240 && banner.GetGreen(x, y) > 240 && banner.GetBlue(x, y) > 240;
    }
  }
  EXPECT_GT(white, 20);
}

TEST_F(WindowTest, UninstallPageOpensThePageOnlyWhenTicked) {
  const OpenerStub opener(dir_);
  auto* unticked = new UninstallPage;
  Pump(100);
  Snapshot(unticked, "uninstall_page");
  EXPECT_TRUE(unticked->VisitBox()->GetValue());
  unticked->VisitBox()->SetValue(false);
  const wxWindowID first_id = unticked->GetId();
  Click(unticked->NextButton());
  Pump(300);
  EXPECT_EQ(wxWindow::FindWindowById(first_id), nullptr);
  EXPECT_EQ(opener.Opened(), "");

  auto* ticked = new UninstallPage;
  Pump(50);
  Click(ticked->NextButton());
  ASSERT_TRUE(opener.WaitForOpened(1));
  EXPECT_EQ(opener.Opened(), UninstallPageAddress() + "\n");
  EXPECT_EQ(UninstallPageAddress(), "https://halvane.example/tarnex/uninstall.html");
}

TEST_F(WindowTest, ChosenFolderInOtherCaseMovesToTheHeadOfTheHistory) {
  const std::string folder = dir_.file("Out");
  ASSERT_TRUE(std::filesystem::create_directory(folder));
  settings().advanced.out_folders_number = 5;
  const std::string last = dir_.folder() + "last/";
  ASSERT_TRUE(std::filesystem::create_directory(last));
  settings().file.recent_out_folders = "/first/\t" + dir_.folder() + "OUT/\t" + last;
  SendCommand(CmdNew);
  window().OutputFolderBox()->SetSelection(2);
  std::string asked_start;
  services().folder = [&](const std::string& start) -> std::optional<std::string> {
    asked_start = start;
    return folder;
  };
  SendCommand(CmdSelectOutputFolder);
  services().folder = nullptr;

  // The chooser starts in the folder shown.
  EXPECT_EQ(asked_start, last);
  EXPECT_EQ(settings().file.recent_out_folders, folder + "/\t/first/\t" + last);
  EXPECT_EQ(session_.Job().output_folder, folder + "/");
  ASSERT_EQ(window().OutputFolderBox()->GetCount(), 3u);
  EXPECT_EQ(window().OutputFolderBox()->GetValue(), folder + "/");

  // A cancelled chooser or one naming no folder changes nothing.
  services().folder = [](const std::string&) { return std::nullopt; };
  SendCommand(CmdSelectOutputFolder);
  services().folder = [&](const std::string&) { return dir_.file("missing"); };
  SendCommand(CmdSelectOutputFolder);
  services().folder = nullptr;
  EXPECT_EQ(settings().file.recent_out_folders, folder + "/\t/first/\t" + last);
}

TEST_F(WindowTest, InputChooserStartsAtTheLastPathAndCancelKeepsTheField) {
  const std::string document = dir_.file("picture.psd");
  PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, 4, 4, 3);
  ASSERT_TRUE(WritePsdFile(document, spec));
  ASSERT_TRUE(WriteFileBytes(dir_.file("notes.txt"), "not a picture"));

  ASSERT_TRUE(std::filesystem::create_directory(dir_.file("earlier")));
  session_.Job().input_path = dir_.file("earlier/run.psd");
  std::vector<std::string> starts;
  std::vector<std::string> answer = {document};
  services().files = [&](const std::string& start) {
    starts.push_back(start);
    return answer;
  };
  EXPECT_TRUE(window().ChooseInputFile());
  EXPECT_EQ(window().InputField()->GetValue(), document);
  // The chooser forgets the last file: the next one starts in the shown input's folder.
  EXPECT_EQ(session_.Job().input_path, "");

  answer = {};
  EXPECT_FALSE(window().ChooseInputFile());
  answer = {dir_.file("notes.txt")};
  SendCommand(CmdAddInputFile);
  services().files = nullptr;
  EXPECT_EQ(window().InputField()->GetValue(), document);
  EXPECT_EQ(starts,
            (std::vector<std::string>{dir_.file("earlier/"), dir_.folder(), dir_.folder()}));
}

TEST_F(WindowTest, MessageBoxesReachTheSessionsServicesWithKindTitleAndAnswer) {
  struct Box {
    MessageKind kind;
    std::string title;
    std::string text;
  };
  std::vector<Box> boxes;
  bool answer = false;
  services().message = [&](MessageKind kind, const std::string& title, const std::string& text) {
    boxes.push_back({kind, title, text});
    return answer;
  };
  WindowServices& shown = window().Session().Services();
  ShowWarning(shown, "Disk full");
  EXPECT_FALSE(AskBreakConversion(shown));
  answer = true;
  EXPECT_TRUE(AskBreakConversion(shown));
  EXPECT_TRUE(ShowMessage(shown, MessageKind::Error, "Error", "Ask break conversion"));

  ASSERT_EQ(boxes.size(), 4u);
  EXPECT_EQ(boxes[0].kind, MessageKind::Warning);
  EXPECT_EQ(boxes[0].title, "Warning");
  EXPECT_EQ(boxes[0].text, "Disk full");
  EXPECT_EQ(boxes[1].kind, MessageKind::BreakQuestion);
  EXPECT_EQ(boxes[1].title, "Warning");
  EXPECT_EQ(boxes[1].text, "Do you want to break the conversion?");
  // Titles and texts are looked up in group "Msg" before they are shown.
  EXPECT_EQ(boxes[3].kind, MessageKind::Error);
  EXPECT_EQ(boxes[3].title, "Error");
  EXPECT_EQ(boxes[3].text, "Do you want to break the conversion?");
  // Nothing reached the harness's own answering machine.
  EXPECT_TRUE(messages_.empty());
}
