// How the preferences dialog reacts: the controls kept in step, the enabling and visibility
// rules, the choosers, and OK, Defaults and closing.

#include <wx/bmpcbox.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/listbox.h>
#include <wx/slider.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "engine/steps/hex_colour.h"
#include "gui/commands.h"
#include "gui/message_boxes.h"
#include "gui/preferences_dialog.h"
#include "gui/preferences_values.h"
#include "gui/window_services.h"
#include "gui/wx_text.h"
#include "platform/text.h"
#include "settings/program_settings.h"
#include "texts/language_table.h"

namespace {

void EnableRow(RowControls* controls, bool enable) {
  if (!controls) return;
  for (wxWindow* window : controls->Windows()) window->Enable(enable);
}

void ShowRow(RowControls* controls, bool show) {
  if (!controls) return;
  for (wxWindow* window : controls->Windows()) window->Show(show);
}

int Selection(RowControls* controls) {
  return controls && controls->choice ? controls->choice->GetSelection() : -1;
}

bool Ticked(RowControls* controls) { return controls && controls->check->GetValue(); }

}  // namespace

void PreferencesDialog::HandlePreferencesEvent(wxCommandEvent& event) {
  const int id = event.GetId();
  const wxEventType type = event.GetEventType();
  switch (id) {
    case CategoryListId:
      if (category_list_->GetSelection() >= 0) ShowPage(category_list_->GetSelection());
      return;
    case DefaultsButtonId:
      ResetPreferences();
      return;
    case OkButtonId:
      StorePreferences();
      return;
    case CancelButtonId:
      ClosePreferences();
      return;
  }
  if (id < FirstRowId || id >= FirstRowId + static_cast<int>(rows_.size()) * RowIdStride) {
    event.Skip();
    return;
  }
  RowControls& controls = rows_[(id - FirstRowId) / RowIdStride];
  const bool second_part = (id - FirstRowId) % RowIdStride == 1;
  const PreferencesRow& row = *controls.row;
  switch (row.kind) {
    case RowKind::SliderSpin:
      if (!second_part) {
        OnSlider(controls);
      } else if (controls.gamma_spin) {
        OnGammaText(type != wxEVT_TEXT);
      } else {
        OnSpinText(controls);
      }
      return;
    case RowKind::ColourButton:
      if (!second_part && type == wxEVT_BUTTON) ChooseButtonColour(controls);
      return;
    case RowKind::ChooserList:
      if (!second_part || type != wxEVT_BUTTON) return;
      if (row.binding == RowBinding::FontList) {
        ChooseFont();
      } else {
        ChoosePaletteColour(controls);
      }
      return;
    case RowKind::ChooserField:
      if (second_part && type == wxEVT_BUTTON) ChooseWatermarkImage();
      return;
    default:
      break;
  }
  if (second_part) return;
  // The selectors and check boxes that other rows depend on.
  struct LinkedRule {
    std::string_view key;
    void (PreferencesDialog::*apply)();
  };
  static constexpr LinkedRule Rules[] = {
      {"RAW Load As", &PreferencesDialog::ApplyRawRule},
      {"Do Image Rotation", &PreferencesDialog::ApplyRotationRule},
      {"Do Image Resize", &PreferencesDialog::ApplyResizeRule},
      {"Do Image Threshold", &PreferencesDialog::ApplyThresholdRule},
      {"Do Frame", &PreferencesDialog::ApplyFrameRule},
      {"Do Watermark", &PreferencesDialog::ApplyWatermarkRule},
      {"Text Size", &PreferencesDialog::ApplyTextScaleRule},
      {"Image Size", &PreferencesDialog::ApplyImageScaleRule},
      {"File Timestamp", &PreferencesDialog::ApplyTimestampRule},
  };
  if (row.binding == RowBinding::InputFormat) {
    ShowFormatPanel(PageInput, controls);
    return;
  }
  if (row.binding == RowBinding::OutputFormat) {
    ShowFormatPanel(PageOutput, controls);
    return;
  }
  for (const LinkedRule& rule : Rules) {
    if (row.key == rule.key) (this->*rule.apply)();
  }
}

void PreferencesDialog::ApplyRules() {
  ApplyRawRule();
  ShowFormatPanel(PageInput, *FindRow("Input", "Format"));
  ShowFormatPanel(PageOutput, *FindRow("Output", "Format"));
  ApplyRotationRule();
  ApplyResizeRule();
  ApplyThresholdRule();
  ApplyFrameRule();
  ApplyTextScaleRule();
  ApplyImageScaleRule();
  ApplyWatermarkRule();
  ApplyTimestampRule();
}

void PreferencesDialog::ShowFormatPanel(int page, const RowControls& selector) {
  const std::vector<std::string>& keys =
      page == PageInput ? g_process.input_format_keys : g_process.output_format_keys;
  const int selected = selector.choice->GetSelection();
  std::string key;
  if (selected >= 0 && selected < static_cast<int>(selector.entry_values.size()) &&
      selector.entry_values[selected] < keys.size()) {
    key = keys[selector.entry_values[selected]];
  }
  for (auto& [panel_page, panel] : panels_) {
    if (panel_page == page) panel.second->Show(!key.empty() && panel.first == key);
  }
}

