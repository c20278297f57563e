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
#include "gui/mnemonics.h"
#include "gui/picture_list_box.h"
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
// Every area can scroll: one whose rows fit shows no scroll bar, until a larger font makes them
// taller than the room.
wxWindow* NewRowsArea(wxWindow* parent, wxPoint position, wxSize size, int content_height) {
  auto* scrolled =
      new wxScrolledWindow(parent, wxID_ANY, position, size, wxVSCROLL | wxBORDER_NONE);
  if (content_height <= 0) {
    scrolled->SetScrollRate(0, 10);
    scrolled->SetVirtualSize(size);
    return scrolled;
  }
  scrolled->SetScrollbars(10, 10, 42, content_height / 10);
  return scrolled;
}

// The rows were placed for the default font: 160-pixel labels, rows 30 pixels apart. A larger
// font widens the label column to the widest label and moves every row down by what its line
// grew; at the default font nothing moves.
struct FontGrowth {
  int wider = 0;   // of the label column
  int taller = 0;  // of each row
};

// The default font's labels are up to 20 pixels tall and may lack a few pixels of the 160; only
// a font clearly larger moves anything.
FontGrowth MeasureGrowth(const std::vector<RowControls>& rows) {
  FontGrowth growth;
  for (const RowControls& controls : rows) {
    const wxSize best = controls.label->GetBestSize();
    growth.wider = std::max(growth.wider, best.GetWidth() + 4 - 160);
    growth.taller = std::max(growth.taller, best.GetHeight() - 20);
  }
  if (growth.taller <= 0 && growth.wider <= 8) return {};
  return growth;
}

// Moves a window placed for the default font: its row (from its y) down, its width or its x by
// the label column's growth.
void Regrow(wxWindow* window, const FontGrowth& growth, bool is_label) {
  const wxRect place = window->GetRect();
  const int row = std::max(0, (place.y - 8) / 30);
  window->SetSize(place.x + (is_label ? 0 : growth.wider), place.y + row * growth.taller,
                  place.width + (is_label ? growth.wider : 0), place.height + growth.taller);
}

// Lets a scrolling area scroll over all it holds.
void FitVirtualSize(wxWindow* area) {
  auto* scrolled = dynamic_cast<wxScrolledWindow*>(area);
  if (!scrolled) return;
  int bottom = 0;
  for (wxWindow* child : area->GetChildren()) {
    if (child->IsShown()) bottom = std::max(bottom, child->GetRect().GetBottom() + 1);
  }
  scrolled->SetScrollRate(0, 10);
  scrolled->SetVirtualSize(area->GetClientSize().GetWidth(), bottom + 10);
}

// A larger font makes a row's controls (a spin box, a unit, the "..." button, a date) need more
// than their default widths. The input column widens by the most any row needs; in each row every
// control takes what it needs and the row's widest control the rest, the ones after it moving
// right, so every row still ends at the same edge. The column's growth, 0 when nothing needed more.
int WidenInputColumn(std::vector<RowControls>& rows) {
  struct Part {
    wxWindow* window;
    int need;
  };
  std::vector<std::vector<Part>> parts(rows.size());
  int column = 0;
  for (size_t r = 0; r < rows.size(); ++r) {
    std::vector<wxWindow*> windows = rows[r].Windows();
    windows.erase(windows.begin());  // the label
    int total = 0;
    for (wxWindow* window : windows) {
      const int need = std::max(0, window->GetBestSize().GetWidth() - window->GetSize().GetWidth());
      parts[r].push_back({window, need});
      total += need;
    }
    std::sort(parts[r].begin(), parts[r].end(), [](const Part& a, const Part& b) {
      return a.window->GetPosition().x < b.window->GetPosition().x;
    });
    column = std::max(column, total);
  }
  if (column == 0) return 0;
  for (std::vector<Part>& row : parts) {
    if (row.empty()) continue;
    const auto widest = std::max_element(row.begin(), row.end(), [](const Part& a, const Part& b) {
      return a.window->GetSize().GetWidth() < b.window->GetSize().GetWidth();
    });
    int others = 0;
    for (const Part& part : row) others += &part == &*widest ? 0 : part.need;
    widest->need = column - others;
    int shift = 0;
    for (const Part& part : row) {
      const wxRect place = part.window->GetRect();
      part.window->SetSize(place.x + shift, place.y, place.width + part.need, place.height);
      shift += part.need;
    }
  }
  return column;
}

// Names a control for screen readers, and the parts of a control wx builds of several (the date
// and time pickers' field and arrows).
void NameAll(wxWindow* window, const std::string& name) {
  SetAccessibleName(window, name);
  for (wxWindow* part : window->GetChildren()) NameAll(part, name);
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
  // A screen reader names the list of pages after the dialog it chooses pages of.
  SetAccessibleName(category_list_, SpokenName(GetText("Preferences", "Title")));
  auto* header = new wxPanel(root, wxID_ANY, wxPoint(140, 10), wxSize(450, 30), wxBORDER_STATIC);
  // The theme's list colours: a light band on a light theme, a dark one on a dark theme, and
  // the title always readable on it.
  header->SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_LISTBOX));
  page_title_ = new wxStaticText(header, wxID_ANY, "", wxPoint(9, 6), wxSize(330, 20));
  page_title_->SetBackgroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_LISTBOX));
  page_title_->SetForegroundColour(wxSystemSettings::GetColour(wxSYS_COLOUR_LISTBOXTEXT));

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

  const std::vector<std::string> buttons = AddMnemonics(
      {GetText("Dialog", "Defaults"), GetText("Dialog", "OK"), GetText("Dialog", "Cancel")});
  new wxButton(root, DefaultsButtonId, FromUtf8(buttons[0]), wxPoint(10, 315), wxSize(80, 25));
  auto* ok =
      new wxButton(root, OkButtonId, FromUtf8(buttons[1]), wxPoint(420, 315), wxSize(80, 25));
  new wxButton(root, CancelButtonId, FromUtf8(buttons[2]), wxPoint(510, 315), wxSize(80, 25));
  // Escape presses "Cancel"; Enter presses "OK" (OnCharHook), as it does in any dialog.
  SetEscapeId(CancelButtonId);
  ok->SetDefault();
  MarkRowLabels(MnemonicLetters(buttons));
  FollowFont(root, header);

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

