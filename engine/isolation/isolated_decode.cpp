#include "engine/isolation/isolated_decode.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <vector>

#include "engine/image/memory_budget.h"
#include "engine/isolation/decoded_bitmap.h"
#include "engine/isolation/decoder_protocol.h"
#include "engine/isolation/decoder_spawn.h"
#include "engine/isolation/kept_decoder.h"
#include "platform/system.h"

namespace {

constexpr uint64_t DecodedMetadataSlack = 64 << 10;

std::mutex seam_mutex;
std::string decoder_folder;
std::chrono::milliseconds time_limit_override{0};
bool copy_from_decoder = true;
int64_t rebuild_band_rows = 0;

// Copies `size` bytes at `address` in the memory of `pid` to `rows`; false where the system does
// not allow it (a hardened kernel, a container's filter) or the child gave a wrong address.
bool CopyFromChild(pid_t pid, uint64_t address, void* rows, uint64_t size) {
  char* into = static_cast<char*>(rows);
  while (size > 0) {
    iovec local{into, size};
    iovec remote{reinterpret_cast<void*>(address), size};
    const ssize_t got = process_vm_readv(pid, &local, 1, &remote, 1, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    into += got;
    address += static_cast<uint64_t>(got);
    size -= static_cast<uint64_t>(got);
  }
  return true;
}

// Only a CMYK document that carries a profile pays for reading its CMYK samples and converting
// them.
bool ConvertsThroughProfile(const PsdLayout& layout) {
  return layout.mode == PsdModeCmyk && layout.depth <= 16 && layout.icc_profile.size > 0;
}

}  // namespace

uint64_t DecoderAddressSpace(uint64_t decoded_bytes) {
  uint64_t scaled = 0, total = 0;
  if (__builtin_mul_overflow(decoded_bytes, DecoderAddressSpaceFactor, &scaled) ||
      __builtin_add_overflow(scaled, DecoderBaseAddressSpace, &total)) {
    total = UINT64_MAX;
  }
  // Never promise the child more than the machine has.
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages > 0 && page_size > 0) {
    const uint64_t physical = static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size);
    total = std::min(total, std::max(physical, DecoderBaseAddressSpace));
  }
  return total;
}

std::chrono::milliseconds DecodeTimeLimit(uint64_t decoded_bytes) {
  {
    std::lock_guard lock(seam_mutex);
    if (time_limit_override.count() > 0) return time_limit_override;
  }
  return DecodeBaseTime + std::chrono::milliseconds(decoded_bytes / (DecodeBytesPerSecond / 1000));
}

std::chrono::milliseconds DecodeTimeLimit(const PsdLayout& layout) {
  std::chrono::milliseconds limit = DecodeTimeLimit(layout.decoded_bytes);
  if (ConvertsThroughProfile(layout)) {
    const uint64_t pixels = static_cast<uint64_t>(layout.width) * layout.height;
    limit += std::chrono::milliseconds(pixels / (ProfilePixelsPerSecond / 1000));
  }
  return limit;
}

std::chrono::milliseconds RebuildTimeLimit(const PsdLayout& layout) {
  return DecodeTimeLimit(layout) +
         std::chrono::milliseconds(layout.rebuild_bytes / (RebuildBytesPerSecond / 1000)) +
         std::chrono::milliseconds(layout.layers_size / (LayerSectionBytesPerSecond / 1000));
}

std::chrono::milliseconds RebuildTimeLimit(const PsdLayout& layout, uint64_t work) {
  return std::min(
      RebuildTimeLimit(layout),
      DecodeTimeLimit(layout) + std::chrono::milliseconds(work / (RebuildWorkPerSecond / 1000)));
}

uint64_t RebuildAddressSpace(const PsdLayout& layout) {
  // The child maps the whole file besides its work.
  const uint64_t work = layout.rebuild_bytes > UINT64_MAX - layout.file_size
                            ? UINT64_MAX - DecoderBaseAddressSpace
                            : layout.rebuild_bytes + layout.file_size;
  return DecoderBaseAddressSpace + std::min(work, UINT64_MAX - DecoderBaseAddressSpace);
}

void SetPsdDecoderFolder(const std::string& folder) {
  std::lock_guard lock(seam_mutex);
  decoder_folder = folder;
}

void SetDecodeTimeLimitForTesting(std::chrono::milliseconds limit) {
  std::lock_guard lock(seam_mutex);
  time_limit_override = limit;
}

