#include "frontpanel/input_log.h"

#include <cstring>
#include <sstream>

#include "devices/keyboard.h"
#include "frontpanel/files.h"
#include "frontpanel/state_file.h"
#include "machine.h"
#include "machine/operations.h"

namespace tarvo {

namespace {

struct Verb {
  const char* name;
  InputKind kind;
  bool code;  // takes a key code (optional for "up")
};
constexpr Verb kVerbs[] = {
    {"down", InputKind::FaceDown, true},  {"up", InputKind::FaceUp, true},
    {"hold", InputKind::ChordHold, true}, {"char", InputKind::HostChar, true},
    {"key", InputKind::HostKey, true},    {"release", InputKind::HostUp, false},
    {"power", InputKind::Power, false},   {"wake", InputKind::Wake, false},
    {"reset", InputKind::Reset, false},
};

// A decimal number without sign, below limit.
bool parseCount(const std::string& s, uint64_t limit, uint64_t& v) {
  if (s.empty() || s.size() > 19) return false;
  v = 0;
  for (char ch : s) {
    if (ch < '0' || ch > '9') return false;
    v = v * 10 + static_cast<uint64_t>(ch - '0');
  }
  return v <= limit;
}

constexpr std::size_t kInputLogLimit = 64u << 20;

// A word of the file as a message quotes it: its start only, so that a
// line of a megabyte makes no message of a megabyte.
std::string quoted(const std::string& word) {
  constexpr std::size_t kShown = 24;
  return "'" + (word.size() > kShown ? word.substr(0, kShown) + "..." : word) + "'";
}

}  // namespace

std::string formatInputEvent(const InputEvent& e) {
  for (const Verb& v : kVerbs) {
    if (v.kind != e.kind) continue;
    std::string line = std::to_string(e.cycle) + ' ' + v.name;
    if (v.code && !(e.kind == InputKind::FaceUp && e.code == 0))
      line += ' ' + std::to_string(e.code);
    return line;
  }
  return std::to_string(e.cycle) + " release";
}

std::string formatInputLog(const std::vector<InputEvent>& events) {
  std::string out = std::string(kInputLogHeader) + '\n';
  for (const InputEvent& e : events) out += formatInputEvent(e) + '\n';
  return out;
}

std::string parseInputLog(const std::string& text, std::vector<InputEvent>& out) {
  std::vector<InputEvent> events;
  // An editor may begin the file with a UTF-8 byte-order mark.
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  std::istringstream in(text.starts_with(kByteOrderMark) ? text.substr(kByteOrderMark.size())
                                                         : text);
  std::string line;
  int number = 0;
  int64_t last = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string s; words >> s;) w.push_back(s);
    if (w.empty() || w[0][0] == '#') continue;
    const std::string where = "line " + std::to_string(number) + ": ";
    uint64_t cycle;
    if (!parseCount(w[0], INT64_MAX, cycle)) return where + "not a cycle count: " + quoted(w[0]);
    if (static_cast<int64_t>(cycle) < last) return where + "the cycle count goes back";
    last = static_cast<int64_t>(cycle);
    if (w.size() < 2) return where + "no event after the cycle count";
    const Verb* verb = nullptr;
    for (const Verb& v : kVerbs)
      if (w[1] == v.name) verb = &v;
    if (!verb) return where + "unknown event " + quoted(w[1]);
    InputEvent e{last, verb->kind, 0};
    const bool optional = verb->kind == InputKind::FaceUp;
    if (verb->code && (w.size() > 2 || !optional)) {
      uint64_t code;
      if (w.size() < 3) return where + "'" + w[1] + "' needs a key code";
      if (!parseCount(w[2], kKeyCodeCount - 1, code))
        return where + "not a key code (0 to " + std::to_string(kKeyCodeCount - 1) +
               "): " + quoted(w[2]);
      e.code = static_cast<int32_t>(code);
    }
    if (w.size() > (verb->code ? 3u : 2u)) return where + "more than one event on the line";
    events.push_back(e);
  }
  out = std::move(events);
  return "";
}

void applyInputEvent(Machine& m, const InputEvent& e) {
  switch (e.kind) {
    case InputKind::FaceDown:
      pressKey(m, KeyHolder::Mouse, e.code);
      break;
    case InputKind::FaceUp:
      releaseKey(m, KeyHolder::Mouse);
      break;
    case InputKind::ChordHold:
      holdKey(m, KeyHolder::Chord, e.code);
      break;
    case InputKind::HostChar:
      pressKey(m, KeyHolder::Host, e.code);
      break;
    case InputKind::HostKey:
      holdKey(m, KeyHolder::Host, e.code);
      break;
    case InputKind::HostUp:
      releaseKey(m, KeyHolder::Host);
      break;
    case InputKind::Power:
      togglePowerSwitch(m);
      break;
    case InputKind::Wake:
      releaseWakeKey(m);
      break;
    case InputKind::Reset:
      powerOnSequence(m);
      break;
  }
}

std::string readInputLog(const std::string& path, std::vector<InputEvent>& out) {
  std::vector<uint8_t> bytes;
  const std::string reason = readWholeFile(path, kInputLogLimit, bytes);
  if (!reason.empty()) return reason;
  return parseInputLog(std::string(bytes.begin(), bytes.end()), out);
}

bool writeInputLog(const std::string& path, const std::vector<InputEvent>& events) {
  const std::string text = formatInputLog(events);
  return saveFile(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

bool writeRecording(const std::string& statePath, const std::vector<uint8_t>& startState,
                    const std::string& logPath, const std::vector<InputEvent>& events) {
  const std::string text = formatInputLog(events);
  return saveFiles({{statePath, startState.data(), startState.size()},
                    {logPath, reinterpret_cast<const uint8_t*>(text.data()), text.size()}});
}

int InputReplayer::feed(Machine& m, int64_t cyclesNow) {
  int fed = 0;
  while (next_ < events_.size() && events_[next_].cycle <= cyclesNow - base_) {
    applyInputEvent(m, events_[next_++]);
    ++fed;
  }
  return fed;
}

}  // namespace tarvo
