#include "disk/disk_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarvo::disk {

namespace {

using Clock = std::chrono::steady_clock;

// A machine waits for each answer before it sends the next byte, so its
// answers never pile up; a peer that sends without reading is cut off here.
constexpr std::size_t kMaxOutbox = 64 * 1024;
constexpr std::size_t kReadChunk = 4096;

}  // namespace

DiskServer::DiskServer(DiskStore& store, ServerOptions options, DiskSession::Log log)
    : store_(store), options_(std::move(options)), log_(std::move(log)) {}

DiskServer::~DiskServer() {
  for (Client& c : clients_) ::close(c.fd);
  if (listener_ >= 0) ::close(listener_);
}

bool DiskServer::listen(std::string& error) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  if (options_.port < 0 || options_.port > 65535) {
    error = "not a TCP port: " + std::to_string(options_.port);
    return false;
  }
  sa.sin_port = htons(static_cast<uint16_t>(options_.port));
  if (::inet_pton(AF_INET, options_.address.c_str(), &sa.sin_addr) != 1) {
    error = "not a dotted-decimal IPv4 address: " + options_.address;
    return false;
  }
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listener_ < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  const int one = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  socklen_t len = sizeof sa;
  if (::bind(listener_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(listener_, 16) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
    error = options_.address + ":" + std::to_string(options_.port) + ": " + std::strerror(errno);
    ::close(listener_);
    listener_ = -1;
    return false;
  }
  port_ = ntohs(sa.sin_port);
  return true;
}

void DiskServer::run(const std::atomic<bool>& stop, int pollMs) {
  while (!stop) serveOnce(pollMs);
}

void DiskServer::accept() {
  for (;;) {
    const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    // Beyond the bound a caller is hung up on at once rather than left
    // waiting in the queue; its machine sees a disk error.
    if (clients_.size() >= options_.maxClients) {
      ::close(fd);
      continue;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Client c;
    c.fd = fd;
    c.session = std::make_unique<DiskSession>(store_, log_);
    c.lastByte = Clock::now();
    clients_.push_back(std::move(c));
  }
}

bool DiskServer::readFrom(Client& c) {
  uint8_t buf[kReadChunk];
  const ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
  if (n == 0) return false;
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  c.lastByte = Clock::now();
  for (ssize_t i = 0; i < n; ++i) c.outbox.push_back(c.session->answer(buf[i]));
  return c.outbox.size() <= kMaxOutbox && writeTo(c);
}

bool DiskServer::writeTo(Client& c) {
  while (!c.outbox.empty()) {
    const ssize_t n = ::send(c.fd, c.outbox.data(), c.outbox.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (n <= 0) return false;
    c.outbox.erase(c.outbox.begin(), c.outbox.begin() + n);
  }
  return true;
}

void DiskServer::serveOnce(int waitMs) {
  // Waiting ends in time for the first client to reach its idle time.
  const auto now = Clock::now();
  int wait = waitMs;
  for (const Client& c : clients_) {
    const auto due = c.lastByte + std::chrono::milliseconds(options_.idleTimeoutMs);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - now).count();
    wait = static_cast<int>(std::clamp<int64_t>(left, 0, wait));
  }
  std::vector<pollfd> fds;
  fds.push_back({listener_, POLLIN, 0});
  for (const Client& c : clients_) {
    // A peer with answers still to take is not read from until it takes them.
    const short events = c.outbox.empty() ? POLLIN : POLLOUT;
    fds.push_back({c.fd, events, 0});
  }
  const int ready = ::poll(fds.data(), fds.size(), wait);
  if (ready < 0 && errno != EINTR) return;

  std::vector<bool> keep(clients_.size(), true);
  for (std::size_t i = 0; i < clients_.size(); ++i) {
    const short revents = fds[i + 1].revents;
    Client& c = clients_[i];
    if (revents & POLLOUT)
      keep[i] = writeTo(c);
    else if (revents & (POLLIN | POLLHUP | POLLERR))
      keep[i] = readFrom(c);
    const auto idleFor = Clock::now() - c.lastByte;
    if (idleFor >= std::chrono::milliseconds(options_.idleTimeoutMs)) keep[i] = false;
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < clients_.size(); ++i) {
    if (keep[i]) {
      if (kept != i) clients_[kept] = std::move(clients_[i]);
      ++kept;
    } else {
      ::close(clients_[i].fd);
    }
  }
  clients_.resize(kept);
  if (fds[0].revents & POLLIN) accept();
}

}  // namespace tarvo::disk
