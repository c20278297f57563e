#include "decoder/decode_request.h"

#include <fcntl.h>

#include <charconv>
#include <string_view>

#include "decoder/colour_profile.h"
#include "decoder/layer_rebuild.h"
#include "decoder/stored_decode.h"
#include "engine/image/file_stream.h"
#include "engine/isolation/decoder_protocol.h"

namespace {

bool ReadNumber(std::string_view text, uint64_t& number) {
  const char* end = text.data() + text.size();
  return std::from_chars(text.data(), end, number).ptr == end;
}

bool StartsWith(std::string_view text, std::string_view prefix, std::string_view& rest) {
  if (!text.starts_with(prefix)) return false;
  rest = text.substr(prefix.size());
  return true;
}

}  // namespace

bool ParseDecodeRequest(std::span<const std::string> arguments, DecodeRequest& request) {
  for (const std::string& argument : arguments) {
    std::string_view value;
    uint64_t number = 0;
    if (StartsWith(argument, "--address-space=", value)) {
      if (!ReadNumber(value, request.address_space)) return false;
    } else if (StartsWith(argument, "--parent=", value)) {
      if (!ReadNumber(value, request.parent)) return false;
    } else if (argument == "--serve") {
      request.serve = true;
    } else if (argument == "--any-format") {
      request.any_format = true;
    } else if (StartsWith(argument, "--format-hint=", value)) {
      if (!ReadNumber(value, request.format_hint) || request.format_hint > FIF_JXR + 1)
        return false;
    } else if (StartsWith(argument, "--max-side=", value)) {
      if (!ReadNumber(value, number) || number > UINT32_MAX) return false;
      request.bound.max_side = static_cast<uint32_t>(number);
    } else if (StartsWith(argument, "--max-bytes=", value)) {
      if (!ReadNumber(value, request.bound.max_decoded_bytes)) return false;
    } else if (argument == "--cmyk-profile") {
      request.cmyk_profile = true;
    } else if (argument == "--srgb") {
      request.to_srgb = true;
    } else if (argument == "--from-layers") {
      request.from_layers = true;
    } else if (StartsWith(argument, "--band-rows=", value)) {
      if (!ReadNumber(value, request.band_rows) || request.band_rows > UINT32_MAX) return false;
    } else if (StartsWith(argument, "--hide-layer=", value)) {
      request.hidden_layers.emplace_back(value);
    } else if (request.path.empty() && !argument.empty()) {
      request.path = argument;
    } else {
      return false;
    }
  }
  return true;
}

int RunDecodeRequest(const DecodeRequest& request, Bitmap& image) {
  const char* path = request.path.c_str();
  // Read through a large buffer: FreeImage's own file reading asks for 4 KiB at a time.
  FileStream input(open(path, O_RDONLY | O_CLOEXEC), "rb");
  if (!input.IsOpen()) return DecodeUnreadable;
  if (request.any_format) {
    const auto hint = static_cast<FREE_IMAGE_FORMAT>(static_cast<int>(request.format_hint) - 1);
    switch (DecodeAnyFormat(input, hint, request.bound, image)) {
      case AnyFormatDecode::Decoded:
        break;
      case AnyFormatDecode::BeyondBound:
        return DecodeBeyondBound;
      case AnyFormatDecode::Unreadable:
        return DecodeUnreadable;
    }
  } else if (request.from_layers) {
    bool nothing_to_build = false;
    image = RebuildFromLayers(path, static_cast<int64_t>(request.band_rows), DecoderRecordFd,
                              nothing_to_build, request.hidden_layers);
    if (nothing_to_build) return DecoderNothingToRebuild;
    if (request.to_srgb) {
      image = RebuiltPictureToSrgb(std::move(image), path);
    }
  } else {
    image = DecodeStoredComposite(path, input, request.cmyk_profile, request.to_srgb);
  }
  return image ? 0 : DecodeUnreadable;
}
