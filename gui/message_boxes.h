#pragma once

// The message boxes of the window run. Tests answer them through a handler instead of a person.

#include <functional>
#include <string>

enum class MessageKind { Warning, BreakQuestion, ResetQuestion };

/// Answers a message box in place of showing it: returns true for Yes (or OK).
using MessageHandler = std::function<bool(MessageKind kind, const std::string& text)>;

/// Replaces the shown boxes by `handler`; an empty handler shows them again.
void SetMessageHandler(MessageHandler handler);

/// An OK box with a warning icon, titled "Warning" of group "Msg".
void ShowWarning(const std::string& text);

/// The Yes/No break question of a run in work; true for Yes.
bool AskBreakConversion();

/// The Yes/No question of the preferences' "Defaults"; true for Yes.
bool AskResetToDefaults();
