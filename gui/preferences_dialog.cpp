#include "gui/preferences_dialog.h"

#include <wx/bmpbuttn.h>
#include <wx/bmpcbox.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/datectrl.h>
#include <wx/dcmemory.h>
#include <wx/listbox.h>
#include <wx/panel.h>
#include <wx/scrolwin.h>
#include <wx/settings.h>
#include <wx/slider.h>
#include <wx/spinbutt.h>
#include <wx/spinctrl.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timectrl.h>
#include <wx/valtext.h>

#include <algorithm>
#include <cmath>

#include "core/program_identity.h"
#include "engine/output/formats.h"
#include "engine/steps/hex_colour.h"
#include "gui/gtk_calls.h"
#include "gui/pictures.h"
#include "gui/preferences_settings.h"
#include "gui/preferences_values.h"
#include "gui/wx_text.h"
#include "platform/ascii.h"
#include "platform/system.h"
#include "settings/program_settings.h"
#include "texts/language_table.h"
#include "themes/theme_pack.h"

namespace {

constexpr int RowSpacing = 30;
constexpr int InputX = 170;

wxString Text(std::string_view key) { return FromUtf8(GetText("Preferences", key)); }

}  // namespace

wxBitmap ColourSwatch(uint32_t colour, int width, int height) {
  wxBitmap bitmap(width, height);
  wxMemoryDC dc(bitmap);
  const wxColour fill(colour & 0xFF, colour >> 8 & 0xFF, colour >> 16 & 0xFF);
  dc.SetBrush(wxBrush(fill));
  dc.SetPen(*wxBLACK_PEN);
  dc.DrawRectangle(0, 0, width, height);
  dc.SelectObject(wxNullBitmap);
  return bitmap;
}

wxString ColourEntryName(uint32_t colour) {
  const std::string_view key = NamedColourKey(colour);
  if (!key.empty()) return Text(key);
  return Text("Color") + " #" + FromUtf8(ColourText(colour));
}

namespace {

// Where a page's or panel's rows go: a scrolled area when its rows are taller than the room.
wxWindow* NewRowsArea(wxWindow* parent, wxPoint position, wxSize size, int content_height) {
  if (content_height <= 0) return new wxPanel(parent, wxID_ANY, position, size);
  auto* scrolled =
      new wxScrolledWindow(parent, wxID_ANY, position, size, wxVSCROLL | wxBORDER_NONE);
  scrolled->SetScrollbars(10, 10, 42, content_height / 10);
  return scrolled;
}

// Theme ids sorted without regard to letter case.
std::vector<std::pair<std::string, std::string>> SortedThemes() {
  std::vector<std::pair<std::string, std::string>> themes(g_theme_list.names.begin(),
                                                          g_theme_list.names.end());
  std::stable_sort(themes.begin(), themes.end(), [](const auto& a, const auto& b) {
    return ToLowerAscii(a.first) < ToLowerAscii(b.first);
  });
  return themes;
}

// The generic time picker of wx on GTK leaves its text and its arrows both at its left edge when
// given a fixed size: the arrows go to the right end, the text fills the rest.
void PlaceTimePickerParts(wxWindow* picker) {
  const wxSize size = picker->GetSize();
  int arrows_width = 0;
  for (wxWindow* part : picker->GetChildren()) {
    if (part->IsKindOf(wxCLASSINFO(wxSpinButton))) arrows_width = part->GetSize().GetWidth();
  }
  for (wxWindow* part : picker->GetChildren()) {
    if (part->IsKindOf(wxCLASSINFO(wxSpinButton))) {
      part->SetSize(size.GetWidth() - arrows_width, 0, arrows_width, size.GetHeight());
    } else {
      part->SetSize(0, 0, size.GetWidth() - arrows_width - 2, size.GetHeight());
    }
  }
}

}  // namespace

std::vector<wxWindow*> RowControls::Windows() const {
  std::vector<wxWindow*> windows;
  for (wxWindow* window : std::initializer_list<wxWindow*>{label, choice, check, text, unit, slider,
                                                           spin, gamma_spin, button, date, time}) {
    if (window) windows.push_back(window);
  }
  return windows;
}

