// The machine's side of the disk protocol for the tests: commands sent a
// byte at a time through an exchange (a session in this process, or a link
// to a real server), and the protocol's rule for errors checked on every
// answer: once a byte is answered with an error, every later byte of the
// command is answered with the same error.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarvo::test {

class DiskClient {
 public:
  // The answer to one byte, or nothing when the link failed.
  using Exchange = std::function<std::optional<uint8_t>(uint8_t)>;
  static constexpr int kLinkFailed = -1;

  explicit DiskClient(Exchange exchange) : exchange_(std::move(exchange)) {}

  // Each returns 0 when done, the error byte, or kLinkFailed. After an
  // error the rest of the command is sent all the same.
  int save(const std::string& name, const std::vector<uint8_t>& data) {
    begin();
    send('S');
    sendName(name);
    send(static_cast<uint8_t>(data.size() & 0xFF));
    send(static_cast<uint8_t>(data.size() >> 8));
    for (uint8_t b : data) send(b);
    return status_;
  }

  int load(const std::string& name, std::vector<uint8_t>& data) {
    data.clear();
    begin();
    send('L');
    sendName(name);
    const int low = take(), high = take();
    if (status_ != 0) return status_;
    const int n = low | (high << 8);
    for (int i = 0; i < n && status_ == 0; ++i) data.push_back(static_cast<uint8_t>(take()));
    return status_;
  }

  int files(std::vector<std::pair<std::string, int>>& out) {
    out.clear();
    begin();
    send('F');
    // Bounded, so that a server that never ends its listing fails the test.
    for (int entries = 0; status_ == 0 && entries < 100000; ++entries) {
      std::string name;
      for (int c = take(); status_ == 0 && c != 0 && name.size() < 1000; c = take())
        name.push_back(static_cast<char>(c));
      if (name.empty()) return status_;
      const int low = take(), high = take();
      out.emplace_back(name, low | (high << 8));
    }
    return status_;
  }

  int kill(const std::string& name) {
    begin();
    send('K');
    sendName(name);
    return status_;
  }

  // False once an answer after an error differed from that error.
  bool errorsHeld() const { return errorsHeld_; }

 private:
  void begin() { status_ = 0; }

  // A byte whose answer is a status.
  int send(uint8_t b) {
    const int answer = raw(b);
    if (status_ == 0 && answer != 0) status_ = answer;
    return answer;
  }
  // A byte whose answer is data (while all is well).
  int take() { return raw(0); }

  int raw(uint8_t b) {
    if (status_ == kLinkFailed) return kLinkFailed;
    const std::optional<uint8_t> answer = exchange_(b);
    if (!answer) {
      status_ = kLinkFailed;
      return kLinkFailed;
    }
    if (status_ > 0 && *answer != status_) errorsHeld_ = false;
    return *answer;
  }

  void sendName(const std::string& name) {
    send(static_cast<uint8_t>(std::min<std::size_t>(name.size(), 255)));
    for (std::size_t i = 0; i < name.size() && i < 255; ++i) send(static_cast<uint8_t>(name[i]));
  }

  Exchange exchange_;
  int status_ = 0;
  bool errorsHeld_ = true;
};

}  // namespace tarvo::test
