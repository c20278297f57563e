// The preferences dialog as a user meets it: controls set as the toolkit would report them, then
// OK, Cancel or Defaults, and the settings and config.ini read back.

#include <wx/bmpcbox.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/datectrl.h>
#include <wx/listbox.h>
#include <wx/menu.h>
#include <wx/slider.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timectrl.h>
#include <wx/toolbar.h>
#include <wx/uiaction.h>

#include <cctype>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "config/settings_file.h"
#include "engine/steps/hex_colour.h"
#include "gui/commands.h"
#include "gui/mnemonics.h"
#include "gui/preferences_dialog.h"
#include "gui/preferences_values.h"
#include "gui/wx_text.h"
#include "platform/system.h"
#include "settings/program_settings.h"
#include "tests/gui/window_harness.h"
#include "texts/language_table.h"
#include "themes/theme_pack.h"

namespace {

// Sends `type` from `window` as the toolkit does after a user's change.
void Notify(wxWindow* window, wxEventType type, int value = 0) {
  wxCommandEvent event(type, window->GetId());
  event.SetEventObject(window);
  event.SetInt(value);
  window->GetEventHandler()->ProcessEvent(event);
}

void Select(RowControls* row, int entry) {
  ASSERT_NE(row, nullptr);
  row->choice->SetSelection(entry);
  const bool pictures = dynamic_cast<wxBitmapComboBox*>(row->choice) != nullptr;
  Notify(row->choice, pictures ? wxEVT_COMBOBOX : wxEVT_CHOICE, entry);
}

void Tick(RowControls* row, bool on) {
  ASSERT_NE(row, nullptr);
  row->check->SetValue(on);
  Notify(row->check, wxEVT_CHECKBOX, on);
}

void Slide(RowControls* row, int value) {
  row->slider->SetValue(value);
  Notify(row->slider, wxEVT_SLIDER, value);
}

// Types `text` into the row's spin box; `enter` presses Enter after it.
void TypeIntoSpin(RowControls* row, const std::string& text, bool enter = false) {
  wxSpinCtrlBase* spin = row->spin ? static_cast<wxSpinCtrlBase*>(row->spin)
                                   : static_cast<wxSpinCtrlBase*>(row->gamma_spin);
  spin->SetValue(FromUtf8(text));
  Notify(spin, wxEVT_TEXT);
  if (enter) Notify(spin, wxEVT_TEXT_ENTER);
}

void Click(wxWindow* button) { Notify(button, wxEVT_BUTTON); }

}  // namespace

class PreferencesTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    session_.SetConfigPath(BuildConfigFilePath());
  }

  // The system choosers, answered by the test: one at a time, the others shown for real.
  void AnswerColours(std::function<bool(uint32_t&)> answer) {
    services().colour = std::move(answer);
    services().font = nullptr;
    services().image = nullptr;
  }
  void AnswerFonts(std::function<bool(std::string&, int&, int&)> answer) {
    services().colour = nullptr;
    services().font = std::move(answer);
    services().image = nullptr;
  }
  void AnswerFiles(
      std::function<bool(const std::string&, const std::string&, std::string&)> answer) {
    services().colour = nullptr;
    services().font = nullptr;
    services().image = std::move(answer);
  }

  PreferencesDialog& OpenAt(int page) {
    OpenMainWindow()->OpenPreferences(page);
    Pump(30);
    EXPECT_NE(OpenMainWindow()->Preferences(), nullptr);
    return *OpenMainWindow()->Preferences();
  }
  PreferencesDialog& Open(int command = CmdPreferences) {
    SendCommand(command);
    Pump(30);
    EXPECT_NE(OpenMainWindow()->Preferences(), nullptr);
    return *OpenMainWindow()->Preferences();
  }
  // The settings as the open dialog edits them.
  const ProgramSettings& Edited() { return OpenMainWindow()->Preferences()->EditedSettings(); }
  RowControls* Row(std::string_view group, std::string_view key) {
    return OpenMainWindow()->Preferences()->FindRow(group, key);
  }
  void PressOk() {
    Click(OpenMainWindow()->Preferences()->FindWindow(OkButtonId));
    Pump(30);
  }
  void PressCancel() {
    Click(OpenMainWindow()->Preferences()->FindWindow(CancelButtonId));
    Pump(30);
  }
  // The settings as config.ini holds them now.
  ProgramSettings Stored() {
    ProgramSettings stored;
    EXPECT_TRUE(LoadSettings(stored, g_process.config_file_path));
    return stored;
  }
};