PreferencesDialog::PreferencesDialog(wxWindow* owner, const ProgramSettings& settings,
                                     WindowServices& services,
                                     std::function<void(PreferencesOutcome)> closed)
    : wxDialog(owner, wxID_ANY, FromUtf8(GetText("Preferences", "Title")), wxDefaultPosition,
               wxDefaultSize, wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX),
      settings_(settings),
      services_(services),
      closed_(std::move(closed)) {
  UseCompactControls(this);
  SetClientSize(600, 350);
  auto* root = new wxPanel(this, wxID_ANY, wxPoint(0, 0), wxSize(600, 350));

  category_list_ = new wxListBox(root, CategoryListId, wxPoint(10, 10), wxSize(120, 295), 0,
                                 nullptr, wxLB_SINGLE | wxBORDER_SUNKEN);
  auto* header = new wxPanel(root, wxID_ANY, wxPoint(140, 10), wxSize(450, 30), wxBORDER_STATIC);
  header->SetBackgroundColour(*wxWHITE);
  page_title_ = new wxStaticText(header, wxID_ANY, "", wxPoint(9, 6), wxSize(330, 20));
  page_title_->SetBackgroundColour(*wxWHITE);

  const std::vector<PageLayout>& layouts = PreferencesPages();
  size_t row_count = 0;
  for (const PageLayout& layout : layouts) {
    row_count += layout.rows.size();
    for (const PanelLayout& panel : layout.panels) row_count += panel.rows.size();
  }
  // Row controls are looked up by index from their ids: no reallocation after this.
  rows_.reserve(row_count);
  for (int page = 0; page < PageCount; ++page) {
    const PageLayout& layout = layouts[page];
    wxWindow* container =
        NewRowsArea(root, wxPoint(140, 50), wxSize(450, 255), layout.content_height);
    container->Hide();
    pages_[page] = container;
    BuildRows(container, page, "", layout.rows);
    for (const PanelLayout& panel_layout : layout.panels) {
      wxWindow* panel =
          NewRowsArea(container, wxPoint(0, 40), wxSize(450, 215), panel_layout.content_height);
      panel->Hide();
      panels_.push_back({page, {panel_layout.key, panel}});
      BuildRows(panel, page, panel_layout.key, panel_layout.rows);
    }
  }

  new wxButton(root, DefaultsButtonId, FromUtf8(GetText("Dialog", "Defaults")), wxPoint(10, 315),
               wxSize(80, 25));
  auto* ok = new wxButton(root, OkButtonId, FromUtf8(GetText("Dialog", "OK")), wxPoint(420, 315),
                          wxSize(80, 25));
  new wxButton(root, CancelButtonId, FromUtf8(GetText("Dialog", "Cancel")), wxPoint(510, 315),
               wxSize(80, 25));
  // Escape presses "Cancel"; Enter presses "OK" (OnCharHook), as it does in any dialog.
  SetEscapeId(CancelButtonId);
  ok->SetDefault();

  Bind(wxEVT_LISTBOX, &PreferencesDialog::HandlePreferencesEvent, this);
  Bind(wxEVT_CHOICE, &PreferencesDialog::HandlePreferencesEvent, this);
  Bind(wxEVT_COMBOBOX, &PreferencesDialog::HandlePreferencesEvent, this);
  Bind(wxEVT_CHECKBOX, &PreferencesDialog::HandlePreferencesEvent, this);
  Bind(wxEVT_SLIDER, &PreferencesDialog::HandlePreferencesEvent, this);
  Bind(wxEVT_SPINCTRL, &PreferencesDialog::HandlePreferencesEvent, this);
  Bind(wxEVT_SPINCTRLDOUBLE, &PreferencesDialog::HandlePreferencesEvent, this);
  Bind(wxEVT_TEXT, &PreferencesDialog::HandlePreferencesEvent, this);
  Bind(wxEVT_TEXT_ENTER, &PreferencesDialog::HandlePreferencesEvent, this);
  Bind(wxEVT_BUTTON, &PreferencesDialog::HandlePreferencesEvent, this);
  Bind(wxEVT_CLOSE_WINDOW, &PreferencesDialog::OnClose, this);
  Bind(wxEVT_CHAR_HOOK, &PreferencesDialog::OnCharHook, this);
}

void PreferencesDialog::BuildRows(wxWindow* parent, int page, const std::string& panel,
                                  const std::vector<PreferencesRow>& rows) {
  int y = 10;
  for (const PreferencesRow& row : rows) {
    RowControls& controls = rows_.emplace_back();
    controls.row = &row;
    controls.page = page;
    controls.panel = panel;
    BuildRow(parent, controls, y, FirstRowId + static_cast<int>(rows_.size() - 1) * RowIdStride);
    y += RowSpacing;
  }
}

