#pragma once

// The message boxes of the window run, shown through the session's services.

#include <string>

#include "gui/window_services.h"

/// An OK box with a warning icon, titled "Warning" of group "Msg".
void ShowWarning(WindowServices& services, const std::string& text);

/// A box titled and worded by keys of group "Msg": Yes and No for a Question, OK otherwise, with
/// the icon of its kind. True for Yes (or OK).
bool ShowMessage(WindowServices& services, MessageKind kind, const std::string& title_key,
                 const std::string& text_key);

/// The Yes/No break question of a run in work; true for Yes.
bool AskBreakConversion(WindowServices& services);
