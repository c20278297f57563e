#pragma once

// A one-connection HTTP server on 127.0.0.1 for the update check's tests: it accepts one client,
// reads its request head, then lets a script answer (or not) on the connection.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

class TestHttpServer {
 public:
  /// Answers the client on `fd`; the server closes the connection when the script returns.
  using Script = std::function<void(int fd)>;

  explicit TestHttpServer(Script script);
  ~TestHttpServer();
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  /// "http://127.0.0.1:PORT" followed by `path`.
  std::string Address(std::string_view path) const;
  /// The request head as received; complete once the client has its answer.
  std::string Request();

 private:
  void Serve(Script script);

  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::string request_;
  std::thread thread_;
};

/// Sends all of `bytes`; false when the client has gone.
bool SendText(int fd, std::string_view bytes);

/// Waits up to `milliseconds` for the client to close its end.
void WaitForClientClose(int fd, int milliseconds);

/// A port on 127.0.0.1 where nothing listens.
uint16_t UnusedLocalPort();
