#pragma once

// The message boxes of the window run, shown through the session's services.

#include <string>

#include "gui/window_services.h"

/// An OK box with a warning icon, titled "Warning" of group "Msg".
void ShowWarning(const std::string& text);

/// A box titled and worded by keys of group "Msg": Yes and No for a Question, OK otherwise, with
/// the icon of its kind. True for Yes (or OK).
bool ShowMessage(MessageKind kind, const std::string& title_key, const std::string& text_key);

/// True while a message box is on the screen, waiting for its answer.
bool MessageBoxShown();

/// The Yes/No break question of a run in work; true for Yes.
bool AskBreakConversion();
