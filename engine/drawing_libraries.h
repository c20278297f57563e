#pragma once

/// True when Cairo, Pango, fontconfig and GLib could be opened (on the first call); every drawing
/// starts by asking, and fails cleanly without them.
bool DrawingLibrariesAvailable();
