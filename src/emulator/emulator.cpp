#include "emulator/emulator.h"

#include <utility>

#include "cpu/exec.h"
#include "devices/disk_link.h"
#include "devices/keyboard.h"
#include "frontpanel/face_file.h"
#include "frontpanel/state_file.h"
#include "machine/operations.h"

namespace tarvo {

namespace {

// A tap held for the program waits for its read as long as the typist
// waits for one (a second at the default clock).
constexpr int64_t kTapTimeoutCycles = Typist::Options{}.timeoutCycles;
// Run ticks a step of the machine may take to reach the next instruction.
constexpr uint64_t kStepTickLimit = 100;

bool isPress(InputKind kind) {
  return kind == InputKind::FaceDown || kind == InputKind::HostChar || kind == InputKind::HostKey;
}

bool isRelease(InputKind kind) {
  return kind == InputKind::FaceUp || kind == InputKind::HostUp;
}

}  // namespace

Emulator::Emulator(Messages& messages)
    : messages_(messages), machine_(std::make_unique<Machine>()) {
  loop_ = std::make_unique<RunLoop>(*machine_, messages_);
}

Emulator::~Emulator() {
  // The debugger detaches its watch from the machine before either goes.
  if (loop_) loop_->run.observer = nullptr;
  typist_.reset();
  debug_.reset();
  if (opened_) closeLink(*machine_);
}

void Emulator::open(const std::string& dir) {
  if (opened_) return;
  loop_ = std::make_unique<RunLoop>(*machine_, messages_, dir);
  optionalKey_ = machineHasOptionalKey(dir);
  loop_->create();
  loop_->show(optionalKey_);
  debug_ = std::make_unique<DebugSession>(*machine_);
  loop_->run.observer = debug_.get();
  typist_ = std::make_unique<Typist>(*machine_, *loop_);
  typist_->applyThrough([this](InputKind kind, int32_t code) { applyNow({0, kind, code}); });
  recorder_ = InputRecorder(cyclesRun());
  opened_ = true;
}

void Emulator::close(bool save) {
  if (!opened_) return;
  if (save) {
    loop_->close();
  } else {
    loop_->run.stopFlag = 1;
    closeLink(*machine_);
  }
}

// ---- running ----

void Emulator::beforeTick() {
  if (rewindOn_) {
    const MachineTimers& t = machine_->timers;
    const int64_t spacing = int64_t{t.cyclesPerTick} * t.ticksPerSecond / kRewindCapturesPerSecond;
    if (spacing > 0 && cyclesRun() - cyclesAtCapture_ >= spacing) {
      rewind_.capture(*machine_, loop_->scheduler);
      cyclesAtCapture_ = cyclesRun();
    }
  }
  // An idle typist has nothing to do (and would drop the watch on a tap).
  if (typist_->busy()) typist_->beforeTick();
  while (replayNext_ < replay_.size() && replay_[replayNext_].cycle <= cyclesRun() - replayBase_)
    applyNow(replay_[replayNext_++]);
  if (pendingRelease_) {
    const KeyWatch& w = machine_->keys.watch;
    if ((w.seenDown & 1) != 0 || cyclesRun() - pressedAt_ > kTapTimeoutCycles) {
      const InputKind kind = *pendingRelease_;
      pendingRelease_.reset();
      machine_->keys.watch = KeyWatch{};
      applyNow({cyclesRun(), kind, 0});
    }
  }
}

bool Emulator::tick() {
  const bool wasStopped = stopped();
  beforeTick();
  loop_->runTick();
  // A tick that stopped the machine ends the run there. While it stays
  // stopped the refresh and one-second ticks go on, as beside the debug
  // window.
  if (!wasStopped && stopped()) return false;
  const CadenceDue due = advanceCadence(loop_->scheduler);
  if (due.refresh) {
    loop_->refreshTick();
    if (lcdRecording_.isOpen()) {
      lcdRecorded_.render(machine_->lcd);
      lcdRecording_.refresh(lcdRecorded_);
    }
    if (onRefresh) onRefresh();
  }
  if (due.second) loop_->secondTick();
  return true;
}

uint64_t Emulator::runTicks(uint64_t count) {
  uint64_t done = 0;
  while (done < count) {
    ++done;
    if (!tick()) break;
  }
  return done;
}

uint64_t Emulator::runFor(std::chrono::nanoseconds span, Pace pace) {
  using Clock = std::chrono::steady_clock;
  loop_->setHostTimeLimit(kTickHostLimit);
  uint64_t done = 0;
  if (pace == Pace::FastForward) {
    owed_ = {};
    const auto end = Clock::now() + span;
    do {
      ++done;
      if (!tick()) break;
    } while (Clock::now() < end);
  } else {
    constexpr std::chrono::nanoseconds interval = std::chrono::milliseconds(kRunInterval);
    owed_ += span;
    if (owed_ > interval * kMaxCatchUpTicks) owed_ = interval * kMaxCatchUpTicks;
    while (owed_ >= interval) {
      owed_ -= interval;
      ++done;
      if (!tick()) {
        owed_ = {};
        break;
      }
    }
  }
  loop_->setHostTimeLimit(std::chrono::nanoseconds{0});
  return done;
}

int32_t Emulator::stepProcessor(bool* stopped) {
  const Steps done = stepProcessor(1);
  if (stopped) *stopped = stoppedAtLast_;
  return static_cast<int32_t>(done.cycles);
}

Emulator::Steps Emulator::stepProcessor(uint64_t count) {
  Machine& m = *machine_;
  const bool watched = debug_->armed();
  Steps done;
  stoppedAtLast_ = false;
  while (done.steps < count) {
    // The disk link's waiting time is bounded per step here, as these
    // steps come between run ticks.
    m.port.fddSocket->startTick();
    done.cycles += step(m);
    ++done.steps;
    if (watched && debug_->stepped(m, processorCycles_ + done.cycles)) {
      stoppedAtLast_ = true;
      break;
    }
  }
  processorCycles_ += done.cycles;
  return done;
}

bool Emulator::stepMachine() {
  debug_->cancelStepping();
  debug_->stepInto();
  resume();
  for (uint64_t t = 0; t < kStepTickLimit; ++t) {
    if (!tick()) return debug_->lastStop().reason == StopReason::StepDone;
  }
  debug_->cancelStepping();
  stop();
  return false;
}

void Emulator::stop() {
  debug_->cancelStepping();
  debugShow(loop_->run);
  debug_->setStop(StopReason::User);
}

void Emulator::resume(bool afterDebugWindow) {
  debug_->resume();
  if (afterDebugWindow) {
    debugHide(loop_->run);
  } else {
    loop_->run.stopFlag = 0;
  }
}

// ---- input ----

void Emulator::applyNow(const InputEvent& e) {
  recorder_.record(cyclesRun(), e.kind, e.code);
  applyInputEvent(*machine_, e);
}

void Emulator::apply(InputKind kind, int32_t code) {
  Machine& m = *machine_;
  const bool typing = typist_->busy();
  if (isRelease(kind) && pendingRelease_ == kind) return;  // already on its way up
  if (isRelease(kind) && !typing && !pendingRelease_) {
    const KeyWatch& w = m.keys.watch;
    const int32_t held = kind == InputKind::FaceUp ? m.keys.mouseKey : m.keys.hostKey;
    if (w.active && held != 0 && w.codes[0] == held && (w.seenDown & 1) == 0 &&
        cyclesRun() - pressedAt_ <= kTapTimeoutCycles) {
      pendingRelease_ = kind;
      return;
    }
  }
  if (isPress(kind) && pendingRelease_) {
    // A new key while the last one still waits: the last one goes up first.
    const InputKind up = *pendingRelease_;
    pendingRelease_.reset();
    applyNow({cyclesRun(), up, 0});
  }
  applyNow({cyclesRun(), kind, code});
  if (isPress(kind) && !typing) {
    KeyWatch& w = m.keys.watch;
    w = KeyWatch{};
    w.active = true;
    w.codes[0] = code;
    pressedAt_ = cyclesRun();
  } else if (isRelease(kind) && !typing && !pendingRelease_) {
    m.keys.watch = KeyWatch{};  // (a release still waiting keeps its watch)
  }
}

void Emulator::type(const std::vector<Keystroke>& strokes) {
  typist_->type(strokes);
}

void Emulator::cancelTyping() {
  typist_->cancel();
}

void Emulator::setTypingOptions(const Typist::Options& options) {
  typist_->cancel();
  typist_ = std::make_unique<Typist>(*machine_, *loop_, options);
  typist_->applyThrough([this](InputKind kind, int32_t code) { applyNow({0, kind, code}); });
}

void Emulator::startInputRecording() {
  recorder_ = InputRecorder(cyclesRun());
}

void Emulator::replay(std::vector<InputEvent> events) {
  replay_ = std::move(events);
  replayNext_ = 0;
  replayBase_ = cyclesRun();
}

// ---- states ----

std::string Emulator::loadState(const std::string& path, bool force) {
  DecodedState state;
  const std::string reason = readStateFile(path, state);
  if (!reason.empty()) return reason;
  if (!sameImages(state, *machine_) && !force) return kOtherImages;
  applyState(state, *machine_, loop_->scheduler);
  return {};
}

bool Emulator::saveState(const std::string& path) const {
  return writeStateFile(path, *machine_, loop_->scheduler);
}

void Emulator::setRewind(bool on) {
  const int32_t megabytes = loop_->settings().rewindMegabytes;
  rewindOn_ = on && megabytes > 0;
  rewind_ = RewindBuffer(rewindOn_ ? static_cast<std::size_t>(megabytes) << 20 : 0);
  cyclesAtCapture_ = cyclesRun();
}

bool Emulator::stepBack() {
  return rewind_.stepBack(*machine_, loop_->scheduler);
}

// ---- the LCD recording ----

bool Emulator::recordLcd(const std::string& path, int scale) {
  if (!lcdRecording_.open(path, scale)) return false;
  lcdRecorded_.initialise(machine_->lcd.control);
  return true;
}

bool Emulator::endLcdRecording() {
  return lcdRecording_.isOpen() ? lcdRecording_.close() : true;
}

}  // namespace tarvo
