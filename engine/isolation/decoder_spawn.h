#pragma once

// Starting, waiting for and ending a decoder process (engine/isolation/decoder_protocol.h).

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "engine/isolation/decoder_stop.h"
#include "platform/file_descriptor.h"

/// A decoder process that runs: the program's ends of its request socket and of its record pipe,
/// which does not block (reads wait with a deadline).
struct DecoderChild {
  pid_t pid = 0;
  FileDescriptor request;
  FileDescriptor record;
};

/// Starts the executable `decoder` with `arguments` and the file open at `input_fd` to decode,
/// with default signal handling and its output silenced (but for standard error in a build with
/// the sanitizers); std::nullopt when it cannot be started or decoders are stopped. The
/// descriptor stays the caller's. Until the last decoder is reaped, SIGCHLD is not left ignored
/// (an ignoring disposition the program inherited has the system reap children at once and drop
/// their exit status); the disposition comes back afterwards. Each decoder started must end in
/// WaitForDecoder or DismissDecoder.
std::optional<DecoderChild> SpawnDecoder(const std::string& decoder,
                                         const std::vector<std::string>& arguments, int input_fd);

/// Starts the executable `decoder` as SpawnDecoder does, with --serve, `arguments` and no file:
/// a decoder kept for several files, whose request socket carries messages
/// (engine/isolation/decoder_protocol.h).
std::optional<DecoderChild> SpawnServingDecoder(const std::string& decoder,
                                                const std::vector<std::string>& arguments);

/// The environment a decoder starts with: `environment` (a null-ended list) with glibc's malloc
/// asked to back its large blocks with huge pages, added to the tunables already there. A decoded
/// bitmap is then faulted in 2 MiB at a time instead of 4 KiB, a fifth of the whole run's time.
std::vector<std::string> DecoderEnvironment(char** environment);

/// Waits for `pid` until `deadline` and kills it when the time is up; true when it exited with 0.
/// `exit_status`, when given, receives its exit status (-1 when it did not exit by itself). A
/// sanitizer's report ends the program (CheckDecoderExit).
bool WaitForDecoder(pid_t pid, std::chrono::steady_clock::time_point deadline,
                    int* exit_status = nullptr);

/// Ends a decoder whose work the program has and reaps it off this thread, so its teardown (freeing
/// a bitmap as large as ours) overlaps the program's own work instead of delaying it.
void DismissDecoder(pid_t pid);
