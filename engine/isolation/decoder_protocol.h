#pragma once

// How the program and its decoder process talk, one decode per process:
//
//   program (isolated_decode.cpp)              quorvix-psd-decoder (decoder/)
//   spawn: fd 0 request socket, fd 3 record
//   pipe, fd 4 the checked file, arguments  ->  reads /proc/self/fd/4 under an address-space
//   prepares row memory meanwhile               limit, dies with the program
//   (a rebuild from the layers: reads the   <-  having read the layer records, writes the
//   work, sets its deadline from it)            work its rebuild plans; then decodes
//   reads the head from fd 3                <-  writes the record's head (decoded_bitmap.h)
//   copies the rows out of the decoder's
//   memory (process_vm_readv), or else
//   writes 'R' to fd 0                      ->  writes the rows to fd 3
//   closes fd 0 and fd 3                    ->  ends at the end of fd 0
//   kills and reaps the decoder off-thread
//
// Whatever the decoder does instead (crash, hang, garbage, a wrong size), the program's deadline
// and its checks of the head turn it into an empty result.
//
// A batch worker keeps its decoder for the next file (engine/isolation/kept_decoder.h). That one
// starts with --serve and no file, its address space limited to the most any of its files may
// have, and its request socket carries one message per request (SOCK_SEQPACKET):
//
//   program                                    kept decoder
//   'F', the file's address-space limit,   ->  limits itself to that, hides its memory, decodes
//   its arguments, the file's descriptor        /proc/self/fd/N
//   attached (SCM_RIGHTS)
//   (as above: work, head, rows, 'R')      <-> (as above)
//   'D': done with the file                ->  frees the picture; ends when it has grown too
//                                               large, else
//   waits for 'K' before the next 'F'      <-  writes 'K' to fd 3
//   closes fd 0                            ->  ends
//
// A decode that fails ends the decoder with its exit status, as a one-file decoder ends; the
// program replaces a decoder that ended, crashed, hung or said anything else, and only the file
// in work fails.

#include <cstddef>
#include <cstdint>

/// The name of the decoder executable.
inline constexpr const char* PsdDecoderName = "quorvix-psd-decoder";

/// The decoder's descriptors: the program's requests, the record, the file to decode.
constexpr int DecoderRequestFd = 0;
constexpr int DecoderRecordFd = 3;
constexpr int DecoderInputFd = 4;

/// Exit status of the decoder asked to rebuild a document whose layers hold nothing to draw.
constexpr int DecoderNothingToRebuild = 6;

/// Exit status of a decoder built with the address and undefined-behaviour sanitizers whose
/// sanitizer found a fault in it.
constexpr int DecoderSanitizerReport = 86;

/// What a rebuild from the layers tells first: the work it plans (samples decoded, drawn and
/// copied; CompositePlan in decoder/layer_tree.h), and what the document holds that the rebuild
/// does not draw, as LeftOut bits.
struct DecoderWorkRecord {
  uint64_t work = 0;
  uint64_t left_out = 0;
};

/// Kinds of what a rebuild can leave out of the picture, one bit each.
enum LeftOut : uint64_t {
  LeftOutAdjustments = 1u << 0,   // adjustment layers of a kind not drawn
  LeftOutFills = 1u << 1,         // gradient and pattern fill layers without stored pixels
  LeftOutEffects = 1u << 2,       // enabled layer effects
  LeftOutSmartObjects = 1u << 3,  // smart objects without stored pixels
  LeftOutBlendIf = 1u << 4,       // "blend if" ranges
  LeftOutArtboards = 1u << 5,     // artboards' background colours
  LeftOutShapeStrokes = 1u << 6,  // strokes along shapes' paths
  LeftOutKnockouts = 1u << 7,     // knockouts outside an isolated group
};

/// The request for the rows down the record pipe.
constexpr char DecoderRowsRequest = 'R';

/// Set in the ICC profile flags of a stored composite (the record head's icc_flags) whose white
/// matte the decoder has undone, before it converted the colours: the program must not undo it
/// again. A decoder that never sets it leaves the matte to the program.
constexpr uint16_t DecodedMatteRemoved = 0x8000;

/// A kept decoder's requests and its answer that it can take another file.
constexpr char DecoderFileRequest = 'F';
constexpr char DecoderFileDone = 'D';
constexpr char DecoderReady = 'K';

/// The largest request a kept decoder takes; one with more arguments goes to a decoder of its own.
constexpr size_t MaxDecoderRequestBytes = 64 << 10;

/// Address space a kept decoder may gain over what it held after its first file before it is
/// replaced rather than given another: more is a leak or a heap in pieces, which would count
/// against the next file's limit.
constexpr uint64_t KeptDecoderGrowth = 64ull << 20;
