// Save states and rewind on the demo machine: encoding and saving a state,
// reading and loading one, one rewind capture, and the rewind memory that
// one emulated minute of use takes.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "frontpanel/files.h"
#include "frontpanel/input_log.h"
#include "frontpanel/rewind.h"
#include "frontpanel/run_loop.h"
#include "frontpanel/state_file.h"
#include "machine.h"

namespace {

using namespace tarvo;

struct Silent : Messages {
  void loadFailed(const std::string&) override {}
  void saveFailed(const std::string&) override {}
};

// The demo machine, booted (two emulated seconds), driven as tarvo-run does.
struct Demo {
  Demo() : loop(m, messages, TARVO_BUILD_DIR "/machine-template") {
    loop.create();
    loop.show(false);
    for (int i = 0; i < 200; ++i) tick();
  }
  void tick() {
    loop.runTick();
    const CadenceDue due = advanceCadence(loop.scheduler);
    if (due.refresh) loop.refreshTick();
    if (due.second) loop.secondTick();
  }
  static bool present() {
    struct stat st;
    return ::stat(TARVO_BUILD_DIR "/machine-template/rom1.bin", &st) == 0;
  }
  Silent messages;
  Machine m;
  RunLoop loop;
};

#define NEED_DEMO(state)                                      \
  if (!Demo::present()) {                                     \
    state.SkipWithError("no demo machine in the build tree"); \
    return;                                                   \
  }

void BM_StateEncode(benchmark::State& state) {
  NEED_DEMO(state);
  Demo d;
  std::size_t size = 0;
  for (auto _ : state) size = encodeState(d.m, d.loop.scheduler).size();
  state.counters["file_bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_StateEncode)->Unit(benchmark::kMicrosecond);

// Through the same save as the RAM images: temporary file, flush, rename.
void BM_StateSaveFile(benchmark::State& state) {
  NEED_DEMO(state);
  Demo d;
  const std::string file = "/tmp/tarvo-bench-state.tst";
  for (auto _ : state) benchmark::DoNotOptimize(writeStateFile(file, d.m, d.loop.scheduler));
  std::remove(file.c_str());
}
BENCHMARK(BM_StateSaveFile)->Unit(benchmark::kMicrosecond);

void BM_StateLoadFile(benchmark::State& state) {
  NEED_DEMO(state);
  Demo d;
  const std::string file = "/tmp/tarvo-bench-state-load.tst";
  writeStateFile(file, d.m, d.loop.scheduler);
  for (auto _ : state) {
    DecodedState decoded;
    if (!readStateFile(file, decoded).empty()) state.SkipWithError("refused");
    applyState(decoded, d.m, d.loop.scheduler);
  }
  std::remove(file.c_str());
}
BENCHMARK(BM_StateLoadFile)->Unit(benchmark::kMicrosecond);

// One capture, between run ticks of a machine that is typed on.
void BM_RewindCapture(benchmark::State& state) {
  NEED_DEMO(state);
  Demo d;
  RewindBuffer ring;
  int n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < 10; ++i) d.tick();
    if (++n % 10 == 0) applyInputEvent(d.m, {0, InputKind::HostChar, 69 + n / 10 % 4});
    if (n % 10 == 5) applyInputEvent(d.m, {0, InputKind::HostUp, 0});
    state.ResumeTiming();
    ring.capture(d.m, d.loop.scheduler);
  }
}
BENCHMARK(BM_RewindCapture)->Unit(benchmark::kMicrosecond);

// One emulated minute: a key typed every second (a digit, then the
// calculator's Enter every tenth), ten captures a second; the ring's
// memory at the end, with and without the one whole snapshot it keeps.
void BM_RewindMinute(benchmark::State& state) {
  NEED_DEMO(state);
  for (auto _ : state) {
    Demo d;
    RewindBuffer ring;
    for (int t = 0; t < 6000; ++t) {
      if (t % 100 == 0)
        applyInputEvent(d.m, {0, InputKind::HostChar, t % 1000 == 900 ? 75 : 69 + t / 100 % 4});
      if (t % 100 == 10) applyInputEvent(d.m, {0, InputKind::HostUp, 0});
      d.tick();
      if (t % 10 == 9) ring.capture(d.m, d.loop.scheduler);
    }
    state.counters["ring_bytes"] = static_cast<double>(ring.bytes());
    state.counters["diff_bytes"] =
        static_cast<double>(ring.bytes() - takeSnapshot(d.m, d.loop.scheduler).size());
    state.counters["states"] = static_cast<double>(ring.depth() + 1);
  }
}
BENCHMARK(BM_RewindMinute)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

namespace {

// Fast-forward as the window runs it: each 10 ms host tick spends up to
// 8 ms of host time on run ticks, one after another; with rewind on, the
// tick first takes its capture. Arg 1: rewind on. Reports emulated cycles
// per host second.
void BM_FastForward(benchmark::State& state) {
  NEED_DEMO(state);
  Demo d;
  RewindBuffer ring;
  const bool rewind = state.range(0) != 0;
  const int64_t before = d.loop.cyclesRun();
  int n = 0;
  for (auto _ : state) {
    if (rewind) ring.capture(d.m, d.loop.scheduler);
    if (++n % 50 == 0) applyInputEvent(d.m, {0, InputKind::HostChar, 69 + n / 50 % 4});
    if (n % 50 == 25) applyInputEvent(d.m, {0, InputKind::HostUp, 0});
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(8);
    do d.tick();
    while (std::chrono::steady_clock::now() < end);
  }
  const auto cycles = static_cast<double>(d.loop.cyclesRun() - before);
  state.counters["cycles/s"] = benchmark::Counter(cycles, benchmark::Counter::kIsRate);
  state.counters["cycles_per_tick"] =
      benchmark::Counter(cycles, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_FastForward)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3.0)
    ->UseRealTime();

}  // namespace
