#include "debugger/session.h"

#include <algorithm>
#include <cstring>

#include "cpu/code_view.h"
#include "debugger/symbols.h"
#include "machine.h"
#include "machine/registers.h"
#include "tools/disasm.h"

namespace tarvo {

namespace {

// What a step did, from the state before it and after it.
enum class StepKind { Instruction, InterruptEntry, Idle };

int enteredLevel(uint8_t before, uint8_t after) {
  const uint8_t entered = after & static_cast<uint8_t>(~before);
  for (int level = 4; level >= 0; --level)
    if (entered & (1u << level)) return level;
  return -1;
}

StepKind kindOf(const ProcessorState& before, const ProcessorState& after) {
  if (enteredLevel(before.inService, after.inService) >= 0) return StepKind::InterruptEntry;
  if (before.powerOff) return StepKind::Idle;
  return StepKind::Instruction;
}

// The mnemonic of the instruction that the state's next fetch reads.
const char* mnemonicAt(const Machine& m, const ProcessorState& c) {
  CodeView view(m);
  view.state() = c;
  return disasmMnemonic(disasmDecodeIndex(view));
}

bool isCall(const char* mnemonic) {
  return std::strcmp(mnemonic, "cal") == 0 || std::strcmp(mnemonic, "trp") == 0;
}
bool isReturn(const char* mnemonic) {
  return std::strcmp(mnemonic, "rtn") == 0 || std::strcmp(mnemonic, "rtni") == 0;
}

std::string hex(uint32_t v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, v);
  return buf;
}

}  // namespace

const char* stopReasonName(StopReason r) {
  switch (r) {
    case StopReason::None:
      return "";
    case StopReason::Breakpoint:
      return "breakpoint";
    case StopReason::Watchpoint:
      return "watchpoint";
    case StopReason::Interrupt:
      return "interrupt";
    case StopReason::StepDone:
      return "step";
    case StopReason::User:
      return "user";
    case StopReason::Steps:
      return "steps";
    case StopReason::Ticks:
      return "ticks";
  }
  return "";
}

DebugSession::DebugSession(Machine& m) : m_(m), pcFilter_(0x10000 / 8, 0) {
  watch_.readBits.assign(DataWatch::kBitsSize, 0);
  watch_.writeBits.assign(DataWatch::kBitsSize, 0);
  before_ = m.cpu;
}

DebugSession::~DebugSession() {
  closeTrace();
  if (m_.mem.watch == &watch_) {
    m_.mem.watch = nullptr;
    m_.mem.pagesKey = kPagesStale;
  }
}

uint32_t DebugSession::fetchAddress(const ProcessorState& c) {
  return physicalAddress(c, codeSegment(c), c.PC);
}

uint32_t codeSegmentAddress(const ProcessorState& c, uint16_t address) {
  return physicalAddress(c, codeSegment(c), address);
}

std::optional<uint32_t> parseTypedFullAddress(std::string_view text, const SymbolTable* symbols,
                                              const ProcessorState& c, std::string* error) {
  bool label = false;
  const auto address = parseTypedAddress(text, symbols, error, &label);
  if (!address || !label) return address;
  return codeSegmentAddress(c, static_cast<uint16_t>(*address));
}

std::optional<WatchText> parseWatchText(std::string_view text, const AddressReader& read,
                                        std::string* error) {
  const auto fail = [&](const char* why) -> std::optional<WatchText> {
    if (error) *error = why;
    return std::nullopt;
  };
  WatchText w;
  std::string_view range = text;
  if (const auto colon = text.find(':'); colon != std::string_view::npos) {
    const std::string_view kind = text.substr(colon + 1);
    range = text.substr(0, colon);
    if (kind == "r")
      w.access = WatchAccess::Read;
    else if (kind == "rw")
      w.access = WatchAccess::ReadWrite;
    else if (kind != "w")
      return fail("expected r, w or rw after the colon");
  }
  auto dash = range.find('-');
  for (auto d = dash; d != std::string_view::npos; d = range.find('-', d + 1)) {
    if (read(range.substr(0, d), nullptr) && read(range.substr(d + 1), nullptr)) {
      dash = d;
      break;
    }
  }
  std::string why;
  const auto first = read(range.substr(0, dash), &why);
  const auto last =
      !first || dash == std::string_view::npos ? first : read(range.substr(dash + 1), &why);
  if (!first || !last) {
    if (error) *error = why.empty() ? "malformed address" : why;
    return std::nullopt;
  }
  if (*last < *first) return fail("the range ends before it starts");
  if (*last > 0xFFFFF) return fail("address above FFFFF");
  w.start = *first;
  w.end = *last + 1;
  return w;
}

