#pragma once

// A polite request to end (SIGTERM: logout, kill) turned into a flag an event loop looks at, so
// the program ends the way its user would end it instead of in the middle of its work.

/// From now on SIGTERM only raises the flag.
void WatchEndRequests();

/// True once per SIGTERM received since the last call.
bool TakeEndRequest();