void PreferencesDialog::BuildRow(wxWindow* parent, RowControls& controls, int y, int id) {
  const PreferencesRow& row = *controls.row;
  controls.label = new wxStaticText(parent, wxID_ANY, Text(row.label_key), wxPoint(10, y + 3),
                                    wxSize(160, 20), wxST_NO_AUTORESIZE);
  const wxPoint at(InputX, y);
  switch (row.kind) {
    case RowKind::SelectBox:
      controls.choice = new wxChoice(parent, id, at, wxSize(240, 21));
      break;
    case RowKind::PictureSelectBox:
      controls.choice =
          new wxBitmapComboBox(parent, id, "", at, wxSize(240, 21), 0, nullptr, wxCB_READONLY);
      break;
    case RowKind::CheckBox:
      controls.check = new wxCheckBox(parent, id, "", at, wxSize(240, 20));
      break;
    case RowKind::TextField:
      controls.text = new wxTextCtrl(parent, id, "", at, wxSize(240, 20));
      break;
    case RowKind::NumberUnitField:
      controls.text =
          new wxTextCtrl(parent, id, "", at, wxSize(160, 20), 0, wxTextValidator(wxFILTER_DIGITS));
      controls.unit = new wxChoice(parent, id + 1, wxPoint(340, y - 1), wxSize(70, 21));
      break;
    case RowKind::SliderSpin:
      controls.slider = new wxSlider(parent, id, row.slider_min, row.slider_min, row.slider_max, at,
                                     wxSize(170, 20));
      if (row.binding == RowBinding::Gamma) {
        controls.gamma_spin =
            new wxSpinCtrlDouble(parent, id + 1, "", wxPoint(340, y), wxSize(70, 20),
                                 wxSP_ARROW_KEYS | wxTE_PROCESS_ENTER, row.slider_min / 100.0,
                                 row.slider_max / 100.0, 1.0, 0.01);
        controls.gamma_spin->SetDigits(2);
      } else {
        const int offset = row.binding == RowBinding::Offset100 ? 100 : 0;
        controls.spin =
            new wxSpinCtrl(parent, id + 1, "", wxPoint(340, y), wxSize(70, 20),
                           wxSP_ARROW_KEYS | wxTE_PROCESS_ENTER, row.slider_min - offset,
                           row.slider_max - offset, row.slider_min - offset);
      }
      break;
    case RowKind::ColourButton:
      controls.button = new wxBitmapButton(parent, id, ColourSwatch(0, 34, 12),
                                           wxPoint(InputX, y - 1), wxSize(44, 22));
      controls.text =
          new wxTextCtrl(parent, id + 1, "", wxPoint(220, y), wxSize(190, 20), wxTE_READONLY);
      break;
    case RowKind::ChooserList:
      controls.choice =
          new wxBitmapComboBox(parent, id, "", at, wxSize(214, 21), 0, nullptr, wxCB_READONLY);
      controls.button =
          new wxButton(parent, id + 1, "...", wxPoint(389, y - 1), wxSize(22, 22), wxBU_EXACTFIT);
      break;
    case RowKind::ChooserField:
      controls.text = new wxTextCtrl(parent, id, "", at, wxSize(214, 20));
      controls.button =
          new wxButton(parent, id + 1, "...", wxPoint(389, y - 1), wxSize(22, 22), wxBU_EXACTFIT);
      break;
    case RowKind::DateTimeField:
      // wx has no single date-and-time picker: a date picker and a time picker side by side.
      controls.date = new wxDatePickerCtrl(parent, id, wxDefaultDateTime, at, wxSize(122, 21),
                                           wxDP_DROPDOWN | wxDP_SHOWCENTURY);
      controls.time = new wxTimePickerCtrl(parent, id + 1, wxDefaultDateTime,
                                           wxPoint(InputX + 126, y), wxSize(114, 21));
      PlaceTimePickerParts(controls.time);
      break;
  }
}

wxWindow* PreferencesDialog::Panel(int page, std::string_view key) const {
  for (const auto& [panel_page, panel] : panels_) {
    if (panel_page == page && panel.first == key) return panel.second;
  }
  return nullptr;
}

RowControls* PreferencesDialog::FindRow(std::string_view group, std::string_view key) {
  for (RowControls& controls : rows_) {
    if (!controls.row->key.empty() && EqualsIgnoringCase(controls.row->group, group) &&
        EqualsIgnoringCase(controls.row->key, key)) {
      return &controls;
    }
  }
  return nullptr;
}

