// What the main window keeps for save states, rewind and input recording.
#pragma once

#include <QString>
#include <QTimer>
#include <cstdint>
#include <optional>
#include <vector>

#include "frontpanel/input_log.h"
#include "frontpanel/rewind.h"

struct StateKeys {
  int slot = 1;
  tarvo::RewindBuffer rewind;
  bool configured = false;
  bool rewindOn = true;
  bool rewindHeld = false;
  int rewindWait = 0;  // run ticks until the next step back
  int64_t cyclesAtCapture = 0;
  std::optional<tarvo::InputRecorder> recorder;
  std::vector<uint8_t> recordingStart;  // the state file of the recording's start
  std::optional<tarvo::InputReplayer> replayer;
};

// Rewind: one state every tenth of an emulated second, and while the key is
// held one step back every kRewindStepTicks run ticks (five times the
// speed of the run).
constexpr int kCapturesPerSecond = 10;
constexpr int kRewindStepTicks = 2;

inline constexpr const char* kQuickStateFile = "quick.tst";
inline constexpr const char* kRecordingFile = "recording.txt";
inline constexpr const char* kRecordingStateFile = "recording.tst";
