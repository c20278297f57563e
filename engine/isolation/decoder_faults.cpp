#include "engine/isolation/decoder_faults.h"

#include <unistd.h>

#include <cstdlib>

#include "engine/isolation/decoder_protocol.h"

void CheckDecoderExit(int exit_status) {
  if (!DecoderSanitizersChecked || exit_status != DecoderSanitizerReport) return;
  // The report itself went to standard error just before; abort() fails the test that caused it
  // (in its own process, or through the status of the quorvix it ran).
  static const char message[] =
      "quorvix: the decoder process stopped on a sanitizer report (above)\n";
  const ssize_t written = write(STDERR_FILENO, message, sizeof message - 1);
  (void)written;
  std::abort();
}
