// The debug adapter's framing and the breakpoints' hit counts, without a
// process in between.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "cpu/exec.h"
#include "debugger/dap_session.h"
#include "debugger/session.h"
#include "machine.h"
#include "machine/operations.h"
#include "tools/xasm.h"

namespace {

using tarvo::Breakpoint;
using tarvo::DapFramer;

// Frames split at random points come out whole and in order; a header
// without a usable length is reported and dropped, and what follows it
// still comes through.
TEST(DapFramer, BodiesSurviveAnySplitAndBadHeadersAreSkipped) {
  std::vector<std::string> bodies = {"{}", "{\"a\":1}", std::string(70000, 'x'), "",
                                     "{\"\xC3\xA9\":2}"};
  std::string stream;
  for (const std::string& b : bodies) stream += DapFramer::frame(b);
  stream += "Content-Length: -3\r\n\r\n";
  stream += "X-Other: 1\r\n\r\n";
  stream += "X-Other: 1\r\nContent-Length:  5 \r\n\r\nhello";
  std::mt19937 rng(17);
  for (int round = 0; round < 50; ++round) {
    DapFramer framer;
    std::vector<std::string> got;
    int errors = 0;
    std::size_t p = 0;
    while (p < stream.size()) {
      const std::size_t n = std::min<std::size_t>(stream.size() - p, 1 + rng() % 9000);
      framer.feed(std::string_view(stream).substr(p, n));
      p += n;
      for (;;) {
        std::string error;
        auto body = framer.next(&error);
        if (!error.empty()) ++errors;
        if (body) got.push_back(*body);
        if (!body && error.empty()) break;
      }
    }
    ASSERT_EQ(got.size(), bodies.size() + 1) << "round " << round;
    for (std::size_t i = 0; i < bodies.size(); ++i) EXPECT_EQ(got[i], bodies[i]);
    EXPECT_EQ(got.back(), "hello");
    EXPECT_EQ(errors, 2);
  }
}

// A hit count stops on the counted passes of the breakpoint whose
// condition holds, compared with the stops of the same breakpoint without
// one on the benchmark's loop.
TEST(HitCount, StopsOnTheCountedPassesWhereTheConditionHolds) {
  tarvo::XasmOptions options;
  options.base = 0;
  options.size = 0x10000;
  const tarvo::XasmOutput program =
      tarvo::assembleProgram(TARVO_SOURCE_DIR "/bench/cpu_mix.s", options);
  ASSERT_TRUE(program.ok());
  uint16_t loop = 0;
  for (const tarvo::XasmSymbol& s : program.symbols)
    if (s.name == "loop") loop = s.value;
  auto stops = [&](const char* condition, const char* hits, std::size_t count) {
    auto m = std::make_unique<tarvo::Machine>();
    tarvo::powerOnSequence(*m);
    std::copy(program.image.begin(), program.image.end(),
              m->mem.rows[tarvo::kRam0Row].buffer.begin());
    m->cpu.PC = 0x8000;
    m->cpu.UA = m->cpu.segmentLatch = 0x55;
    m->cpu.IB = 0x40;
    tarvo::DebugSession session(*m);
    const int id = session.addBreakpoint(0x10000u | loop, condition);
    EXPECT_TRUE(session.setHitCondition(id, hits)) << hits;
    std::vector<uint64_t> at;
    int64_t cycles = 0;
    session.resume();
    for (uint64_t steps = 1; steps <= 300000 && at.size() < count; ++steps) {
      cycles += tarvo::step(*m);
      if (session.stepped(*m, cycles)) {
        at.push_back(steps);
        session.resume();
      }
    }
    return at;
  };
  using V = std::vector<uint64_t>;
  const V every = stops("", "", 12);
  ASSERT_EQ(every.size(), 12u);
  EXPECT_EQ(stops("", "3", 3), (V{every[2], every[3], every[4]}));
  EXPECT_EQ(stops("", ">=3", 3), (V{every[2], every[3], every[4]}));
  EXPECT_EQ(stops("", ">10", 2), (V{every[10], every[11]}));
  EXPECT_EQ(stops("", "%4", 3), (V{every[3], every[7], every[11]}));
  EXPECT_EQ(stops("", "==2", 2), (V{every[1]}));  // and never again
  const V odd = stops("$21 & 1", "", 4);
  ASSERT_EQ(odd.size(), 4u);
  EXPECT_EQ(stops("$21 & 1", "2", 2), (V{odd[1], odd[2]}));

  tarvo::Breakpoint b;
  for (const char* bad : {"x", "3x", "%0", "<3", "-1", ">=", "99999999999999999999"}) {
    std::string error;
    EXPECT_FALSE(tarvo::parseHitCondition(bad, b.hitRule, b.hitCount, &error)) << bad;
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
