#pragma once

// Allocation of the decoder process: the first allocation the size of the expected bitmap is
// served from a shared mapping of the record file, so FreeImage decodes straight into memory the
// program can map, and the pixels are never copied between the processes. Every other
// allocation, and this one when the decoder allocates something else first, goes to the C
// library as usual; the record then carries a copy instead.

#include <cstdint>

#include "engine/decoded_bitmap.h"

/// Maps the arena of `fd` (sizing the file when it is short) and serves the first allocation of
/// between `pixel_bytes` and `pixel_bytes` + DecodedArenaSlack from it. False when the file
/// cannot be sized or mapped; allocations then all go to the C library.
bool InstallPixelArena(int fd, uint64_t pixel_bytes);

/// Gives the memory of an arena the rows did not end up in back to the system, once the record
/// no longer needs anything in it. What lives in the arena reads as zeros afterwards.
void ReleaseUnusedArena(int fd);

/// Where `bits` (`size` bytes) lie in the record file, when they lie inside the arena's
/// allocation; an offset of 0 otherwise.
PixelsInFile LocateInArena(const void* bits, uint64_t size);