void PreferencesDialog::ApplyRawRule() {
  const int load_as = Selection(FindRow("Input", "RAW Load As"));
  const bool sized = load_as == 1 || load_as == 2;
  const bool high = load_as == 4 || load_as == 5;
  for (std::string_view key : {"RAW Header Size", "RAW Image Width", "RAW Image Height"}) {
    EnableRow(FindRow("Input", key), sized);
  }
  EnableRow(FindRow("Input", "RAW Tone Mapping"), high);
}

void PreferencesDialog::ApplyRotationRule() {
  const bool on = Ticked(FindRow("Transform", "Do Image Rotation"));
  for (std::string_view key :
       {"Image Rotation Type", "Image Rotation", "Image Rotation Back Color"}) {
    EnableRow(FindRow("Transform", key), on);
  }
}

void PreferencesDialog::ApplyResizeRule() {
  const bool on = Ticked(FindRow("Transform", "Do Image Resize"));
  for (std::string_view key : {"Image Width", "Image Height", "Keep Aspect Ratio",
                               "Image Resize Type", "Image Resize Algorithm"}) {
    EnableRow(FindRow("Transform", key), on);
  }
}

void PreferencesDialog::ApplyThresholdRule() {
  EnableRow(FindRow("Adjustment", "Image Threshold"),
            Ticked(FindRow("Adjustment", "Do Image Threshold")));
}

void PreferencesDialog::ApplyFrameRule() {
  if (wxWindow* panel = Panel(PageFrame, "solid")) {
    panel->Show(Selection(FindRow("Frame", "Do Frame")) == 1);
  }
}

void PreferencesDialog::ApplyWatermarkRule() {
  const int type = Selection(FindRow("Watermark", "Do Watermark"));
  if (wxWindow* text = Panel(PageWatermark, "text")) text->Show(type == 1);
  if (wxWindow* image = Panel(PageWatermark, "image")) image->Show(type == 2);
}

void PreferencesDialog::ApplyTextScaleRule() {
  ShowRow(FindRow("Watermark", "Text Scale"), Selection(FindRow("Watermark", "Text Size")) == 1);
}

void PreferencesDialog::ApplyImageScaleRule() {
  ShowRow(FindRow("Watermark", "Image Scale"), Selection(FindRow("Watermark", "Image Size")) == 1);
}

void PreferencesDialog::ApplyTimestampRule() {
  EnableRow(FindRow("Advanced", "Custom Timestamp"),
            Selection(FindRow("Advanced", "File Timestamp")) == 2);
}

void PreferencesDialog::OnSlider(RowControls& controls) {
  const int value = controls.slider->GetValue();
  if (controls.gamma_spin) {
    controls.gamma_spin->SetValue(value / 100.0);
  } else {
    controls.spin->SetValue(value - (controls.row->binding == RowBinding::Offset100 ? 100 : 0));
  }
}

void PreferencesDialog::OnSpinText(RowControls& controls) {
  const int offset = controls.row->binding == RowBinding::Offset100 ? 100 : 0;
  const int64_t typed = LeadingNumber(ToUtf8(controls.spin->GetTextValue()));
  const int64_t value =
      ClampToRange(typed, controls.row->slider_min - offset, controls.row->slider_max - offset);
  // A text still in range stays as typed, so a lone "-" can become a negative number.
  if (value != typed) controls.spin->SetValue(static_cast<int>(value));
  controls.slider->SetValue(static_cast<int>(value + offset));
}

void PreferencesDialog::OnGammaText(bool commit) {
  RowControls& controls = *FindRow("Adjustment", "Image Gamma");
  const int64_t typed = TextToHundredths(ToUtf8(controls.gamma_spin->GetTextValue()));
  const int64_t value = ClampToRange(typed, controls.row->slider_min, controls.row->slider_max);
  controls.slider->SetValue(static_cast<int>(value));
  // Rewriting the text at every key would turn the "0" of "0.5" into "0.01": below the range
  // it waits for Enter, the arrows or the focus leaving; above it no further digit helps.
  if (commit || typed > controls.row->slider_max) {
    controls.gamma_spin->SetValue(value / 100.0);
    controls.gamma_spin->SetValue(FromUtf8(HundredthsText(value)));
  }
}

void PreferencesDialog::ChooseButtonColour(RowControls& controls) {
  const uint32_t current = ParseHexColour(ToUtf8(controls.text->GetValue()));
  uint32_t picked = current;
  if (!services_.ChooseColour(picked) || picked == current) return;
  ShowColour(controls, picked);
}

