// One running emulator, without any window: the machine of a machine
// directory, its run loop and scheduler, the debugger, the typist, the
// input recording and its replay, the rewind ring, the state files and the
// LCD recording. The window, tarvo-run and tarvo-dap drive it and only
// draw, forward events and print.
//
// Time is the machine's own: every cadence (the refresh every 5 run ticks,
// the one-second tick every 100, the typist, the rewind captures, the times
// of recorded events) counts emulated run ticks or cycles. A front end that
// lives in host time hands over the host time that has passed (runFor), and
// the emulator turns it into run ticks: one per 10 ms at real speed, as
// many as the host allows in fast-forward.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "debugger/session.h"
#include "frontpanel/files.h"
#include "frontpanel/input_log.h"
#include "frontpanel/lcd_image.h"
#include "frontpanel/lcd_recording.h"
#include "frontpanel/rewind.h"
#include "frontpanel/run_loop.h"
#include "frontpanel/typist.h"
#include "machine.h"

namespace tarvo {

class Emulator {
 public:
  enum class Pace : uint8_t { RealSpeed, FastForward };

  // File messages (load and save failures) go to messages, which must
  // outlive the emulator.
  explicit Emulator(Messages& messages);
  ~Emulator();
  Emulator(const Emulator&) = delete;
  Emulator& operator=(const Emulator&) = delete;

  // Starts the machine of a directory as the window starts it: every file
  // loaded, the face read for its optional key (port input line 0), the
  // power-on sequence, the power switch on. Only the first call counts.
  void open(const std::string& dir);
  // The end of the run: with save, "register.bin" and the writable images
  // are written back (failures through Messages); the disk link is closed
  // either way. Nothing runs after it.
  void close(bool save);
  // Writes "register.bin" and the writable images as close(true) does,
  // without stopping: a file that could not be read at start is left as it
  // is and reported as not saved.
  void saveFiles() { loop_->saveFiles(); }

  // ---- running ----

  // Run ticks, each with the input that falls due before it (typing,
  // replay, held taps) and the refresh and one-second ticks that fall due
  // after it. Ends early, after the tick, when the debugger stops the
  // machine; on a machine already stopped the ticks step nothing but the
  // refresh and one-second ticks go on. Returns the ticks run.
  uint64_t runTicks(uint64_t count);
  // Host time that has passed: at real speed one run tick per 10 ms (a
  // stall of the host is not made up beyond kMaxCatchUpTicks), in
  // fast-forward run ticks for as long as the span lasts. Every tick may
  // take at most kTickHostLimit of host time; the rest of its budget is
  // dropped, so an absurd clock never freezes the caller.
  uint64_t runFor(std::chrono::nanoseconds span, Pace pace);
  static constexpr auto kTickHostLimit = std::chrono::milliseconds(100);
  static constexpr uint64_t kMaxCatchUpTicks = 10;

  // The processor's own step, as the debug window's single step: no timer
  // of the run tick advances. Returns its cycles. The debugger's
  // breakpoints and watchpoints see it when armed: true in *stopped when
  // one of them (or a finished step mode) stops there.
  int32_t stepProcessor(bool* stopped = nullptr);
  // count of them in a row, ending early after the one the debugger stops
  // at. Returns the steps taken and their cycles.
  struct Steps {
    uint64_t steps = 0;
    int64_t cycles = 0;
  };
  Steps stepProcessor(uint64_t count);
  // One step of the machine with all of a run tick's work around it (the
  // external lines, the timers, the cadence): the debugger steps into the
  // next instruction and the machine runs until it has. False when the
  // machine did not get there within a second of emulated time.
  bool stepMachine();

  // Stops the machine (the debugger's pause): nothing runs until resume.
  void stop();
  // Runs again from the present state; after the debug window the first
  // kResumeDelayTicks run ticks are skipped.
  void resume(bool afterDebugWindow = false);
  bool stopped() const { return loop_->run.stopFlag != 0; }

  // Called after every refresh tick, once the LCD frame is composed.
  std::function<void()> onRefresh;

  // ---- input ----

