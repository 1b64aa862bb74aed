// Typing text into the machine through its key matrix, as fast as the
// program running on it takes keys. Each key is held until the program has
// read it on its own strobe and read it once more after that, then let go
// until the program has read the matrix and found it up; only then does the
// next key go down. So nothing is lost however slow the clock or busy the
// program, and nothing waits longer than the program needs. A fixed pace
// (hold so many run ticks, then wait so many) remains for callers that want
// typing tied to the clock of the ticks.
//
// Used by the window's paste and by tarvo-run --type. The typist acts
// between run ticks: call beforeTick() before every RunLoop::runTick().
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "frontpanel/charmap.h"
#include "frontpanel/input_log.h"
#include "frontpanel/keymap.h"

namespace tarvo {

struct Machine;
class RunLoop;

// The machine keys to hold together to type one character: one or two key
// codes, none when the machine has no key for it. codes[0] is the key whose
// press runs the key interrupt check, codes[1] the one held with it (a
// shift key, say).
struct KeyChord {
  std::array<int32_t, 2> codes{};
  int count = 0;
};
// The keys of a character, as keysForChar (charmap.h) finds them: the host
// character table, else the machine's character map (map may be null).
KeyChord chordForChar(const CharMap* map, char32_t ch);

// One thing typed: a character (whose key press runs the key interrupt
// check, as a typed host character does) or a special host key (which only
// sets the key code, as its host key does).
struct Keystroke {
  KeyChord keys;
  bool interruptCheck = true;
};

Keystroke charStroke(char32_t ch, const CharMap* map = nullptr);
Keystroke specialStroke(HostKey key);

// Text as keystrokes: line ends (LF, CR or CR LF) become Enter, characters
// without a key are left out and counted in *skipped.
std::vector<Keystroke> keystrokesForText(std::u32string_view text, const CharMap* map = nullptr,
                                         std::size_t* skipped = nullptr);

class Typist {
 public:
  struct Options {
    // Fixed pace instead of flow control: each key is held for holdTicks run
    // ticks, then released for gapTicks, whatever the program does. A
    // keystroke without keys takes its turn and presses nothing.
    bool paced = false;
    int holdTicks = 5;
    int gapTicks = 5;
    // Flow control gives up waiting for one read after this many processor
    // cycles (a program that does not look at the keyboard, a machine that
    // is off): the key is let go, or the next one pressed, anyway. A key
    // the program keeps finding down on the all-keys strobe while it reads
    // other strobes but not the key's is held on: the program is busy, not
    // deaf.
    int64_t timeoutCycles = 910'000;
  };

  Typist(Machine& m, const RunLoop& loop);
  Typist(Machine& m, const RunLoop& loop, Options options);

  // Queues keystrokes behind any still to be typed.
  void type(const std::vector<Keystroke>& strokes);
  // Lets go of the key held and forgets the rest.
  void cancel();
  // Keys pressed and let go from now on are also written to recorder (null:
  // no more), as an input recording replays them.
  void recordInto(InputRecorder* recorder) { recorder_ = recorder; }
  // Keys pressed and let go from now on go to the machine through apply
  // (which also records them) rather than straight into the key matrix.
  using Apply = std::function<void(InputKind kind, int32_t code)>;
  void applyThrough(Apply apply) { apply_ = std::move(apply); }

  // Presses and releases the host key as the program's reads allow.
  void beforeTick();

  bool busy() const { return next_ < strokes_.size(); }
  // Keystrokes finished (released), and those not yet finished.
  std::size_t typed() const { return typed_; }
  std::size_t remaining() const { return strokes_.size() - next_; }
  // Keystrokes the program never read in time (flow control only).
  std::size_t timedOut() const { return timedOut_; }

 private:
  enum class State { Idle, Waiting, Holding, Releasing };

  void press(const Keystroke& k);
  void release();
  void finishStroke();
  void pressNext(bool waitForRead);
  void watchFor(const KeyChord& keys);
  bool waitedTooLong() const;
  uint8_t allKeys() const;

  Machine& m_;
  const RunLoop& loop_;
  Options options_;
  std::vector<Keystroke> strokes_;
  std::size_t next_ = 0;
  State state_ = State::Idle;
  KeyChord held_;
  int ticksInState_ = 0;
  int64_t cyclesAtState_ = 0;
  std::size_t typed_ = 0;
  std::size_t timedOut_ = 0;
  InputRecorder* recorder_ = nullptr;
  Apply apply_;
};

}  // namespace tarvo