// What one page shows at a time (its rows, one option panel, the three buttons) has a letter
// each, no two alike; a label goes without only when every letter of it is taken (the watermark's
// text panel has more rows than its captions have letters). A label's text is otherwise the
// table's.
TEST_F(PreferencesTest, EveryPageHasItsOwnMnemonicsBesideTheButtons) {
  PreferencesDialog& dialog = OpenAt(PageGeneral);
  std::vector<std::string> buttons;
  for (int id : {DefaultsButtonId, OkButtonId, CancelButtonId}) {
    buttons.push_back(ToUtf8(dialog.FindWindow(id)->GetLabel()));
    EXPECT_EQ(MnemonicLetters({buttons.back()}).size(), 1u) << buttons.back();
  }
  int without = 0;
  for (int page = 0; page < PageCount; ++page) {
    std::map<std::string, std::vector<std::string>> shown;  // by panel; "" the page's own
    for (RowControls& controls : dialog.Rows()) {
      if (controls.page != page || controls.row->always_hidden) continue;
      const std::string label = ToUtf8(controls.label->GetLabel());
      EXPECT_EQ(WithoutMnemonic(label), GetText("Preferences", controls.row->label_key));
      shown[controls.panel].push_back(label);
    }
    const std::vector<std::string> own = shown[""];
    for (const auto& [panel, labels] : shown) {
      std::vector<std::string> together = buttons;
      if (!panel.empty()) together.insert(together.end(), own.begin(), own.end());
      together.insert(together.end(), labels.begin(), labels.end());
      const std::string letters = MnemonicLetters(together);
      EXPECT_EQ(std::set<char>(letters.begin(), letters.end()).size(), letters.size())
          << "page " << page << " panel " << panel << ": " << letters;
      for (const std::string& label : labels) {
        if (!MnemonicLetters({label}).empty()) continue;
        ++without;
        for (char c : label) {
          if (!std::isalnum(static_cast<unsigned char>(c))) continue;
          EXPECT_NE(letters.find(static_cast<char>(std::tolower(static_cast<unsigned char>(c)))),
                    std::string::npos)
              << label << " could have had " << c;
        }
      }
    }
  }
  EXPECT_LE(without, 4);
}

TEST_F(PreferencesTest, OpensAtGeneralAndFromTheFormatOptionsAtOutput) {
  PreferencesDialog& options = Open(CmdOutputFormatOptions);
  EXPECT_EQ(options.CurrentPage(), PageOutput);
  EXPECT_EQ(options.PageTitle()->GetLabel(), "Output");
  EXPECT_EQ(options.CategoryList()->GetSelection(), PageOutput);
  EXPECT_TRUE(options.PageContainer(PageOutput)->IsShown());
  EXPECT_FALSE(options.PageContainer(PageGeneral)->IsShown());
  EXPECT_EQ(options.GetClientSize(), wxSize(600, 350));
  EXPECT_FALSE(window().IsEnabled());
  PressCancel();
  EXPECT_EQ(OpenMainWindow()->Preferences(), nullptr);
  EXPECT_TRUE(window().IsEnabled());

  PreferencesDialog& next = Open();
  EXPECT_EQ(next.CurrentPage(), PageGeneral);
  EXPECT_EQ(next.PageTitle()->GetLabel(), "General");
  // Picking a category shows its page.
  next.CategoryList()->SetSelection(PageWatermark);
  Notify(next.CategoryList(), wxEVT_LISTBOX, PageWatermark);
  EXPECT_EQ(next.PageTitle()->GetLabel(), "Watermark");
  EXPECT_TRUE(next.PageContainer(PageWatermark)->IsShown());
  EXPECT_FALSE(next.PageContainer(PageGeneral)->IsShown());
  EXPECT_EQ(next.CategoryList()->GetCount(), 9u);
}

TEST_F(PreferencesTest, FormatSelectorsOfferTheOneInputAndOutputFormat) {
  PreferencesDialog& dialog = Open();
  RowControls* input = Row("Input", "Format");
  ASSERT_EQ(input->choice->GetCount(), 1u);
  EXPECT_EQ(input->choice->GetString(0), "PSD");
  for (const char* key : {"dds", "gif", "ico", "raw", "tiff"}) {
    ASSERT_NE(dialog.Panel(PageInput, key), nullptr) << key;
    EXPECT_FALSE(dialog.Panel(PageInput, key)->IsShown()) << key;
  }
  RowControls* output = Row("Output", "Format");
  ASSERT_EQ(output->choice->GetCount(), 1u);
  EXPECT_EQ(output->choice->GetString(0), "PNG");
  EXPECT_TRUE(dialog.Panel(PageOutput, "png")->IsShown());
  EXPECT_FALSE(dialog.Panel(PageOutput, "jpg")->IsShown());
  // The PNG depths after "Auto", in the registry's order.
  RowControls* depth = Row("Output", "PNG BPP");
  std::vector<std::string> entries;
  for (unsigned i = 0; i < depth->choice->GetCount(); ++i) {
    entries.push_back(ToUtf8(depth->choice->GetString(i)));
  }
  EXPECT_EQ(entries, (std::vector<std::string>{"Auto", "1", "4", "8", "24", "32", "48", "64"}));
  // A panel for every format of the registry, each headed by its depth row.
  EXPECT_NE(dialog.Panel(PageOutput, "webp"), nullptr);
  EXPECT_EQ(Row("Output", "JPG BPP")->choice->GetString(0), "Auto");
  EXPECT_EQ(dialog.FindRowByLabel(PageOutput, "Compression", "pcx")->choice->GetString(0), "RLE");
}

