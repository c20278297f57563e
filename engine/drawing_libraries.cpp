#include "engine/drawing_libraries.h"

#include <dlfcn.h>

namespace {

enum LibraryIndex { Cairo, Pango, PangoCairo, Fontconfig, GObject, GLib, LibraryCount };

constexpr const char* SharedObjects[LibraryCount] = {"libcairo.so.2",          "libpango-1.0.so.0",
                                                     "libpangocairo-1.0.so.0", "libfontconfig.so.1",
                                                     "libgobject-2.0.so.0",    "libglib-2.0.so.0"};

struct Libraries {
  DrawingFunctions functions;
  bool all = true;

  Libraries() {
    void* handles[LibraryCount] = {};
    for (int i = 0; i < LibraryCount; ++i) {
      // A library the process has already loaded (GTK's Cairo in the window) is found, not
      // loaded twice.
      handles[i] = dlopen(SharedObjects[i], RTLD_NOW | RTLD_LOCAL);
      all = all && handles[i] != nullptr;
    }
    if (!all) return;
#define QUORVIX_DRAWING_RESOLVE(library, name)                                          \
  functions.name = reinterpret_cast<decltype(&::name)>(dlsym(handles[library], #name)); \
  all = all && functions.name != nullptr;
    QUORVIX_DRAWING_FUNCTIONS(QUORVIX_DRAWING_RESOLVE)
#undef QUORVIX_DRAWING_RESOLVE
    // An older library than the one we were built against lacks a function: no drawing at all,
    // rather than a crash at the first call of the missing one.
  }
};

const Libraries& Loaded() {
  static const Libraries libraries;
  return libraries;
}

}  // namespace

bool DrawingLibrariesAvailable() { return Loaded().all; }

const DrawingFunctions& Draw() { return Loaded().functions; }
