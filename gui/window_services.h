#pragma once

// What the window asks of the person and of the desktop: message boxes, the choosers, the opener
// and where the version file lives. The session holds one; tests hold their own to answer in
// place of a person and to point the update check at a local server.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class MessageKind {
  Warning,
  BreakQuestion,
  Question,
  QuestionDefaultNo,  // a Yes that throws work away is never one stray Enter away
  Information,
  Error,
};

class WindowServices {
 public:
  virtual ~WindowServices() = default;

  /// A box titled `title` showing `text`, with the buttons and icon of `kind` (Yes and No for the
  /// questions, OK otherwise). True for Yes (or OK).
  virtual bool Message(MessageKind kind, const std::string& title, const std::string& text) = 0;
  /// True while a box is on the screen, waiting for its answer.
  virtual bool MessageShown() const = 0;

  /// The input-file chooser, starting at `start`: the chosen paths (several may be picked), none
  /// for Cancel.
  virtual std::vector<std::string> ChooseFiles(const std::string& start) = 0;
  /// The input-folder chooser, starting at `start`: the chosen folder, or nothing for Cancel.
  virtual std::optional<std::string> ChooseInputFolder(const std::string& start) = 0;
  /// The output-folder chooser, starting at `start`: the chosen folder, or nothing for Cancel.
  virtual std::optional<std::string> ChooseFolder(const std::string& start) = 0;

  /// The colour chooser: false for Cancel, `colour` (0xBBGGRR) changed otherwise.
  virtual bool ChooseColour(uint32_t& colour) = 0;
  /// The font chooser; style flags bold 256, italic 512. False for Cancel.
  virtual bool ChooseFont(std::string& name, int& size, int& style_flags) = 0;
  /// The watermark-image chooser starting at `start`, listing `filter`. False for Cancel.
  virtual bool ChooseImage(const std::string& start, const std::string& filter,
                           std::string& path) = 0;

  /// Opens `address` with the desktop's default handler.
  virtual void Open(const std::string& address) = 0;
  /// Where the update check fetches the version file.
  virtual std::string VersionFileAddress() const = 0;
};
