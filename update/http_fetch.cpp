// The transfer of the update check: a hand-written HTTP/1.0 GET over a plain TCP connection.

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

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

// The one deadline of a fetch and the hook that runs while it waits.
class Wait {
 public:
  Wait(const FetchEnvironment& environment, const UpdateWaitHook& hook)
      : clock_(environment.clock ? environment.clock : SteadyClock::now),
        deadline_(clock_() + environment.budget),
        hook_(hook) {}

  int MillisecondsLeft() const {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - clock_()).count();
    return left > 0 ? static_cast<int>(left) : 0;
  }
  // How long one wait may block: until the deadline, or the next tick when a hook listens.
  int NextSlice() const {
    const int left = MillisecondsLeft();
    return hook_ ? std::min(left, UpdateWaitTickMilliseconds) : left;
  }
  // Runs the hook between slices; false when it gives the fetch up.
  bool Tick() const { return !hook_ || hook_(); }

 private:
  std::function<SteadyClock::time_point()> clock_;
  SteadyClock::time_point deadline_;
  const UpdateWaitHook& hook_;
};

// Waits until `fd` is ready for `events`; false on time-out, a failed poll or a hook that gave up.
bool WaitForSocket(int fd, short events, const Wait& wait) {
  for (;;) {
    if (wait.MillisecondsLeft() == 0) return false;
    pollfd entry{fd, events, 0};
    const int ready = poll(&entry, 1, wait.NextSlice());
    if (ready > 0) return true;  // errors and hang-ups show up in the next call on the socket
    if (ready < 0 && errno != EINTR) return false;
    if (!wait.Tick()) return false;
  }
}

// What the lookup thread hands over. Shared with it: a lookup the fetch stopped waiting for ends
// on its own, as getaddrinfo cannot be interrupted, and then frees this.
struct LookupResult {
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::vector<ResolvedAddress> addresses;
};

// The host's addresses, looked up on a thread of its own; empty when it does not resolve before
// the deadline or the hook gives up.
std::vector<ResolvedAddress> LookUp(const HttpAddress& address, const NameLookup& lookup,
                                    const Wait& wait) {
  auto result = std::make_shared<LookupResult>();
  try {
    std::thread([result, lookup = lookup ? lookup : NameLookup(SystemNameLookup),
                 host = address.host, port = address.port] {
      std::vector<ResolvedAddress> found = lookup(host, port);
      const std::lock_guard lock(result->mutex);
      result->addresses = std::move(found);
      result->done = true;
      result->finished.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return {};
  }
  std::unique_lock lock(result->mutex);
  while (!result->done) {
    if (wait.MillisecondsLeft() == 0) return {};
    result->finished.wait_for(lock, std::chrono::milliseconds(wait.NextSlice()));
    if (result->done) break;
    lock.unlock();
    const bool go_on = wait.Tick();
    lock.lock();
    if (!go_on) return {};
  }
  return std::move(result->addresses);
}

// The first address that accepts a connection before the deadline.
FileDescriptor Connect(const std::vector<ResolvedAddress>& addresses, const Wait& wait) {
  for (const ResolvedAddress& entry : addresses) {
    FileDescriptor socket(
        ::socket(entry.family, entry.socket_type | SOCK_NONBLOCK | SOCK_CLOEXEC, entry.protocol));
    if (!socket) continue;
    if (connect(socket.get(), reinterpret_cast<const sockaddr*>(&entry.address), entry.length) ==
        0) {
      return socket;
    }
    if (errno != EINPROGRESS) continue;
    if (!WaitForSocket(socket.get(), POLLOUT, wait)) continue;
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) continue;
    if (error == 0) return socket;
  }
  return {};
}

bool SendAll(int fd, std::string_view bytes, const Wait& wait) {
  while (!bytes.empty()) {
    // MSG_NOSIGNAL: a server that hangs up early must not end the program with SIGPIPE.
    const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      bytes.remove_prefix(static_cast<size_t>(sent));
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitForSocket(fd, POLLOUT, wait)) {
      continue;
    }
    return false;
  }
  return true;
}

// Everything the server sends until it closes, an error, the deadline or the size bound: the body
// may come in a later packet than the headers.
std::string ReceiveAll(int fd, const Wait& wait) {
  std::string response;
  char buffer[4096];
  while (response.size() < MaxUpdateResponseBytes) {
    if (!WaitForSocket(fd, POLLIN, wait)) break;
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

std::vector<ResolvedAddress> SystemNameLookup(const std::string& host, const std::string& port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return {};
  const AddressList list(found);
  std::vector<ResolvedAddress> addresses;
  for (const addrinfo* entry = list.get(); entry; entry = entry->ai_next) {
    if (entry->ai_addrlen > sizeof(sockaddr_storage)) continue;
    ResolvedAddress& address = addresses.emplace_back();
    address.family = entry->ai_family;
    address.socket_type = entry->ai_socktype;
    address.protocol = entry->ai_protocol;
    std::memcpy(&address.address, entry->ai_addr, entry->ai_addrlen);
    address.length = entry->ai_addrlen;
  }
  return addresses;
}

std::string FetchUpdateInfo(std::string_view address, std::string_view agent,
                            const UpdateWaitHook& wait_hook, const FetchEnvironment& environment) {
  if (address.empty()) return {};
  const std::optional<HttpAddress> parts = SplitHttpAddress(address);
  if (!parts) return {};

  // One deadline for every step, so slow steps cannot add up to more than the budget.
  const Wait wait(environment, wait_hook);
  const FileDescriptor socket = Connect(LookUp(*parts, environment.lookup, wait), wait);
  if (!socket) return {};
  if (!SendAll(socket.get(), BuildUpdateRequest(*parts, agent), wait)) return {};
  return UpdateInfoFromResponse(ReceiveAll(socket.get(), wait));
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
