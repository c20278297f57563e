// quorvix-psd-decoder: decodes one Photoshop document (or, with --any-format, one image of any
// other format FreeImage reads) with FreeImage in a process of its own, so that a damaged file can
// crash, loop or exhaust memory here without harming the program.
//
//   quorvix-psd-decoder [--parent=PID] [--address-space=BYTES] [--cmyk-profile]
//                       [--srgb | --srgb-widened]
//                       [--from-layers [--band-rows=N] [--hide-layer=GLOB]...]
//                       [--any-format --format-hint=FIF --max-side=N --max-bytes=N] FILE
//
// With --any-format the header is looked at first where the format allows it, and a declared
// size beyond --max-side or --max-bytes ends this process before any pixel is decoded. With
// --parent it dies with that process. With --cmyk-profile a CMYK document is converted to sRGB
// through the ICC profile it carries; when that profile does not serve, FreeImage's own
// conversion is used. With --srgb a grey or RGB document's colours, stored or rebuilt, go to
// sRGB through its profile; without it they keep their samples and profile, and with
// --srgb-widened only a rebuilt grey picture widened to colour for its transparency (which no grey
// profile describes) goes to sRGB. Lab documents always go through LittleCMS. With --from-layers
// the picture is rebuilt from the document's layers instead of its stored composite, in bands of N
// rows with --band-rows (else as its memory requires), and the work that asks for is told first;
// each --hide-layer leaves out the layers and groups whose names match its glob.
//
// The bitmap goes to the program as engine/isolation/decoder_protocol.h shows. Exit status 0 when
// the record was written, 1 when FreeImage could not load FILE (or its packed rows would make it
// read past them), 2 for a wrong command line, 3 when writing failed, 4 when the image is larger
// than allowed, 5 when the program that started this process is gone, 6 when a rebuild from the
// layers finds nothing to draw.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>
#include <vector>

#include "decoder/colour_profile.h"
#include "decoder/decoder_process.h"
#include "decoder/layer_rebuild.h"
#include "decoder/stored_decode.h"
#include "engine/image/file_stream.h"
#include "engine/isolation/decoded_bitmap.h"
#include "engine/isolation/decoder_protocol.h"

#if defined(QUORVIX_SANITIZE)
// A sanitizer's report must fail the test that caused it: it ends this process with a status of
// its own, which the program tells from a damaged file's clean failure. A failed allocation stays
// a failure, as under the address-space limit the sanitizers take the place of; leaks are looked
// for where the same code runs in the tests' own process.
extern "C" const char* __asan_default_options() {
  return "exitcode=86:allocator_may_return_null=1:detect_leaks=0";
}
extern "C" const char* __ubsan_default_options() { return "exitcode=86:print_stacktrace=1"; }
static_assert(DecoderSanitizerReport == 86, "the exit code the sanitizers are given above");
#endif

namespace {

bool ReadNumber(const char* text, uint64_t& number) {
  const char* end = text + std::strlen(text);
  return std::from_chars(text, end, number).ptr == end;
}

bool StartsWith(const char* text, const char* prefix, const char*& rest) {
  const size_t size = std::strlen(prefix);
  if (std::strncmp(text, prefix, size) != 0) return false;
  rest = text + size;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t address_space = 0;
  uint64_t parent = 0;
  bool any_format = false;
  uint64_t format_hint = 0;
  DecodeBound bound;
  bool cmyk_profile = false;
  bool to_srgb = false;
  bool widened_to_srgb = false;
  bool from_layers = false;
  uint64_t band_rows = 0;
  std::vector<std::string> hidden_layers;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* value = nullptr;
    uint64_t number = 0;
    if (StartsWith(argv[i], "--address-space=", value)) {
      if (!ReadNumber(value, address_space)) return 2;
    } else if (StartsWith(argv[i], "--parent=", value)) {
      if (!ReadNumber(value, parent)) return 2;
    } else if (std::strcmp(argv[i], "--any-format") == 0) {
      any_format = true;
    } else if (StartsWith(argv[i], "--format-hint=", value)) {
      // FIF_UNKNOWN is -1: the hint comes offset by one.
      if (!ReadNumber(value, format_hint) || format_hint > FIF_JXR + 1) return 2;
    } else if (StartsWith(argv[i], "--max-side=", value)) {
      if (!ReadNumber(value, number) || number > UINT32_MAX) return 2;
      bound.max_side = static_cast<uint32_t>(number);
    } else if (StartsWith(argv[i], "--max-bytes=", value)) {
      if (!ReadNumber(value, bound.max_decoded_bytes)) return 2;
    } else if (std::strcmp(argv[i], "--cmyk-profile") == 0) {
      cmyk_profile = true;
    } else if (std::strcmp(argv[i], "--srgb") == 0) {
      to_srgb = true;
    } else if (std::strcmp(argv[i], "--srgb-widened") == 0) {
      widened_to_srgb = true;
    } else if (std::strcmp(argv[i], "--from-layers") == 0) {
      from_layers = true;
    } else if (StartsWith(argv[i], "--band-rows=", value)) {
      if (!ReadNumber(value, band_rows) || band_rows > UINT32_MAX) return 2;
    } else if (StartsWith(argv[i], "--hide-layer=", value)) {
      hidden_layers.emplace_back(value);
    } else if (!path) {
      path = argv[i];
    } else {
      return 2;
    }
  }
  if (!path) return 2;

  if (!EnterDecoderProcess(parent, address_space)) return 5;

  // Read through a large buffer: FreeImage's own file reading asks for 4 KiB at a time.
  FileStream input(open(path, O_RDONLY | O_CLOEXEC), "rb");
  if (!input.IsOpen()) return 1;
  Bitmap image;
  if (any_format) {
    const auto hint = static_cast<FREE_IMAGE_FORMAT>(static_cast<int>(format_hint) - 1);
    switch (DecodeAnyFormat(input, hint, bound, image)) {
      case AnyFormatDecode::Decoded:
        break;
      case AnyFormatDecode::BeyondBound:
        return 4;
      case AnyFormatDecode::Unreadable:
        return 1;
    }
  } else if (from_layers) {
    bool nothing_to_build = false;
    image = RebuildFromLayers(path, static_cast<int64_t>(band_rows), DecoderRecordFd,
                              nothing_to_build, hidden_layers);
    if (nothing_to_build) return DecoderNothingToRebuild;
    if (to_srgb || (widened_to_srgb && IsWidenedGrey(image.get()))) {
      image = RebuiltPictureToSrgb(std::move(image), path);
    }
  } else {
    image = DecodeStoredComposite(path, input, cmyk_profile, to_srgb);
  }
  if (!image) return 1;
  // Nothing risky runs from here on: the program may now read this process's memory.
  DecoderMayBeRead();
  if (!WriteDecodedHead(DecoderRecordFd, image.get())) return 3;
  char request = 0;
  ssize_t got = 0;
  while ((got = read(DecoderRequestFd, &request, 1)) < 0 && errno == EINTR) {
  }
  if (got == 1 && request == DecoderRowsRequest) {
    return WriteDecodedRows(DecoderRecordFd, image.get()) ? 0 : 3;
  }
  return 0;
}