void SetCopyFromDecoderForTesting(bool allowed) {
  std::lock_guard lock(seam_mutex);
  copy_from_decoder = allowed;
}

void SetRebuildBandRowsForTesting(int64_t rows) {
  std::lock_guard lock(seam_mutex);
  rebuild_band_rows = rows;
}

namespace {

// One decode in a child: what it is told and what its answer may be.
struct ChildDecode {
  std::vector<std::string> arguments;  // before the file
  uint64_t decoded_bytes = 0;          // what the declared size needs, for the limits
  uint64_t address_space = 0;          // 0: by the decoded bytes
  bool prepare_rows = false;           // the size is known: make the row memory meanwhile
  DecodedBitmapLimits limits;
  std::chrono::milliseconds time_limit{0};  // 0: by the decoded bytes
  /// A rebuild from the layers tells its work first, within this time; its deadline then follows
  /// that work.
  const PsdLayout* rebuild = nullptr;
  std::chrono::milliseconds time_to_tell_work{0};
  /// Receives what the rebuild leaves out (LeftOut bits).
  uint64_t* left_out = nullptr;
};

Bitmap DecodeInChild(int fd, const ChildDecode& decode, int* exit_status = nullptr) {
  std::string folder;
  bool may_copy = true;
  {
    std::lock_guard lock(seam_mutex);
    folder = decoder_folder;
    may_copy = copy_from_decoder;
  }
  if (folder.empty()) folder = RunningProgramPaths().helper_folder;
  if (folder.empty()) return {};
  if (folder.back() != '/') folder += '/';

  const uint64_t address_space =
      decode.address_space > 0 ? decode.address_space : DecoderAddressSpace(decode.decoded_bytes);
  // A batch worker's decoder serves the file when it can take the request; else the file has a
  // decoder of its own.
  KeptDecoder* kept = KeptDecoder::OfThisThread();
  if (kept && !KeptDecoder::Fits(decode.arguments)) kept = nullptr;
  std::optional<DecoderChild> own;
  DecoderChild* child = nullptr;
  if (kept) {
    child = kept->Send(folder + PsdDecoderName, address_space, decode.arguments, fd);
  } else {
    std::vector<std::string> arguments = {"--parent=" + std::to_string(getpid()),
                                          "--address-space=" + std::to_string(address_space)};
    arguments.insert(arguments.end(), decode.arguments.begin(), decode.arguments.end());
    own = SpawnDecoder(folder + PsdDecoderName, arguments, fd);
    if (own) child = &*own;
  }
  if (!child) return {};
  const pid_t pid = child->pid;
  FileDescriptor& record = child->record;
  FileDescriptor& request = child->request;
  // A decoder that failed the file ends; its exit status may tell why.
  const auto fail = [&](std::chrono::steady_clock::time_point until, int* status) {
    // A child still writing what we no longer read ends on the closed pipes instead of waiting.
    record.reset();
    request.reset();
    WaitForDecoder(pid, until, status);
    if (kept) kept->Forget();
    return Bitmap();
  };
  const auto start = std::chrono::steady_clock::now();
  auto deadline = start + (decode.time_limit.count() > 0 ? decode.time_limit
                                                         : DecodeTimeLimit(decode.decoded_bytes));

  // While the decoder starts and decodes, make the memory the rows will go to, on this core.
  // Only for a document the structure check has weighed against the memory there is.
  PixelMemory memory;
  if (decode.prepare_rows && AvailableMemoryBytes() != 0) {
    memory = PixelMemory(decode.decoded_bytes);
  }
  if (decode.rebuild) {
    DecoderWorkRecord work;
    const auto told_by = std::min(deadline, start + decode.time_to_tell_work);
    // Ended (nothing to rebuild ends here) or silent too long.
    if (!ReadAll(record.get(), &work, sizeof work, told_by)) return fail(told_by, exit_status);
    deadline = std::min(
        deadline, std::chrono::steady_clock::now() + RebuildTimeLimit(*decode.rebuild, work.work));
    if (decode.left_out) *decode.left_out = work.left_out;
  }
  const std::optional<DecodedHead> head = ReadDecodedHead(record.get(), decode.limits, deadline);
  if (!head ||
      (!decode.prepare_rows && !FitsDecodeMemory(head->rows_size, AvailableMemoryBytes()))) {
    return fail(deadline, exit_status);
  }
  PixelMemory rows = RowMemoryFor(*head, std::move(memory));
  bool have_rows = rows.address() != nullptr && may_copy &&
                   CopyFromChild(pid, head->rows_address, rows.address(), head->rows_size);
  if (!have_rows && rows.address()) {
    const char ask = DecoderRowsRequest;
    have_rows = send(request.get(), &ask, 1, MSG_NOSIGNAL) == 1 &&
                ReadDecodedRows(record.get(), rows.address(), head->rows_size, deadline);
  }
  if (!have_rows) return fail(deadline, nullptr);
  if (kept) {
    kept->Keep();
  } else {
    record.reset();
    request.reset();
    DismissDecoder(pid);
  }
  return MakeDecodedBitmap(*head, std::move(rows));
}

}  // namespace

