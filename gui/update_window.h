#pragma once

// The update check in the window: the on-demand command and the start-up check, with their
// message boxes. The network wait happens on the window's thread, which keeps painting the
// window under a busy cursor and hears a close request, which ends the wait.

class MainWindow;
class WindowSession;

/// Fetches the version file under a busy cursor and shows the box of the outcome; Yes in the
/// "New Update" box opens the product page.
void CheckForUpdatesFromWindow(MainWindow& window);

/// When the start-up check is due, asks whether to check and on Yes checks as the command does;
/// then "Update Date" becomes now, whatever the answer.
void RunAutomaticUpdateCheckFromWindow(MainWindow& window);

/// True while a check waits for the network.
bool UpdateCheckInWork(WindowSession& session);

/// Gives up the check in work; the main window closes once it has returned.
void CloseAfterUpdateCheck(WindowSession& session);