RowControls* PreferencesDialog::FindRowByLabel(int page, std::string_view label_key,
                                               std::string_view panel) {
  for (RowControls& controls : rows_) {
    if (controls.page == page && controls.row->label_key == label_key &&
        (panel.empty() || controls.panel == panel)) {
      return &controls;
    }
  }
  return nullptr;
}

void PreferencesDialog::ShowPage(int page) {
  if (page < 0 || page >= PageCount) return;
  current_page_ = page;
  page_title_->SetLabel(Text(PreferencesPages()[page].name_key));
  for (int i = 0; i < PageCount; ++i) pages_[i]->Show(i == page);
  if (category_list_->GetSelection() != page) category_list_->SetSelection(page);
}

void PreferencesDialog::FillSelector(RowControls& controls) {
  const PreferencesRow& row = *controls.row;
  wxChoice* choice = controls.choice;
  auto* pictures = dynamic_cast<wxBitmapComboBox*>(choice);
  choice->Clear();
  controls.entry_values.clear();
  controls.entry_ids.clear();
  int selected = -1;
  switch (row.binding) {
    case RowBinding::Language:
      // The language's own name, not a text of the table.
      choice->Append("English");
      selected = 0;
      break;
    case RowBinding::Theme:
      for (const auto& [id, name] : SortedThemes()) {
        if (name.empty()) continue;
        if (id == settings_.interface.ui_theme) selected = static_cast<int>(choice->GetCount());
        choice->Append(FromUtf8(name));
        controls.entry_ids.push_back(id);
      }
      if (choice->GetCount() == 0) {
        choice->Append(Text("None"));
        controls.entry_ids.push_back("");
      }
      if (selected < 0) selected = 0;
      break;
    case RowBinding::InputFormat:
    case RowBinding::OutputFormat: {
      const bool input = row.binding == RowBinding::InputFormat;
      const std::vector<std::string>& keys =
          input ? g_process.input_format_keys : g_process.output_format_keys;
      const std::string& current = input ? settings_.input.format : settings_.output.format;
      for (size_t i = 0; i < keys.size(); ++i) {
        if (keys[i].empty()) continue;
        if (keys[i] == current) selected = static_cast<int>(choice->GetCount());
        const wxString entry = FromUtf8(ToUpperAscii(keys[i]));
        if (pictures) {
          pictures->Append(entry, IconPicture(MenuIcons(), "New"));
        } else {
          choice->Append(entry);
        }
        controls.entry_values.push_back(static_cast<uint32_t>(i));
      }
      if (selected < 0 && choice->GetCount() != 0) selected = 0;
      break;
    }
    case RowBinding::BitDepth: {
      const int64_t depth = ReadSettingNumber(settings_, row.group, row.key);
      const std::string& format = controls.panel;
      BuildOutputFormats();
      const OutputFormatEntry* entry = FindOutputFormat(format);
      choice->Append(Text("Auto"));
      if (depth == 0) selected = 0;
      for (int32_t bits : ParseDepthList(entry ? entry->depths : "")) {
        if (bits == depth) selected = static_cast<int>(choice->GetCount());
        choice->Append(wxString::Format("%d", bits));
      }
      break;
    }
    case RowBinding::DisplayOnly:
      choice->Append(Text(row.fixed_entry));
      selected = 0;
      break;
    default: {
      for (std::string_view key : SchemaEntryKeys(row.group, row.key)) choice->Append(Text(key));
      const int64_t value = ReadSettingNumber(settings_, row.group, row.key);
      if (value >= 0 && value < static_cast<int64_t>(choice->GetCount())) {
        selected = static_cast<int>(value);
      }
      // The font chooser reports styles as flags; each entry remembers its own.
      if (EqualsIgnoringCase(row.key, "Font Style")) {
        for (uint32_t i = 0; i < choice->GetCount(); ++i) controls.entry_values.push_back(i * 256);
      }
      break;
    }
  }
  choice->SetSelection(selected);
}

void PreferencesDialog::FillFontList(RowControls& controls) {
  WatermarkSettings& watermark = settings_.watermark;
  if (watermark.fonts.empty()) watermark.fonts = watermark.font;
  controls.choice->Clear();
  int selected = 0;
  for (const std::string& name : SplitListFields(watermark.fonts)) {
    if (name == watermark.font && selected == 0) {
      selected = static_cast<int>(controls.choice->GetCount());
    }
    controls.choice->Append(FromUtf8(name));
  }
  controls.choice->SetSelection(controls.choice->GetCount() == 0 ? -1 : selected);
}