TEST_F(PreferencesTest, SpinBoxesClampAndKeepTheirSlidersInStep) {
  Open(CmdOutputFormatOptions);
  RowControls* quality = Row("Output", "JPG Quality");
  TypeIntoSpin(quality, "150");
  EXPECT_EQ(quality->spin->GetValue(), 100);
  EXPECT_EQ(quality->slider->GetValue(), 100);
  TypeIntoSpin(quality, "0");
  EXPECT_EQ(quality->spin->GetValue(), 1);
  EXPECT_EQ(quality->slider->GetValue(), 1);
  TypeIntoSpin(quality, "57");
  EXPECT_EQ(quality->slider->GetValue(), 57);

  RowControls* brightness = Row("Adjustment", "Image Brightness");
  Slide(brightness, 0);
  EXPECT_EQ(brightness->spin->GetValue(), -100);
  TypeIntoSpin(brightness, "-30");
  EXPECT_EQ(brightness->slider->GetValue(), 70);
  Slide(brightness, 200);
  EXPECT_EQ(brightness->spin->GetValue(), 100);
  RowControls* contrast = Row("Adjustment", "Image Contrast");
  TypeIntoSpin(contrast, "-250");
  EXPECT_EQ(contrast->spin->GetValue(), -100);
  EXPECT_EQ(contrast->slider->GetValue(), 0);
}

TEST_F(PreferencesTest, GammaShowsTwoDecimalsWithinItsRange) {
  settings().adjustment.image_gamma = 2.2f;
  Open();
  RowControls* gamma = Row("Adjustment", "Image Gamma");
  EXPECT_EQ(gamma->slider->GetValue(), 220);
  EXPECT_EQ(gamma->gamma_spin->GetTextValue(), "2.20");
  TypeIntoSpin(gamma, "2.5", true);
  EXPECT_EQ(gamma->gamma_spin->GetTextValue(), "2.50");
  EXPECT_EQ(gamma->slider->GetValue(), 250);
  TypeIntoSpin(gamma, "12");
  EXPECT_EQ(gamma->gamma_spin->GetTextValue(), "9.99");
  EXPECT_EQ(gamma->slider->GetValue(), 999);
  TypeIntoSpin(gamma, "0", true);
  EXPECT_EQ(gamma->gamma_spin->GetTextValue(), "0.01");
  EXPECT_EQ(gamma->slider->GetValue(), 1);
  Slide(gamma, 135);
  EXPECT_EQ(gamma->gamma_spin->GetTextValue(), "1.35");
  PressOk();
  EXPECT_FLOAT_EQ(settings().adjustment.image_gamma, 1.35f);
  EXPECT_FLOAT_EQ(Stored().adjustment.image_gamma, 1.35f);
}

TEST_F(PreferencesTest, ColourCorrectionIsOnOnlyWhenAnAdjustmentIsNotNeutral) {
  settings().adjustment.do_image_color_correction = 1;
  Open();
  PressOk();
  EXPECT_EQ(Stored().adjustment.do_image_color_correction, 0);

  const std::vector<std::function<void()>> changes = {
      [this] { TypeIntoSpin(Row("Adjustment", "Image Brightness"), "5"); },
      [this] { TypeIntoSpin(Row("Adjustment", "Image Contrast"), "-1"); },
      [this] { Slide(Row("Adjustment", "Image Gamma"), 101); },
      [this] { Tick(Row("Adjustment", "Image Invert"), true); },
  };
  for (size_t i = 0; i < changes.size(); ++i) {
    ResetSettings(settings(), false);
    Open();
    changes[i]();
    PressOk();
    EXPECT_EQ(Stored().adjustment.do_image_color_correction, 1) << i;
  }
}

