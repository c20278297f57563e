#include "engine/isolation/kept_decoder.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "engine/isolation/decoder_protocol.h"
#include "engine/isolation/decoder_stop.h"
#include "engine/isolation/isolated_decode.h"

namespace {

thread_local KeptDecoder* thread_decoder = nullptr;

// A kept decoder frees the last picture before it says it is ready; one that takes longer is
// replaced rather than waited for.
constexpr std::chrono::milliseconds ReadyTime{2000};

// The least a kept decoder starts with: twice a decoder's base.
constexpr uint64_t KeptDecoderLeast = 2 * DecoderBaseAddressSpace;

constexpr size_t RequestFixedBytes = 1 + sizeof(uint64_t);

std::string FileRequest(uint64_t address_space, const std::vector<std::string>& arguments) {
  std::string message(RequestFixedBytes, '\0');
  message[0] = DecoderFileRequest;
  std::memcpy(message.data() + 1, &address_space, sizeof address_space);
  for (const std::string& argument : arguments) {
    message += argument;
    message += '\0';
  }
  return message;
}

}  // namespace

bool SendWithDescriptor(int socket, const std::string& message, int fd) {
  iovec part{const_cast<char*>(message.data()), message.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  msghdr header{};
  header.msg_iov = &part;
  header.msg_iovlen = 1;
  if (fd >= 0) {
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    cmsghdr* entry = CMSG_FIRSTHDR(&header);
    entry->cmsg_level = SOL_SOCKET;
    entry->cmsg_type = SCM_RIGHTS;
    entry->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(entry), &fd, sizeof fd);
  }
  ssize_t sent = 0;
  while ((sent = sendmsg(socket, &header, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
  }
  return sent == static_cast<ssize_t>(message.size());
}

uint64_t KeptDecoderAddressSpace(uint64_t address_space) {
  // Within the machine's memory, as every decoder's limit.
  const uint64_t least =
      DecoderAddressSpace((KeptDecoderLeast - DecoderBaseAddressSpace) / DecoderAddressSpaceFactor);
  return std::max(address_space, least);
}

KeptDecoder::KeptDecoder() : outer_(thread_decoder) { thread_decoder = this; }

KeptDecoder::~KeptDecoder() {
  Dismiss();
  thread_decoder = outer_;
}

KeptDecoder* KeptDecoder::OfThisThread() { return thread_decoder; }

bool KeptDecoder::Fits(const std::vector<std::string>& arguments) {
  size_t size = RequestFixedBytes;
  for (const std::string& argument : arguments) {
    // A NUL inside an argument would split it in two.
    if (argument.find('\0') != std::string::npos) return false;
    size += argument.size() + 1;
  }
  return size <= MaxDecoderRequestBytes;
}

DecoderChild* KeptDecoder::Send(const std::string& decoder, uint64_t address_space,
                                const std::vector<std::string>& arguments, int fd) {
  if (fd < 0 || !Fits(arguments) || DecodersStopped()) {
    Dismiss();
    return nullptr;
  }
  if (child_ && (decoder != executable_ || address_space > address_space_ || !Ready())) Dismiss();
  const std::string message = FileRequest(address_space, arguments);
  // A kept decoder that ended since it said it was ready is replaced once.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!child_) {
      const uint64_t most = KeptDecoderAddressSpace(address_space);
      child_ = SpawnServingDecoder(decoder, {"--parent=" + std::to_string(getpid()),
                                             "--address-space=" + std::to_string(most)});
      if (!child_) return nullptr;
      executable_ = decoder;
      address_space_ = most;
    }
    if (SendWithDescriptor(child_->request.get(), message, fd)) return &*child_;
    Dismiss();
  }
  return nullptr;
}

void KeptDecoder::Keep() {
  if (!child_) return;
  if (send(child_->request.get(), &DecoderFileDone, 1, MSG_NOSIGNAL) != 1) {
    Dismiss();
    return;
  }
  told_done_ = true;
}

void KeptDecoder::Forget() {
  child_.reset();
  told_done_ = false;
}

bool KeptDecoder::Ready() {
  if (!told_done_) return true;
  told_done_ = false;
  char answer = 0;
  if (!ReadAll(child_->record.get(), &answer, 1, std::chrono::steady_clock::now() + ReadyTime) ||
      answer != DecoderReady) {
    return false;
  }
  // Nothing may follow the answer: what does was not asked for.
  const ssize_t more = read(child_->record.get(), &answer, 1);
  return more < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

void KeptDecoder::Dismiss() {
  told_done_ = false;
  if (!child_) return;
  const pid_t pid = child_->pid;
  child_.reset();
  DismissDecoder(pid);
}
