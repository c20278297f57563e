#pragma once

// Whether a document's first extra channel is its transparency or a saved selection. Photoshop
// keeps selections, spot colours and the merged transparency all as extra channels of the merged
// image; only the file's own records tell them apart.

#include <cstdint>
#include <span>

#include "engine/psd/psd_check.h"

/// True when the first extra channel of the checked document `file` is the transparency of its
/// merged image: the layer count is negative, or that channel is named "Transparency" or has alpha
/// identifier 0. False when the document has no extra channel or its extra channels are saved
/// selections or spot colours.
bool HasMergedTransparency(std::span<const uint8_t> file, const PsdLayout& layout);