Bitmap DecodePsdIsolated(const MappedFile& file, const PsdLayout& layout, PsdSource source,
                         bool* nothing_to_rebuild, PsdColours colours,
                         const std::vector<std::string>& hidden_layers, uint64_t* left_out) {
  if (nothing_to_rebuild) *nothing_to_rebuild = false;
  if (left_out) *left_out = 0;
  if (!file.IsOpen()) return {};
  ChildDecode decode;
  decode.decoded_bytes = layout.decoded_bytes;
  decode.prepare_rows = true;
  decode.limits.width = layout.width;
  decode.limits.height = layout.height;
  decode.limits.max_icc_bytes = layout.resources_size;  // a profile comes from the resources
  // So do the metadata, which FreeImage spells out tag by tag: allow it some growth.
  decode.limits.max_metadata_bytes = 4 * layout.resources_size + DecodedMetadataSlack;
  // No decoder result is larger than the check's estimate, which memory was weighed against;
  // twice that leaves room for a kind we did not foresee.
  decode.limits.max_rows_bytes =
      layout.decoded_bytes > UINT64_MAX / 2 ? UINT64_MAX : 2 * layout.decoded_bytes;
  decode.time_limit = DecodeTimeLimit(layout);
  if (source == PsdSource::Layers) {
    decode.arguments.push_back("--from-layers");
    for (const std::string& pattern : hidden_layers) {
      decode.arguments.push_back("--hide-layer=" + pattern);
    }
    {
      std::lock_guard lock(seam_mutex);
      if (rebuild_band_rows > 0) {
        decode.arguments.push_back("--band-rows=" + std::to_string(rebuild_band_rows));
      }
    }
    decode.address_space = RebuildAddressSpace(layout);
    decode.time_limit = RebuildTimeLimit(layout);
    decode.rebuild = &layout;
    decode.left_out = left_out;
    decode.time_to_tell_work =
        DecodeBaseTime +
        std::chrono::milliseconds(layout.layers_size / (LayerSectionBytesPerSecond / 1000));
  } else if (ConvertsThroughProfile(layout)) {
    decode.arguments.push_back("--cmyk-profile");
  }
  switch (colours) {
    case PsdColours::ToSrgb:
      decode.arguments.push_back("--srgb");
      break;
    case PsdColours::Keep:
      break;
  }
  int exit_status = -1;
  Bitmap image = DecodeInChild(file.fd(), decode, &exit_status);
  if (nothing_to_rebuild) *nothing_to_rebuild = !image && exit_status == DecoderNothingToRebuild;
  return image;
}

Bitmap DecodeImageIsolated(int fd, FREE_IMAGE_FORMAT format_hint, const DecodeBound& bound) {
  struct stat info {};
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) return {};
  const auto file_size = static_cast<uint64_t>(info.st_size);
  ChildDecode decode;
  decode.arguments = {"--any-format",
                      "--format-hint=" + std::to_string(static_cast<int>(format_hint) + 1),
                      "--max-side=" + std::to_string(bound.max_side),
                      "--max-bytes=" + std::to_string(bound.max_decoded_bytes)};
  // The size is unknown until the child has read the header: its limits are the bound's.
  decode.decoded_bytes = bound.max_decoded_bytes;
  decode.limits.width = bound.max_side;
  decode.limits.height = bound.max_side;
  decode.limits.size_is_bound = true;
  decode.limits.max_icc_bytes = file_size;
  decode.limits.max_metadata_bytes = 4 * file_size + DecodedMetadataSlack;
  decode.limits.max_rows_bytes = bound.max_decoded_bytes;
  return DecodeInChild(fd, decode);
}
