#pragma once

// The screenshot mode: the main window with a sample job, captured with its frame and saved as
// "tarnex1.jpg" and its small copy "tarnex1x.jpg".

#include <functional>
#include <string>
#include <vector>

class MainWindow;
class WindowSession;

/// Quality of the JPEG files, on libjpeg's scale of 0 to 100.
inline constexpr int ScreenshotJpegQuality = 90;
/// Width of the small copy.
inline constexpr int ScreenshotSmallWidth = 180;

/// The seven sample input paths, each with an extension picked at random from `format_keys`
/// (all empty when there are none).
std::vector<std::string> ScreenshotSampleInputs(const std::vector<std::string>& format_keys);

/// The folder the sample job converts into.
std::string ScreenshotOutputFolder();

/// Height of the small copy of a `width` x `height` picture: the same shape, to the nearest pixel.
int ScreenshotSmallHeight(int width, int height);

/// Where the web address is drawn in a `width` x `height` picture for a text `text_width` wide:
/// its left edge 35 pixels left of the text's right end at the picture's edge, its top 26 above
/// the bottom.
struct TextPlace {
  int x = 0;
  int y = 0;
};
TextPlace ScreenshotTextPlace(int width, int height, int text_width);

/// Puts `window` at 400, 400, 510 wide, with the sample input and output folder, focus ending on
/// the Convert button.
void ArrangeForScreenshot(MainWindow& window);

/// Captures `window` with its frame, draws the web address and writes both JPEG files into
/// `folder` (ending in "/"); false when any of it fails.
bool SaveScreenshots(MainWindow& window, const std::string& folder);

/// The whole mode for an existing `folder`: builds and arranges the main window, waits half a
/// second of events, saves, closes the window and calls `done` with the result.
void StartScreenshotMode(WindowSession& session, const std::string& folder,
                         std::function<void(bool saved)> done);
