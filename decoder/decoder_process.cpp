#include "decoder/decoder_process.h"

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "decoder/decode_request.h"
#include "engine/isolation/decoded_bitmap.h"
#include "engine/isolation/decoder_protocol.h"
#include "platform/file_descriptor.h"

namespace {

void LimitAddressSpace(uint64_t bytes) {
#if defined(__SANITIZE_ADDRESS__)
  // The address sanitizer reserves terabytes of shadow memory up front: no limit fits it.
  (void)bytes;
#else
  if (bytes == 0) return;
  const rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
  setrlimit(RLIMIT_AS, &limit);
#endif
}

}  // namespace

bool EnterDecoderProcess(uint64_t parent, uint64_t address_space) {
  // A decode nobody waits for any more must not run on: end with the program, and check it is
  // still there, since it may have gone before the request took effect.
  if (parent != 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    if (static_cast<uint64_t>(getppid()) != parent) return false;
  }
  // A crash on a damaged file is expected here: it must not leave core dumps behind.
  const rlimit no_core{0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  LimitAddressSpace(address_space);
  return true;
}

void DecoderMayBeRead() { prctl(PR_SET_DUMPABLE, 1, 0, 0, 0); }

namespace {

// Sets the limit of this file's address space, within the one the process entered with.
void LimitFileAddressSpace(uint64_t bytes) {
#if defined(__SANITIZE_ADDRESS__)
  (void)bytes;
#else
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0) return;
  limit.rlim_cur = bytes == 0 ? limit.rlim_max : std::min<rlim_t>(bytes, limit.rlim_max);
  setrlimit(RLIMIT_AS, &limit);
#endif
}

// The address space this process holds, in bytes; 0 when unknown.
uint64_t AddressSpaceInUse() {
  char text[64] = {};
  const FileDescriptor statm(open("/proc/self/statm", O_RDONLY | O_CLOEXEC));
  if (!statm) return 0;
  const ssize_t got = read(statm.get(), text, sizeof text - 1);
  if (got <= 0) return 0;
  uint64_t pages = 0;
  std::from_chars(text, text + got, pages);
  const long page_size = sysconf(_SC_PAGESIZE);
  return page_size > 0 ? pages * static_cast<uint64_t>(page_size) : 0;
}

// One message of the program; a descriptor it carries goes to `file`. The size, 0 when the
// program has closed the socket, -1 on an error or a message with more than one descriptor.
ssize_t ReceiveRequest(std::vector<char>& message, FileDescriptor& file) {
  iovec part{message.data(), message.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(4 * sizeof(int))];
  msghdr header{};
  header.msg_iov = &part;
  header.msg_iovlen = 1;
  header.msg_control = control;
  header.msg_controllen = sizeof control;
  ssize_t got = 0;
  while ((got = recvmsg(DecoderRequestFd, &header, MSG_CMSG_CLOEXEC)) < 0 && errno == EINTR) {
  }
  if (got < 0) return -1;
  bool extra = (header.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0;
  for (cmsghdr* entry = CMSG_FIRSTHDR(&header); entry; entry = CMSG_NXTHDR(&header, entry)) {
    if (entry->cmsg_level != SOL_SOCKET || entry->cmsg_type != SCM_RIGHTS) continue;
    const size_t count = (entry->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    for (size_t i = 0; i < count; ++i) {
      int fd = -1;
      std::memcpy(&fd, CMSG_DATA(entry) + i * sizeof(int), sizeof fd);
      FileDescriptor received(fd);
      if (file) {
        extra = true;
      } else {
        file = std::move(received);
      }
    }
  }
  return extra ? -1 : got;
}

// The arguments of a file request: after its kind and limit, each ended by a NUL.
bool ReadRequestArguments(const char* data, size_t size, std::vector<std::string>& arguments) {
  while (size > 0) {
    const void* end = std::memchr(data, '\0', size);
    if (!end) return false;
    const size_t length = static_cast<size_t>(static_cast<const char*>(end) - data);
    arguments.emplace_back(data, length);
    data += length + 1;
    size -= length + 1;
  }
  return true;
}

}  // namespace

int ServeDecodes(const DecodeHandler& decode) {
  constexpr size_t Fixed = 1 + sizeof(uint64_t);
  std::vector<char> message(MaxDecoderRequestBytes + 1);
  uint64_t settled = 0;  // the address space held after the first file
  for (;;) {
    FileDescriptor file;
    ssize_t got = ReceiveRequest(message, file);
    if (got == 0) return 0;
    if (got < static_cast<ssize_t>(Fixed) || message[0] != DecoderFileRequest || !file)
      return DecodeWrongRequest;
    uint64_t address_space = 0;
    std::memcpy(&address_space, message.data() + 1, sizeof address_space);
    std::vector<std::string> arguments;
    if (!ReadRequestArguments(message.data() + Fixed, static_cast<size_t>(got) - Fixed, arguments))
      return DecodeWrongRequest;

    // The file is untrusted again: hidden, and held to its own limit.
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    LimitFileAddressSpace(address_space);
    Bitmap image;
    const int status = decode(arguments, "/proc/self/fd/" + std::to_string(file.get()), image);
    file.reset();
    if (status != 0) return status;
    DecoderMayBeRead();
    if (!WriteDecodedHead(DecoderRecordFd, image.get())) return DecodeWriteFailed;

    FileDescriptor stray;
    got = ReceiveRequest(message, stray);
    if (got == 0) return 0;
    if (got == 1 && message[0] == DecoderRowsRequest && !stray) {
      if (!WriteDecodedRows(DecoderRecordFd, image.get())) return DecodeWriteFailed;
      got = ReceiveRequest(message, stray);
      if (got == 0) return 0;
    }
    if (got != 1 || message[0] != DecoderFileDone || stray) return DecodeWrongRequest;

    image.reset();
    malloc_trim(0);
    const uint64_t in_use = AddressSpaceInUse();
    if (settled == 0) settled = in_use;
    if (in_use == 0 || in_use > settled + KeptDecoderGrowth) return 0;
    if (!WriteAll(DecoderRecordFd, &DecoderReady, 1)) return DecodeWriteFailed;
  }
}
