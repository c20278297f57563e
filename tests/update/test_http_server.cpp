#include "tests/update/test_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A test that goes wrong must still end: every wait of the server is bounded.
constexpr int ServerWaitMilliseconds = 20000;

int ListenOnLoopback(uint16_t& port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(fd, 4) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

bool WaitReadable(int fd, int milliseconds) {
  pollfd entry{fd, POLLIN, 0};
  return poll(&entry, 1, milliseconds) > 0;
}

}  // namespace

TestHttpServer::TestHttpServer(Script script) {
  listen_fd_ = ListenOnLoopback(port_);
  thread_ = std::thread([this, script = std::move(script)] { Serve(script); });
}

TestHttpServer::~TestHttpServer() {
  if (thread_.joinable()) thread_.join();
  if (listen_fd_ >= 0) close(listen_fd_);
}

std::string TestHttpServer::Address(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::string TestHttpServer::Request() {
  if (thread_.joinable()) thread_.join();
  return request_;
}

void TestHttpServer::Serve(Script script) {
  if (listen_fd_ < 0 || !WaitReadable(listen_fd_, ServerWaitMilliseconds)) return;
  const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  char buffer[1024];
  while (request_.find("\r\n\r\n") == std::string::npos && request_.size() < 4096 &&
         WaitReadable(fd, ServerWaitMilliseconds)) {
    const ssize_t received = recv(fd, buffer, sizeof buffer, 0);
    if (received <= 0) break;
    request_.append(buffer, static_cast<size_t>(received));
  }
  script(fd);
  close(fd);
}

bool SendText(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

void WaitForClientClose(int fd, int milliseconds) {
  char byte;
  while (WaitReadable(fd, milliseconds)) {
    if (recv(fd, &byte, 1, 0) <= 0) return;
  }
}

uint16_t UnusedLocalPort() {
  uint16_t port = 0;
  const int fd = ListenOnLoopback(port);
  if (fd >= 0) close(fd);
  return port;
}
