#pragma once

// The fixed header of a Photoshop document, the lengths of its sections and its image resources:
// read by the structure check in the program and by the layer reader in the decoder process, so
// both agree on what a document is. Untrusted bytes: every length is checked against the file.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

enum PsdColourMode : uint16_t {
  PsdModeBitmap = 0,
  PsdModeGreyscale = 1,
  PsdModeIndexed = 2,
  PsdModeRgb = 3,
  PsdModeCmyk = 4,
  PsdModeMultichannel = 7,
  PsdModeDuotone = 8,
  PsdModeLab = 9,
};

/// Bounds of a document we agree to decode.
constexpr uint16_t MaxPsdChannels = 56;
constexpr uint32_t MaxPsdSide = 30000;
constexpr uint32_t MaxPsbSide = 300000;

/// Image resource 1039: the document's ICC profile.
constexpr uint16_t PsdIccProfileResourceId = 1039;

/// The header fields and where the sections after it lie (offsets are of the first byte after
/// each section's length field).
struct PsdHeader {
  uint16_t version = 1;  // 1 PSD, 2 PSB
  uint16_t channels = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t depth = 0;
  uint16_t mode = 0;
  uint64_t colour_mode_offset = 0;
  uint64_t colour_mode_size = 0;
  uint64_t resources_offset = 0;
  uint64_t resources_size = 0;
  uint64_t layers_offset = 0;
  uint64_t layers_size = 0;

  /// First byte of the merged image data, right after the layer section.
  uint64_t ImageDataOffset() const { return layers_offset + layers_size; }
  /// Colour channels of the mode (3 for RGB, 1 for greyscale); the rest are extra channels.
  uint16_t ColourChannels() const;
};

/// Reads the header and section lengths of the whole file `file`; std::nullopt when the signature
/// or version is wrong, the channel count, a side, the depth or the mode is outside what we
/// decode, or a section runs past the end of the file.
std::optional<PsdHeader> ReadPsdHeader(std::span<const uint8_t> file);

/// Calls `visit(id, offset, data)` for each image resource of `file` in order (`offset` is where
/// its data lies in the file); false when a block has an unknown signature or runs past its
/// section, or as soon as `visit` returns false.
bool ForEachPsdResource(
    std::span<const uint8_t> file, const PsdHeader& header,
    const std::function<bool(uint16_t id, uint64_t offset, std::span<const uint8_t> data)>& visit);

/// The data of the first image resource `id` of `file`; empty when it has none or its resources
/// are damaged.
std::span<const uint8_t> FindPsdResource(std::span<const uint8_t> file, const PsdHeader& header,
                                         uint16_t id);
