#pragma once

// The first step of every file, the input read as a Photoshop document, and the watermark image.
// Both are decoded in the decoder process.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/image/bitmap.h"

/// What a document's picture is made of beyond its stored composite.
struct LayerRequest {
  /// Rebuild from the layers even when the stored composite is genuine.
  bool from_layers = false;
  /// Globs on layer and group names (UTF-8); each match is left out, which asks for a rebuild.
  std::vector<std::string> hidden_layers;

  bool ForcesRebuild() const { return from_layers || !hidden_layers.empty(); }
};

/// Loads `path` as a Photoshop document; empty when it cannot be read or has no pixels. The
/// picture is the stored composite, or the layers rebuilt when the composite is missing or a
/// placeholder, or when `layers` asks for them; `left_out` (when given) then receives what the
/// document holds that the rebuild did not draw, as DescribeLeftOut says it (empty: nothing).
Bitmap LoadInputImage(const std::string& path, const LayerRequest& layers = {},
                      std::string* left_out = nullptr);

/// The kinds of `left_out` bits (engine/isolation/decoder_protocol.h) for people, e.g.
/// "adjustment layers, layer effects"; empty for none.
std::string DescribeLeftOut(uint64_t left_out);

/// Loads the watermark image at `path` (a Photoshop document or any format FreeImage reads) after
/// a look at its declared size, which must keep WatermarkBound; empty when it cannot be read, is
/// too large or does not decode.
Bitmap LoadWatermarkImage(const std::string& path);
