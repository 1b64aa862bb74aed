// Speed measurements: the processor on a CPU-bound program of ours, the demo
// machine running headless, the LCD refresh and the disassembly pane.
//
// Emulated speed is reported as two rate counters: emulated cycles per host
// second ("cycles/s") and the speed factor against the real machine's
// 910 kHz clock ("x_real", emulated seconds per host second).
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "cpu/exec.h"
#include "cpu/memory.h"
#include "debugger/session.h"
#include "frontpanel/files.h"
#include "frontpanel/lcd_image.h"
#include "frontpanel/run_loop.h"
#include "machine.h"
#include "tools/disasm.h"
#include "tools/xasm.h"

namespace {

using namespace tarvo;

constexpr double kRealClockHz = 910000.0;

void reportSpeed(benchmark::State& state, int64_t cycles) {
  state.counters["cycles/s"] =
      benchmark::Counter(static_cast<double>(cycles), benchmark::Counter::kIsRate);
  state.counters["x_real"] =
      benchmark::Counter(static_cast<double>(cycles) / kRealClockHz, benchmark::Counter::kIsRate);
}

struct QuietMessages : Messages {
  void loadFailed(const std::string&) override {}
  void saveFailed(const std::string&) override {}
};

// ---------------------------------------------------------------------------
// The CPU-bound program, assembled from bench/cpu_mix.s into segment-1 RAM.

constexpr uint16_t kMixOrigin = 0x8000;

const std::vector<uint8_t>& cpuMixImage() {
  static const std::vector<uint8_t> image = [] {
    XasmOptions options;
    options.base = 0;
    options.size = 0x10000;
    const XasmOutput out = assembleProgram(TARVO_SOURCE_DIR "/bench/cpu_mix.s", options);
    if (!out.ok()) throw std::runtime_error(formatXasmError(out.errors.front()));
    return out.image;
  }();
  return image;
}

// A machine as the window leaves it after start-up, with no files: power-on
// sequence, switch on, the default clock. The program sits in segment 1
// and runs with every selector at segment 1 and the common area at 0x4000.
std::unique_ptr<Machine> cpuMixMachine() {
  auto m = std::make_unique<Machine>();
  setClock(*m, m->timers.oscFreq);
  powerOnSequence(*m);
  m->cpu.F = kFlagPower;
  m->mem.rows[kRam0Row].buffer = cpuMixImage();
  m->cpu.PC = kMixOrigin;
  m->cpu.UA = 0x55;
  m->cpu.segmentLatch = 0x55;
  m->cpu.IB = 0x40;
  return m;
}

// (a) The program through the bare step, as a single step or `tarvo-run
// --steps` drives it.
void BM_CpuMixSteps(benchmark::State& state) {
  auto m = cpuMixMachine();
  int64_t cycles = 0;
  for (auto _ : state) {
    for (int i = 0; i < 10000; ++i) cycles += step(*m);
  }
  reportSpeed(state, cycles);
}
BENCHMARK(BM_CpuMixSteps)->Unit(benchmark::kMicrosecond);

// (a) The program through run ticks of 9100 cycles, as the window and
// `tarvo-run --ticks` drive it: after every step the run tick feeds the
// external lines, the LCD pulse and the cycle timer.
void BM_CpuMixTicks(benchmark::State& state) {
  auto m = cpuMixMachine();
  QuietMessages messages;
  RunLoop loop(*m, messages);
  for (auto _ : state) loop.runTick();
  reportSpeed(state, loop.cyclesRun());
  state.counters["steps/tick"] =
      static_cast<double>(loop.stepsRun()) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_CpuMixTicks)->Unit(benchmark::kMicrosecond);

// (a) The same run ticks with the debugger armed: 10 breakpoints on
// addresses the program never reaches, and 10 write watchpoints. With
// argument 0 the watched bytes lie in a page the program never touches;
// with 1 they lie in the pages of its buffers and stacks, so that every data
// access there leaves the page tables for the region table (the worst case).
void BM_CpuMixTicksDebugArmed(benchmark::State& state) {
  auto m = cpuMixMachine();
  QuietMessages messages;
  RunLoop loop(*m, messages);
  DebugSession session(*m);
  for (uint32_t i = 0; i < 10; ++i) session.addBreakpoint(0x1C000 + 16 * i);
  const uint32_t hot[] = {0x19800, 0x1A800, 0x1F100, 0x1F200};
  for (uint32_t i = 0; i < 10; ++i) {
    const uint32_t a = state.range(0) == 0 ? 0x1D000 + 16 * i : hot[i % 4] + i;
    session.addWatchpoint(a, a + 1, WatchAccess::Write);
  }
  session.resume();
  loop.run.observer = &session;
  for (auto _ : state) loop.runTick();
  if (loop.run.stopFlag) state.SkipWithError("a breakpoint or watchpoint was hit");
  reportSpeed(state, loop.cyclesRun());
}
BENCHMARK(BM_CpuMixTicksDebugArmed)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// ---------------------------------------------------------------------------
// (b) The demo machine from the build tree's generated machine directory,
// through run ticks with the refresh and one-second ticks in between, as
// `tarvo-run --ticks` does. Registered only when the directory exists.

std::string demoMachineDir() {
  return TARVO_BUILD_DIR "/machine-template";
}

bool demoMachinePresent() {
  struct stat st;
  return ::stat((demoMachineDir() + "/rom1.bin").c_str(), &st) == 0;
}

void BM_DemoMachineTicks(benchmark::State& state) {
  Machine m;
  QuietMessages messages;
  RunLoop loop(m, messages, demoMachineDir());
  loop.create();
  loop.show(false);
  // One emulated second to start up and draw the first screen.
  const auto oneTick = [&] {
    loop.runTick();
    const CadenceDue due = advanceCadence(loop.scheduler);
    if (due.refresh) loop.refreshTick();
    if (due.second) loop.secondTick();
  };
  for (int i = 0; i < 100; ++i) oneTick();
  const int64_t before = loop.cyclesRun();
  for (auto _ : state) oneTick();
  reportSpeed(state, loop.cyclesRun() - before);
}

// ---------------------------------------------------------------------------
// (c) The refresh tick's work: compose the frame from display memory and
// cursors, then bring the LCD image up to date.

void fillLcd(Lcd& lcd, uint32_t seed) {
  lcd.control = 0xC6;
  lcd.displayOn = 1;
  lcd.cursorMode = 0x01;  // cursors shown, combine mode 0
  for (auto& controller : lcd.memory) {
    for (uint8_t& nibble : controller) {
      seed = seed * 1103515245u + 12345u;
      nibble = static_cast<uint8_t>((seed >> 16) & 0x0F);
    }
  }
  for (int k = 0; k < 2; ++k) {
    for (uint8_t& p : lcd.cursor[k].pattern) p = 0x0F;
    lcd.cursor[k].x = 10;
  }
}

// A static screen: the image only compares the composed frame with what it
// drew before.
void BM_LcdRefreshStatic(benchmark::State& state) {
  auto m = std::make_unique<Machine>();
  fillLcd(m->lcd, 1);
  LcdImage image;
  image.initialise(m->lcd.control);
  m->lcd.composeFrame();
  image.render(m->lcd);
  for (auto _ : state) {
    m->lcd.composeFrame();
    image.render(m->lcd);
    benchmark::DoNotOptimize(image.changed);
  }
}
BENCHMARK(BM_LcdRefreshStatic)->Unit(benchmark::kMicrosecond);

// Every dot changes on every refresh: the worst case of the repaint.
void BM_LcdRefreshEveryDot(benchmark::State& state) {
  auto m = std::make_unique<Machine>();
  fillLcd(m->lcd, 1);
  uint8_t patterns[2][2][Lcd::kNibbles];
  std::memcpy(patterns[0], m->lcd.memory, sizeof patterns[0]);
  for (int k = 0; k < 2; ++k) {
    for (int i = 0; i < Lcd::kNibbles; ++i) patterns[1][k][i] = patterns[0][k][i] ^ 0x0F;
  }
  LcdImage image;
  image.initialise(m->lcd.control);
  int which = 0;
  for (auto _ : state) {
    std::memcpy(m->lcd.memory, patterns[which], sizeof patterns[which]);
    which ^= 1;
    m->lcd.composeFrame();
    image.render(m->lcd);
    image.changed = 0;
    benchmark::DoNotOptimize(image.pixels.data());
  }
}
BENCHMARK(BM_LcdRefreshEveryDot)->Unit(benchmark::kMicrosecond);

// ---------------------------------------------------------------------------
// (d) The disassembly pane: nine lines (137 pixels of 15-pixel Courier
// rows) decoded through the processor's fetch and formatted as drawn.

constexpr std::size_t kPaneRows = 9;

void BM_DisassemblyPane(benchmark::State& state) {
  auto m = cpuMixMachine();
  std::array<ListingRow, kPaneRows> rows;
  std::size_t chars = 0;
  for (auto _ : state) {
    const std::size_t n = listInstructions(*m, 0x10000u | kMixOrigin, kRam0Row, rows);
    for (std::size_t i = 0; i < n; ++i) chars += formatListingRow(rows[i]).size();
  }
  benchmark::DoNotOptimize(chars);
}
BENCHMARK(BM_DisassemblyPane)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  if (demoMachinePresent()) {
    benchmark::RegisterBenchmark("BM_DemoMachineTicks", BM_DemoMachineTicks)
        ->Unit(benchmark::kMicrosecond);
  } else {
    std::fprintf(stderr, "BM_DemoMachineTicks skipped: no demo machine in %s\n",
                 demoMachineDir().c_str());
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