uint32_t DebugSession::codeAddress(uint16_t address) const {
  return codeSegmentAddress(m_.cpu, address);
}

Breakpoint* DebugSession::find(int id) {
  // Numbers only grow, so the list is in their order.
  const auto it = std::lower_bound(breakpoints_.begin(), breakpoints_.end(), id,
                                   [](const Breakpoint& b, int n) { return b.id < n; });
  return it != breakpoints_.end() && it->id == id ? &*it : nullptr;
}

int DebugSession::add(Breakpoint b, std::string_view condition, std::string* error) {
  if (!condition.empty()) {
    b.condition = Expression::parse(condition, symbols_);
    if (!b.condition.ok()) {
      if (error) *error = b.condition.error();
      return 0;
    }
    b.conditionText = condition;
  }
  b.id = nextId_++;
  breakpoints_.push_back(std::move(b));
  update();
  return breakpoints_.back().id;
}

int DebugSession::addBreakpoint(uint32_t fullAddress, std::string_view condition,
                                std::string* error) {
  Breakpoint b;
  b.kind = BreakKind::Execute;
  b.address = fullAddress & 0x3FFFF;
  return add(std::move(b), condition, error);
}

int DebugSession::addWatchpoint(uint32_t start, uint32_t end, WatchAccess access,
                                std::string_view condition, std::string* error) {
  if (end <= start) {
    if (error) *error = "the watched range is empty";
    return 0;
  }
  Breakpoint b;
  b.kind = BreakKind::Watch;
  b.address = start;
  b.end = end;
  b.access = access;
  return add(std::move(b), condition, error);
}

int DebugSession::addInterruptBreak(int level, std::string* error) {
  if (level < 0 || level > 4) {
    if (error) *error = "interrupt levels are 0 to 4";
    return 0;
  }
  Breakpoint b;
  b.kind = BreakKind::Interrupt;
  b.level = level;
  return add(std::move(b), {}, error);
}

bool parseHitCondition(std::string_view text, Breakpoint::HitRule& rule, uint64_t& count,
                       std::string* error) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.empty()) {
    rule = Breakpoint::HitRule::Always;
    count = 0;
    return true;
  }
  Breakpoint::HitRule r = Breakpoint::HitRule::AtLeast;
  uint64_t extra = 0;
  std::string_view digits = text;
  if (text.starts_with(">=")) {
    digits = text.substr(2);
  } else if (text.starts_with("==")) {
    r = Breakpoint::HitRule::Exactly;
    digits = text.substr(2);
  } else if (text.starts_with(">")) {
    digits = text.substr(1);
    extra = 1;
  } else if (text.starts_with("%")) {
    r = Breakpoint::HitRule::Every;
    digits = text.substr(1);
  }
  while (!digits.empty() && digits.front() == ' ') digits.remove_prefix(1);
  uint64_t n = 0;
  bool ok = !digits.empty() && digits.size() <= 18;
  for (char ch : digits) ok = ok && ch >= '0' && ch <= '9';
  if (ok) {
    for (char ch : digits) n = n * 10 + static_cast<uint64_t>(ch - '0');
    ok = r != Breakpoint::HitRule::Every || n > 0;
  }
  if (!ok) {
    if (error)
      *error = "hit count '" + std::string(text) +
               "': expected N, >=N, >N, ==N or %N (N a decimal count)";
    return false;
  }
  rule = r;
  count = n + extra;
  return true;
}

