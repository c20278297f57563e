#pragma once

// The decoder's side of rebuilding a document from its layers: map the file, read its layer
// records, composite them and hand the picture on as a bitmap.

#include <cstdint>
#include <span>

#include "engine/image/bitmap.h"

/// The picture of the whole document `file` rebuilt from its layers; empty with
/// `nothing_to_build` set when no visible layer has pixels, empty alone when the file is damaged
/// or memory runs out.
Bitmap RebuildFromLayers(std::span<const uint8_t> file, bool& nothing_to_build);

/// RebuildFromLayers of the document at `path`, mapped; empty also when it cannot be read or
/// shrinks while it is read.
Bitmap RebuildFromLayers(const char* path, bool& nothing_to_build);
