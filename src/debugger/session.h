// The debugger's model of a run: any number of breakpoints (execution
// addresses with conditions, data watchpoints, interrupt entries), stepping
// over, out and to an address, a trace file, the history of the last
// instructions and a call stack. It watches the run through the run tick's
// StepObserver hook and the memory map's data watch, so nothing of it costs
// anything while nothing is armed.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cpu/memory.h"
#include "cpu/state.h"
#include "debugger/expression.h"
#include "frontpanel/run_control.h"

namespace tarvo {

struct Machine;
class SymbolTable;

enum class StopReason : uint8_t {
  None,
  Breakpoint,
  Watchpoint,
  Interrupt,
  StepDone,
  User,
  Steps,  // a headless run used up its steps
  Ticks,  // a headless run used up its ticks
};
// "breakpoint", "watchpoint", "interrupt", "step", "user", "steps", "ticks"; "" for None.
const char* stopReasonName(StopReason r);

struct StopInfo {
  StopReason reason = StopReason::None;
  int id = 0;            // the breakpoint that stopped the run
  uint32_t address = 0;  // full address of the next instruction, or the watched address
  bool write = false;    // watchpoint: the access was a write
  uint8_t oldValue = 0;
  uint8_t newValue = 0;
};

enum class BreakKind : uint8_t { Execute, Watch, Interrupt };
enum class WatchAccess : uint8_t { Read = 1, Write = 2, ReadWrite = 3 };

struct Breakpoint {
  int id = 0;
  BreakKind kind = BreakKind::Execute;
  bool enabled = true;
  uint64_t hits = 0;     // times it stopped the run (its condition held)
  uint32_t address = 0;  // Execute: full address (segment in bits 16-17); Watch: first byte
  uint32_t end = 0;      // Watch: one past the last byte
  WatchAccess access = WatchAccess::Write;
  int level = 0;  // Interrupt: request number 0..4
  std::string conditionText;
  Expression condition;
  // Hit count: which passes with the condition holding stop the run.
  // Always every one; AtLeast the hitCount-th and every later one; Exactly
  // only the hitCount-th; Every each hitCount-th.
  enum class HitRule : uint8_t { Always, AtLeast, Exactly, Every };
  HitRule hitRule = HitRule::Always;
  uint64_t hitCount = 0;
  std::string hitText;
  uint64_t passes = 0;  // times it was reached with its condition holding
};

// A hit count as debuggers type it: "N" or ">=N" (from the Nth pass on),
// ">N", "==N" (only the Nth), "%N" (every Nth); blank for every pass.
// False, with *error set, for anything else.
bool parseHitCondition(std::string_view text, Breakpoint::HitRule& rule, uint64_t& count,
                       std::string* error = nullptr);

struct HistoryEntry {
  uint32_t address = 0;  // full address of the instruction (or of PC for an entry or idle step)
  int64_t cycles = 0;    // cycle count after it
  enum Kind : uint8_t { Instruction, InterruptEntry, Idle } kind = Instruction;
  int level = 0;  // InterruptEntry: the request entered
};

struct CallFrame {
  uint32_t callSite = 0;  // full address of the cal, or of the interrupted instruction
  uint32_t target = 0;    // where it went
  uint16_t stack = 0;     // SS after the call
  bool interrupt = false;
  int level = 0;
};

constexpr std::size_t kHistorySize = 256;
constexpr std::size_t kCallStackLimit = 256;

// A 16-bit address in the segment the processor fetches its code from
// (segment 0 inside an interrupt routine), as a full address.
uint32_t codeSegmentAddress(const ProcessorState& c, uint16_t address);

// A full address as the user types it: hex digits are the full address
// itself; a label, label+HEX or label-HEX is a 16-bit address in the code
// segment (codeSegmentAddress). Nothing, with *error set, when it is neither.
std::optional<uint32_t> parseTypedFullAddress(std::string_view text, const SymbolTable* symbols,
                                              const ProcessorState& c,
                                              std::string* error = nullptr);

// A watchpoint as typed: FIRST[-LAST][:r|w|rw], for writes when no access
// is given. `read` turns one end into a physical address (or says why not);
// the range's dash is the first one with an address on both sides, so an
// end may be label-HEX itself. Nothing, with *error set, when the text is
// no range of physical addresses.
struct WatchText {
  uint32_t start = 0;
  uint32_t end = 0;  // one past the last byte
  WatchAccess access = WatchAccess::Write;
};
using AddressReader = std::function<std::optional<uint32_t>(std::string_view, std::string*)>;
std::optional<WatchText> parseWatchText(std::string_view text, const AddressReader& read,
                                        std::string* error);

class DebugSession : public StepObserver {
 public:
  explicit DebugSession(Machine& m);
  ~DebugSession() override;
  DebugSession(const DebugSession&) = delete;
  DebugSession& operator=(const DebugSession&) = delete;

  void setSymbols(const SymbolTable* symbols) { symbols_ = symbols; }
  const SymbolTable* symbols() const { return symbols_; }

