// quorvix-psd-decoder: decodes one Photoshop document (or, with --any-format, one image of any
// other format FreeImage reads) with FreeImage in a process of its own, so that a damaged file can
// crash, loop or exhaust memory here without harming the program.
//
//   quorvix-psd-decoder [--parent=PID] [--address-space=BYTES] [--cmyk-profile]
//                       [--srgb]
//                       [--from-layers [--band-rows=N] [--hide-layer=GLOB]...]
//                       [--any-format --format-hint=FIF --max-side=N --max-bytes=N] FILE
//   quorvix-psd-decoder --serve [--parent=PID] [--address-space=BYTES]
//
// With --any-format the header is looked at first where the format allows it, and a declared
// size beyond --max-side or --max-bytes ends this process before any pixel is decoded. With
// --parent it dies with that process. With --cmyk-profile a CMYK document is converted to sRGB
// through the ICC profile it carries; when that profile does not serve, FreeImage's own
// conversion is used. With --srgb a grey or RGB document's colours, stored or rebuilt, go to
// sRGB through its profile; without it they keep their samples and profile. Lab documents always go
// through LittleCMS. With --from-layers the picture is rebuilt from the document's layers instead
// of its stored composite, in bands of N rows with --band-rows (else as its memory requires), and
// the work that asks for is told first; each --hide-layer leaves out the layers and groups whose
// names match its glob.
//
// With --serve it decodes one file after another as the program asks, each request carrying the
// options above, and --address-space is the most any one file may be given.
//
// The bitmap goes to the program as engine/isolation/decoder_protocol.h shows. Exit status 0 when
// the record was written, 1 when FreeImage could not load FILE (or its packed rows would make it
// read past them), 2 for a wrong command line, 3 when writing failed, 4 when the image is larger
// than allowed, 5 when the program that started this process is gone, 6 when a rebuild from the
// layers finds nothing to draw.

#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "decoder/decode_request.h"
#include "decoder/decoder_process.h"
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

// One file a request of a kept decoder: its own options, none of the process's.
int DecodeServedFile(const std::vector<std::string>& arguments, const std::string& path,
                     Bitmap& image) {
  DecodeRequest request;
  if (!ParseDecodeRequest(arguments, request) || request.serve || request.parent != 0 ||
      request.address_space != 0 || !request.path.empty()) {
    return DecodeWrongRequest;
  }
  request.path = path;
  return RunDecodeRequest(request, image);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  DecodeRequest request;
  if (!ParseDecodeRequest(arguments, request)) return DecodeWrongRequest;
  if (request.serve != request.path.empty()) return DecodeWrongRequest;

  if (!EnterDecoderProcess(request.parent, request.address_space)) return 5;
  if (request.serve) return ServeDecodes(DecodeServedFile);

  Bitmap image;
  const int status = RunDecodeRequest(request, image);
  if (status != 0) return status;
  // Nothing risky runs from here on: the program may now read this process's memory.
  DecoderMayBeRead();
  if (!WriteDecodedHead(DecoderRecordFd, image.get())) return DecodeWriteFailed;
  char ask = 0;
  ssize_t got = 0;
  while ((got = read(DecoderRequestFd, &ask, 1)) < 0 && errno == EINTR) {
  }
  if (got == 1 && ask == DecoderRowsRequest) {
    return WriteDecodedRows(DecoderRecordFd, image.get()) ? 0 : DecodeWriteFailed;
  }
  return 0;
}
