#pragma once

// Writes Photoshop documents (PSD, and PSB with version 2) for tests, with the standard library
// and zlib only: header, colour-mode data, image resources, the layer-and-mask section (empty
// layers, or layer records with their channels raw, RLE, ZIP or ZIP with prediction) and the
// merged image data, raw or RLE (PackBits).
//
// Typical use:
//   PsdSpec spec = MakePsdSpec(PsdMode::Rgb, 8, 640, 480, 4);     // RGBA, zero-filled planes
//   FillPsdPlanes(spec, [](uint32_t x, uint32_t y, uint32_t channel) -> uint32_t {
//     return channel == 3 ? 255 : (x + y) & 0xFF;                  // sample value at its depth
//   });
//   spec.compression = PsdCompression::Rle;
//   WritePsdFile(path, spec);                                      // or WritePsd(spec) for bytes
//
// Samples are given at the document's depth: 0/1 for depth 1 (1 = black, as Photoshop stores
// bitmaps), 0..255 for 8, 0..65535 for 16, and the IEEE bit pattern (`PsdFloatBits`) for 32.
// For big images FillPsdPlanes is a template (no per-pixel indirect call) that runs at about a
// few ns per sample; callers may also write `spec.planes` themselves (big-endian, rows padded to
// whole bytes, see `PsdRowBytes`).

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

enum class PsdMode : uint16_t {
  Bitmap = 0,
  Greyscale = 1,
  Indexed = 2,
  Rgb = 3,
  Cmyk = 4,
  Multichannel = 7,
  Duotone = 8,
  Lab = 9,
};

enum class PsdCompression : uint16_t { Raw = 0, Rle = 1 };

enum class PsdChannelCompression : uint16_t { Raw = 0, Rle = 1, Zip = 2, ZipPrediction = 3 };

/// A layer mask: its rectangle, the value outside it and its samples (rows of the rectangle's
/// width at the document's depth, as a plane).
struct PsdLayerMask {
  int32_t top = 0, left = 0, bottom = 0, right = 0;
  uint8_t default_colour = 0;
  bool disabled = false;
  std::string plane;
  bool rendered = false;  // flag 0x08: the mask renders other data (the vector mask)
};

/// One layer record with its channels. Planes hold the rectangle's rows at the document's depth,
/// big-endian (see `PsdLayerPlane`).
struct PsdLayer {
  int32_t top = 0, left = 0, bottom = 0, right = 0;
  char blend_key[5] = "norm";
  /// The Pascal name's bytes (at most 255), and the Unicode name of a "luni" block when not
  /// empty.
  std::string name;
  std::u16string unicode_name;
  uint8_t opacity = 255;
  int fill_opacity = -1;  // 0..255 writes an "iOpa" block
  bool clipped = false;
  bool hidden = false;
  /// 0 none; 1 or 2 the record of an open or closed group (above its members); 3 the end marker
  /// below a group's members.
  uint32_t section = 0;
  PsdChannelCompression compression = PsdChannelCompression::Raw;
  struct Channel {
    int16_t id = 0;  // 0.. colours, -1 transparency, -2 mask, -3 real user mask
    std::string plane;
  };
  std::vector<Channel> channels;
  bool has_mask = false;
  PsdLayerMask mask;
  bool has_real_mask = false;  // written after `mask`, which must then be there too
  PsdLayerMask real_mask;
  /// Tagged blocks written after the others, e.g. {"vmsk", PsdVectorMaskBlock(...)}.
  struct Block {
    std::string key;
    std::string data;
  };
  std::vector<Block> blocks;
  /// The record's blending ranges as stored (eight bytes for the grey and each channel); none
  /// when empty.
  std::string blending_ranges;
};

/// A point of a path as fractions of the canvas: `x` across, `y` down.
struct PsdPathPoint {
  double x = 0;
  double y = 0;
};

/// A knot of a path: the control point before its anchor, the anchor, the one after.
struct PsdPathKnot {
  PsdPathPoint before, anchor, after;
};

/// A corner: both control points on the anchor, so the edges meeting there are straight.
inline PsdPathKnot PsdCornerKnot(double x, double y) { return {{x, y}, {x, y}, {x, y}}; }

struct PsdSubpath {
  bool closed = true;
  std::vector<PsdPathKnot> knots;
  /// How the shape combines with those before it: 0 exclude, 1 add, 2 subtract, 3 intersect.
  uint16_t operation = 0;
};

/// The data of a vector mask block ("vmsk"): the flags (1 inverted, 4 disabled), the fill rule
/// record, the initial fill record and each subpath's length record and knots.
std::string PsdVectorMaskBlock(const std::vector<PsdSubpath>& subpaths, uint32_t flags = 0,
                               bool initial_fill = false);

