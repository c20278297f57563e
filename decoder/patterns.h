#pragma once

// The patterns a document keeps ("Patt", "Pat2", "Pat3" blocks of its layer section), which
// pattern fill layers and pattern overlays repeat over their area. Their headers are read with
// the layers; a pattern's pixels are decoded only when a layer draws it.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "decoder/descriptor.h"
#include "engine/psd/psd_header.h"

struct LayerRect;

/// Patterns larger than this on a side are not drawn.
constexpr int64_t MaxPatternSide = 30000;
constexpr int64_t MaxPatternArea = int64_t{1} << 25;

struct DocumentPattern {
  std::string id;  // the unique id effects and fills name it by
  uint32_t mode = 0;
  int64_t width = 0;
  int64_t height = 0;
  /// One written array of its pixels: where its data lies in the file, and how it is stored.
  struct Plane {
    bool present = false;
    uint64_t offset = 0;  // first byte after the compression byte
    uint64_t length = 0;
    uint32_t depth = 8;
    uint8_t compression = 0;  // 0 raw, 1 PackBits with two-byte row counts
    int64_t width = 0;
    int64_t height = 0;
  };
  std::vector<Plane> colours;  // as many as its mode has
  Plane alpha;                 // the array's user mask, when written
};

/// The patterns of `file` (header `header`); those whose data breaks their block are skipped.
std::vector<DocumentPattern> ReadDocumentPatterns(std::span<const uint8_t> file,
                                                  const PsdHeader& header);

/// A pattern's pixels in a document's channels: `colours` and alpha per pixel, straight colour.
struct PatternTile {
  int64_t width = 0;
  int64_t height = 0;
  int colours = 3;
  std::vector<float> samples;
};

/// Decodes `pattern` for a document of colour mode `mode` with `colours` channels; std::nullopt
/// when its data is damaged or its mode cannot be shown in the document's.
std::optional<PatternTile> DecodePattern(std::span<const uint8_t> file,
                                         const DocumentPattern& pattern, uint16_t mode,
                                         int colours);

/// True when `pattern` can be decoded for a document of colour mode `mode`.
bool PatternDrawable(const DocumentPattern& pattern, uint16_t mode);

/// How a fill or an overlay lays its pattern out.
struct PatternPlacement {
  std::string id;
  double scale = 1;
  bool align = true;  // linked with the layer
  double phase_x = 0;
  double phase_y = 0;
};

/// The placement of `settings` (a "PtFl" fill's or a pattern overlay's descriptor); std::nullopt
/// when it names no pattern.
std::optional<PatternPlacement> ReadPatternPlacement(const Descriptor& settings);

/// Writes `tile` repeated over `region` as `placement` says, from `origin_x`, `origin_y` (plus
/// the phase):
/// `colours` channels and alpha per pixel, `stride` floats apart. Scaled patterns are sampled
/// between pixels.
void FillPattern(const PatternTile& tile, const PatternPlacement& placement, double origin_x,
                 double origin_y, const LayerRect& region, float* out, size_t stride);