TEST_F(PreferencesTest, OneLineTextsLoseLineBreaksAndSurroundingBlanks) {
  Open();
  Row("Watermark", "Text")->text->ChangeValue("Hello\r\nWorld");
  Row("Advanced", "Filename Mask")->text->ChangeValue("   %filename%.%ext%  ");
  Row("Watermark", "Image")->text->ChangeValue(" /tmp/mark.png\t");
  PressOk();
  const ProgramSettings stored = Stored();
  EXPECT_EQ(stored.watermark.text, "HelloWorld");
  EXPECT_EQ(stored.advanced.filename_mask, "%filename%.%ext%");
  EXPECT_EQ(stored.watermark.image, "/tmp/mark.png");
}

TEST_F(PreferencesTest, PaletteColoursNameTheirColourAndStayAfterCancel) {
  settings().watermark.font_colors = "000000,123456";
  settings().watermark.font_color = "123456";
  Open();
  RowControls* font_colour = Row("Watermark", "Font Color");
  ASSERT_EQ(font_colour->choice->GetCount(), 2u);
  EXPECT_EQ(font_colour->choice->GetString(0), "Black");
  EXPECT_EQ(font_colour->choice->GetString(1), "Color #123456");
  EXPECT_EQ(font_colour->choice->GetSelection(), 1);

  uint32_t offered = 0xFFFFFFFF;
  uint32_t answer = ParseHexColour("FF8000");
  AnswerColours([&](uint32_t& colour) {
    offered = colour;
    colour = answer;
    return true;
  });
  Click(font_colour->button);
  EXPECT_EQ(offered, ParseHexColour("123456"));
  ASSERT_EQ(font_colour->choice->GetCount(), 3u);
  EXPECT_EQ(font_colour->choice->GetString(2), "Orange");
  EXPECT_EQ(font_colour->choice->GetSelection(), 2);
  EXPECT_EQ(Edited().watermark.font_colors, "000000,123456,FF8000");
  // A colour already there is selected, not added.
  answer = 0;
  Click(font_colour->button);
  EXPECT_EQ(font_colour->choice->GetCount(), 3u);
  EXPECT_EQ(font_colour->choice->GetSelection(), 0);
  // The background list is its own palette.
  RowControls* back_colour = Row("Watermark", "Back Color");
  answer = ParseHexColour("0A0B0C");
  Click(back_colour->button);
  EXPECT_EQ(back_colour->choice->GetStringSelection(), "Color #0A0B0C");
  EXPECT_TRUE(ListHasField(Edited().watermark.back_colors, "0A0B0C"));
  EXPECT_FALSE(ListHasField(Edited().watermark.font_colors, "0A0B0C"));

  PressCancel();
  EXPECT_EQ(settings().watermark.font_colors, "000000,123456,FF8000");
  EXPECT_TRUE(ListHasField(settings().watermark.back_colors, "0A0B0C"));
  EXPECT_EQ(settings().watermark.font_color, "123456");
  Open();
  EXPECT_EQ(Row("Watermark", "Font Color")->choice->GetCount(), 3u);
}

TEST_F(PreferencesTest, SelectorsWithoutTheirValueSelectTheFirstEntry) {
  // A colour no longer in its palette and a format key nobody offers: the first entry stands.
  settings().watermark.font_colors = "000000,123456";
  settings().watermark.font_color = "ABCDEF";
  settings().output.format = "gone";
  Open();
  EXPECT_EQ(Row("Watermark", "Font Color")->choice->GetSelection(), 0);
  EXPECT_EQ(Row("Output", "Format")->choice->GetSelection(), 0);
  PressOk();
  EXPECT_EQ(Stored().watermark.font_color, "000000");
  EXPECT_EQ(Stored().output.format, "png");
}

TEST_F(PreferencesTest, ColourButtonsShowTheirColourAndStoreOnlyOnOk) {
  settings().transform.image_rotation_back_color = "12";  // not six digits: black
  Open();
  RowControls* back = Row("Transform", "Image Rotation Back Color");
  EXPECT_EQ(back->text->GetValue(), "000000");
  AnswerColours([](uint32_t& colour) {
    colour = ParseHexColour("00FF80");
    return true;
  });
  Click(back->button);
  EXPECT_EQ(back->text->GetValue(), "00FF80");
  EXPECT_EQ(settings().transform.image_rotation_back_color, "12");
  PressOk();
  EXPECT_EQ(Stored().transform.image_rotation_back_color, "00FF80");
}