void PreferencesDialog::ChoosePaletteColour(RowControls& controls) {
  const int selected = controls.choice->GetSelection();
  uint32_t picked = selected >= 0 && selected < static_cast<int>(controls.entry_values.size())
                        ? controls.entry_values[selected]
                        : 0;
  if (!services_.ChooseColour(picked)) return;
  const bool font_colour = controls.row->binding == RowBinding::FontColours;
  std::string& palette =
      font_colour ? settings_.watermark.font_colors : settings_.watermark.back_colors;
  if (!PaletteHasColour(palette, picked)) {
    static_cast<wxBitmapComboBox*>(controls.choice)
        ->Append(ColourEntryName(picked), ColourSwatch(picked, 16, 16));
    controls.entry_values.push_back(picked);
    palette = AppendListField(palette, ColourText(picked));
    // Offered from now on: "Cancel" keeps the entry, though not its selection.
    (font_colour ? chosen_.font_colours : chosen_.back_colours).push_back(ColourText(picked));
  }
  for (size_t i = 0; i < controls.entry_values.size(); ++i) {
    if (controls.entry_values[i] == picked) {
      controls.choice->SetSelection(static_cast<int>(i));
      break;
    }
  }
}

void PreferencesDialog::ChooseFont() {
  RowControls& font_row = *FindRow("Watermark", "Font");
  RowControls& size_row = *FindRow("Watermark", "Font Size");
  RowControls& style_row = *FindRow("Watermark", "Font Style");
  std::string name = ToUtf8(font_row.choice->GetStringSelection());
  int size = static_cast<int>(LeadingNumber(ToUtf8(size_row.text->GetValue())));
  int flags = 0;
  if (!services_.ChooseFont(name, size, flags)) return;
  name = FontNameForList(name);
  std::string& fonts = settings_.watermark.fonts;
  if (!ListHasField(fonts, name)) {
    font_row.choice->Append(FromUtf8(name));
    fonts = AppendListField(fonts, name);
    chosen_.fonts.push_back(name);
  }
  font_row.choice->SetStringSelection(FromUtf8(name));
  size_row.text->ChangeValue(wxString::Format("%d", size));
  for (size_t i = 0; i < style_row.entry_values.size(); ++i) {
    if (style_row.entry_values[i] == static_cast<uint32_t>(flags)) {
      style_row.choice->SetSelection(static_cast<int>(i));
    }
  }
}

void PreferencesDialog::ChooseWatermarkImage() {
  RowControls& image_row = *FindRow("Watermark", "Image");
  const std::string filter = WatermarkImageFilter(GetText("Dialog", "All Supported Files"),
                                                  GetText("Dialog", "All Files"));
  std::string path;
  const std::string start(TrimBlanks(ToUtf8(image_row.text->GetValue())));
  if (services_.ChooseImage(start, filter, path)) image_row.text->ChangeValue(FromUtf8(path));
}

void PreferencesDialog::StoreTheme(const RowControls& controls) {
  const int theme = controls.choice->GetSelection();
  const std::string id = theme >= 0 && theme < static_cast<int>(controls.entry_ids.size())
                             ? controls.entry_ids[theme]
                             : std::string();
  settings_.interface.ui_theme = id;
}

void PreferencesDialog::StoreColourCorrection() {
  const AdjustmentSettings& adjustment = settings_.adjustment;
  const bool neutral = adjustment.image_brightness == 0 && adjustment.image_contrast == 0 &&
                       adjustment.image_gamma == 1.0f && adjustment.image_invert == 0;
  settings_.adjustment.do_image_color_correction = neutral ? 0 : 1;
}

void PreferencesDialog::StorePreferences() {
  for (RowControls& controls : rows_) StoreRow(controls);
  StoreColourCorrection();
  ClosePreferences(true);
}

void PreferencesDialog::ResetPreferences() {
  // One stray Enter must not throw away every setting.
  if (!ShowMessage(services_, MessageKind::QuestionDefaultNo, "Reset to Defaults",
                   "Ask reset to defaults")) {
    return;
  }
  ResetSettings(settings_, false);
  FillRows();
  ShowPage(current_page_);
}

void PreferencesDialog::ClosePreferences(bool accepted) {
  if (closing_) return;
  closing_ = true;
  Hide();
  PreferencesOutcome outcome;
  if (accepted) outcome.accepted = settings_;
  outcome.chosen = chosen_;
  if (closed_) closed_(std::move(outcome));
  Destroy();
}

void PreferencesDialog::OnClose(wxCloseEvent&) { ClosePreferences(); }

void PreferencesDialog::OnCharHook(wxKeyEvent& event) {
  const int key = event.GetKeyCode();
  // A focused button takes its own Enter (Cancel, Defaults, the "..." choosers).
  const wxWindow* focus = FindFocus();
  if ((key != WXK_RETURN && key != WXK_NUMPAD_ENTER) || event.HasAnyModifiers() ||
      (focus && focus->IsKindOf(wxCLASSINFO(wxButton)))) {
    event.Skip();
    return;
  }
  StorePreferences();
}
