// The disk server's network side: a TCP listener that serves machines over
// the disk protocol, each connection with a session of its own, all from
// one thread. A connection that sends nothing for the idle time is dropped
// with whatever it had begun; a peer that does not read its answers is
// dropped once they pile up.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "disk/disk_session.h"
#include "disk/disk_store.h"

namespace tarvo::disk {

struct ServerOptions {
  std::string address = "127.0.0.1";  // dotted-decimal IPv4
  int port = 7351;                    // 0: any free port
  int idleTimeoutMs = 5000;
  std::size_t maxClients = 8;
};

class DiskServer {
 public:
  DiskServer(DiskStore& store, ServerOptions options, DiskSession::Log log = {});
  ~DiskServer();
  DiskServer(const DiskServer&) = delete;
  DiskServer& operator=(const DiskServer&) = delete;

  // Binds and listens. False with a message when that cannot be done.
  bool listen(std::string& error);
  // The port listened on (the one chosen when the options said 0).
  int port() const { return port_; }
  // Serves until stop is set; looks at it at least every pollMs.
  void run(const std::atomic<bool>& stop, int pollMs = 100);
  // One round of waiting (at most waitMs) and serving what came.
  void serveOnce(int waitMs);
  std::size_t clients() const { return clients_.size(); }

 private:
  struct Client {
    int fd = -1;
    std::unique_ptr<DiskSession> session;
    std::vector<uint8_t> outbox;  // answers not yet taken by the peer
    std::chrono::steady_clock::time_point lastByte;
  };

  void accept();
  // False when the client is done with (closed, failed or misbehaving).
  bool readFrom(Client& c);
  bool writeTo(Client& c);

  DiskStore& store_;
  ServerOptions options_;
  DiskSession::Log log_;
  int listener_ = -1;
  int port_ = 0;
  std::vector<Client> clients_;
};

}  // namespace tarvo::disk
