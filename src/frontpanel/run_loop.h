// The front panel's run loop without any window: start, close, the power-on
// sequence and the three periodic ticks that drive the machine.
//
// The window creates one RunLoop over its Machine and calls, in this order:
//   create()          when the window is created (loads every file),
//   show(optionalKey) when it is shown, after loading the face bitmaps,
//   runTick()         every 10 ms,
//   refreshTick()     every 50 ms, then renders the LCD image,
//   secondTick()      every second,
//   close()           when it closes (saves the state).
// All calls come from one thread and never overlap.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "cpu/memory.h"
#include "frontpanel/files.h"
#include "frontpanel/run_control.h"
#include "machine/operations.h"
#include "machine/scheduler.h"

namespace tarvo {

struct Machine;

// Run ticks skipped after the debug window hides.
constexpr int32_t kResumeDelayTicks = 30;

// Effects of the debug window becoming visible: the machine stops and any
// trace or breakpoint run is disarmed.
void debugShow(RunControl& run);
// Effects of the debug window being hidden: stepping resumes after
// kResumeDelayTicks run ticks.
void debugHide(RunControl& run);

class RunLoop {
 public:
  // dir is the machine directory that holds every image and the settings.
  RunLoop(Machine& m, Messages& messages, std::string dir = ".");

  // Window creation: charset, register.bin, every region image, settings,
  // ticks per second. Load failures are reported through Messages.
  void create();

  // Window show, without the bitmaps: held keys released, machine running,
  // trace and breakpoint disarmed, port input lines (line 1 cleared when
  // "rom2.bin" or "rom3.bin" exists, line 0 cleared when the face has no
  // optional key), cycles per tick, power-on sequence, F = 0x08 (power switch
  // on). The window loads the face first, since hasOptionalKey comes from it.
  void show(bool hasOptionalKey);

  // Window close: stop flag, disk link closed, "register.bin" and the
  // writable images saved. Save failures are reported through Messages; an
  // image that existed but could not be read at start is not overwritten,
  // and is reported as not saved.
  void close();
  // The saving part of close, on a machine that goes on running.
  void saveFiles();

  // The 10 ms tick: spends the cycle budget on processor steps and feeds the
  // external lines, the LCD pulse and the cycle timer after every step.
  // Stops the machine when a trace count runs out or the breakpoint is
  // reached, and then calls showDebugger.
  void runTick();
  // The one-second tick: advances TM and requests the minute interrupt.
  void secondTick();
  // The compose step of the 50 ms tick: builds the LCD frame from display
  // memory; the window then renders it.
  void refreshTick();

  // Called after a trace or breakpoint run has stopped the machine (the stop
  // flag is already set and the run disarmed). The window shows its debug
  // window from here.
  std::function<void()> showDebugger;

  // Host time one run tick may take at most; what is left of its budget
  // then is dropped (there is no catch-up), so a slow host or an absurd
  // clock never freezes the window. Zero, the default, counts every cycle
  // exactly, as the headless runner needs.
  void setHostTimeLimit(std::chrono::nanoseconds limit) { hostTimeLimit_ = limit; }

  const Settings& settings() const { return settings_; }
  const std::string& dir() const { return dir_; }
  // A file of the machine directory.
  std::string path(const std::string& name) const { return machinePath(dir_, name); }

  // Processor steps executed by runTick() and the sum of their cycle counts,
  // since construction.
  uint64_t stepsRun() const { return scheduler.stepsRun; }
  int64_t cyclesRun() const { return scheduler.cyclesRun; }

  // The host's side of the run: stop flag, resume delay, trace and
  // breakpoint arms.
  RunControl run;
  // The cycle budget and the cadence of the ticks.
  Scheduler scheduler;

 private:
  void stop();
  void observedTick(StepObserver& observer);

  Machine& m_;
  Messages& messages_;
  std::string dir_;
  Settings settings_;
  // Images (and register.bin) that existed at start but could not be read:
  // saving them at close would destroy what is still on disk.
  std::array<bool, kRegionCount> keepImage_{};
  bool keepRegisters_ = false;
  std::chrono::nanoseconds hostTimeLimit_{0};
};

}  // namespace tarvo
