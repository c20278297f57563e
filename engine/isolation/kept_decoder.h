#pragma once

// A decoder process kept for the next file: a batch worker decodes file after file in one, which
// saves each file the start of a process (engine/isolation/decoder_protocol.h). The isolation
// stays: each file has its own address-space limit and deadline, and a decoder that failed a
// file, crashed, hung, said anything out of protocol or grew too large is ended and replaced, so
// only the file in work fails.

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/isolation/decoder_spawn.h"

/// While one lives, the decodes of the thread that made it go to the decoder it keeps
/// (DecodePsdIsolated, DecodeImageIsolated); without one, each decode starts a decoder of its own.
/// Its end ends the decoder. Lives on one thread; not copied or moved.
class KeptDecoder {
 public:
  KeptDecoder();
  ~KeptDecoder();
  KeptDecoder(const KeptDecoder&) = delete;
  KeptDecoder& operator=(const KeptDecoder&) = delete;

  /// The one of the calling thread; null when none lives there.
  static KeptDecoder* OfThisThread();

  /// The process id of the decoder kept now; 0 when none is.
  pid_t pid() const { return child_ ? child_->pid : 0; }

  /// Hands the file open at `fd` with the decoder options `arguments` and the limit
  /// `address_space` to the executable `decoder`: to the one kept when it is that executable,
  /// said it is ready and may be given that much, else to a new one. The decoder now decoding
  /// it, or null when none can be had (decoders stopped, no process). The descriptor stays the
  /// caller's.
  DecoderChild* Send(const std::string& decoder, uint64_t address_space,
                     const std::vector<std::string>& arguments, int fd);

  /// The file's picture is taken: the decoder is told and kept for the next file.
  void Keep();

  /// The decoder failed its file and the caller has reaped it: none is kept now.
  void Forget();

  /// True when a request of `arguments` fits the message a kept decoder takes.
  static bool Fits(const std::vector<std::string>& arguments);

 private:
  bool Ready();
  void Dismiss();

  std::optional<DecoderChild> child_;
  std::string executable_;
  uint64_t address_space_ = 0;  // the most any file given to it may have
  bool told_done_ = false;
  KeptDecoder* outer_ = nullptr;
};

/// Sends `message` as one message over `socket`, with the descriptor `fd` attached unless it is
/// negative; false when it could not all go (the decoder is gone).
bool SendWithDescriptor(int socket, const std::string& message, int fd);

/// The address space a kept decoder starts with for a first file of `address_space`: that, and
/// at least enough for a small document besides, so the files after it may be larger.
uint64_t KeptDecoderAddressSpace(uint64_t address_space);
