// Input recordings: what the world did to the machine, one event a line,
// each at the cycle count (cycles run since the recording began) at which
// it happened. Replaying a recording from the state it began in feeds the
// events at the same points of the run and ends in the same state.
//
// The text form, readable and editable by hand:
//   # comment              (and blank lines) are skipped
//   <cycle> down <code>    a key of the face goes down under the mouse
//   <cycle> up [<code>]    the mouse lets go of its key
//   <cycle> char <code>    a typed host character presses its key
//   <cycle> key <code>     a special host key (Enter, arrows...) holds its key
//   <cycle> release        the host keyboard lets go
//   <cycle> power          the power switch flips
//   <cycle> wake           the wake key is released (wakes a sleeping machine)
//   <cycle> reset          the power-on sequence
// Cycle counts never decrease from one line to the next.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvo {

struct Machine;

enum class InputKind : uint8_t {
  FaceDown,
  FaceUp,
  ChordHold,
  HostChar,
  HostKey,
  HostUp,
  Power,
  Wake,
  Reset
};

struct InputEvent {
  int64_t cycle = 0;
  InputKind kind = InputKind::HostUp;
  int32_t code = 0;  // key code for FaceDown, FaceUp, ChordHold, HostChar, HostKey

  bool operator==(const InputEvent&) const = default;
};

inline constexpr const char* kInputLogHeader = "# tarvo input recording 1";

// One line, without its line end.
std::string formatInputEvent(const InputEvent& e);
// The whole file: the header line, then one line per event.
std::string formatInputLog(const std::vector<InputEvent>& events);
// Returns "" and the events, or "line N: reason".
std::string parseInputLog(const std::string& text, std::vector<InputEvent>& out);

// What the event does to the machine, through the same operations the
// window's mouse and keyboard use.
void applyInputEvent(Machine& m, const InputEvent& e);

// Reads a recording (at most a few megabytes); "" or the reason.
std::string readInputLog(const std::string& path, std::vector<InputEvent>& out);
// Saves atomically, as the images are saved.
bool writeInputLog(const std::string& path, const std::vector<InputEvent>& events);
// Saves a recording with the state it starts from (a state file's bytes,
// taken when the recording began): the two files replace the old pair
// together, so a pair on disk is always one recording's.
bool writeRecording(const std::string& statePath, const std::vector<uint8_t>& startState,
                    const std::string& logPath, const std::vector<InputEvent>& events);

// Collects events against a cycle count that starts at the first call's base.
class InputRecorder {
 public:
  explicit InputRecorder(int64_t startCycles = 0) : base_(startCycles) {}
  void record(int64_t cyclesNow, InputKind kind, int32_t code = 0) {
    events_.push_back({cyclesNow - base_, kind, code});
  }
  const std::vector<InputEvent>& events() const { return events_; }

 private:
  int64_t base_;
  std::vector<InputEvent> events_;
};

// Feeds a recording: before each run tick, every event whose cycle count
// has been reached.
class InputReplayer {
 public:
  InputReplayer(std::vector<InputEvent> events, int64_t startCycles)
      : events_(std::move(events)), base_(startCycles) {}
  // Applies the events due at cyclesNow; returns how many.
  int feed(Machine& m, int64_t cyclesNow);
  bool done() const { return next_ >= events_.size(); }
  std::size_t remaining() const { return events_.size() - next_; }

 private:
  std::vector<InputEvent> events_;
  int64_t base_;
  std::size_t next_ = 0;
};

}  // namespace tarvo
