#pragma once

// A fault the decoder's own sanitizers find must fail whatever caused it. Everything else the
// decoder does wrong (a crash, an exit status, garbage) is what a damaged file may cause, and
// only fails that file; a sanitizer's report would pass as such a clean failure, unseen.

/// True in a build with the address and undefined-behaviour sanitizers: the decoder's standard
/// error then reaches the program's, and its sanitizer reports end the program.
#if defined(QUORVIX_SANITIZE)
inline constexpr bool DecoderSanitizersChecked = true;
#else
inline constexpr bool DecoderSanitizersChecked = false;
#endif

/// In a build with the sanitizers, ends this process with a message on standard error when a
/// decoder's `exit_status` says that its sanitizer reported a fault. Nothing otherwise.
void CheckDecoderExit(int exit_status);