bool DebugSession::setHitCondition(int id, std::string_view text, std::string* error) {
  Breakpoint* b = find(id);
  if (b == nullptr) {
    if (error) *error = "no breakpoint " + std::to_string(id);
    return false;
  }
  if (!parseHitCondition(text, b->hitRule, b->hitCount, error)) return false;
  b->hitText = b->hitRule == Breakpoint::HitRule::Always ? std::string() : std::string(text);
  b->passes = 0;
  return true;
}

bool DebugSession::remove(int id) {
  Breakpoint* b = find(id);
  if (b == nullptr) return false;
  breakpoints_.erase(breakpoints_.begin() + (b - breakpoints_.data()));
  update();
  return true;
}

void DebugSession::removeAll(const std::vector<int>& ids) {
  if (ids.empty()) return;
  std::vector<int> sorted = ids;
  std::sort(sorted.begin(), sorted.end());
  std::erase_if(breakpoints_, [&](const Breakpoint& b) {
    return std::binary_search(sorted.begin(), sorted.end(), b.id);
  });
  update();
}

bool DebugSession::setEnabled(int id, bool enabled) {
  Breakpoint* b = find(id);
  if (b == nullptr) return false;
  b->enabled = enabled;
  update();
  return true;
}

std::string DebugSession::describe(const Breakpoint& b) const {
  std::string s = std::to_string(b.id) + (b.enabled ? "  " : " - ");
  switch (b.kind) {
    case BreakKind::Execute: {
      s += "at " + hex(b.address, 5);
      if (symbols_ != nullptr) {
        const std::string label = symbols_->describe(static_cast<uint16_t>(b.address));
        if (!label.empty()) s += " (" + label + ")";
      }
      break;
    }
    case BreakKind::Watch:
      s += std::string(b.access == WatchAccess::Read    ? "read "
                       : b.access == WatchAccess::Write ? "write "
                                                        : "access ") +
           hex(b.address, 5);
      if (b.end - b.address > 1) s += "-" + hex(b.end - 1, 5);
      break;
    case BreakKind::Interrupt:
      s += "interrupt " + std::to_string(b.level);
      break;
  }
  if (!b.conditionText.empty()) s += " if " + b.conditionText;
  if (!b.hitText.empty()) s += " hit " + b.hitText;
  s += "  hits " + std::to_string(b.hits);
  return s;
}

void DebugSession::update() {
  stale_ = batch_ > 0;
  if (stale_) return;
  std::fill(pcFilter_.begin(), pcFilter_.end(), 0);
  interruptMask_ = 0;
  watch_.ranges.clear();
  for (const Breakpoint& b : breakpoints_) {
    if (!b.enabled) continue;
    switch (b.kind) {
      case BreakKind::Execute: {
        const uint16_t pc = static_cast<uint16_t>(b.address);
        pcFilter_[pc >> 3] |= static_cast<uint8_t>(1u << (pc & 7));
        break;
      }
      case BreakKind::Watch:
        watch_.ranges.push_back({b.address, b.end, (static_cast<int>(b.access) & 1) != 0,
                                 (static_cast<int>(b.access) & 2) != 0, b.id});
        break;
      case BreakKind::Interrupt:
        interruptMask_ |= static_cast<uint8_t>(1u << b.level);
        break;
    }
  }
  DataWatch* wanted = watch_.ranges.empty() ? nullptr : &watch_;
  if (m_.mem.watch != wanted || wanted != nullptr) {
    m_.mem.watch = wanted;
    m_.mem.pagesKey = kPagesStale;  // the page tables leave the watched pages out
  }
  watch_.hit = {};
  needBefore_ = trace_ != nullptr || recording_ || mode_ == Mode::StepOut;
  bool any = mode_ != Mode::None || needBefore_ || interruptMask_ != 0 || wanted != nullptr;
  for (const Breakpoint& b : breakpoints_) any = any || (b.enabled && b.kind == BreakKind::Execute);
  armed_ = any;
  everyStep = needBefore_ || mode_ != Mode::None;
  interruptMask = interruptMask_;
  bool executeBreaks = false;
  for (const Breakpoint& b : breakpoints_)
    executeBreaks = executeBreaks || (b.enabled && b.kind == BreakKind::Execute);
  pcFilter = executeBreaks ? pcFilter_.data() : nullptr;
}