  // The full address the processor fetches its next instruction from.
  static uint32_t fetchAddress(const ProcessorState& c);
  // A 16-bit address in the current code segment as a full address.
  uint32_t codeAddress(uint16_t address) const;

  // New breakpoints; each returns its number, or 0 with *error set.
  int addBreakpoint(uint32_t fullAddress, std::string_view condition = {},
                    std::string* error = nullptr);
  int addWatchpoint(uint32_t start, uint32_t end, WatchAccess access,
                    std::string_view condition = {}, std::string* error = nullptr);
  int addInterruptBreak(int level, std::string* error = nullptr);
  // Gives a breakpoint a hit count (parseHitCondition); false, with *error
  // set, when the text is not one or there is no such breakpoint.
  bool setHitCondition(int id, std::string_view text, std::string* error = nullptr);
  bool remove(int id);
  // Removes every breakpoint of the list that there is.
  void removeAll(const std::vector<int>& ids);
  bool setEnabled(int id, bool enabled);
  // Many changes at once (an editor's whole list of breakpoints): the
  // tables that the run consults are built once, when the outermost batch
  // ends, instead of after every change.
  class Batch {
   public:
    explicit Batch(DebugSession& s) : s_(s) { ++s_.batch_; }
    ~Batch() {
      if (--s_.batch_ == 0 && s_.stale_) s_.update();
    }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

   private:
    DebugSession& s_;
  };
  const std::vector<Breakpoint>& breakpoints() const { return breakpoints_; }
  // One line of the breakpoints list.
  std::string describe(const Breakpoint& b) const;

  // Stepping: each arms a mode that the next run ends. Step over runs a
  // cal or trp and what it calls, stopping at the instruction after it;
  // anything else is a step into. Step out stops after the rtn or rtni that
  // leaves the current routine. Run to stops at a full address.
  void stepInto();
  // Whether the next instruction is a cal or trp that step over runs whole.
  bool atCall() const;
  void stepOver();
  void stepOut();
  void runTo(uint32_t fullAddress);
  void cancelStepping() { mode_ = Mode::None; }

  // Trace: one line per executed step, then "trace size limit reached"
  // where the next line would take the file past maxBytes (the closing line
  // counted). closeTrace says whether the file took every byte.
  bool openTrace(const std::string& path, uint64_t maxBytes, std::string* error = nullptr);
  bool closeTrace();
  bool tracing() const { return trace_ != nullptr; }

  // History and call stack are kept while recording is on.
  void setRecording(bool on);
  bool recording() const { return recording_; }
  std::vector<HistoryEntry> history() const;  // oldest first
  const std::vector<CallFrame>& callStack() const { return frames_; }

  // The machine is about to run from its present state (it may have been
  // changed since the last step): what the next step is compared with.
  void resume();

  const StopInfo& lastStop() const { return stop_; }
  void setStop(StopReason reason);
  // The status line: why the run stopped.
  std::string stopText() const;

  bool armed() const override { return armed_; }
  bool stepped(Machine& m, int64_t cycles) override;
  void stoppedElsewhere() override;

  // One trace line for a step from `before` to the machine's state.
  std::string traceLine(const ProcessorState& before, int64_t cycles) const;

 private:
  // Gives b its condition (refused with a message when it does not parse)
  // and a number, and arms it; returns the number, 0 when refused.
  int add(Breakpoint b, std::string_view condition, std::string* error);
  enum class Mode : uint8_t { None, StepInto, StepOver, StepOut, RunTo };

  void update();  // armed flags, breakpoint filter and the data watch
  bool checkCondition(Breakpoint& b);
  void record(int64_t cycles);
  Breakpoint* find(int id);

  Machine& m_;
  const SymbolTable* symbols_ = nullptr;
  std::vector<Breakpoint> breakpoints_;
  int nextId_ = 1;
  // Bit p set when an enabled execution breakpoint has the 16-bit address p.
  std::vector<uint8_t> pcFilter_;
  uint8_t interruptMask_ = 0;
  DataWatch watch_;

  Mode mode_ = Mode::None;
  uint32_t target_ = 0;
  uint16_t stack0_ = 0;

  std::FILE* trace_ = nullptr;
  uint64_t traceBytes_ = 0;
  uint64_t traceLimit_ = 0;
  bool traceEnded_ = false;   // the limit was reached, or a write failed
  bool traceFailed_ = false;  // a write failed

  bool recording_ = false;
  std::array<HistoryEntry, kHistorySize> history_{};
  std::size_t historyNext_ = 0;
  std::size_t historyCount_ = 0;
  std::vector<CallFrame> frames_;

  int batch_ = 0;       // open batches
  bool stale_ = false;  // update() waits for the batch to end
  bool armed_ = false;
  bool needBefore_ = false;
  ProcessorState before_{};
  uint8_t inService_ = 0;
  StopInfo stop_;
};

}  // namespace tarvo
