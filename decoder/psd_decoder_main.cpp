// quorvix-psd-decoder: decodes one Photoshop document (or, with --any-format, one image of any
// other format FreeImage reads) with FreeImage in a process of its own, so that a damaged file can
// crash, loop or exhaust memory here without harming the program.
//
//   quorvix-psd-decoder [--parent=PID] [--address-space=BYTES] [--cmyk-profile] [--from-layers]
//                       [--any-format --format-hint=FIF --max-side=N --max-bytes=N] FILE
//
// With --any-format the header is looked at first where the format allows it, and a declared
// size beyond --max-side or --max-bytes ends this process before any pixel is decoded. With
// --parent it dies with that process. With --cmyk-profile a CMYK document is converted to sRGB
// through the ICC profile it carries; when that profile does not serve, FreeImage's own
// conversion is used. With --from-layers the picture is rebuilt from the document's layers instead
// of its stored composite.
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

#include "decoder/cmyk_profile.h"
#include "decoder/decoder_process.h"
#include "decoder/layer_rebuild.h"
#include "engine/image/file_stream.h"
#include "engine/image/image_header.h"
#include "engine/isolation/decoded_bitmap.h"
#include "engine/isolation/decoder_protocol.h"
#include "engine/psd/psd_check.h"
#include "platform/mapped_file.h"

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

// FreeImage hands a 32-bit BMP on with the unused fourth byte as alpha, usually all zero; such a
// file has no transparency, and an invisible watermark is never what was meant.
void MakeUnusedAlphaOpaque(FIBITMAP* image) {
  if (FreeImage_GetBPP(image) != 32 || FreeImage_GetImageType(image) != FIT_BITMAP) return;
  const unsigned width = FreeImage_GetWidth(image);
  const unsigned height = FreeImage_GetHeight(image);
  for (unsigned y = 0; y < height; ++y) {
    const BYTE* row = FreeImage_GetScanLine(image, static_cast<int>(y));
    for (unsigned x = 0; x < width; ++x) {
      if (row[x * 4 + FI_RGBA_ALPHA] != 0) return;
    }
  }
  for (unsigned y = 0; y < height; ++y) {
    BYTE* row = FreeImage_GetScanLine(image, static_cast<int>(y));
    for (unsigned x = 0; x < width; ++x) row[x * 4 + FI_RGBA_ALPHA] = 255;
  }
}

// Any image but a Photoshop document, which only comes here through our own structure check.
// Exit status as for main; the bitmap goes to `image`.
int LoadAnyFormat(FileStream& input, FREE_IMAGE_FORMAT hint, const DecodeBound& bound,
                  Bitmap& image) {
  const FREE_IMAGE_FORMAT format = SniffImageFormat(input.io(), input.handle(), hint);
  if (format == FIF_UNKNOWN || format == FIF_PSD) return 1;
  // Formats without a header-only reading are held by the address-space limit alone.
  const std::optional<ImageHeader> header = LookAtImageHeader(format, input.io(), input.handle());
  if (header && !KeepsBound(*header, bound)) return 4;
  image = Bitmap(FreeImage_LoadFromHandle(format, input.io(), input.handle(), 0));
  if (!image || !FreeImage_HasPixels(image.get())) return 1;
  const ImageHeader decoded{FreeImage_GetWidth(image.get()), FreeImage_GetHeight(image.get()),
                            FreeImage_GetBPP(image.get())};
  if (!KeepsBound(decoded, bound)) return 4;
  if (format == FIF_BMP) MakeUnusedAlphaOpaque(image.get());
  return 0;
}

// FreeImage trusts every packed row of the merged image to unpack within its own bytes, and reads
// past them when one does not: such a document is refused before FreeImage sees it.
bool MergedRowsFit(const char* path) {
  const MappedFile file(path);
  const std::optional<PsdLayout> layout = CheckPsdStructure(file.bytes(), 0);
  return layout && PackedRowsFit(file.bytes(), *layout) && file.Intact();
}

// The document's CMYK samples, converted through its profile; empty, with the stream back at its
// start, when that cannot be done.
Bitmap LoadCmykThroughProfile(FileStream& input) {
  Bitmap cmyk(FreeImage_LoadFromHandle(FIF_PSD, input.io(), input.handle(), PSD_CMYK));
  Bitmap rgb = ConvertCmykThroughProfile(cmyk.get());
  if (!rgb) input.io()->seek_proc(input.handle(), 0, SEEK_SET);
  return rgb;
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t address_space = 0;
  uint64_t parent = 0;
  bool any_format = false;
  uint64_t format_hint = 0;
  DecodeBound bound;
  bool cmyk_profile = false;
  bool from_layers = false;
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
    } else if (std::strcmp(argv[i], "--from-layers") == 0) {
      from_layers = true;
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
    const int loaded = LoadAnyFormat(input, hint, bound, image);
    if (loaded != 0) return loaded;
  } else if (from_layers) {
    bool nothing_to_build = false;
    image = RebuildFromLayers(path, nothing_to_build);
    if (nothing_to_build) return DecoderNothingToRebuild;
  } else {
    if (!MergedRowsFit(path)) return 1;
    if (cmyk_profile) image = LoadCmykThroughProfile(input);
    if (!image) image = Bitmap(FreeImage_LoadFromHandle(FIF_PSD, input.io(), input.handle(), 0));
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