/// An action descriptor ("Objc") as adjustment, fill and effect blocks hold it: a class and keyed
/// values, written in the order they are added. Keys of four characters are written as such,
/// longer ones with their length.
class PsdDescriptorWriter {
 public:
  explicit PsdDescriptorWriter(std::string class_id) : class_id_(std::move(class_id)) {}
  PsdDescriptorWriter& Double(const std::string& key, double value);
  PsdDescriptorWriter& UnitFloat(const std::string& key, const std::string& unit, double value);
  PsdDescriptorWriter& Long(const std::string& key, int32_t value);
  PsdDescriptorWriter& Bool(const std::string& key, bool value);
  PsdDescriptorWriter& Enum(const std::string& key, const std::string& type,
                            const std::string& value);
  PsdDescriptorWriter& Text(const std::string& key, const std::u16string& value);
  PsdDescriptorWriter& Object(const std::string& key, const PsdDescriptorWriter& value);
  PsdDescriptorWriter& List(const std::string& key, const std::vector<PsdDescriptorWriter>& items);
  /// Any value: its four-character type, then `data` as it stands.
  PsdDescriptorWriter& Raw(const std::string& key, const std::string& type,
                           const std::string& data);
  /// The descriptor: an empty name, the class, the count and the items.
  std::string Bytes() const;
  /// The descriptor after its version (16), as a block holds it.
  std::string Versioned() const;

 private:
  std::string class_id_;
  uint32_t count_ = 0;
  std::string items_;
};

struct PsdResource {
  uint16_t id = 0;
  std::string data;
};

struct PsdSpec {
  uint16_t version = 1;  // 1 = PSD, 2 = PSB (wider lengths and RLE counts)
  PsdMode mode = PsdMode::Rgb;
  uint16_t depth = 8;  // 1, 8, 16 or 32
  uint32_t width = 1;
  uint32_t height = 1;
  uint16_t channels = 3;  // colour channels plus extra (alpha) channels
  PsdCompression compression = PsdCompression::Raw;
  /// The colour-mode data section: 768 bytes (all reds, greens, blues) for indexed documents.
  std::string colour_mode_data;
  /// Image resources in file order, e.g. {1046, two-byte colour count} or {1005, resolution}.
  std::vector<PsdResource> resources;
  /// The layer count of the layer section, with as many empty layers. Negative, as Photoshop
  /// writes it, says that the first extra channel is the merged image's transparency; 0 writes an
  /// empty layer section, and extra channels are then saved selections unless a resource says
  /// otherwise.
  int16_t layer_count = 0;
  /// Writes the layers, as 16- and 32-bit documents do, in a tagged block ("Lr16", "Lr32") after
  /// an empty layer info and the global layer mask.
  bool layers_in_tagged_block = false;
  /// Layer records, bottom first; when there are any, they replace the `layer_count` empty layers
  /// (a negative `layer_count` still writes their count negative).
  std::vector<PsdLayer> layers;
  /// Tagged blocks of the layer section after the global layer mask (and after the layers'
  /// block, when they are in one), e.g. {"Patt", patterns}; their data is padded to four bytes.
  std::vector<PsdLayer::Block> global_blocks;
  /// One plane per channel, `height` rows of `PsdRowBytes` bytes each, top row first.
  std::vector<std::string> planes;
  /// Ends the file after the image data's compression field, as a document whose composite is
  /// missing: the planes are not written.
  bool omit_composite = false;
};

/// Where the sections of a written document start (byte offsets into the result).
struct PsdOffsets {
  size_t colour_mode_data = 0;  // its 4-byte length
  size_t resources = 0;         // its 4-byte length
  size_t layers = 0;            // its 4- (PSD) or 8-byte (PSB) length
  size_t image_data = 0;        // the 2-byte compression field
  size_t rle_counts = 0;        // the byte-count table (RLE only)
  size_t pixels = 0;            // first byte of pixel data (raw planes or packed rows)
};

/// Bytes of one row of one channel.
inline size_t PsdRowBytes(uint32_t width, uint16_t depth) {
  return (static_cast<size_t>(width) * depth + 7) / 8;
}

/// A spec with `channels` zero-filled planes; for indexed documents also a grey ramp palette. When
/// there are more channels than colours, the first extra one is marked as transparency (layer count
/// -1); set `layer_count` to 0 for a saved selection.
PsdSpec MakePsdSpec(PsdMode mode, uint16_t depth, uint32_t width, uint32_t height,
                    uint16_t channels);

