#pragma once

// The window's services as a person meets them: the system's message boxes and choosers and the
// desktop's opener.

#include "gui/window_services.h"

class SystemServices : public WindowServices {
 public:
  bool Message(MessageKind kind, const std::string& title, const std::string& text) override;
  bool MessageShown() const override { return boxes_shown_ > 0; }
  std::vector<std::string> ChooseFiles(const std::string& start) override;
  std::optional<std::string> ChooseInputFolder(const std::string& start) override;
  std::optional<std::string> ChooseFolder(const std::string& start) override;
  bool ChooseColour(uint32_t& colour) override;
  bool ChooseFont(std::string& name, int& size, int& style_flags) override;
  bool ChooseImage(const std::string& start, const std::string& filter, std::string& path) override;
  void Open(const std::string& address) override;
  std::string VersionFileAddress() const override;

 private:
  // Boxes open, counted until answered; a box may open another through the event loop.
  int boxes_shown_ = 0;
};
