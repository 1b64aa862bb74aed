// Sockets on 127.0.0.1 for the tests of the disk link: a bound (and maybe
// listening) socket on a free port, a port where nothing listens, and the
// address of a port. Nothing here leaves this machine.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

namespace tarvo::test {

inline sockaddr_in loopbackAddress(int port = 0) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return sa;
}

// A socket bound to a free port on 127.0.0.1, listening or not; fd is -1
// when that could not be set up.
struct BoundSocket {
  int fd = -1;
  int port = 0;
  explicit BoundSocket(bool listening, int backlog = 8) {
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa = loopbackAddress();
    socklen_t len = sizeof sa;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
        (listening && ::listen(fd, backlog) != 0) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
      ::close(fd);
      fd = -1;
      return;
    }
    port = ntohs(sa.sin_port);
  }
  ~BoundSocket() {
    if (fd >= 0) ::close(fd);
  }
  BoundSocket(const BoundSocket&) = delete;
  BoundSocket& operator=(const BoundSocket&) = delete;
};

// A port on 127.0.0.1 that was bound once and let go: nothing listens
// there, so a connection to it is refused.
inline int refusingPort() {
  const BoundSocket probe(false);
  return probe.port;
}

// Connects a new socket to a port on 127.0.0.1; -1 when refused.
inline int connectLoopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in sa = loopbackAddress(port);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// A test server on 127.0.0.1: accepts connections one after another and
// hands each to a behaviour, which returns when it is done with the peer.
class TestServer {
 public:
  using Behaviour = std::function<void(int fd, const std::atomic<bool>& stop)>;

  explicit TestServer(Behaviour behaviour)
      : listener_(true), behaviour_(std::move(behaviour)), thread_([this] { run(); }) {}
  ~TestServer() {
    stop_ = true;
    thread_.join();
  }
  int port() const { return listener_.port; }
  int accepted() const { return accepted_; }

  // Waits for the peer's next byte; false when the peer closed or on stop.
  static bool readByte(int fd, const std::atomic<bool>& stop, uint8_t& b) {
    while (!stop) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) > 0) return ::recv(fd, &b, 1, 0) == 1;
    }
    return false;
  }

 private:
  void run() {
    while (!stop_) {
      pollfd p{listener_.fd, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      const int conn = ::accept4(listener_.fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (conn < 0) continue;
      ++accepted_;
      behaviour_(conn, stop_);
      ::close(conn);
    }
  }

  const BoundSocket listener_;
  Behaviour behaviour_;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::thread thread_;
};

}  // namespace tarvo::test
