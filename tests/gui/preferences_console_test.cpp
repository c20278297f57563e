// Settings made in the preferences dialog and a conversion from the window give the same PNG,
// byte for byte, as the console run with the equivalent options.

#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/slider.h>
#include <wx/spinctrl.h>
#include <wx/textctrl.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "engine/steps/hex_colour.h"
#include "gui/commands.h"
#include "gui/preferences_dialog.h"
#include "settings/program_settings.h"
#include "tests/gui/window_harness.h"
#include "tests/support/psd_writer.h"

namespace {

void Send(wxWindow* control, wxEventType type) {
  wxCommandEvent event(type, control->GetId());
  event.SetEventObject(control);
  control->GetEventHandler()->ProcessEvent(event);
}

RowControls& Row(std::string_view group, std::string_view key) {
  RowControls* row = OpenMainWindow()->Preferences()->FindRow(group, key);
  EXPECT_NE(row, nullptr) << key;
  return *row;
}

void Choose(std::string_view group, std::string_view key, int entry) {
  Row(group, key).choice->SetSelection(entry);
  Send(Row(group, key).choice, wxEVT_CHOICE);
}

void Tick(std::string_view group, std::string_view key) {
  Row(group, key).check->SetValue(true);
  Send(Row(group, key).check, wxEVT_CHECKBOX);
}

void Type(std::string_view group, std::string_view key, const char* text) {
  RowControls& row = Row(group, key);
  if (row.spin || row.gamma_spin) {
    wxSpinCtrlBase* spin = row.spin ? static_cast<wxSpinCtrlBase*>(row.spin)
                                    : static_cast<wxSpinCtrlBase*>(row.gamma_spin);
    spin->SetValue(text);
    Send(spin, wxEVT_TEXT);
    Send(spin, wxEVT_TEXT_ENTER);
  } else {
    row.text->ChangeValue(text);
  }
}

// Runs the console program on `document` into `folder` with `options`; true when it exited 0.
// The child keeps its lock file in `runtime`, away from every other copy running on the machine.
bool RunConsole(const std::string& runtime, const std::string& document, const std::string& folder,
                const std::vector<std::string>& options) {
  std::string command = "XDG_RUNTIME_DIR='" + runtime + "' '" + std::string(QUORVIX_BIN_DIR) +
                        "/quorvix' -q -i '" + document + "' -o '" + folder + "'";
  for (const std::string& option : options) command += " '" + option + "'";
  return std::system(command.c_str()) == 0;
}

struct Case {
  const char* name;
  std::function<void()> set_in_dialog;
  std::vector<std::string> options;
  const char* output_name;
};

}  // namespace

TEST_F(WindowTest, DialogSettingsConvertLikeTheConsoleOptions) {
  PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, 48, 36, 3);
  FillPsdPlanes(spec, [](uint32_t x, uint32_t y, uint32_t channel) -> uint32_t {
    return (x * 5 + y * 7 + channel * 80) & 0xFF;
  });
  const std::string document = dir_.file("scene.psd");
  ASSERT_TRUE(WritePsdFile(document, spec));

  const std::vector<Case> cases = {
      {"resize",
       [] {
         Tick("Transform", "Do Image Resize");
         Type("Transform", "Image Width", "20");
         Type("Transform", "Image Height", "20");
         Tick("Transform", "Keep Aspect Ratio");
       },
       {"--width=20", "--height=20", "--keep-aspect-ratio"},
       "scene.png"},
      {"rotation",
       [] {
         Tick("Transform", "Do Image Rotation");
         Type("Transform", "Image Rotation", "30");
       },
       {"--rotation=30"},
       "scene.png"},
      {"colour steps",
       [] {
         Type("Adjustment", "Image Brightness", "-30");
         Type("Adjustment", "Image Contrast", "20");
         Type("Adjustment", "Image Gamma", "1.5");
         Tick("Adjustment", "Image Invert");
       },
       {"--brightness=-30", "--contrast=20", "--gamma=1.5", "--invert"},
       "scene.png"},
      {"frame",
       [] {
         Choose("Frame", "Do Frame", 1);
         Type("Frame", "Solid Left", "3");
         Type("Frame", "Solid Right", "4");
         Type("Frame", "Solid Top", "2");
         Type("Frame", "Solid Bottom", "5");
         Row("Frame", "Solid Top Color").text->ChangeValue("FF0000");
         Type("Frame", "Solid Opacity", "200");
       },
       {"--fr-solid-left=3", "--fr-solid-right=4", "--fr-solid-top=2", "--fr-solid-bottom=5",
        "--fr-solid-top-color=FF0000", "--fr-solid-opacity=200"},
       "scene.png"},
      {"text watermark",
       [] {
         Choose("Watermark", "Do Watermark", 1);
         Type("Watermark", "Text", "Hi there");
         Type("Watermark", "Font Size", "12");
         Choose("Watermark", "Text Position", 0);
       },
       {"--wm-text=Hi there", "--wm-font=Arial", "--wm-font-size=12", "--wm-text-position=TOPLEFT"},
       "scene.png"},
      {"filename mask",
       [] { Type("Advanced", "Filename Mask", " %filename%_small.%ext% "); },
       {"--filename-mask=%filename%_small.%ext%"},
       "scene_small.png"},
  };
  // Each set but the mask changes the pixels: the comparison is not between two plain copies.
  TempDir runtime;
  TempDir plain;
  ASSERT_TRUE(RunConsole(runtime.folder(), document, plain.folder(), {}));
  const std::string plain_png = ReadFileBytes(plain.file("scene.png"));
  ASSERT_FALSE(plain_png.empty());
  for (const Case& test_case : cases) {
    SCOPED_TRACE(test_case.name);
    ResetSettings(settings(), false);
    SendCommand(CmdPreferences);
    Pump(20);
    ASSERT_NE(OpenMainWindow()->Preferences(), nullptr);
    test_case.set_in_dialog();
    Send(OpenMainWindow()->Preferences()->FindWindow(OkButtonId), wxEVT_BUTTON);
    Pump(20);

    TempDir from_window;
    TempDir from_console;
    FillFields(window(), document, from_window.folder());
    const EndReport report = Convert();
    EXPECT_EQ(report.label, "Files converted: 1 of 1");
    ASSERT_TRUE(RunConsole(runtime.folder(), document, from_console.folder(), test_case.options));
    const std::string window_png = ReadFileBytes(from_window.file(test_case.output_name));
    const std::string console_png = ReadFileBytes(from_console.file(test_case.output_name));
    ASSERT_FALSE(console_png.empty());
    EXPECT_TRUE(window_png == console_png) << window_png.size() << " vs " << console_png.size();
    EXPECT_EQ(console_png == plain_png, test_case.output_name != std::string("scene.png"));
  }
}