void DebugSession::resume() {
  before_ = m_.cpu;
  inService_ = m_.cpu.inService;
  watch_.hit = {};
}

void DebugSession::stepInto() {
  mode_ = Mode::StepInto;
  update();
}

bool DebugSession::atCall() const {
  CodeView view(m_);
  return !m_.cpu.powerOff && isCall(disasmMnemonic(disasmDecodeIndex(view)));
}

void DebugSession::stepOver() {
  CodeView view(m_);
  const unsigned index = disasmDecodeIndex(view);
  if (m_.cpu.powerOff || !isCall(disasmMnemonic(index))) {
    stepInto();
    return;
  }
  DisasmText operands;
  disasmOperands(view, index, operands);
  // The instruction after the call, fetched as the call was.
  const ProcessorState& c = m_.cpu;
  target_ = physicalAddress(c, codeSegment(c), view.pc());
  stack0_ = m_.cpu.SS;
  mode_ = Mode::StepOver;
  update();
}

void DebugSession::stepOut() {
  mode_ = Mode::StepOut;
  stack0_ = m_.cpu.SS;
  update();
}

void DebugSession::runTo(uint32_t fullAddress) {
  mode_ = Mode::RunTo;
  target_ = fullAddress & 0x3FFFF;
  update();
}

bool DebugSession::openTrace(const std::string& path, uint64_t maxBytes, std::string* error) {
  closeTrace();
  trace_ = std::fopen(path.c_str(), "w");
  if (trace_ == nullptr) {
    if (error) *error = "cannot write the trace file '" + path + "'";
    update();
    return false;
  }
  traceBytes_ = 0;
  traceLimit_ = maxBytes;
  traceEnded_ = traceFailed_ = false;
  update();
  return true;
}

bool DebugSession::closeTrace() {
  bool whole = true;
  if (trace_ != nullptr) whole = std::fclose(trace_) == 0 && !traceFailed_;
  trace_ = nullptr;
  update();
  return whole;
}

void DebugSession::setRecording(bool on) {
  recording_ = on;
  if (!on) {
    historyCount_ = historyNext_ = 0;
    frames_.clear();
  }
  update();
}

std::vector<HistoryEntry> DebugSession::history() const {
  std::vector<HistoryEntry> out;
  out.reserve(historyCount_);
  const std::size_t first = (historyNext_ + kHistorySize - historyCount_) % kHistorySize;
  for (std::size_t i = 0; i < historyCount_; ++i)
    out.push_back(history_[(first + i) % kHistorySize]);
  return out;
}

std::string DebugSession::traceLine(const ProcessorState& before, int64_t cycles) const {
  const ProcessorState& c = m_.cpu;
  char head[48];
  std::snprintf(head, sizeof head, "%12lld %05X: ", static_cast<long long>(cycles),
                fetchAddress(before));
  std::string line = head;
  std::string text;
  const StepKind kind = kindOf(before, c);
  if (kind == StepKind::InterruptEntry) {
    line += std::string(12, ' ');
    text = "interrupt " + std::to_string(enteredLevel(before.inService, c.inService));
  } else if (kind == StepKind::Idle) {
    line += std::string(12, ' ');
    text = "idle";
  } else {
    CodeView view(m_);
    view.state() = before;
    const unsigned index = disasmDecodeIndex(view);
    DisasmText operands;
    disasmOperands(view, index, operands);
    std::string bytes;
    const int taken = std::min<int>(view.state().fetchPos, 4);
    for (int i = 0; i < taken; ++i) bytes += hex(view.prefetched(i), 2) + " ";
    bytes.resize(12, ' ');
    line += bytes;
    text = disasmMnemonic(index);
    text.resize(6, ' ');
    text += symbols_ != nullptr ? labelOperands(operands.view(), *symbols_)
                                : std::string(operands.view());
  }
  text.resize(std::max<std::size_t>(text.size(), 26), ' ');
  line += text;
  // The registers the step changed (PC always moves, so it is left out).
  for (const RegisterDef& r : kRegisters) {
    if (r.name == "PC") continue;
    const uint32_t v = r.get(c);
    if (v != r.get(before)) line += " " + std::string(r.name) + "=" + hex(v, r.width > 8 ? 4 : 2);
  }
  for (int i = 0; i < 32; ++i)
    if (c.R[i] != before.R[i]) line += " $" + std::to_string(i) + "=" + hex(c.R[i], 2);
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line + "\n";
}

