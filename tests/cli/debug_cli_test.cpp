// tarvo-run's debugger options on the benchmark's CPU-bound program,
// assembled by tarvo-asm with its symbol file.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "spawn.h"

namespace {

namespace fs = std::filesystem;
using tarvo::test::Outcome;
using tarvo::test::spawn;

const std::string kBin = TARVO_BIN_DIR;

struct MixDir {
  std::string path;
  MixDir() {
    std::string pattern = (fs::temp_directory_path() / "tarvo-debug-XXXXXX").string();
    path = ::mkdtemp(pattern.data());
    const Outcome a =
        spawn({kBin + "/tarvo-asm", std::string(TARVO_SOURCE_DIR) + "/bench/cpu_mix.s", "-o",
               file("ram0.bin"), "--base", "0", "--size", "65536", "--symbols", file("mix.sym")});
    EXPECT_EQ(a.status, 0) << a.err;
  }
  ~MixDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  std::string file(const std::string& name) const { return path + "/" + name; }

  Outcome run(std::vector<std::string> more) const {
    std::vector<std::string> args = {kBin + "/tarvo-run", "--dir", path,    "--set",
                                     "PC=8000",           "--set", "UA=55", "--set",
                                     "segmentLatch=55",   "--set", "IB=40", "--dump"};
    args.insert(args.end(), more.begin(), more.end());
    return spawn(args);
  }
};

nlohmann::json lastJson(const std::string& out) {
  return nlohmann::json::parse(out.substr(out.rfind('{')));
}

TEST(DebugCli, BreakpointStopsBeforeItsInstructionAndReportsIt) {
  MixDir dir;
  const Outcome hit = dir.run({"--steps", "100000", "--symbols", dir.file("mix.sym"), "--break",
                               "loop:$21==&H2E", "--peek", "1A000:2"});
  ASSERT_EQ(hit.status, 0) << hit.err;
  const auto j = lastJson(hit.out);
  EXPECT_EQ(j["stopReason"], "breakpoint");
  EXPECT_EQ(j["stopAddress"], "803A");
  EXPECT_EQ(j["PC"], 0x803A);
  EXPECT_EQ(j["R"][21], 0x2E);
  EXPECT_EQ(hit.out.rfind("1A000:", 0), 0u);  // --peek still acts after the stop
  const uint64_t steps = j["steps"];
  ASSERT_GT(steps, 10u);

  // The same number of plain steps ends in the same state; one fewer
  // does not reach the address.
  const auto plain = lastJson(dir.run({"--steps", std::to_string(steps)}).out);
  EXPECT_EQ(plain["stateDigest"], j["stateDigest"]);
  EXPECT_EQ(plain["stopReason"], "steps");
  const auto before = lastJson(dir.run({"--steps", std::to_string(steps - 1)}).out);
  EXPECT_NE(before["PC"], 0x803A);

  // A hex address works without symbols; no hit runs to the end.
  const auto hex = lastJson(dir.run({"--ticks", "5", "--break", "803a"}).out);
  EXPECT_EQ(hex["stopReason"], "breakpoint");
  const auto none = lastJson(dir.run({"--ticks", "5", "--break", "7000"}).out);
  EXPECT_EQ(none["stopReason"], "ticks");
  EXPECT_EQ(none["steps"].get<uint64_t>() > 1000, true);

  // A label spelled with hex digits only is the label; &H makes a number.
  std::ofstream(dir.file("hex.sym")) << "beef 803A\n";
  auto stop = [&](const std::string& where) {
    return lastJson(dir.run({"--ticks", "5", "--symbols", dir.file("hex.sym"), "--break", where})
                        .out)["stopReason"];
  };
  EXPECT_EQ(stop("beef"), "breakpoint");
  EXPECT_EQ(stop("beef+0"), "breakpoint");
  EXPECT_EQ(stop("&Hbeef"), "ticks");
}

TEST(DebugCli, WatchpointStopsAfterTheAccess) {
  MixDir dir;
  const Outcome w = dir.run({"--ticks", "100", "--watch", "1A000-1A003", "--peek", "1A000:1"});
  ASSERT_EQ(w.status, 0) << w.err;
  const auto j = lastJson(w.out);
  EXPECT_EQ(j["stopReason"], "watchpoint");
  EXPECT_EQ(j["stopAddress"], "1A000");
  EXPECT_NE(w.out.find("1A000: 5F"), std::string::npos) << w.out;  // the write happened
  const auto r = lastJson(dir.run({"--ticks", "100", "--watch", "19005:r"}).out);
  EXPECT_EQ(r["stopReason"], "watchpoint");
  EXPECT_EQ(r["stopAddress"], "19005");
  // The fill loop writes the byte long before anything reads it.
  const auto wr = lastJson(dir.run({"--ticks", "100", "--watch", "19005"}).out);
  EXPECT_EQ(wr["stopReason"], "watchpoint");
  EXPECT_LT(wr["steps"].get<uint64_t>() + 100, r["steps"].get<uint64_t>());
}

TEST(DebugCli, TraceWritesOneLinePerStep) {
  MixDir dir;
  const Outcome t = dir.run(
      {"--steps", "50", "--symbols", dir.file("mix.sym"), "--trace", dir.file("trace.txt")});
  ASSERT_EQ(t.status, 0) << t.err;
  std::ifstream in(dir.file("trace.txt"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 50u);
  EXPECT_EQ(lines[0], "          20 18000: D7 00 00 FF pre   ss,STACK             SS=FF00");
  // Operands name their labels.
  EXPECT_EQ(lines[9].substr(0, 45), "         214 1801D: D6 00 00 90 pre   ix,BUF ");
  const auto small =
      dir.run({"--steps", "50", "--trace", dir.file("t2.txt"), "--trace-limit", "300"});
  EXPECT_EQ(small.status, 0);
  EXPECT_LE(fs::file_size(dir.file("t2.txt")), 300u);
}

// A cut trace is whole lines of the full trace and then the closing line,
// never past the limit; a trace the file system does not take (a file size
// limit here) is reported and the run exits 2.
TEST(DebugCli, TraceHoldsItsLimitAndReportsAFailedWrite) {
  MixDir dir;
  auto text = [&](const std::string& name) {
    std::ifstream in(dir.file(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  ASSERT_EQ(dir.run({"--steps", "400", "--trace", dir.file("full.txt")}).status, 0);
  const std::string full = text("full.txt");
  ASSERT_GT(full.size(), 20000u);
  const std::string closing = "trace size limit reached\n";
  for (uint64_t limit : {0, 1, 24, 25, 26, 95, 300, 1000, 4099, 20000}) {
    const Outcome r = dir.run(
        {"--steps", "400", "--trace", dir.file("cut.txt"), "--trace-limit", std::to_string(limit)});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string cut = text("cut.txt");
    EXPECT_LE(cut.size(), limit);
    const std::size_t body =
        cut.size() >= closing.size() &&
                cut.compare(cut.size() - closing.size(), closing.size(), closing) == 0
            ? cut.size() - closing.size()
            : cut.size();
    EXPECT_EQ(cut.substr(0, body), full.substr(0, body)) << limit;
    EXPECT_TRUE(body == 0 || cut[body - 1] == '\n') << limit;
    // The closing line is there whenever it fits, and the lines before it
    // leave no room for one more.
    if (limit >= closing.size()) {
      EXPECT_EQ(body + closing.size(), cut.size()) << limit;
      const std::size_t next = full.find('\n', body) + 1;
      EXPECT_GT(next + closing.size(), limit) << limit;
    }
  }

  if (::access("/usr/bin/prlimit", X_OK) != 0) GTEST_SKIP() << "no prlimit";
  const std::vector<std::string> run = {"/usr/bin/prlimit",
                                        "--fsize=20000",
                                        kBin + "/tarvo-run",
                                        "--dir",
                                        dir.path,
                                        "--set",
                                        "PC=8000",
                                        "--set",
                                        "UA=55",
                                        "--set",
                                        "segmentLatch=55",
                                        "--set",
                                        "IB=40",
                                        "--steps",
                                        "400",
                                        "--trace",
                                        dir.file("big.txt")};
  const Outcome big = spawn(run);
  EXPECT_EQ(big.status, 2);
  const std::string message = "Failed to save the file " + dir.file("big.txt") + "\n";
  EXPECT_TRUE(big.err.ends_with(message)) << big.err;
  std::vector<std::string> fits = run;
  fits.insert(fits.end(), {"--trace-limit", "20000"});
  const Outcome small = spawn(fits);
  EXPECT_EQ(small.status, 0) << small.err;
  EXPECT_EQ(text("big.txt").size() <= 20000, true);
}

TEST(DebugCli, DisassemblyWithLabels) {
  MixDir dir;
  {
    std::ifstream in(dir.file("ram0.bin"), std::ios::binary);
    std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(dir.file("code.bin"), std::ios::binary) << image.substr(0x8000, 0x100);
  }
  const Outcome plain = spawn({kBin + "/tarvo-dis", dir.file("code.bin"), "--origin", "8000"});
  const Outcome named = spawn({kBin + "/tarvo-dis", dir.file("code.bin"), "--origin", "8000",
                               "--symbols", dir.file("mix.sym")});
  ASSERT_EQ(named.status, 0) << named.err;
  EXPECT_EQ(named.out.rfind("start:\n18000: pre   ss,STACK\n", 0), 0u) << named.out;
  EXPECT_NE(named.out.find("\nloop:\n1803A: ld    $2,(ix+$20)\n"), std::string::npos);
  EXPECT_NE(named.out.find("\n18062: cal   mix\n"), std::string::npos);
  EXPECT_NE(plain.out.find("\n18062: cal   &H809D\n"), std::string::npos);
  // Without the label lines and names the listing is the plain one.
  std::istringstream lines(named.out);
  int labelLines = 0, rows = 0;
  for (std::string line; std::getline(lines, line);) (line.back() == ':' ? labelLines : rows)++;
  EXPECT_EQ(labelLines, 7);
  EXPECT_EQ(rows, std::count(plain.out.begin(), plain.out.end(), '\n'));
  EXPECT_EQ(
      spawn({kBin + "/tarvo-dis", dir.file("code.bin"), "--symbols", dir.file("no.sym")}).status,
      2);
}

TEST(DebugCli, UnusableDebugArgumentsExitTwo) {
  MixDir dir;
  dir.run({});
  const std::vector<std::vector<std::string>> cases = {
      {"--break", "nolabel"},
      {"--break", "8000:$3=="},
      {"--break", "10000"},
      {"--symbols", dir.file("missing.sym")},
      {"--watch", "9-2"},
      {"--watch", "10:x"},
      {"--watch", "zz"},
      {"--watch", "100000"},
      {"--trace", dir.file("no/such/dir/t.txt"), "--steps", "1"},
      {"--trace", dir.file("t.txt"), "--trace-limit", "lots"},
  };
  for (const auto& c : cases) {
    const Outcome r = dir.run(c);
    std::string shown;
    for (const auto& a : c) shown += a + " ";
    EXPECT_EQ(r.status, 2) << shown;
    EXPECT_EQ(r.out, "") << shown;
  }
}

}  // namespace
