#pragma once

// The decoder's side of rebuilding a document from its layers: map the file, read its layer
// records, tell the program the work that asks for, composite them and hand the picture on as a
// bitmap.

#include <cstdint>

#include "engine/bitmap.h"

/// The picture of the document at `path` rebuilt from its layers, drawn in bands of `band_rows`
/// (0: as memory requires); before drawing, the work it plans goes to `work_fd` as
/// engine/decoder_protocol.h says. Empty with `nothing_to_build` set when no visible layer has
/// pixels, empty alone when the file is damaged, memory runs out or the work cannot be told.
Bitmap RebuildFromLayers(const char* path, int64_t band_rows, int work_fd, bool& nothing_to_build);
