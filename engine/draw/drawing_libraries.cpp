#include "engine/draw/drawing_libraries.h"

#include <dlfcn.h>

#include <initializer_list>
#include <mutex>

namespace {

enum LibraryIndex { Cairo, Pango, PangoCairo, Fontconfig, GObject, GLib, LibraryCount };

constexpr const char* SharedObjects[LibraryCount] = {"libcairo.so.2",          "libpango-1.0.so.0",
                                                     "libpangocairo-1.0.so.0", "libfontconfig.so.1",
                                                     "libgobject-2.0.so.0",    "libglib-2.0.so.0"};

// One table, filled library by library: the decoder process needs Cairo for paths and must not
// pay for the text libraries.
struct Libraries {
  DrawingFunctions functions;
  std::mutex mutex;
  bool tried[LibraryCount] = {};
  bool found[LibraryCount] = {};

  // Opens the libraries of `wanted` not tried yet and fills their functions; true when every one
  // of `wanted` is there with all of its functions. Entries once filled are never written again,
  // so readers of a library that was found need no lock.
  bool Open(std::initializer_list<LibraryIndex> wanted) {
    std::lock_guard lock(mutex);
    void* handles[LibraryCount] = {};
    bool opening[LibraryCount] = {};
    for (const LibraryIndex library : wanted) {
      if (tried[library]) continue;
      tried[library] = opening[library] = true;
      // A library the process has already loaded (GTK's Cairo in the window) is found, not
      // loaded twice.
      handles[library] = dlopen(SharedObjects[library], RTLD_NOW | RTLD_LOCAL);
      found[library] = handles[library] != nullptr;
    }
#define QUORVIX_DRAWING_RESOLVE(library, name)                                            \
  if (opening[library] && found[library]) {                                               \
    functions.name = reinterpret_cast<decltype(&::name)>(dlsym(handles[library], #name)); \
    found[library] = functions.name != nullptr;                                           \
  }
    QUORVIX_DRAWING_FUNCTIONS(QUORVIX_DRAWING_RESOLVE)
#undef QUORVIX_DRAWING_RESOLVE
    // An older library than the one we were built against lacks a function: no drawing with it
    // at all, rather than a crash at the first call of the missing one.
    bool all = true;
    for (const LibraryIndex library : wanted) all = all && found[library];
    return all;
  }
};

Libraries& Loaded() {
  static Libraries libraries;
  return libraries;
}

bool OpenAll() { return Loaded().Open({Cairo, Pango, PangoCairo, Fontconfig, GObject, GLib}); }

bool OpenCairo() { return Loaded().Open({Cairo}); }

}  // namespace

bool DrawingLibrariesAvailable() {
  static const bool all = OpenAll();
  return all;
}

bool CairoAvailable() {
  static const bool cairo = OpenCairo();
  return cairo;
}

const DrawingFunctions& Draw() { return Loaded().functions; }
