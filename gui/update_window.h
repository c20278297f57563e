#pragma once

// The update check in the window: the on-demand command and the start-up check, with their
// message boxes. The network wait happens on the window's thread, which keeps painting the
// window under a busy cursor and hears a close request, which ends the wait.

#include <string>

/// Fetches the version file under a busy cursor and shows the box of the outcome; Yes in the
/// "New Update" box opens the product page.
void CheckForUpdatesFromWindow();

/// When the start-up check is due, asks whether to check and on Yes checks as the command does;
/// then "Update Date" becomes now, whatever the answer.
void RunAutomaticUpdateCheckFromWindow();

/// Points the checks at another version file (a test's own server); empty restores the maker's.
void SetVersionFileAddress(std::string address);

/// True while a check waits for the network.
bool UpdateCheckInWork();

/// Gives up the check in work; the main window closes once it has returned.
void CloseAfterUpdateCheck();
