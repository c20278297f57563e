#include "gui/screenshot_mode.h"

#include <wx/app.h>
#include <wx/bitmap.h>
#include <wx/bmpbuttn.h>
#include <wx/bmpcbox.h>
#include <wx/dcmemory.h>
#include <wx/graphics.h>
#include <wx/image.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

#include "core/program_identity.h"
#include "gui/gtk_calls.h"
#include "gui/jpeg_file.h"
#include "gui/main_window.h"
#include "gui/pictures.h"
#include "gui/wx_text.h"
#include "settings/program_settings.h"

namespace {

constexpr int WindowX = 400;
constexpr int WindowY = 400;
constexpr int WindowWidth = 510;
constexpr int SettleMilliseconds = 500;
constexpr int TextRightGap = 35;
constexpr int TextBottomGap = 26;
constexpr int SampleShown = 3;  // the fourth sample is the one in the input field

constexpr const char* SampleNames[] = {"pic0102",     "picture_a", "picture_b", "halvane",
                                       "layout-haus", "summer",    "winter"};

// Draws the product's web address onto the picture, black, without a background.
wxImage WithAddress(const wxImage& capture) {
  wxBitmap bitmap(capture);
  wxMemoryDC dc(bitmap);
  std::unique_ptr<wxGraphicsContext> context(wxGraphicsContext::Create(dc));
  if (context) {
    context->SetAntialiasMode(wxANTIALIAS_DEFAULT);
    context->SetFont(wxFont(wxFontInfo(8).FaceName("Tahoma")), *wxBLACK);
    const wxString address = FromUtf8(std::string(ProductWebAddress));
    double width = 0;
    double height = 0;
    context->GetTextExtent(address, &width, &height);
    const TextPlace place = ScreenshotTextPlace(capture.GetWidth(), capture.GetHeight(),
                                                static_cast<int>(std::lround(width)));
    context->DrawText(address, place.x, place.y);
    context.reset();
  }
  dc.SelectObject(wxNullBitmap);
  return bitmap.ConvertToImage();
}

bool WriteImage(const wxImage& image, const std::string& path) {
  const unsigned char* data = image.GetData();
  const size_t bytes = static_cast<size_t>(image.GetWidth()) * image.GetHeight() * 3;
  if (!data) return false;
  const std::vector<uint8_t> rgb(data, data + bytes);
  return WriteJpegFile(path, rgb, image.GetWidth(), image.GetHeight(), ScreenshotJpegQuality);
}

// Waits for the window to settle, then saves; owns itself until it has reported.
class ScreenshotTimer : public wxTimer {
 public:
  ScreenshotTimer(MainWindow* window, std::string folder, std::function<void(bool)> done)
      : window_(window), folder_(std::move(folder)), done_(std::move(done)) {}

  // The work runs after the timer's own callback has returned, so the timer may go with it.
  void Notify() override {
    wxTheApp->CallAfter([this] { Finish(); });
  }

 private:
  void Finish() {
    const bool saved = SaveScreenshots(*window_, folder_);
    window_->Destroy();
    const std::function<void(bool)> done = std::move(done_);
    delete this;
    done(saved);
  }

  MainWindow* window_;
  std::string folder_;
  std::function<void(bool)> done_;
};

}  // namespace

std::vector<std::string> ScreenshotSampleInputs(const std::vector<std::string>& format_keys) {
  std::vector<std::string> inputs;
  if (format_keys.empty()) return inputs;
  std::mt19937 random(std::random_device{}());
  std::uniform_int_distribution<size_t> pick(0, format_keys.size() - 1);
  for (const char* name : SampleNames) {
    inputs.push_back("/images/" + std::string(name) + "." + format_keys[pick(random)]);
  }
  return inputs;
}

std::string ScreenshotOutputFolder() { return "/converted/"; }

int ScreenshotSmallHeight(int width, int height) {
  if (width <= 0 || height <= 0) return 0;
  const long rounded = std::lround(ScreenshotSmallWidth / (static_cast<double>(width) / height));
  return static_cast<int>(std::max(1L, rounded));
}

TextPlace ScreenshotTextPlace(int width, int height, int text_width) {
  return {width - text_width - TextRightGap, height - TextBottomGap};
}

void ArrangeForScreenshot(MainWindow& window) {
  window.Move(WindowX, WindowY);
  window.SetClientSize(WindowWidth, window.GetClientSize().GetHeight());
  window.Raise();
  const std::vector<std::string> inputs = ScreenshotSampleInputs(g_process.input_format_keys);
  if (inputs.size() > SampleShown) window.InputField()->ChangeValue(FromUtf8(inputs[SampleShown]));
  wxBitmapComboBox* folders = window.OutputFolderBox();
  const int entry =
      folders->Append(FromUtf8(ScreenshotOutputFolder()), IconPicture(MenuIcons(), "FavFolder"));
  folders->SetSelection(entry);
  window.OutputFormatBox()->SetFocus();
  folders->SetFocus();
  window.ConvertButton()->SetFocus();
  window.LayoutControls();
}

bool SaveScreenshots(MainWindow& window, const std::string& folder) {
  // The outer rectangle holds the frame that a window manager draws around the window.
  const wxRect outer = window.GetScreenRect();
  std::vector<uint8_t> rgb;
  if (!GrabScreenRgb(outer.x, outer.y, outer.width, outer.height, rgb)) return false;
  wxImage capture(outer.width, outer.height, false);
  std::copy(rgb.begin(), rgb.end(), capture.GetData());
  const wxImage picture = WithAddress(capture);
  if (!WriteImage(picture, folder + "tarnex1.jpg")) return false;
  const wxImage small = picture.Scale(
      ScreenshotSmallWidth, ScreenshotSmallHeight(outer.width, outer.height), wxIMAGE_QUALITY_HIGH);
  return WriteImage(small, folder + "tarnex1x.jpg");
}

void StartScreenshotMode(WindowSession& session, const std::string& folder,
                         std::function<void(bool saved)> done) {
  auto* window = new MainWindow(session);
  window->Finish();
  ArrangeForScreenshot(*window);
  auto* timer = new ScreenshotTimer(window, folder, std::move(done));
  timer->StartOnce(SettleMilliseconds);
}