void PreferencesDialog::FillColourList(RowControls& controls, const std::string& palette,
                                       const std::string& selected_text) {
  auto* box = static_cast<wxBitmapComboBox*>(controls.choice);
  box->Clear();
  controls.entry_values.clear();
  const uint32_t wanted = ParseHexColour(selected_text);
  int selected = -1;
  for (const std::string& field : SplitListFields(palette)) {
    const uint32_t colour = ParseHexColour(field);
    if (colour == wanted && selected < 0) selected = static_cast<int>(box->GetCount());
    box->Append(ColourEntryName(colour), ColourSwatch(colour, 16, 16));
    controls.entry_values.push_back(colour);
  }
  if (selected < 0 && box->GetCount() != 0) selected = 0;
  box->SetSelection(selected);
}

void PreferencesDialog::ShowColour(RowControls& controls, uint32_t colour) {
  static_cast<wxBitmapButton*>(controls.button)->SetBitmapLabel(ColourSwatch(colour, 34, 12));
  controls.text->ChangeValue(FromUtf8(ColourText(colour)));
}

void PreferencesDialog::FillRow(RowControls& controls) {
  const PreferencesRow& row = *controls.row;
  switch (row.kind) {
    case RowKind::SelectBox:
    case RowKind::PictureSelectBox:
      FillSelector(controls);
      break;
    case RowKind::CheckBox:
      controls.check->SetValue(ReadSettingNumber(settings_, row.group, row.key) != 0);
      break;
    case RowKind::TextField:
    case RowKind::ChooserField:
      controls.text->ChangeValue(FromUtf8(ReadSettingText(settings_, row.group, row.key)));
      break;
    case RowKind::NumberUnitField:
      controls.text->ChangeValue(wxString::Format(
          "%lld", static_cast<long long>(ReadSettingNumber(settings_, row.group, row.key))));
      controls.unit->Clear();
      if (row.unit_key.empty()) {
        controls.unit->Append(Text(row.fixed_entry));
        controls.unit->SetSelection(0);
      } else {
        for (std::string_view key : SchemaEntryKeys(row.group, row.unit_key)) {
          controls.unit->Append(Text(key));
        }
        const int64_t unit = ReadSettingNumber(settings_, row.group, row.unit_key);
        if (unit >= 0 && unit < controls.unit->GetCount()) {
          controls.unit->SetSelection(static_cast<int>(unit));
        }
      }
      break;
    case RowKind::SliderSpin:
      if (row.binding == RowBinding::Gamma) {
        const int64_t hundredths =
            ClampToRange(std::llround(ReadSettingFloat(settings_, row.group, row.key) * 100.0),
                         row.slider_min, row.slider_max);
        controls.slider->SetValue(static_cast<int>(hundredths));
        controls.gamma_spin->SetValue(FromUtf8(HundredthsText(hundredths)));
        controls.gamma_spin->SetValue(hundredths / 100.0);
      } else {
        const int offset = row.binding == RowBinding::Offset100 ? 100 : 0;
        const int64_t value = ClampToRange(ReadSettingNumber(settings_, row.group, row.key),
                                           row.slider_min - offset, row.slider_max - offset);
        controls.slider->SetValue(static_cast<int>(value + offset));
        controls.spin->SetValue(static_cast<int>(value));
      }
      break;
    case RowKind::ColourButton:
      ShowColour(controls, ParseHexColour(ReadSettingText(settings_, row.group, row.key)));
      break;
    case RowKind::ChooserList:
      if (row.binding == RowBinding::FontList) {
        FillFontList(controls);
      } else if (row.binding == RowBinding::FontColours) {
        FillColourList(controls, settings_.watermark.font_colors, settings_.watermark.font_color);
      } else {
        FillColourList(controls, settings_.watermark.back_colors, settings_.watermark.back_color);
      }
      break;
    case RowKind::DateTimeField: {
      const wxDateTime when(
          static_cast<time_t>(LocalSecondsToUtc(ReadSettingNumber(settings_, row.group, row.key))));
      if (when.IsValid()) {
        controls.date->SetValue(when);
        controls.time->SetValue(when);
      }
      break;
    }
  }
  if (row.always_hidden) {
    for (wxWindow* window : controls.Windows()) window->Hide();
  }
}

