#pragma once

// The one memory bound of decoded documents, watermark images and resized results alike.

#include <cstdint>

/// A decode needs about this many times the decoded size (the decoder's bitmap, our copy, work).
constexpr uint64_t DecodeMemoryFactor = 3;

/// True when a bitmap of `decoded_bytes` can be worked on with `available_memory` (0: unknown).
bool FitsDecodeMemory(uint64_t decoded_bytes, uint64_t available_memory);

/// Memory this machine can give a decode now (MemAvailable of /proc/meminfo, else physical
/// memory, within the container's limit); 0 when unknown.
uint64_t AvailableMemoryBytes();
