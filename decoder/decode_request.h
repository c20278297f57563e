#pragma once

// One decode as the decoder process is asked for it: on its command line (one file a process) or
// in a request of the program that keeps it for several files (decoder_process.h). Both read the
// same options, so a kept decoder decodes a file exactly as a fresh one does.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/image/bitmap.h"
#include "engine/image/image_header.h"

/// Exit statuses of a decode (psd_decoder_main.cpp lists them all).
constexpr int DecodeUnreadable = 1;
constexpr int DecodeWrongRequest = 2;
constexpr int DecodeWriteFailed = 3;
constexpr int DecodeBeyondBound = 4;

/// What a decode is asked for (the options of psd_decoder_main.cpp).
struct DecodeRequest {
  uint64_t address_space = 0;
  uint64_t parent = 0;
  bool serve = false;
  bool any_format = false;
  uint64_t format_hint = 0;  // FREE_IMAGE_FORMAT offset by one: FIF_UNKNOWN is -1
  DecodeBound bound;
  bool cmyk_profile = false;
  bool to_srgb = false;
  bool from_layers = false;
  uint64_t band_rows = 0;
  std::vector<std::string> hidden_layers;
  std::string path;  // empty: none given
};

/// Reads `arguments` into `request`; false for an unknown or malformed option or a second path.
bool ParseDecodeRequest(std::span<const std::string> arguments, DecodeRequest& request);

/// Decodes the file at `request.path` as asked; 0 with the picture in `image`, else the exit
/// status of the failure (DecodeUnreadable, DecodeBeyondBound, DecoderNothingToRebuild).
int RunDecodeRequest(const DecodeRequest& request, Bitmap& image);
