#include "frontpanel/typist.h"

#include "devices/keyboard.h"
#include "frontpanel/run_loop.h"
#include "machine.h"
#include "machine/operations.h"

namespace tarvo {

KeyChord chordForChar(const CharMap* map, char32_t ch) {
  const std::vector<int> keys = keysForChar(map, ch);
  KeyChord chord;
  if (keys.empty() || keys.size() > 2) return chord;
  // The map lists the held key first and the typed key last.
  chord.codes[0] = keys.back();
  if (keys.size() == 2) chord.codes[1] = keys.front();
  chord.count = static_cast<int>(keys.size());
  return chord;
}

Keystroke charStroke(char32_t ch, const CharMap* map) {
  return Keystroke{chordForChar(map, ch), true};
}

Keystroke specialStroke(HostKey key) {
  Keystroke k;
  k.keys.codes[0] = hostKeyCode(key);
  k.keys.count = 1;
  k.interruptCheck = false;
  return k;
}

std::vector<Keystroke> keystrokesForText(std::u32string_view text, const CharMap* map,
                                         std::size_t* skipped) {
  std::vector<Keystroke> out;
  std::size_t missing = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t ch = text[i];
    if (ch == U'\r' || ch == U'\n') {
      if (ch == U'\r' && i + 1 < text.size() && text[i + 1] == U'\n') ++i;
      out.push_back(specialStroke(HostKey::Enter));
      continue;
    }
    Keystroke k = charStroke(ch, map);
    if (k.keys.count == 0) {
      ++missing;
      continue;
    }
    out.push_back(k);
  }
  if (skipped) *skipped = missing;
  return out;
}

Typist::Typist(Machine& m, const RunLoop& loop) : Typist(m, loop, Options{}) {}

Typist::Typist(Machine& m, const RunLoop& loop, Options options)
    : m_(m), loop_(loop), options_(options) {}

void Typist::type(const std::vector<Keystroke>& strokes) {
  strokes_.insert(strokes_.end(), strokes.begin(), strokes.end());
}

void Typist::cancel() {
  if (state_ == State::Holding && apply_) {
    apply_(InputKind::HostUp, 0);
    if (m_.keys.chordKey != 0) apply_(InputKind::ChordHold, 0);
  } else if (state_ == State::Holding) {
    m_.keys.hostKey = 0;
    m_.keys.chordKey = 0;
  }
  m_.keys.watch = KeyWatch{};
  strokes_.clear();
  next_ = 0;
  state_ = State::Idle;
}

uint8_t Typist::allKeys() const {
  return static_cast<uint8_t>((1u << held_.count) - 1);
}

bool Typist::waitedTooLong() const {
  return loop_.cyclesRun() - cyclesAtState_ > options_.timeoutCycles;
}

void Typist::press(const Keystroke& k) {
  held_ = k.keys;
  if (apply_) {
    if (held_.codes[1] != 0) apply_(InputKind::ChordHold, held_.codes[1]);
    apply_(k.interruptCheck ? InputKind::HostChar : InputKind::HostKey, held_.codes[0]);
    watchFor(held_);
    state_ = State::Holding;
    ticksInState_ = 0;
    cyclesAtState_ = loop_.cyclesRun();
    return;
  }
  if (recorder_) {
    const int64_t now = loop_.cyclesRun();
    if (held_.codes[1] != 0) recorder_->record(now, InputKind::ChordHold, held_.codes[1]);
    recorder_->record(now, k.interruptCheck ? InputKind::HostChar : InputKind::HostKey,
                      held_.codes[0]);
  }
  watchFor(held_);
  // The held key first, so that the check sees both; the typed key then
  // goes down as a typed host character or a special host key does, under
  // the one rule of pressKey.
  holdKey(m_, KeyHolder::Chord, held_.codes[1]);
  if (k.interruptCheck)
    pressKey(m_, KeyHolder::Host, held_.codes[0]);
  else
    holdKey(m_, KeyHolder::Host, held_.codes[0]);
  state_ = State::Holding;
  ticksInState_ = 0;
  cyclesAtState_ = loop_.cyclesRun();
}

void Typist::release() {
  if (apply_) {
    apply_(InputKind::HostUp, 0);
    if (m_.keys.chordKey != 0) apply_(InputKind::ChordHold, 0);
  } else if (recorder_) {
    const int64_t now = loop_.cyclesRun();
    recorder_->record(now, InputKind::HostUp);
    if (m_.keys.chordKey != 0) recorder_->record(now, InputKind::ChordHold, 0);
  }
  m_.keys.hostKey = 0;
  m_.keys.chordKey = 0;
  // From here on the reads that count are those that find the keys up.
  m_.keys.watch.seenUp = 0;
  state_ = State::Releasing;
  ticksInState_ = 0;
  cyclesAtState_ = loop_.cyclesRun();
}

void Typist::finishStroke() {
  ++next_;
  ++typed_;
  state_ = State::Idle;
}

void Typist::watchFor(const KeyChord& keys) {
  KeyWatch& w = m_.keys.watch;
  w = KeyWatch{};
  w.active = !options_.paced;
  w.codes[0] = keys.codes[0];
  w.codes[1] = keys.codes[1];
}

void Typist::beforeTick() {
  if (state_ != State::Idle) ++ticksInState_;
  const KeyWatch& w = m_.keys.watch;
  const bool paced = options_.paced;
  switch (state_) {
    case State::Idle:
      break;
    case State::Waiting:
      if ((w.seenUp & allKeys()) != allKeys() && !waitedTooLong()) return;
      press(strokes_[next_]);
      return;
    case State::Holding:
      // A program may look at a key's strobe before it goes looking for
      // the key (a shift key on the same strobe, say): the key counts as
      // taken once it has been read on its strobe and read again after.
      if (paced ? ticksInState_ >= options_.holdTicks : (w.seenAgain & allKeys()) == allKeys()) {
        release();
      } else if (!paced && waitedTooLong()) {
        if ((w.seenAllDown & w.seenElsewhere & allKeys()) != 0) {
          // The program still looks at the keyboard and leaves the key
          // alone: it has no room for it yet, so it stays down.
          m_.keys.watch.seenAllDown = 0;
          m_.keys.watch.seenElsewhere = 0;
          cyclesAtState_ = loop_.cyclesRun();
          return;
        }
        ++timedOut_;
        release();
      }
      return;
    case State::Releasing:
      if (!(paced ? ticksInState_ >= options_.gapTicks
                  : (w.seenUp & allKeys()) == allKeys() || waitedTooLong()))
        return;
      finishStroke();
      // The program has just found the keys up: the next one may go down.
      pressNext(false);
      return;
  }
  // Idle: with flow control the first key of a run of typing waits, like
  // every later one, for a read of the matrix that finds it up, so that it
  // does not go down while the program is still starting and not yet
  // looking at the keyboard.
  pressNext(!paced);
}

void Typist::pressNext(bool waitForRead) {
  while (next_ < strokes_.size() && !options_.paced && strokes_[next_].keys.count == 0)
    ++next_;  // nothing to press
  if (next_ >= strokes_.size()) {
    strokes_.clear();
    next_ = 0;
    state_ = State::Idle;
    m_.keys.watch = KeyWatch{};
    return;
  }
  if (!waitForRead) {
    press(strokes_[next_]);
    return;
  }
  held_ = strokes_[next_].keys;
  watchFor(held_);
  state_ = State::Waiting;
  ticksInState_ = 0;
  cyclesAtState_ = loop_.cyclesRun();
}

}  // namespace tarvo
