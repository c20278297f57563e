#pragma once

// Our own structure check of a Photoshop document, run before any decoder sees the file. It reads
// only the header, the section lengths, the image resources and the merged image's RLE table, so it
// costs well under a millisecond, and all of its arithmetic is 64-bit with overflow checks.

#include <cstdint>
#include <optional>
#include <span>

#include "engine/psd/psd_header.h"

/// Where the parts of a checked document lie and what decoding it will need.
struct PsdLayout : PsdHeader {
  uint16_t compression = 0;  // 0 raw, 1 RLE
  uint64_t file_size = 0;
  uint64_t rle_counts_offset = 0;        // RLE byte-count table (RLE only)
  uint64_t pixels_offset = 0;            // first byte of the raw planes or packed rows
  uint64_t row_bytes = 0;                // bytes of one unpacked row of one channel
  uint64_t decoded_bytes = 0;            // bytes of the bitmap a decoder makes of the merged image
  std::optional<uint16_t> colour_count;  // resource 1046
  std::optional<uint16_t> transparent_index;  // resource 1047
  /// Where a resource's data lies in the file; size 0 when the document has none.
  struct Block {
    uint64_t offset = 0;
    uint64_t size = 0;
  };
  Block icc_profile;          // resource 1039
  Block alpha_names;          // resource 1006: Pascal names of the extra channels
  Block unicode_alpha_names;  // resource 1045
  Block alpha_identifiers;    // resource 1053: four bytes an extra channel
  Block resolution;           // resource 1005
  /// Resource 1057 says the stored composite is a placeholder (saved without compatibility).
  bool placeholder_composite = false;
  /// The composite is missing, shorter than the header promises, or stored in a form no decoder
  /// reads; the offsets of the image data are then unset.
  bool composite_missing = false;
  /// Bytes a rebuild from the layers works in: the canvas in floats, twice more for one layer and
  /// one isolated group, and the result (0 unless the picture is rebuilt).
  uint64_t rebuild_bytes = 0;

  /// True when the picture can be built from the layers: an RGB, greyscale, (8- or 16-bit)
  /// CMYK or Lab, or 8-bit indexed document with a layer section.
  bool CanRebuildFromLayers() const {
    if (layers_size == 0) return false;
    switch (mode) {
      case PsdModeRgb:
      case PsdModeGreyscale:
        return true;
      case PsdModeCmyk:
      case PsdModeLab:
        return depth <= 16;
      case PsdModeIndexed:
        return depth == 8;
      default:
        return false;
    }
  }
  /// True when the picture may have to come from the layers: the composite is missing or flagged
  /// as a placeholder, and CanRebuildFromLayers. A flagged composite is still looked at
  /// (CompositeIsUniform) before it is passed over.
  bool RebuildsFromLayers() const {
    return (placeholder_composite || composite_missing) && CanRebuildFromLayers();
  }
};

/// Checks `bytes` as a whole PSD or PSB file; std::nullopt when it is damaged, unsupported, or its
/// decode would need more than `available_memory` bytes (0 means no limit).
std::optional<PsdLayout> CheckPsdStructure(std::span<const uint8_t> bytes,
                                           uint64_t available_memory);

/// Sizes `layout` for a rebuild from its layers (decoded_bytes of the widened picture,
/// rebuild_bytes); false when that overflows or breaks `available_memory` (0 means no limit).
bool PlanLayerRebuild(PsdLayout& layout, uint64_t available_memory);

/// Sizes `layout` for the decode of its stored composite (decoded_bytes, rebuild_bytes 0); false
/// when that overflows or breaks `available_memory` (0 means no limit).
bool PlanStoredDecode(PsdLayout& layout, uint64_t available_memory);

/// True when every colour channel of the checked document `bytes`'s composite holds one value
/// throughout, as the placeholder a document saved without its composite carries; false when
/// the composite is missing or a packed row does not unpack.
bool CompositeIsUniform(std::span<const uint8_t> bytes, const PsdLayout& layout);

/// True when every packed row of the checked document `bytes` unpacks into one row within its
/// own bytes (always for a raw merged image). The decoder trusts that and reads past a row that
/// does not; walking the run headers of a large document takes milliseconds, so the decoder
/// process does it, beside the program's own work.
bool PackedRowsFit(std::span<const uint8_t> bytes, const PsdLayout& layout);
