#include "devices/disk_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace tarvo {

namespace {

using Clock = std::chrono::steady_clock;

// Unasked-for bytes dropped before one send at most, so that a peer that
// floods the link cannot hold the step.
constexpr std::size_t kMaxStaleBytes = 64 * 1024;

}  // namespace

// Error and hang-up conditions count as ready: the following call reports
// them.
bool TcpDiskLink::waitReady(short events, Clock::time_point deadline) {
  for (;;) {
    const auto start = Clock::now();
    const auto tickLeft =
        std::chrono::milliseconds(tickWaitMs_) - std::chrono::nanoseconds(waitedNs_);
    const auto end =
        std::min(deadline, start + std::chrono::duration_cast<Clock::duration>(tickLeft));
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - start).count();
    if (left <= 0) return false;
    pollfd p{fd_, events, 0};
    const int n = ::poll(&p, 1, static_cast<int>(left));
    waitedNs_ += std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
    if (n > 0) return true;
    if (n == 0) return false;
    if (errno != EINTR) return false;
  }
}

TcpDiskLink::~TcpDiskLink() {
  close();
}

bool TcpDiskLink::open(const std::string& address, int32_t port) {
  close();
  if (port <= 0 || port > 65535) return false;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  // Dotted decimal only: no name lookup that could block on its own.
  if (::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) return false;

  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  // Each byte is a whole request; do not hold it back waiting for more.
  const int one = 1;
  ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
  if (::connect(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) {
      close();
      return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (!waitReady(POLLOUT, deadline) ||
        ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
      close();
      return false;
    }
  }
  return true;
}

void TcpDiskLink::close() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

bool TcpDiskLink::sendByte(uint8_t value) {
  if (fd_ < 0) return false;
  // Each byte sent is answered by exactly one byte, and the answer is
  // awaited before the next byte goes out. Anything already waiting now
  // answers nothing that was asked: drop it, so that it is not taken as the
  // reply to this byte. A peer that has closed shows here as well.
  uint8_t stale[256];
  for (std::size_t dropped = 0; dropped < kMaxStaleBytes;) {
    const ssize_t n = ::recv(fd_, stale, sizeof stale, MSG_DONTWAIT);
    if (n > 0) {
      dropped += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    close();
    return false;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
  for (;;) {
    // A peer that has gone away must not raise SIGPIPE in the emulator.
    const ssize_t n = ::send(fd_, &value, 1, MSG_NOSIGNAL);
    if (n == 1) return true;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitReady(POLLOUT, deadline))
      continue;
    close();
    return false;
  }
}

bool TcpDiskLink::receiveByte(uint8_t& value) {
  if (fd_ < 0) return false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
  for (;;) {
    uint8_t b = 0;
    const ssize_t n = ::recv(fd_, &b, 1, 0);
    if (n == 1) {
      value = b;
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitReady(POLLIN, deadline)) continue;
    // n == 0: the peer closed; otherwise an error or no reply in time.
    close();
    return false;
  }
}

}  // namespace tarvo
