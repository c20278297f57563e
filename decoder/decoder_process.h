#pragma once

// What every decoder process does before it touches a file, shared with the tests' fake decoders
// so that they end and limit themselves as the real one does.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/image/bitmap.h"

/// Ties this process to the program `parent` (0: none): it is killed when the program ends. Then
/// leaves no core dump, hides its memory until DecoderMayBeRead, and limits its address space to
/// `address_space` bytes (0: no limit). False when the program is already gone.
bool EnterDecoderProcess(uint64_t parent, uint64_t address_space);

/// Lets the program read this process's memory, once nothing risky runs any more.
void DecoderMayBeRead();

/// Decodes one file of a kept decoder: its `arguments` (decode_request.h), the file at `path`;
/// 0 with the picture in `image`, else the exit status this process ends with.
using DecodeHandler = std::function<int(const std::vector<std::string>& arguments,
                                        const std::string& path, Bitmap& image)>;

/// The loop of a decoder kept for several files (engine/isolation/decoder_protocol.h): takes the
/// program's requests one by one, each file under its own address-space limit within the one
/// this process entered with, and hands each picture over as a one-file decoder does. Returns
/// the exit status: 0 when the program has no more files, or when this process has grown too
/// large to be given another; a failed decode's status; DecodeWrongRequest (decode_request.h)
/// for a request out of protocol.
int ServeDecodes(const DecodeHandler& decode);