/// Stores one sample (at the document's depth) of `channel` at `x`, `y` (top row 0).
inline void SetPsdSample(PsdSpec& spec, uint32_t channel, uint32_t x, uint32_t y, uint32_t value) {
  char* row = spec.planes[channel].data() + PsdRowBytes(spec.width, spec.depth) * y;
  switch (spec.depth) {
    case 1: {
      const unsigned char bit = static_cast<unsigned char>(0x80u >> (x & 7));
      unsigned char& byte = reinterpret_cast<unsigned char&>(row[x >> 3]);
      byte =
          value ? static_cast<unsigned char>(byte | bit) : static_cast<unsigned char>(byte & ~bit);
      return;
    }
    case 8:
      row[x] = static_cast<char>(value);
      return;
    case 16:
      row[2 * x] = static_cast<char>(value >> 8);
      row[2 * x + 1] = static_cast<char>(value);
      return;
    case 32:
      row[4 * x] = static_cast<char>(value >> 24);
      row[4 * x + 1] = static_cast<char>(value >> 16);
      row[4 * x + 2] = static_cast<char>(value >> 8);
      row[4 * x + 3] = static_cast<char>(value);
      return;
    default:
      return;
  }
}

/// Fills every sample of every plane with `sample(x, y, channel)`; planes are (re)allocated.
template <typename SampleFunction>
void FillPsdPlanes(PsdSpec& spec, SampleFunction&& sample) {
  const size_t row_bytes = PsdRowBytes(spec.width, spec.depth);
  spec.planes.assign(spec.channels, std::string(row_bytes * spec.height, '\0'));
  for (uint32_t channel = 0; channel < spec.channels; ++channel) {
    for (uint32_t y = 0; y < spec.height; ++y) {
      for (uint32_t x = 0; x < spec.width; ++x) {
        SetPsdSample(spec, channel, x, y, static_cast<uint32_t>(sample(x, y, channel)));
      }
    }
  }
}

/// The bit pattern of a 32-bit float sample.
inline uint32_t PsdFloatBits(float value) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

/// The colour-mode data of an indexed document from up to 256 RGB triples (0xRRGGBB); the rest
/// of the 256 entries are black.
std::string PsdPalette(const std::vector<uint32_t>& colours);

/// Resource 1046 (number of colours in the palette) for `count` colours.
PsdResource PsdColourCountResource(uint16_t count);

/// Resource 1047 (index of the transparent colour).
PsdResource PsdTransparentIndexResource(uint16_t index);

/// Resource 1006 (Pascal names of the extra channels).
PsdResource PsdAlphaNamesResource(const std::vector<std::string>& names);

/// Resource 1053 (an identifier for each extra channel).
PsdResource PsdAlphaIdentifiersResource(const std::vector<uint32_t>& identifiers);

/// Resource 1039 (the ICC profile).
PsdResource PsdIccProfileResource(const std::string& profile);

/// Resource 1057 (version info) saying whether the stored composite is the real picture.
PsdResource PsdVersionInfoResource(bool has_real_merged_data);

/// A plane of `width` x `height` samples at `depth` from `sample(x, y)` (raw sample values as for
/// SetPsdSample).
template <typename SampleFunction>
std::string PsdLayerPlane(uint32_t width, uint32_t height, uint16_t depth,
                          SampleFunction&& sample) {
  PsdSpec shape;
  shape.width = width;
  shape.height = height;
  shape.depth = depth;
  shape.planes.assign(1, std::string(PsdRowBytes(width, depth) * height, '\0'));
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      SetPsdSample(shape, 0, x, y, static_cast<uint32_t>(sample(x, y)));
    }
  }
  return shape.planes[0];
}

/// A sample of `depth` for `value` in 0..1 (32-bit: the float's bits).
uint32_t PsdSampleOf(double value, uint16_t depth);

/// Resource 1005 (resolution) for `dpi` dots per inch both ways.
PsdResource PsdResolutionResource(uint32_t dpi);

/// PackBits-encodes one row as Photoshop does.
std::string PackBitsRow(const char* row, size_t size);

/// Byte offsets of the header fields, for tests that damage a written document.
constexpr size_t PsdVersionOffset = 4;
constexpr size_t PsdChannelsOffset = 12;
constexpr size_t PsdHeightOffset = 14;
constexpr size_t PsdWidthOffset = 18;
constexpr size_t PsdDepthOffset = 22;
constexpr size_t PsdModeOffset = 24;

/// Overwrites `size` bytes (1 to 8) at `offset` of `bytes` with `value`, big-endian; nothing when
/// that range is outside `bytes`.
void PutBigEndian(std::string& bytes, size_t offset, uint64_t value, size_t size);

/// The whole document; `offsets`, when given, receives where each section starts. Planes that are
/// missing or short are written as zeros, so a spec whose header lies still yields a file.
std::string WritePsd(const PsdSpec& spec, PsdOffsets* offsets = nullptr);

/// Writes the document to `path`; false when the file cannot be written.
bool WritePsdFile(const std::string& path, const PsdSpec& spec);
