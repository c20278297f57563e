#pragma once

// Text between the program (UTF-8 std::string) and wx (wxString).

#include <wx/string.h>

#include <string>

inline wxString FromUtf8(const std::string& text) { return wxString::FromUTF8(text); }
inline std::string ToUtf8(const wxString& text) { return std::string(text.utf8_str()); }

/// A text of the table for a window: its CR LF line breaks become LF.
inline wxString WindowText(const std::string& text) {
  wxString shown = FromUtf8(text);
  shown.Replace("\r\n", "\n");
  return shown;
}