void PreferencesDialog::MarkRowLabels(const std::string& taken) {
  // Only the shown page's controls take a mnemonic, so letters are unique per page: the buttons'
  // first, then the page's own rows, then each of its option panels, which show one at a time.
  const auto mark = [this](int page, const std::string* panel, const std::string& letters) {
    std::vector<RowControls*> rows;
    std::vector<std::string> captions;
    for (RowControls& controls : rows_) {
      if (controls.page != page || controls.row->always_hidden ||
          (panel ? controls.panel != *panel : !controls.panel.empty())) {
        continue;
      }
      rows.push_back(&controls);
      captions.push_back(GetText("Preferences", controls.row->label_key));
    }
    const std::vector<std::string> marked = AddMnemonics(captions, letters);
    for (size_t i = 0; i < rows.size(); ++i) {
      RowControls& controls = *rows[i];
      const std::vector<wxWindow*> windows = controls.Windows();
      // A screen reader names every control of the row after its label.
      for (size_t w = 1; w < windows.size(); ++w) NameAll(windows[w], SpokenName(captions[i]));
      if (windows.size() < 2 || marked[i].empty()) continue;
      controls.label->SetLabel(FromUtf8(marked[i]));
      // The letter leads from the label to the row's first control.
      SetMnemonicTarget(controls.label, windows[1]);
    }
    return letters + MnemonicLetters(marked);
  };
  for (int page = 0; page < PageCount; ++page) {
    const std::string page_letters = mark(page, nullptr, taken);
    for (const auto& [owner, panel] : panels_) {
      if (owner == page) mark(page, &panel.first, page_letters);
    }
  }
}

void PreferencesDialog::FollowFont(wxWindow* root, wxWindow* header) {
  const FontGrowth growth = MeasureGrowth(rows_);
  if (growth.wider <= 0 && growth.taller <= 0) {
    // The default font's 70-pixel spin boxes hold their four characters, but GTK reckons a
    // little more room for them and complains on every key; its reckoning is one character less.
    for (RowControls& controls : rows_) {
      SetTextWidthInCharacters(controls.spin, 3);
      SetTextWidthInCharacters(controls.gamma_spin, 3);
    }
    return;
  }
  const FontGrowth grown{std::max(0, growth.wider), std::max(0, growth.taller)};
  for (RowControls& controls : rows_) {
    for (wxWindow* window : controls.Windows()) Regrow(window, grown, window == controls.label);
  }
  const int inputs_wider = WidenInputColumn(rows_);
  // The page list grows to its longest name (it is filled later, so the names are measured), with
  // the room the default font leaves beside it.
  int longest = 0;
  for (const PageLayout& layout : PreferencesPages()) {
    longest = std::max(longest, category_list_->GetTextExtent(Text(layout.name_key)).GetWidth());
  }
  const int list_wider = std::max(0, longest + 30 - category_list_->GetSize().GetWidth());
  // The pages and their panels grow as wide as the label and input columns did and as tall as
  // four rows; what is still below the fold scrolls.
  const int wider = grown.wider + inputs_wider;
  const int taller = 4 * grown.taller;
  for (wxWindow* page : pages_) {
    page->SetSize(page->GetSize() + wxSize(wider, taller));
    page->Move(page->GetPosition() + wxPoint(list_wider, grown.taller));
  }
  for (auto& [page, panel] : panels_) {
    const wxRect place = panel.second->GetRect();
    panel.second->SetSize(place.x, place.y + grown.taller, place.width + wider,
                          place.height + taller);
  }
  for (auto& [page, panel] : panels_) FitVirtualSize(panel.second);
  for (wxWindow* page : pages_) FitVirtualSize(page);
  header->SetSize(header->GetPosition().x + list_wider, header->GetPosition().y,
                  header->GetSize().GetWidth() + wider,
                  header->GetSize().GetHeight() + grown.taller);
  page_title_->SetSize(page_title_->GetSize() + wxSize(wider, grown.taller));
  category_list_->SetSize(category_list_->GetSize() + wxSize(list_wider, taller + grown.taller));
  const wxSize size = GetClientSize() + wxSize(wider + list_wider, taller + 2 * grown.taller);
  // The buttons keep their corners and are as wide as their captions need.
  int right = size.GetWidth() - 10;
  for (int id : {CancelButtonId, OkButtonId, DefaultsButtonId}) {
    wxWindow* button = FindWindow(id);
    if (!button) continue;
    const wxRect place = button->GetRect();
    const int width = std::max(place.width, button->GetBestSize().GetWidth());
    const int x = id == DefaultsButtonId ? place.x : right - width;
    button->SetSize(x, place.y + taller + grown.taller, width, place.height + grown.taller);
    right = x - 10;
  }
  root->SetSize(size);
  SetClientSize(size);
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
      controls.choice = new PictureListBox(parent, id, at, wxSize(240, 21));
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
      controls.choice = new PictureListBox(parent, id, at, wxSize(214, 21));
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
