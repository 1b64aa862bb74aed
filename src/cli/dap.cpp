// tarvo-dap: the debug adapter. Speaks the Debug Adapter Protocol on
// standard input and output (Content-Length framed JSON) and drives a
// headless machine: while the program runs it executes run ticks at full
// speed in short slices and looks at its input between them, so that a
// pause is answered at once; while the machine is stopped it waits for
// the next request.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <iostream>
#include <string>

#include "debugger/dap_session.h"

namespace {

using tarvo::DapFramer;
using tarvo::DapSession;

// Host time the machine runs between two looks at the input.
constexpr auto kSlice = std::chrono::milliseconds(10);

bool writeAll(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(1, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool send(DapSession::Out& out) {
  for (const nlohmann::json& message : out) {
    // Invalid UTF-8 (a file name, a label) is replaced rather than thrown on.
    if (!writeAll(DapFramer::frame(
            message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace))))
      return false;
  }
  out.clear();
  return true;
}

int run() {
  DapSession session;
  DapFramer framer;
  DapSession::Out out;
  bool input = true;
  while (!session.ended()) {
    pollfd fd = {0, POLLIN, 0};
    const int timeout = session.running() ? 0 : -1;
    if (input) {
      const int ready = ::poll(&fd, 1, timeout);
      if (ready < 0 && errno != EINTR) return 2;
      if (ready > 0) {
        char buf[65536];
        const ssize_t n = ::read(0, buf, sizeof buf);
        if (n < 0 && errno != EINTR && errno != EAGAIN) return 2;
        if (n == 0) input = false;  // the editor is gone: what it sent is answered, then the end
        if (n > 0) framer.feed(std::string_view(buf, static_cast<std::size_t>(n)));
      }
    }
    for (;;) {
      std::string error;
      const auto body = framer.next(&error);
      if (!error.empty()) session.refuse(error, out);
      if (!body) {
        if (error.empty()) break;
        continue;
      }
      session.receive(*body, out);
      if (session.ended()) break;
    }
    if (!input) break;
    if (!session.ended()) session.runSlice(kSlice, out);
    if (!send(out)) return 2;
  }
  return send(out) ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    // The editor starts the adapter without arguments; a person who asks
    // learns what it is instead of a program waiting on its input.
    const std::string arg = argv[1];
    if (argc == 2 && (arg == "--help" || arg == "-h")) {
      std::cout << "Usage: tarvo-dap\n"
                   "The Tarvo's debug adapter: speaks the Debug Adapter Protocol on standard\n"
                   "input and output. An editor starts it and launches a machine directory\n"
                   "with an assembly program (see tarvo-dap(1)).\n";
      return 0;
    }
    std::cerr << "tarvo-dap: takes no arguments (an editor starts it; see --help)\n";
    return 2;
  }
  // A closed output ends the adapter through the failed write, not a signal.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    return run();
  } catch (const std::exception& e) {
    std::cerr << "tarvo-dap: " << e.what() << '\n';
  }
  return 2;
}