TEST_F(PreferencesTest, FontChooserAddsTheFontAndTakesItsSizeAndStyle) {
  settings().watermark.fonts = "";
  settings().watermark.font = "Arial";
  settings().watermark.font_size = 14;
  settings().watermark.font_effect = 1;
  Open();
  RowControls* font = Row("Watermark", "Font");
  ASSERT_EQ(font->choice->GetCount(), 1u);
  EXPECT_EQ(Edited().watermark.fonts, "Arial");
  std::string offered_name;
  int offered_size = 0;
  AnswerFonts([&](std::string& name, int& size, int& flags) {
    offered_name = name;
    offered_size = size;
    name = "DejaVu, Sans";
    size = 22;
    flags = 768;
    return true;
  });
  Click(font->button);
  EXPECT_EQ(offered_name, "Arial");
  EXPECT_EQ(offered_size, 14);
  EXPECT_EQ(font->choice->GetStringSelection(), "DejaVu Sans");
  EXPECT_EQ(Row("Watermark", "Font Size")->text->GetValue(), "22");
  EXPECT_EQ(Row("Watermark", "Font Style")->choice->GetSelection(), 3);
  EXPECT_EQ(Edited().watermark.fonts, "Arial,DejaVu Sans");
  PressOk();
  const ProgramSettings stored = Stored();
  EXPECT_EQ(stored.watermark.font, "DejaVu Sans");
  EXPECT_EQ(stored.watermark.font_size, 22);
  EXPECT_EQ(stored.watermark.font_style, 3);
  EXPECT_EQ(stored.watermark.font_effect, 1);
}

TEST_F(PreferencesTest, ImageChooserStartsAtTheFieldAndFillsIt) {
  settings().watermark.image = "  /srv/old.png ";
  Open();
  std::string start;
  std::string filter;
  AnswerFiles([&](const std::string& from, const std::string& types, std::string& path) {
    start = from;
    filter = types;
    path = "/srv/new mark.png";
    return true;
  });
  Click(Row("Watermark", "Image")->button);
  EXPECT_EQ(start, "/srv/old.png");
  EXPECT_EQ(filter, WatermarkImageFilter("All Supported Files", "All Files"));
  EXPECT_EQ(Row("Watermark", "Image")->text->GetValue(), "/srv/new mark.png");
  EXPECT_EQ(settings().watermark.image, "  /srv/old.png ");
}

TEST_F(PreferencesTest, DefaultsAsksFirstAndNoKeepsTheEdits) {
  settings().transform.do_image_flip_vertical = 1;
  Open();
  Tick(Row("Transform", "Do Image Flip Horizontal"), true);
  MessageKind asked = MessageKind::Information;
  services().message = [&](MessageKind kind, const std::string&, const std::string& text) {
    asked = kind;
    messages_.push_back(text);
    return false;
  };
  Click(OpenMainWindow()->Preferences()->FindWindow(DefaultsButtonId));
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0],
            "Are you sure you want to reset all your settings to the default values?");
  // A stray Enter answers No.
  EXPECT_EQ(asked, MessageKind::QuestionDefaultNo);
  ASSERT_NE(OpenMainWindow()->Preferences(), nullptr);
  EXPECT_TRUE(Row("Transform", "Do Image Flip Horizontal")->check->GetValue());
  EXPECT_TRUE(Row("Transform", "Do Image Flip Vertical")->check->GetValue());
}

TEST_F(PreferencesTest, DefaultsFillTheFieldsAndOnlyOkKeepsThem) {
  settings().transform.do_image_flip_vertical = 1;
  settings().file.recent_out_folders = "/tmp/";
  settings().advanced.filename_mask = "%filename%-x";
  answer_ = true;
  const std::string before = dir_.file("before.ini");
  ASSERT_TRUE(SaveSettings(settings(), before));
  Open();
  Tick(Row("Transform", "Do Image Flip Horizontal"), true);
  Click(OpenMainWindow()->Preferences()->FindWindow(DefaultsButtonId));
  Pump(30);
  // The dialog stays, showing the defaults; nothing is kept or written yet.
  ASSERT_NE(OpenMainWindow()->Preferences(), nullptr);
  EXPECT_FALSE(Row("Transform", "Do Image Flip Horizontal")->check->GetValue());
  EXPECT_FALSE(Row("Transform", "Do Image Flip Vertical")->check->GetValue());
  EXPECT_EQ(Row("Advanced", "Filename Mask")->text->GetValue(), "%filename%.%ext%");
  EXPECT_EQ(settings().transform.do_image_flip_vertical, 1);
  EXPECT_FALSE(std::filesystem::exists(g_process.config_file_path));

  // Cancel undoes the reset.
  PressCancel();
  EXPECT_EQ(OpenMainWindow()->Preferences(), nullptr);
  EXPECT_EQ(settings().transform.do_image_flip_vertical, 1);
  EXPECT_EQ(settings().file.recent_out_folders, "/tmp/");
  EXPECT_EQ(settings().advanced.filename_mask, "%filename%-x");
  EXPECT_FALSE(std::filesystem::exists(g_process.config_file_path));
  // Every setting, not just those looked at.
  const std::string after = dir_.file("after.ini");
  ASSERT_TRUE(SaveSettings(settings(), after));
  EXPECT_EQ(ReadFileBytes(after), ReadFileBytes(before));

  // OK keeps it and writes it, settings the dialog does not show included.
  Open();
  Click(OpenMainWindow()->Preferences()->FindWindow(DefaultsButtonId));
  PressOk();
  EXPECT_EQ(OpenMainWindow()->Preferences(), nullptr);
  EXPECT_EQ(settings().transform.do_image_flip_vertical, 0);
  EXPECT_EQ(settings().advanced.filename_mask, "%filename%.%ext%");
  EXPECT_EQ(Stored().file.recent_out_folders, "");
  EXPECT_EQ(Stored().transform.do_image_flip_horizontal, 0);
}

