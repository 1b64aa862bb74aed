// The real tarvo-disk started as a child process on 127.0.0.1 and a free
// port, for the command-line tests; and a link to it that speaks the disk
// protocol as the machine does.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "../support/disk_client.h"
#include "devices/disk_link.h"

namespace tarvo::test {

class DiskProcess {
 public:
  // tarvo-disk DIR --port 0 and the given options; port() is 0 when it did
  // not come up.
  DiskProcess(const std::filesystem::path& dir, const std::vector<std::string>& options = {}) {
    int out[2];
    if (::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      const int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, 0);
      ::dup2(null, 2);
      ::close(out[0]);
      std::vector<std::string> argv = {std::string(TARVO_BIN_DIR) + "/tarvo-disk", dir.string(),
                                       "--port", "0"};
      argv.insert(argv.end(), options.begin(), options.end());
      std::vector<char*> args;
      for (std::string& a : argv) args.push_back(a.data());
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    ::close(out[1]);
    // "tarvo-disk: serving DIR on 127.0.0.1:PORT"
    std::string line;
    pollfd p{out[0], POLLIN, 0};
    char c;
    while (line.find('\n') == std::string::npos && ::poll(&p, 1, 10000) > 0 &&
           ::read(out[0], &c, 1) == 1)
      line.push_back(c);
    ::close(out[0]);
    const auto colon = line.rfind(':');
    if (colon != std::string::npos) port_ = std::atoi(line.c_str() + colon + 1);
  }
  ~DiskProcess() { stop(); }
  DiskProcess(const DiskProcess&) = delete;
  DiskProcess& operator=(const DiskProcess&) = delete;

  int port() const { return port_; }
  // Still running, not ended by anything that was done to it.
  bool running() const {
    if (pid_ <= 0) return false;
    int status = 0;
    return ::waitpid(pid_, &status, WNOHANG) == 0;
  }
  // SIGTERM; its exit status (0 when it stopped as it should), -1 when it
  // was not running.
  int stop() {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

// A machine's connection to the server: the emulator's own link, each
// byte awaited as the machine awaits it.
class DiskCall {
 public:
  explicit DiskCall(int port, int timeoutMs = 2000) : link_(timeoutMs, timeoutMs) {
    opened_ = link_.open("127.0.0.1", port);
    client_ = std::make_unique<DiskClient>([this](uint8_t b) -> std::optional<uint8_t> {
      link_.startTick();
      uint8_t answer = 0;
      if (!link_.sendByte(b) || !link_.receiveByte(answer)) return std::nullopt;
      return answer;
    });
  }
  bool opened() const { return opened_; }
  DiskClient& operator*() { return *client_; }
  DiskClient* operator->() { return client_.get(); }
  TcpDiskLink& link() { return link_; }

 private:
  TcpDiskLink link_;
  bool opened_ = false;
  std::unique_ptr<DiskClient> client_;
};

}  // namespace tarvo::test
