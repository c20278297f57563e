#pragma once

// Runs the risky decode of a Photoshop document, or of an image of any other format, in a child
// process (quorvix-psd-decoder, in the helper folder), with an address-space limit from the
// declared size and a wall-clock limit, and receives the bitmap
// (engine/isolation/decoder_protocol.h). The child dies with the program. Whatever happens to the
// child, the caller gets a bitmap or an empty result.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/image/bitmap.h"
#include "engine/image/image_header.h"
#include "engine/isolation/decoder_protocol.h"
#include "engine/psd/psd_check.h"
#include "platform/mapped_file.h"

/// Address space a decoder child of no image needs (the program, its libraries, their heaps).
constexpr uint64_t DecoderBaseAddressSpace = 512ull << 20;
/// The decoder gets its base plus this many times the decoded size.
constexpr uint64_t DecoderAddressSpaceFactor = 4;
/// Wall-clock time of a decode: a base plus a time per decoded byte.
constexpr std::chrono::milliseconds DecodeBaseTime{10000};
constexpr uint64_t DecodeBytesPerSecond = 16ull << 20;
/// And, for a CMYK document converted through its colour profile, a time per pixel.
constexpr uint64_t ProfilePixelsPerSecond = 1ull << 20;
/// And, for a picture rebuilt from layers, a time per byte of its work and of its layer section:
/// the most it may take, whatever it asks for.
constexpr uint64_t RebuildBytesPerSecond = 16ull << 20;
constexpr uint64_t LayerSectionBytesPerSecond = 1ull << 20;
/// A rebuild tells the work it plans once it has read the layer section (within the base time and
/// the time for its bytes); from then on it has the time of a decode plus one per unit of work.
constexpr uint64_t RebuildWorkPerSecond = 32ull << 20;

/// What the decoder makes the picture of: the composite stored in the document, or its layers.
enum class PsdSource { StoredComposite, Layers };

/// What the decoder does with a grey or RGB document's colours; CMYK and Lab always become sRGB.
enum class PsdColours {
  ToSrgb,  // through the document's profile; the picture carries none
  Keep,    // samples and profile as they are
};

/// Decodes `file` (opened at `path`, checked as `layout`) in a child process; empty when the
/// decoder cannot be started, fails, crashes, runs out of time or memory, or returns garbage, and
/// for PsdSource::Layers also when no visible layer has pixels, which sets `nothing_to_rebuild`.
/// A rebuild leaves out the layers and groups whose names match a glob of `hidden_layers`, and
/// tells `left_out` (LeftOut bits) what the document holds that it does not draw.
Bitmap DecodePsdIsolated(const MappedFile& file, const PsdLayout& layout,
                         PsdSource source = PsdSource::StoredComposite,
                         bool* nothing_to_rebuild = nullptr,
                         PsdColours colours = PsdColours::ToSrgb,
                         const std::vector<std::string>& hidden_layers = {},
                         uint64_t* left_out = nullptr);

/// Decodes the image file open at `fd` (any format FreeImage reads but PSD, found by its content,
/// else by `format_hint`) in a child process that first looks at the declared size and refuses
/// one beyond `bound`; empty when the size breaks the bound or the memory there is, or the
/// decode fails as for DecodePsdIsolated. The descriptor stays the caller's.
Bitmap DecodeImageIsolated(int fd, FREE_IMAGE_FORMAT format_hint, const DecodeBound& bound);

/// The address-space limit a child decoding `decoded_bytes` runs under.
uint64_t DecoderAddressSpace(uint64_t decoded_bytes);

/// The wall-clock time a child decoding `decoded_bytes` may take before it is killed.
std::chrono::milliseconds DecodeTimeLimit(uint64_t decoded_bytes);

/// The time a document may take: its decoded bytes, and its pixels when they are converted
/// through the document's colour profile.
std::chrono::milliseconds DecodeTimeLimit(const PsdLayout& layout);

/// The most a rebuild of `layout` from its layers may take, whatever it asks for: the document's
/// time, and its canvas's work memory and layer section at their rates.
std::chrono::milliseconds RebuildTimeLimit(const PsdLayout& layout);

/// The time a rebuild of `layout` may take once it has told the `work` it plans: the document's
/// time and the work at its rate, within the most above.
std::chrono::milliseconds RebuildTimeLimit(const PsdLayout& layout, uint64_t work);

/// The address space of a decoder rebuilding `layout` from its layers: its base, the rebuild's
/// work memory and the mapped file.
uint64_t RebuildAddressSpace(const PsdLayout& layout);

/// Test seams: where the decoder lives (empty: the helper folder; the tests' fake decoders live
/// elsewhere) and a wall-clock limit replacing the computed one (zero: computed). Not for use
/// while decoding.
void SetPsdDecoderFolder(const std::string& folder);
void SetDecodeTimeLimitForTesting(std::chrono::milliseconds limit);
/// Test seam: false makes the parent take the rows down the pipe, as where the system does not
/// let it read the decoder's memory.
void SetCopyFromDecoderForTesting(bool allowed);
/// Test seam: rebuilds from the layers are drawn in bands of `rows` (0: as their memory requires).
void SetRebuildBandRowsForTesting(int64_t rows);