TEST_F(PreferencesTest, IconSizeAloneRebuildsOnlyTheToolbar) {
  // The theme the selector shows, so that only the size differs.
  ScanThemes();
  settings().interface.ui_theme =
      g_theme_list.names.empty() ? std::string() : g_theme_list.names.begin()->first;
  settings().interface.ui_size = 2;
  Rebuild();
  Open();
  wxMenuBar* menu = window().GetMenuBar();
  Select(Row("Interface", "UI Size"), 0);
  PressOk();
  EXPECT_EQ(settings().interface.ui_size, 0);
  EXPECT_EQ(window().GetToolBar()->GetToolBitmapSize(), wxSize(16, 16));
  EXPECT_EQ(window().GetMenuBar(), menu);

  // A different theme id rebuilds the menus as well.
  settings().interface.ui_theme = "no-such-theme";
  Open();
  PressOk();
  EXPECT_NE(window().GetMenuBar(), menu);
  EXPECT_NE(settings().interface.ui_theme, "no-such-theme");
}

TEST_F(PreferencesTest, RulesEnableAndShowTheRowsTheyGovern) {
  PreferencesDialog& dialog = Open();
  auto enabled = [](RowControls* row) { return row->label->IsEnabled(); };
  RowControls* load_as = Row("Input", "RAW Load As");
  Select(load_as, 2);  // RGB 16-bit
  for (const char* key : {"RAW Header Size", "RAW Image Width", "RAW Image Height"}) {
    EXPECT_TRUE(enabled(Row("Input", key))) << key;
    EXPECT_TRUE(Row("Input", key)->unit->IsEnabled()) << key;
  }
  EXPECT_FALSE(enabled(Row("Input", "RAW Tone Mapping")));
  Select(load_as, 3);  // RGB 24-bit
  EXPECT_FALSE(enabled(Row("Input", "RAW Image Width")));
  EXPECT_FALSE(enabled(Row("Input", "RAW Tone Mapping")));
  Select(load_as, 5);
  EXPECT_FALSE(enabled(Row("Input", "RAW Header Size")));
  EXPECT_TRUE(enabled(Row("Input", "RAW Tone Mapping")));

  Select(Row("Advanced", "File Timestamp"), 2);
  EXPECT_TRUE(Row("Advanced", "Custom Timestamp")->date->IsEnabled());
  Select(Row("Advanced", "File Timestamp"), 0);
  EXPECT_FALSE(Row("Advanced", "Custom Timestamp")->date->IsEnabled());

  Tick(Row("Transform", "Do Image Rotation"), true);
  EXPECT_TRUE(Row("Transform", "Image Rotation")->slider->IsEnabled());
  Tick(Row("Transform", "Do Image Rotation"), false);
  EXPECT_FALSE(Row("Transform", "Image Rotation Back Color")->button->IsEnabled());
  Tick(Row("Transform", "Do Image Resize"), false);
  EXPECT_FALSE(Row("Transform", "Image Resize Algorithm")->choice->IsEnabled());
  EXPECT_TRUE(Row("Transform", "Do Image Flip Vertical")->check->IsEnabled());
  Tick(Row("Transform", "Do Image Resize"), true);
  EXPECT_TRUE(Row("Transform", "Image Width")->text->IsEnabled());
  Tick(Row("Adjustment", "Do Image Threshold"), true);
  EXPECT_TRUE(Row("Adjustment", "Image Threshold")->spin->IsEnabled());

  Select(Row("Frame", "Do Frame"), 1);
  EXPECT_TRUE(dialog.Panel(PageFrame, "solid")->IsShown());
  Select(Row("Frame", "Do Frame"), 0);
  EXPECT_FALSE(dialog.Panel(PageFrame, "solid")->IsShown());
  Select(Row("Watermark", "Do Watermark"), 1);
  EXPECT_TRUE(dialog.Panel(PageWatermark, "text")->IsShown());
  EXPECT_FALSE(dialog.Panel(PageWatermark, "image")->IsShown());
  Select(Row("Watermark", "Do Watermark"), 2);
  EXPECT_FALSE(dialog.Panel(PageWatermark, "text")->IsShown());
  EXPECT_TRUE(dialog.Panel(PageWatermark, "image")->IsShown());
  // "Fixed" is the only size: the scale rows stay hidden.
  EXPECT_FALSE(Row("Watermark", "Text Scale")->label->IsShown());
  EXPECT_FALSE(Row("Watermark", "Image Scale")->slider->IsShown());
  // Keep Subfolders is never shown, yet survives OK.
  EXPECT_FALSE(Row("Advanced", "Keep Subfolders")->check->IsShown());
}

