#pragma once

// The message boxes of the window run. Tests answer them through a handler instead of a person.

#include <functional>
#include <string>

enum class MessageKind { Warning, BreakQuestion, Question, Information, Error };

/// Answers a message box in place of showing it: returns true for Yes (or OK).
using MessageHandler = std::function<bool(MessageKind kind, const std::string& text)>;

/// Replaces the shown boxes by `handler`; an empty handler shows them again.
void SetMessageHandler(MessageHandler handler);

/// An OK box with a warning icon, titled "Warning" of group "Msg".
void ShowWarning(const std::string& text);

/// A box titled and worded by keys of group "Msg": Yes and No for a Question, OK otherwise, with
/// the icon of its kind. True for Yes (or OK).
bool ShowMessage(MessageKind kind, const std::string& title_key, const std::string& text_key);

/// True while a message box is on the screen, waiting for its answer.
bool MessageBoxShown();

/// The Yes/No break question of a run in work; true for Yes.
bool AskBreakConversion();
