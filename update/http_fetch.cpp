// The transfer of the update check: a hand-written HTTP/1.0 GET over a plain TCP connection.

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <memory>

#include "platform/ascii.h"
#include "platform/file_descriptor.h"
#include "platform/text.h"
#include "update/update_check.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

struct AddressListFree {
  void operator()(addrinfo* list) const noexcept { freeaddrinfo(list); }
};
using AddressList = std::unique_ptr<addrinfo, AddressListFree>;

int MillisecondsUntil(SteadyClock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits until `fd` is ready for `events` or the deadline passes; the hook runs between ticks so
// the window can show it is alive. False on time-out or a failed poll.
bool WaitForSocket(int fd, short events, SteadyClock::time_point deadline,
                   const UpdateWaitHook& wait_hook) {
  for (;;) {
    const int left = MillisecondsUntil(deadline);
    if (left == 0) return false;
    pollfd entry{fd, events, 0};
    const int slice = wait_hook ? std::min(left, UpdateWaitTickMilliseconds) : left;
    const int ready = poll(&entry, 1, slice);
    if (ready > 0) return true;  // errors and hang-ups show up in the next call on the socket
    if (ready < 0 && errno != EINTR) return false;
    if (wait_hook) wait_hook();
  }
}

// The first address of the host that accepts a connection before the deadline.
FileDescriptor Connect(const HttpAddress& address, SteadyClock::time_point deadline,
                       const UpdateWaitHook& wait_hook) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(address.host.c_str(), address.port.c_str(), &hints, &found) != 0) return {};
  const AddressList list(found);

  for (const addrinfo* entry = list.get(); entry; entry = entry->ai_next) {
    FileDescriptor socket(::socket(
        entry->ai_family, entry->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, entry->ai_protocol));
    if (!socket) continue;
    if (connect(socket.get(), entry->ai_addr, entry->ai_addrlen) == 0) return socket;
    if (errno != EINPROGRESS) continue;
    if (!WaitForSocket(socket.get(), POLLOUT, deadline, wait_hook)) continue;
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) continue;
    if (error == 0) return socket;
  }
  return {};
}

bool SendAll(int fd, std::string_view bytes, SteadyClock::time_point deadline,
             const UpdateWaitHook& wait_hook) {
  while (!bytes.empty()) {
    // MSG_NOSIGNAL: a server that hangs up early must not end the program with SIGPIPE.
    const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      bytes.remove_prefix(static_cast<size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) &&
        WaitForSocket(fd, POLLOUT, deadline, wait_hook)) {
      continue;
    }
    return false;
  }
  return true;
}

// Everything the server sends until it closes, an error, the deadline or the size bound: the body
// may come in a later packet than the headers.
std::string ReceiveAll(int fd, SteadyClock::time_point deadline, const UpdateWaitHook& wait_hook) {
  std::string response;
  char buffer[4096];
  while (response.size() < MaxUpdateResponseBytes) {
    if (!WaitForSocket(fd, POLLIN, deadline, wait_hook)) break;
    const size_t room = std::min(sizeof buffer, MaxUpdateResponseBytes - response.size());
    const ssize_t received = recv(fd, buffer, room, 0);
    if (received > 0) {
      response.append(buffer, static_cast<size_t>(received));
      continue;
    }
    if (received < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    break;
  }
  return response;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<HttpAddress> SplitHttpAddress(std::string_view address) {
  if (const size_t scheme = address.find("://"); scheme != std::string_view::npos) {
    if (!EqualsIgnoringCase(address.substr(0, scheme), "http")) return std::nullopt;
    address.remove_prefix(scheme + 3);
  }
  HttpAddress parts;
  const size_t slash = address.find('/');
  std::string_view authority = address.substr(0, slash);
  if (slash != std::string_view::npos) parts.path = std::string(address.substr(slash));

  if (const size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
    const std::string_view port = authority.substr(colon + 1);
    int number = 0;
    const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (port.empty() || error != std::errc() || end != port.data() + port.size() || number < 1 ||
        number > 65535) {
      return std::nullopt;
    }
    parts.port = std::string(port);
    authority = authority.substr(0, colon);
  }
  if (authority.empty()) return std::nullopt;
  parts.host = std::string(authority);
  return parts;
}

std::string BuildUpdateRequest(const HttpAddress& address, std::string_view agent) {
  if (agent.empty()) agent = FallbackUserAgent;
  std::string request = "GET " + address.path + " HTTP/1.0\r\n";
  request += "Host: " + address.host + "\r\n";
  request += "Accept: */*\r\n";
  request += "User-Agent: " + std::string(agent) + "\r\n";
  request += "Connection: close\r\n";
  request += "\r\n";
  return request;
}

std::string UpdateInfoFromResponse(std::string_view response) {
  // The response is read as text, which ends at a zero byte.
  response = response.substr(0, response.find('\0'));
  constexpr std::string_view BlankLine = "\r\n\r\n";
  const size_t headers_end = response.find(BlankLine);
  if (headers_end == std::string_view::npos) return {};
  std::string_view body = response.substr(headers_end + BlankLine.size());
  body = body.substr(0, body.find(BlankLine));
  return std::string(TrimBlanks(body).substr(0, 3));
}

std::string FetchUpdateInfo(std::string_view address, std::string_view agent,
                            const UpdateWaitHook& wait_hook) {
  if (address.empty()) return {};
  const std::optional<HttpAddress> parts = SplitHttpAddress(address);
  if (!parts) return {};

  const FileDescriptor socket = Connect(
      *parts, SteadyClock::now() + std::chrono::milliseconds(MaxUpdateWaitMilliseconds), wait_hook);
  if (!socket) return {};

  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(MaxUpdateWaitMilliseconds);
  if (!SendAll(socket.get(), BuildUpdateRequest(*parts, agent), deadline, wait_hook)) return {};
  return UpdateInfoFromResponse(ReceiveAll(socket.get(), deadline, wait_hook));
}

int32_t ReadVersionNumber(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int64_t value = 0;
  for (char c : text) {
    if (!IsDigit(c)) break;
    value = std::min<int64_t>(value * 10 + (c - '0'), INT32_MAX);
  }
  return static_cast<int32_t>(negative ? -value : value);
}
