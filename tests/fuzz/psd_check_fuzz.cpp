// The PSD structure check and the planes, palette and transparency records read behind it, on
// arbitrary bytes.

#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/psd/psd_channels.h"
#include "engine/psd/psd_check.h"
#include "engine/psd/psd_transparency.h"

namespace {
// Enough for any document a small input can describe, small enough to keep runs fast.
constexpr uint64_t FuzzMemoryLimit = 256ull << 20;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  const std::optional<PsdLayout> layout = CheckPsdStructure(bytes, FuzzMemoryLimit);
  if (!layout) return 0;
  for (uint16_t channel = 0; channel < layout->channels && channel < 4; ++channel) {
    ReadPsdChannel(bytes, *layout, channel);
  }
  ReadPsdPalette(bytes, *layout);
  HasMergedTransparency(bytes, *layout);
  return 0;
}
