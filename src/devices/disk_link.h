// Byte link to the disk server: a TCP client that sends single bytes and
// receives single replies. Every operation returns within a bound, so a
// server that never answers cannot stall the emulated machine.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tarvo {

class DiskLink {
 public:
  virtual ~DiskLink() = default;

  // Connects to a dotted-decimal IPv4 address and a TCP port, dropping any
  // connection that was still open. False when no connection came about.
  virtual bool open(const std::string& address, int32_t port) = 0;
  virtual void close() = 0;
  virtual bool connected() const = 0;
  // Each returns false on any failure (refused, reset, closed by the peer,
  // no progress within the bound); the link is then closed. sendByte first
  // drops whatever the peer sent without being asked, so that the next
  // receiveByte returns the answer to this byte.
  virtual bool sendByte(uint8_t value) = 0;
  virtual bool receiveByte(uint8_t& value) = 0;
  // A run tick begins: the time the link may spend waiting within one tick
  // starts afresh.
  virtual void startTick() {}
};

class TcpDiskLink final : public DiskLink {
 public:
  static constexpr int kDefaultTimeoutMs = 1000;
  static constexpr int kDefaultTickWaitMs = 1000;

  // timeoutMs bounds the connect and each send and receive separately;
  // tickWaitMs bounds all the waiting between two startTick() calls, so a
  // server that answers slowly but within the bound, or a program that calls
  // again and again, cannot hold one run tick for long. Once it is used up
  // every operation that would wait fails at once.
  explicit TcpDiskLink(int timeoutMs = kDefaultTimeoutMs, int tickWaitMs = kDefaultTickWaitMs)
      : timeoutMs_(timeoutMs), tickWaitMs_(tickWaitMs) {}
  ~TcpDiskLink() override;
  TcpDiskLink(const TcpDiskLink&) = delete;
  TcpDiskLink& operator=(const TcpDiskLink&) = delete;

  bool open(const std::string& address, int32_t port) override;
  void close() override;
  bool connected() const override { return fd_ >= 0; }
  bool sendByte(uint8_t value) override;
  bool receiveByte(uint8_t& value) override;
  void startTick() override { waitedNs_ = 0; }

 private:
  // Waits for the events until the operation's deadline or the end of this
  // tick's waiting time, whichever comes first; the time spent counts
  // against the tick.
  bool waitReady(short events, std::chrono::steady_clock::time_point deadline);

  int fd_ = -1;
  int timeoutMs_;
  int tickWaitMs_;
  int64_t waitedNs_ = 0;
};

}  // namespace tarvo