TEST_F(PreferencesTest, EscapeAndTheCloseBoxActAsCancel) {
  PreferencesDialog& dialog = Open();
  Tick(Row("Transform", "Do Image Flip Horizontal"), true);
  wxCommandEvent escape(wxEVT_BUTTON, dialog.GetEscapeId());
  escape.SetEventObject(&dialog);
  dialog.GetEventHandler()->ProcessEvent(escape);
  Pump(30);
  EXPECT_EQ(OpenMainWindow()->Preferences(), nullptr);
  EXPECT_EQ(settings().transform.do_image_flip_horizontal, 0);
  EXPECT_TRUE(window().IsEnabled());

  Open().Close();
  Pump(30);
  EXPECT_EQ(OpenMainWindow()->Preferences(), nullptr);
  EXPECT_TRUE(window().IsEnabled());
}

// Every row of every page: set to something other than what it showed, OK, and read back from
// config.ini.
TEST_F(PreferencesTest, EveryRowIsStoredIntoConfigIni) {
  PreferencesDialog& dialog = Open();
  std::map<std::string, std::string> expected;  // "group/key" to the stored value as text
  int n = 0;
  wxDateTime when(12, wxDateTime::Mar, 2021, 8, 45, 0);
  for (RowControls& controls : dialog.Rows()) {
    const PreferencesRow& row = *controls.row;
    if (row.key.empty()) continue;
    const std::string name = std::string(row.group) + "/" + std::string(row.key);
    ++n;
    switch (row.kind) {
      case RowKind::SelectBox:
      case RowKind::PictureSelectBox: {
        const int last = static_cast<int>(controls.choice->GetCount()) - 1;
        const int entry = controls.choice->GetSelection() == last ? 0 : last;
        controls.choice->SetSelection(entry);
        if (row.binding == RowBinding::Language) {
          expected[name] = "en";
        } else if (row.binding == RowBinding::Theme) {
          expected[name] = controls.entry_ids[entry];
        } else if (row.binding == RowBinding::InputFormat) {
          expected[name] = "psd";
        } else if (row.binding == RowBinding::OutputFormat) {
          expected[name] = "png";
        } else if (row.binding == RowBinding::BitDepth) {
          expected[name] = entry == 0 ? "0" : ToUtf8(controls.choice->GetString(entry));
        } else {
          expected[name] = std::to_string(entry);
        }
        break;
      }
      case RowKind::CheckBox:
        controls.check->SetValue(!controls.check->GetValue());
        expected[name] = controls.check->GetValue() ? "1" : "0";
        break;
      case RowKind::TextField:
      case RowKind::ChooserField:
        controls.text->ChangeValue(wxString::Format("text %d", n));
        expected[name] = "text " + std::to_string(n);
        break;
      case RowKind::NumberUnitField:
        controls.text->ChangeValue(wxString::Format("%d", 7 + n));
        expected[name] = std::to_string(7 + n);
        if (!row.unit_key.empty()) {
          controls.unit->SetSelection(1);
          expected[std::string(row.group) + "/" + std::string(row.unit_key)] = "1";
        }
        break;
      case RowKind::SliderSpin: {
        const int value = row.slider_min + 1 + n % 3;
        Slide(&controls, value);
        if (row.binding == RowBinding::Gamma) {
          expected[name] = HundredthsText(value);
        } else {
          expected[name] = std::to_string(value - (row.binding == RowBinding::Offset100 ? 100 : 0));
        }
        break;
      }
      case RowKind::ColourButton:
        controls.text->ChangeValue(wxString::Format("0000%02X", n));
        expected[name] = ToUtf8(controls.text->GetValue());
        break;
      case RowKind::ChooserList: {
        const int entry = controls.choice->GetSelection() == 0 ? 1 : 0;
        controls.choice->SetSelection(entry);
        expected[name] = row.binding == RowBinding::FontList
                             ? ToUtf8(controls.choice->GetString(entry))
                             : ColourText(controls.entry_values[entry]);
        break;
      }
      case RowKind::DateTimeField:
        controls.date->SetValue(when);
        controls.time->SetValue(when);
        expected[name] = std::to_string(UtcSecondsToLocal(when.GetTicks()));
        break;
    }
  }
  // Every row with a setting: the display-only PCX compression is the one without.
  EXPECT_EQ(n, 118);
  PressOk();
  ProgramSettings stored = Stored();
  for (const auto& [name, value] : expected) {
    const size_t slash = name.find('/');
    const std::string group = name.substr(0, slash);
    const std::string key = name.substr(slash + 1);
    const SettingField* field = FindSetting(group, key);
    ASSERT_NE(field, nullptr) << name;
    // config.ini holds the options of the offered formats only; the others live in memory.
    const bool in_file = (group != "Input" && group != "Output") || key == "Format" ||
                         key.starts_with("PSD ") || key.starts_with("PNG ");
    const std::string actual = std::visit(
        [](const auto* stored_value) -> std::string {
          using T = std::remove_cv_t<std::remove_pointer_t<decltype(stored_value)>>;
          if constexpr (std::is_same_v<T, std::string>) {
            return *stored_value;
          } else if constexpr (std::is_floating_point_v<T>) {
            return HundredthsText(std::llround(*stored_value * 100));
          } else {
            return std::to_string(*stored_value);
          }
        },
        field->Read(in_file ? stored : settings()));
    EXPECT_EQ(actual, value) << name;
  }
}