void DebugSession::record(int64_t cycles) {
  const ProcessorState& c = m_.cpu;
  const StepKind kind = kindOf(before_, c);
  if (trace_ != nullptr && !traceEnded_) {
    // Room for the closing line is kept, so the file never passes the limit.
    static constexpr std::string_view kClosing = "trace size limit reached\n";
    std::string line = traceLine(before_, cycles);
    if (traceBytes_ + line.size() + kClosing.size() > traceLimit_) {
      traceEnded_ = true;
      line = traceBytes_ + kClosing.size() <= traceLimit_ ? kClosing : std::string_view{};
    }
    traceBytes_ += line.size();
    if (std::fwrite(line.data(), 1, line.size(), trace_) != line.size())
      traceEnded_ = traceFailed_ = true;
  }
  if (!recording_) return;
  HistoryEntry& h = history_[historyNext_];
  h.address = fetchAddress(before_);
  h.cycles = cycles;
  h.kind = kind == StepKind::Instruction      ? HistoryEntry::Instruction
           : kind == StepKind::InterruptEntry ? HistoryEntry::InterruptEntry
                                              : HistoryEntry::Idle;
  h.level = kind == StepKind::InterruptEntry ? enteredLevel(before_.inService, c.inService) : 0;
  historyNext_ = (historyNext_ + 1) % kHistorySize;
  if (historyCount_ < kHistorySize) ++historyCount_;

  // Call stack: a taken cal or trp (the stack went down), an interrupt
  // entry, and returns that lift the stack above a frame.
  auto push = [&](CallFrame f) {
    if (frames_.size() >= kCallStackLimit) frames_.erase(frames_.begin());
    frames_.push_back(f);
  };
  if (kind == StepKind::InterruptEntry) {
    push({fetchAddress(before_), fetchAddress(c), c.SS, true, h.level});
  } else if (kind == StepKind::Instruction) {
    const char* mnemonic = mnemonicAt(m_, before_);
    if (isCall(mnemonic) && c.SS < before_.SS) {
      push({fetchAddress(before_), fetchAddress(c), c.SS, false, 0});
    } else if (isReturn(mnemonic)) {
      while (!frames_.empty() && frames_.back().stack < c.SS) frames_.pop_back();
    }
  }
}

bool DebugSession::checkCondition(Breakpoint& b) {
  if (!b.condition.empty()) {
    const auto v = b.condition.evaluate(m_);
    // A condition that cannot be evaluated (division by zero) stops the
    // run, so that the user sees it.
    if (v && *v == 0) return false;
  }
  ++b.passes;
  switch (b.hitRule) {
    case Breakpoint::HitRule::Always:
      break;
    case Breakpoint::HitRule::AtLeast:
      if (b.passes < b.hitCount) return false;
      break;
    case Breakpoint::HitRule::Exactly:
      if (b.passes != b.hitCount) return false;
      break;
    case Breakpoint::HitRule::Every:
      if (b.passes % b.hitCount != 0) return false;
      break;
  }
  ++b.hits;
  return true;
}