  // Every input goes through here: face keys, host keys, the power switch,
  // the wake key, reset. A key that goes up before the program has read it
  // on its strobe stays down until it has (or until a second of emulated
  // time has passed), so a tap of no length still reaches the program.
  // The event reaches the machine, and the recording, when it takes effect;
  // the typist's keys and replayed events take the same last step (a
  // replayed event as it was recorded, since it was recorded when it took
  // effect).
  void apply(InputKind kind, int32_t code = 0);
  // Text typed as the program takes it (or at a fixed pace).
  void type(const std::vector<Keystroke>& strokes);
  void setTypingOptions(const Typist::Options& options);
  // Drops what is left to type; a key it holds goes up.
  void cancelTyping();
  const Typist& typist() const { return *typist_; }

  // The recording starts afresh at the present cycle count; replay feeds
  // events counted from the present cycle count.
  void startInputRecording();
  const std::vector<InputEvent>& recordedInput() const { return recorder_.events(); }
  void replay(std::vector<InputEvent> events);
  bool replaying() const { return replayNext_ < replay_.size(); }

  // ---- states ----

  // "" when loaded, else the reason it was refused. A state taken with
  // other ROM images or another character set is refused (kOtherImages)
  // unless forced.
  std::string loadState(const std::string& path, bool force);
  bool saveState(const std::string& path) const;
  static constexpr const char* kOtherImages =
      "taken with other ROM images or another character set";
  // The rewind ring, off until asked for (and then only when the settings'
  // RewindMemory is not 0): a capture every tenth of an emulated second,
  // none while the machine is stopped, since then only the debugger
  // changes it. stepBack puts the machine back one capture.
  void setRewind(bool on);
  bool stepBack();
  const RewindBuffer& rewind() const { return rewind_; }
  static constexpr int kRewindCapturesPerSecond = 10;

  // ---- the LCD recording ----

  // Starts an animated GIF of the LCD from the present picture: a frame
  // for every refresh that changed it. False when the file cannot be made.
  bool recordLcd(const std::string& path, int scale = 1);
  bool recordingLcd() const { return lcdRecording_.isOpen(); }
  // Ends it; false when any write failed.
  bool endLcdRecording();

  // ---- what the clients look at ----

  Machine& machine() { return *machine_; }
  const Machine& machine() const { return *machine_; }
  RunLoop& runLoop() { return *loop_; }
  const Scheduler& scheduler() const { return loop_->scheduler; }
  DebugSession& debugger() { return *debug_; }
  const DebugSession& debugger() const { return *debug_; }
  bool hasOptionalKey() const { return optionalKey_; }
  const std::string& dir() const { return loop_->dir(); }
  uint64_t stepsRun() const { return loop_->stepsRun(); }
  int64_t cyclesRun() const { return loop_->cyclesRun(); }

 private:
  bool tick();
  void beforeTick();
  void applyNow(const InputEvent& e);

  Messages& messages_;
  std::unique_ptr<Machine> machine_;
  std::unique_ptr<RunLoop> loop_;
  std::unique_ptr<DebugSession> debug_;
  std::unique_ptr<Typist> typist_;
  InputRecorder recorder_;
  std::vector<InputEvent> replay_;  // the events being replayed
  std::size_t replayNext_ = 0;
  int64_t replayBase_ = 0;  // the cycle count they count from
  RewindBuffer rewind_;
  bool rewindOn_ = false;
  int64_t cyclesAtCapture_ = 0;
  LcdRecording lcdRecording_;
  LcdImage lcdRecorded_;  // the LCD as the window shows it, refresh by refresh
  bool optionalKey_ = false;
  bool opened_ = false;
  // A live key let go before the program read it: let go once it has.
  std::optional<InputKind> pendingRelease_;
  int64_t pressedAt_ = 0;
  int64_t processorCycles_ = 0;       // cycles of stepProcessor since the start
  bool stoppedAtLast_ = false;        // the last stepProcessor stopped at the debugger
  std::chrono::nanoseconds owed_{0};  // host time not yet run, at real speed
};

}  // namespace tarvo
