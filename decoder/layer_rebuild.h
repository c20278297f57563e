#pragma once

// The decoder's side of rebuilding a document from its layers: read its layer records, tell the
// work that asks for, composite them and hand the picture on as a bitmap.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "decoder/layer_tree.h"
#include "engine/image/bitmap.h"

/// The picture of the whole document `file` rebuilt from its layers, drawn in bands of
/// `band_rows` (0: as memory requires), without the layers and groups whose names match a glob of
/// `hidden_layers`. Before anything is drawn, `planned` (when given) hears the work planned, and
/// ends the rebuild by returning false. Empty with `nothing_to_build` set when no visible layer
/// has pixels (unless globs hid some: the picture is then transparent), empty alone when the file
/// is damaged, memory runs out or `planned` refused.
Bitmap RebuildFromLayers(std::span<const uint8_t> file, int64_t band_rows, bool& nothing_to_build,
                         const std::function<bool(const CompositePlan&)>& planned = {},
                         const std::vector<std::string>& hidden_layers = {});

/// RebuildFromLayers of the document at `path`, mapped, with the work it plans told to `work_fd`
/// as engine/isolation/decoder_protocol.h says; empty also when the file cannot be read, shrinks
/// while it is read, or the work cannot be told.
Bitmap RebuildFromLayers(const char* path, int64_t band_rows, int work_fd, bool& nothing_to_build,
                         const std::vector<std::string>& hidden_layers = {});
