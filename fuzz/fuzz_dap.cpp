// The debug adapter's input: whatever bytes an editor (or anything else)
// writes to it, framed or not, after a launch of a small program on an
// empty machine directory. Every body that comes out of the framing is
// handled as a request, and while the machine runs it runs a tick between
// messages.
//
// Beyond memory safety: nothing throws out of the session; every response
// says whether it succeeded, and a failure says why; sequence numbers of
// the adapter's messages count up from 1 without a gap.
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "debugger/dap_session.h"
#include "fuzz_support.h"

using namespace tarvo;
using nlohmann::json;

namespace {

// A machine directory without any file (every image reads 0xFF) and a
// program with a loop, a call and a labelled byte, made once.
const std::string& workDir() {
  // Never freed, so that the exit handler that removes it can still read it.
  static const std::string& dir = *new std::string([] {
    char pattern[] = "/tmp/tarvo-fuzz-dap-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (made == nullptr) std::abort();
    const std::string d = made;
    std::FILE* f = std::fopen((d + "/p.s").c_str(), "w");
    if (f == nullptr) std::abort();
    std::fputs(
        "        org &H8000\n"
        "start:  pre ix,counter\n"
        "        ld $30,0\n"
        "loop:   ad $1,1\n"
        "        cal bump\n"
        "        jp loop\n"
        "bump:   st $1,(ix+$30)\n"
        "        rtn\n"
        "counter: db 0\n",
        f);
    std::fclose(f);
    std::atexit([] {
      std::remove((workDir() + "/p.s").c_str());
      ::rmdir(workDir().c_str());
    });
    return d;
  }());
  return dir;
}

void check(const DapSession::Out& out, int64_t& seq) {
  for (const json& m : out) {
    FUZZ_CHECK(m.is_object() && m["seq"].is_number_integer());
    FUZZ_CHECK(m["seq"].get<int64_t>() == ++seq);
    if (m["type"] == "response") {
      FUZZ_CHECK(m["success"].is_boolean());
      FUZZ_CHECK(m["success"] == true || (m["message"].is_string() && !m["message"].empty()));
    } else {
      FUZZ_CHECK(m["type"] == "event" && m["event"].is_string());
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DapSession session;
  DapSession::Out out;
  int64_t seq = 0;
  const json launch = {
      {"seq", 1},
      {"type", "request"},
      {"command", "launch"},
      {"arguments",
       {{"machine", workDir()}, {"program", workDir() + "/p.s"}, {"stopOnEntry", true}}}};
  session.receive(launch.dump(), out);
  // Load failures of the missing files come first, as output events.
  bool launched = false;
  for (const json& m : out)
    launched = launched || (m["type"] == "response" && m["success"] == true);
  FUZZ_CHECK(launched);
  check(out, seq);
  out.clear();

  // The first byte says where the input is cut in two, so that frames
  // arrive in pieces as they do from a pipe.
  if (size == 0) return 0;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::size_t cut = std::min<std::size_t>(data[0] * 4u, bytes.size());
  DapFramer framer;
  for (const std::string_view piece : {bytes.substr(0, cut), bytes.substr(cut)}) {
    framer.feed(piece);
    for (;;) {
      std::string error;
      const auto body = framer.next(&error);
      if (!error.empty()) session.refuse(error, out);
      if (body) session.receive(*body, out);
      if (session.running()) session.runSlice(std::chrono::nanoseconds(0), out);
      check(out, seq);
      out.clear();
      if (!body && error.empty()) break;
      if (session.ended()) return 0;
    }
  }
  return 0;
}
