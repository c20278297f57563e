#pragma once

// What every decoder process does before it touches a file, shared with the tests' fake decoders
// so that they end and limit themselves as the real one does.

#include <cstdint>

/// Ties this process to the program `parent` (0: none): it is killed when the program ends. Then
/// leaves no core dump, hides its memory until DecoderMayBeRead, and limits its address space to
/// `address_space` bytes (0: no limit). False when the program is already gone.
bool EnterDecoderProcess(uint64_t parent, uint64_t address_space);

/// Lets the program read this process's memory, once nothing risky runs any more.
void DecoderMayBeRead();
