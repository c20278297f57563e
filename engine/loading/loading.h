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

/// What the caller asks of a document's load.
struct LoadRequest {
  /// Keep a grey or RGB document's samples and ICC profile instead of converting its colours to
  /// sRGB (grey with transparency too: its widened picture carries the grey profile). CMYK and
  /// Lab always become sRGB.
  bool keep_profile = false;
  LayerRequest layers;
};

/// Why an input document gave no picture.
enum class LoadFault {
  None,
  NotDocument,  // no Photoshop signature
  Damaged,      // unreadable, damaged, unsupported, or the decoder failed
  TooLarge,     // sound, but its decode needs more memory than there is
};

/// What a load found beside the picture.
struct LoadReport {
  LoadFault fault = LoadFault::None;
  /// What the document holds that its picture, rebuilt from the layers, does not draw, as
  /// DescribeLeftOut says it; empty when nothing was left out or the composite was used.
  std::string left_out;
  /// A greyscale document: its picture is grey, as RGBA of grey pixels when it has transparency
  /// (no grey bitmap type carries alpha).
  bool grey = false;
};

/// Loads `path` as a Photoshop document; empty when it cannot be read or has no pixels, with the
/// reason in `report` when given. The picture is the stored composite, or the layers rebuilt
/// when the composite is missing or a placeholder, or when `request.layers` asks for them. Its
/// colours come as sRGB through its ICC profile and the bitmap carries no profile, unless
/// `request.keep_profile`.
Bitmap LoadInputImage(const std::string& path, const LoadRequest& request = {},
                      LoadReport* report = nullptr);

/// The kinds of `left_out` bits (engine/isolation/decoder_protocol.h) for people, e.g.
/// "adjustment layers, layer effects"; empty for none.
std::string DescribeLeftOut(uint64_t left_out);

/// The memory a decode of the document at `path` needs by its declared size (the decode's factor
/// times its bitmap, or a rebuild's work where one may be made, `layers` asking for it or the
/// composite flagged or missing); 0 when it is no document that passes the structure check.
uint64_t InputMemoryNeed(const std::string& path, const LayerRequest& layers = {});

/// Loads the watermark image at `path` (a Photoshop document or any format FreeImage reads) after
/// a look at its declared size, which must keep WatermarkBound; empty when it cannot be read, is
/// too large or does not decode.
Bitmap LoadWatermarkImage(const std::string& path);
