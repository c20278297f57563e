#pragma once

// The commands of the main window: ids, captions, accelerators and pictures, the menu bar, the
// main toolbar and the field toolbars beside the fields. The main window performs them.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

class wxFrame;
class wxToolBar;
class wxWindow;

/// Command ids; menus, toolbars and accelerators deliver them as menu events.
enum CommandId : int32_t {
  CmdNew = 0,
  CmdExit = 3,
  CmdAddInputFile = 5,
  CmdAddInputFolder = 6,
  CmdSelectOutputFolder = 7,
  CmdOutputFormatOptions = 8,
  CmdIncludeSubfolders = 9,
  CmdConvert = 14,
  CmdFindConverter = 16,
  CmdPreferences = 17,
  CmdManual = 18,
  CmdSendFeedback = 21,
  CmdVisitHomepage = 22,
  CmdCheckForUpdates = 23,
  CmdAbout = 24,
};

/// One command: its caption key of group "Menu", its accelerator's name (empty when none) and
/// the name of its picture (empty for none); a checkable one is a setting turned on and off.
struct Command {
  CommandId id;
  std::string_view text_key;
  std::string_view accelerator;
  std::string_view picture;
  bool checkable = false;
};

/// Every command in id order.
const std::array<Command, 15>& Commands();

/// The command of `id`; nullptr for an id without a command.
const Command* FindCommand(int32_t id);

/// The menu caption of a command: its text, and after a TAB its accelerator when it has one.
std::string MenuCaption(const Command& command);

/// The support address and the subject line of "Send Feedback" as a mailto: address.
std::string FeedbackAddress();

/// The product's web page.
std::string HomepageAddress();

/// (Re)creates the menu bar of `frame` with its three menus.
void BuildMainMenu(wxFrame* frame);

/// The name of the user manual beside the program.
inline constexpr const char* ManualFileName = "tarnex.html";

/// (Re)creates the main toolbar of `frame` with pictures `picture_size` pixels square; its height
/// in pixels, 0 when it could not be created.
int32_t BuildMainToolbar(wxFrame* frame, int picture_size);

/// Sets the picture size of `toolbar` to `size` pixels square and lets it recompute its size.
void SetToolbarPictureSize(wxToolBar* toolbar, int size);

/// (Re)creates the one-button toolbar of field `field` (0..2: input, folder, format) inside
/// `parent`, destroying `existing`; it takes part in the tab order.
wxToolBar* BuildFieldToolbar(wxWindow* parent, int field, wxToolBar* existing);

/// The letters the menu bar's titles are reached by (Alt plus the letter), which the main
/// window's own controls leave to them.
std::string MenuBarMnemonics();
