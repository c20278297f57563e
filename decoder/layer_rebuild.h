#pragma once

// The decoder's side of rebuilding a document from its layers: map the file, read its layer
// records, composite them and hand the picture on as a bitmap.

#include "engine/image/bitmap.h"

/// The picture of the document at `path` rebuilt from its layers; empty with `nothing_to_build`
/// set when no visible layer has pixels, empty alone when the file is damaged or memory runs out.
Bitmap RebuildFromLayers(const char* path, bool& nothing_to_build);