// Keys as a person types them: the toolkit's own events reach the dialog's handler.
TEST_F(PreferencesTest, TypedKeysReachTheSpinBoxAndEscapeCancels) {
  PreferencesDialog& dialog = OpenAt(PageAdjustment);
  dialog.Raise();
  Pump(200);
  RowControls* brightness = Row("Adjustment", "Image Brightness");
  brightness->spin->SetFocus();
  brightness->spin->SetSelection(-1, -1);
  Pump(100);
  wxUIActionSimulator user;
  user.Text("-30");
  Pump(200);
  EXPECT_EQ(brightness->slider->GetValue(), 70);
  user.Char(WXK_ESCAPE);
  EXPECT_TRUE(PumpUntil([] { return OpenMainWindow()->Preferences() == nullptr; }, 3000));
  EXPECT_EQ(settings().adjustment.image_brightness, 0);
}

// Enter presses OK wherever the focus is, except on a button, which takes its own Enter.
TEST_F(PreferencesTest, EnterPressesOkButNotOnAFocusedButton) {
  PreferencesDialog& dialog = OpenAt(PageTransform);
  dialog.Raise();
  Pump(200);
  Tick(Row("Transform", "Do Image Flip Horizontal"), true);
  dialog.FindWindow(CancelButtonId)->SetFocus();
  Pump(100);
  wxUIActionSimulator user;
  user.Char(WXK_RETURN);
  EXPECT_TRUE(PumpUntil([] { return OpenMainWindow()->Preferences() == nullptr; }, 3000));
  EXPECT_EQ(settings().transform.do_image_flip_horizontal, 0) << "Enter on Cancel cancels";

  PreferencesDialog& again = OpenAt(PageTransform);
  again.Raise();
  Pump(200);
  Tick(Row("Transform", "Do Image Flip Horizontal"), true);
  again.CategoryList()->SetFocus();
  Pump(100);
  user.Char(WXK_RETURN);
  EXPECT_TRUE(PumpUntil([] { return OpenMainWindow()->Preferences() == nullptr; }, 3000));
  EXPECT_EQ(settings().transform.do_image_flip_horizontal, 1);
  EXPECT_EQ(Stored().transform.do_image_flip_horizontal, 1);

  PreferencesDialog& third = OpenAt(PageAdvanced);
  third.Raise();
  Pump(200);
  RowControls* mask = Row("Advanced", "Filename Mask");
  mask->text->SetFocus();
  mask->text->SelectAll();
  Pump(100);
  user.Text("%filename%-a");
  user.Char(WXK_RETURN);
  EXPECT_TRUE(PumpUntil([] { return OpenMainWindow()->Preferences() == nullptr; }, 3000));
  EXPECT_EQ(settings().advanced.filename_mask, "%filename%-a");
}
