// A debug adapter started as a child and spoken to as an editor speaks to
// it: Content-Length framed JSON on its standard input and output, every
// wait bounded by a timeout.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace tarvo::test {

class DapClient {
 public:
  using json = nlohmann::json;
  using Clock = std::chrono::steady_clock;

  explicit DapClient(const std::string& program) : DapClient(std::vector<std::string>{program}) {}
  // The adapter started by a command line (a limit program before it).
  explicit DapClient(const std::vector<std::string>& argv) {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::close(in[1]);
      ::close(out[0]);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    to_ = in[1];
    from_ = out[0];
    ::signal(SIGPIPE, SIG_IGN);
  }
  ~DapClient() {
    if (to_ >= 0) ::close(to_);
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (from_ >= 0) ::close(from_);
  }
  DapClient(const DapClient&) = delete;
  DapClient& operator=(const DapClient&) = delete;

  // Raw bytes, for malformed frames.
  void write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(to_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }
  void writeBody(const std::string& body) {
    write("Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  }

  // Sends a request; returns its seq.
  int send(const std::string& command, json arguments = nullptr) {
    json m = {{"seq", ++seq_}, {"type", "request"}, {"command", command}};
    if (!arguments.is_null()) m["arguments"] = std::move(arguments);
    writeBody(m.dump());
    return seq_;
  }

  // The next message, or nothing after the timeout or at the end of output.
  std::optional<json> next(std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    const auto end = Clock::now() + timeout;
    for (;;) {
      const auto header = buffer_.find("\r\n\r\n");
      if (header != std::string::npos) {
        const auto colon = buffer_.find(':');
        const std::size_t length = std::stoul(buffer_.substr(colon + 1, header - colon - 1));
        if (buffer_.size() >= header + 4 + length) {
          json m = json::parse(buffer_.substr(header + 4, length));
          buffer_.erase(0, header + 4 + length);
          seen_.push_back(m);
          return m;
        }
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd fd = {from_, POLLIN, 0};
      if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
      char buf[65536];
      const ssize_t n = ::read(from_, buf, sizeof buf);
      if (n <= 0) return std::nullopt;
      buffer_.append(buf, static_cast<std::size_t>(n));
    }
  }

  // Messages up to the response to request seq (events before it are kept
  // in seen()); a null json on timeout.
  json response(int seq, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    while (auto m = next(timeout)) {
      if ((*m)["type"] == "response" && (*m)["request_seq"] == seq) return *m;
    }
    return nullptr;
  }
  json request(const std::string& command, json arguments = nullptr) {
    return response(send(command, std::move(arguments)));
  }
  // The next event of that name (possibly one already read), or null json.
  json event(const std::string& name,
             std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    for (std::size_t i = consumed_; i < seen_.size(); ++i) {
      if (seen_[i]["type"] == "event" && seen_[i]["event"] == name) {
        consumed_ = i + 1;
        return seen_[i];
      }
    }
    consumed_ = seen_.size();
    while (auto m = next(timeout)) {
      ++consumed_;
      if ((*m)["type"] == "event" && (*m)["event"] == name) return *m;
    }
    return nullptr;
  }
  const std::vector<json>& seen() const { return seen_; }
  pid_t pid() const { return pid_; }

  // The exit status once the adapter has ended, -1 when it has not within
  // the timeout.
  int wait(std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
    const auto end = Clock::now() + timeout;
    while (Clock::now() < end) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      ::usleep(10000);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  int to_ = -1, from_ = -1;
  int seq_ = 0;
  bool exited_ = false;
  std::string buffer_;
  std::vector<json> seen_;
  std::size_t consumed_ = 0;
};

}  // namespace tarvo::test