bool DebugSession::stepped(Machine& m, int64_t cycles) {
  const ProcessorState& c = m.cpu;
  const char* executed = nullptr;
  if (needBefore_) {
    record(cycles);
    if (mode_ == Mode::StepOut && kindOf(before_, c) == StepKind::Instruction)
      executed = mnemonicAt(m, before_);
  }
  StopInfo stop;
  if (watch_.hit.hit) {
    const WatchHit hit = watch_.hit;
    watch_.hit = {};
    Breakpoint* b = find(hit.id);
    if (b != nullptr && checkCondition(*b))
      stop = {StopReason::Watchpoint, b->id, hit.address, hit.write, hit.oldValue, hit.newValue};
  }
  if (interruptMask_ != 0 && stop.reason == StopReason::None) {
    const int level = enteredLevel(inService_, c.inService);
    if (level >= 0 && (interruptMask_ & (1u << level))) {
      for (Breakpoint& b : breakpoints_) {
        if (b.enabled && b.kind == BreakKind::Interrupt && b.level == level && checkCondition(b)) {
          stop = {StopReason::Interrupt, b.id, fetchAddress(c)};
          break;
        }
      }
    }
  }
  inService_ = c.inService;
  if (stop.reason == StopReason::None && (pcFilter_[c.PC >> 3] & (1u << (c.PC & 7)))) {
    const uint32_t here = fetchAddress(c);
    for (Breakpoint& b : breakpoints_) {
      if (b.enabled && b.kind == BreakKind::Execute && b.address == here && checkCondition(b)) {
        stop = {StopReason::Breakpoint, b.id, here};
        break;
      }
    }
  }
  if (stop.reason == StopReason::None && mode_ != Mode::None) {
    bool done = false;
    switch (mode_) {
      case Mode::StepInto:
        done = true;
        break;
      case Mode::StepOver:
        done = fetchAddress(c) == target_ && c.SS >= stack0_;
        break;
      case Mode::StepOut:
        done = executed != nullptr && isReturn(executed) && c.SS > stack0_;
        break;
      case Mode::RunTo:
        done = fetchAddress(c) == target_;
        break;
      case Mode::None:
        break;
    }
    if (done) stop = {StopReason::StepDone, 0, fetchAddress(c)};
  }
  if (needBefore_) before_ = c;
  if (stop.reason == StopReason::None) return false;
  stop_ = stop;
  if (mode_ != Mode::None) {
    mode_ = Mode::None;
    update();
  }
  return true;
}

void DebugSession::setStop(StopReason reason) {
  stop_ = {reason};
  stop_.address = fetchAddress(m_.cpu);
}

void DebugSession::stoppedElsewhere() {
  if (mode_ != Mode::None) {
    mode_ = Mode::None;
    update();
  }
  setStop(StopReason::StepDone);
}

std::string DebugSession::stopText() const {
  const StopInfo& s = stop_;
  auto where = [&](uint32_t a) {
    std::string t = hex(a, 5);
    if (symbols_ != nullptr) {
      const std::string label = symbols_->describe(static_cast<uint16_t>(a));
      if (!label.empty()) t += " (" + label + ")";
    }
    return t;
  };
  switch (s.reason) {
    case StopReason::None:
      return "";
    case StopReason::Breakpoint:
      return "Breakpoint " + std::to_string(s.id) + " at " + where(s.address);
    case StopReason::Watchpoint:
      return "Watchpoint " + std::to_string(s.id) + ": " + (s.write ? "write at " : "read at ") +
             hex(s.address, 5) + ", " + hex(s.oldValue, 2) + " -> " + hex(s.newValue, 2);
    case StopReason::Interrupt:
      return "Breakpoint " + std::to_string(s.id) + ": interrupt entered, at " + where(s.address);
    case StopReason::StepDone:
      return "Step done, at " + where(s.address);
    case StopReason::User:
      return "Stopped by the user, at " + where(s.address);
    case StopReason::Steps:
      return "Steps done, at " + where(s.address);
    case StopReason::Ticks:
      return "Ticks done, at " + where(s.address);
  }
  return "";
}

}  // namespace tarvo
