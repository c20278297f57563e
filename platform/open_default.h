#pragma once

// Opening a document or an address with the desktop's default application.

#include <string>

/// Hands `target` (a file path, a web address or a mailto: link) to xdg-open, found on PATH,
/// without a shell and without waiting for it; what it does with it is not looked at. False
/// when the helper could not even be started.
bool OpenWithDefaultHandler(const std::string& target);