void PreferencesDialog::FillPreferences(int start_page) {
  category_list_->Clear();
  for (const PageLayout& layout : PreferencesPages()) category_list_->Append(Text(layout.name_key));

  wxFont title_font = wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT);
  title_font.SetPointSize(10);
  title_font.MakeBold();
  if (title_font.IsOk()) page_title_->SetFont(title_font);

  FillRows();
  ShowPage(start_page);
}

void PreferencesDialog::FillRows() {
  if (g_theme_list.names.empty()) ScanThemes();
  for (RowControls& controls : rows_) FillRow(controls);
  ApplyRules();
}

void PreferencesDialog::StoreRow(RowControls& controls) {
  const PreferencesRow& row = *controls.row;
  if (row.key.empty()) return;
  switch (row.kind) {
    case RowKind::SelectBox:
    case RowKind::PictureSelectBox: {
      const int selected = controls.choice->GetSelection();
      switch (row.binding) {
        case RowBinding::Language:
          WriteSettingText(settings_, row.group, row.key, "en");
          return;
        case RowBinding::Theme:
          StoreTheme(controls);
          return;
        case RowBinding::InputFormat:
        case RowBinding::OutputFormat: {
          const std::vector<std::string>& keys = row.binding == RowBinding::InputFormat
                                                     ? g_process.input_format_keys
                                                     : g_process.output_format_keys;
          if (selected < 0 || selected >= static_cast<int>(controls.entry_values.size())) return;
          const uint32_t position = controls.entry_values[selected];
          if (position < keys.size())
            WriteSettingText(settings_, row.group, row.key, keys[position]);
          return;
        }
        case RowBinding::BitDepth:
          WriteSettingNumber(settings_, row.group, row.key,
                             selected <= 0 ? 0
                                           : LeadingNumber(ToUtf8(controls.choice->GetString(
                                                 static_cast<unsigned>(selected)))));
          return;
        default:
          if (selected >= 0) WriteSettingNumber(settings_, row.group, row.key, selected);
          return;
      }
    }
    case RowKind::CheckBox:
      WriteSettingNumber(settings_, row.group, row.key, controls.check->GetValue() ? 1 : 0);
      return;
    case RowKind::TextField:
    case RowKind::ChooserField:
      WriteSettingText(settings_, row.group, row.key,
                       SanitiseLine(ToUtf8(controls.text->GetValue())));
      return;
    case RowKind::NumberUnitField:
      WriteSettingNumber(settings_, row.group, row.key,
                         LeadingNumber(ToUtf8(controls.text->GetValue())));
      if (!row.unit_key.empty() && controls.unit->GetSelection() >= 0) {
        WriteSettingNumber(settings_, row.group, row.unit_key, controls.unit->GetSelection());
      }
      return;
    case RowKind::SliderSpin:
      // The slider is kept in step with its spin box on every change, and never holds a value
      // outside the range.
      if (row.binding == RowBinding::Gamma) {
        WriteSettingFloat(settings_, row.group, row.key, controls.slider->GetValue() / 100.0);
      } else {
        const int offset = row.binding == RowBinding::Offset100 ? 100 : 0;
        WriteSettingNumber(settings_, row.group, row.key, controls.slider->GetValue() - offset);
      }
      return;
    case RowKind::ColourButton:
      WriteSettingText(settings_, row.group, row.key,
                       ColourText(ParseHexColour(ToUtf8(controls.text->GetValue()))));
      return;
    case RowKind::ChooserList: {
      const int selected = controls.choice->GetSelection();
      if (selected < 0) return;
      if (row.binding == RowBinding::FontList) {
        WriteSettingText(settings_, row.group, row.key,
                         ToUtf8(controls.choice->GetString(static_cast<unsigned>(selected))));
      } else if (selected < static_cast<int>(controls.entry_values.size())) {
        WriteSettingText(settings_, row.group, row.key,
                         ColourText(controls.entry_values[selected]));
      }
      return;
    }
    case RowKind::DateTimeField: {
      wxDateTime when = controls.date->GetValue();
      const wxDateTime time = controls.time->GetValue();
      if (!when.IsValid()) return;
      if (time.IsValid()) when.SetHour(time.GetHour()).SetMinute(time.GetMinute()).SetSecond(0);
      WriteSettingNumber(settings_, row.group, row.key, UtcSecondsToLocal(when.GetTicks()));
      return;
    }
  }
}
