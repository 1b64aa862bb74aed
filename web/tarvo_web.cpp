// Everything the web page asks of the emulator, in one place, exported to
// JavaScript as plain C functions (tw_*). The page keeps no machine state of
// its own: it draws what these report and forwards the user's input to the
// one Emulator, as the other front ends do.
//
// One emulator at a time lives here; its machine directory is a folder of
// the in-memory file system that the page fills before tw_start.
#include <emscripten/emscripten.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "devices/disk_link.h"
#include "emulator/emulator.h"
#include "frontpanel/charmap.h"
#include "frontpanel/files.h"
#include "frontpanel/keymap.h"
#include "frontpanel/lcd_image.h"
#include "frontpanel/lcd_text.h"
#include "frontpanel/state_file.h"
#include "frontpanel/typist.h"
#include "machine.h"
#include "machine/digest.h"

namespace {

using namespace tarvo;

// File problems go to the page, which shows them beside the face.
// clang-format off
EM_JS(void, tw_report, (const char* text), {
  if (Module.onMessage) Module.onMessage(UTF8ToString(text));
});
// clang-format on

struct PageMessages : Messages {
  void loadFailed(const std::string& file) override { tw_report(loadFailedMessage(file).c_str()); }
  void saveFailed(const std::string& file) override { tw_report(saveFailedMessage(file).c_str()); }
};

// A page cannot open TCP connections: the disk link never connects, so a
// program that reaches for the drive finds none at once (rather than the
// page waiting out a connect that cannot happen).
class NoDiskLink final : public DiskLink {
 public:
  bool open(const std::string&, int32_t) override { return false; }
  void close() override {}
  bool connected() const override { return false; }
  bool sendByte(uint8_t) override { return false; }
  bool receiveByte(uint8_t&) override { return false; }
};

struct Page {
  explicit Page(const std::string& dir) : emulator(messages) {
    emulator.machine().port.fddSocket = std::make_unique<NoDiskLink>();
    charMap = loadCharMap(dir);
    emulator.onRefresh = [this] { lcd.render(emulator.machine().lcd); };
    emulator.open(dir);
    lcd.initialise(emulator.machine().lcd.control);
  }

  Machine& m() { return emulator.machine(); }
  const CharMap* map() const { return charMap ? &*charMap : nullptr; }

  PageMessages messages;
  Emulator emulator;
  std::optional<CharMap> charMap;
  LcdImage lcd;  // the LCD as the page shows it, refresh by refresh
  // The key under the user's mouse button. The machine may hold it a
  // little longer, until the program has read it.
  int mouseKey = 0;
  std::string text;  // the last answer handed out as a C string
};

std::unique_ptr<Page> page;

}  // namespace

extern "C" {

// Starts the machine of dir as the window does (its face decides the
// optional key; the page's own reading of it is passed for drawing only).
EMSCRIPTEN_KEEPALIVE void tw_start(const char* dir, int /*optionalKey*/) {
  page.reset();
  page = std::make_unique<Page>(dir);
}

// Closes the machine: "register.bin" and the RAM images are written into
// its directory.
EMSCRIPTEN_KEEPALIVE void tw_close() {
  if (!page) return;
  page->emulator.close(true);
  page.reset();
}

// Writes "register.bin" and the RAM images without stopping the machine.
EMSCRIPTEN_KEEPALIVE void tw_save_files() {
  page->emulator.saveFiles();
}

// Runs the run ticks that hostMs of host time is worth at real speed,
// carrying what is left over into the next call. Returns the ticks run.
EMSCRIPTEN_KEEPALIVE int tw_run_for(double hostMs) {
  if (!(hostMs > 0)) return 0;
  const auto span = std::chrono::nanoseconds(static_cast<int64_t>(hostMs * 1e6));
  return static_cast<int>(page->emulator.runFor(span, Emulator::Pace::RealSpeed));
}

// Exactly n run ticks, whatever the host's clock says.
EMSCRIPTEN_KEEPALIVE void tw_run_ticks(int n) {
  if (n > 0) page->emulator.runTicks(static_cast<uint64_t>(n));
}

// The LCD image, 384 x 64 pixels of 0x00RRGGBB, and whether it changed
// since the last tw_lcd_seen.
EMSCRIPTEN_KEEPALIVE const uint32_t* tw_lcd_pixels() {
  return page->lcd.pixels.data();
}
EMSCRIPTEN_KEEPALIVE int tw_lcd_changed() {
  return page->lcd.changed;
}
EMSCRIPTEN_KEEPALIVE void tw_lcd_seen() {
  page->lcd.changed = 0;
}

// The LCD read back as four lines of text.
EMSCRIPTEN_KEEPALIVE const char* tw_lcd_text() {
  page->text = lcdText(page->m().lcd);
  return page->text.c_str();
}

// The key under a face point (0 for none), for the face's search bounds.
EMSCRIPTEN_KEEPALIVE int tw_key_at(int x, int y, int optionalKey) {
  return keyAt(x, y, optionalKey ? kLastGroup : kLastGroupNoOptional,
               optionalKey ? kHighestKey : kHighestKeyNoOptional)
      .code;
}

// The mouse holds a key (0 holds none); letting go of it in place ends
// its action (the power switch flips, the wake key wakes), letting go of
// it elsewhere only lets go.
EMSCRIPTEN_KEEPALIVE void tw_mouse_down(int code) {
  page->mouseKey = code;
  if (code != 0) page->emulator.apply(InputKind::FaceDown, code);
}
EMSCRIPTEN_KEEPALIVE void tw_mouse_cancel() {
  if (page->mouseKey != 0) page->emulator.apply(InputKind::FaceUp);
  page->mouseKey = 0;
}
EMSCRIPTEN_KEEPALIVE void tw_mouse_up() {
  const int code = page->mouseKey;
  if (code == 0) return;
  page->mouseKey = 0;
  page->emulator.apply(InputKind::FaceUp);
  if (code == kKeyPower) page->emulator.apply(InputKind::Power);
  if (code == kKeyWake) page->emulator.apply(InputKind::Wake);
}
// Where a key sits on the face: x, y, width and height and its frames' place in the keys
// image, packed into out[6], for drawing it pressed and released. False for codes beyond the face.
EMSCRIPTEN_KEEPALIVE int tw_key_rect(int code, int optionalKey, int32_t* out) {
  const int last = optionalKey ? kLastGroup : kLastGroupNoOptional;
  if (code < 1 || code > (optionalKey ? kHighestKey : kHighestKeyNoOptional)) return 0;
  const KeyHit key = keyPosition(code, last);
  const KeyGroup& g = kKeyGroups[static_cast<std::size_t>(key.group)];
  out[0] = key.x;
  out[1] = key.y;
  out[2] = g.width;
  out[3] = g.height;
  out[4] = g.imageX;
  out[5] = g.imageY;
  return 1;
}
EMSCRIPTEN_KEEPALIVE int tw_mouse_key() {
  return page->mouseKey;
}
EMSCRIPTEN_KEEPALIVE int tw_power_on() {
  return (page->m().cpu.F & kFlagPower) != 0;
}

// A character typed on the host keyboard: its key in the host table, else
// the machine's character map's keys, typed so that both reach the program
// together. False when neither has it.
EMSCRIPTEN_KEEPALIVE int tw_host_char(uint32_t ch) {
  if (const int code = hostCharKey(ch); code != 0) {
    page->emulator.apply(InputKind::HostChar, code);
    return 1;
  }
  if (!page->map() || keysForChar(page->map(), ch).empty()) return 0;
  page->emulator.type(keystrokesForText(std::u32string(1, ch), page->map()));
  return 1;
}
// A special host key (HostKey order: Backspace, Enter, Escape, PageUp,
// PageDown, Left, Up, Right, Down, Insert, Delete, F8).
EMSCRIPTEN_KEEPALIVE void tw_host_key(int key) {
  if (key >= 0 && key <= static_cast<int>(HostKey::F8))
    page->emulator.apply(InputKind::HostKey, hostKeyCode(static_cast<HostKey>(key)));
}
EMSCRIPTEN_KEEPALIVE void tw_host_up() {
  // What is being typed holds its keys itself.
  if (page->emulator.typist().busy()) return;
  page->emulator.apply(InputKind::HostUp);
}

// Text typed as fast as the program takes it (paste); returns the
// characters that have no key and were left out.
EMSCRIPTEN_KEEPALIVE int tw_type(const char* utf8) {
  std::u32string text;
  for (const char* p = utf8; *p;) {
    const auto b = static_cast<unsigned char>(*p);
    const int n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    char32_t ch = n == 1 ? b : b & (0x3F >> (n - 1));
    int i = 1;
    for (; i < n && (p[i] & 0xC0) == 0x80; ++i) ch = ch << 6 | (p[i] & 0x3F);
    p += i;
    text += i == n ? ch : U'\uFFFD';
  }
  std::size_t skipped = 0;
  page->emulator.type(keystrokesForText(text, page->map(), &skipped));
  return static_cast<int>(skipped);
}
EMSCRIPTEN_KEEPALIVE int tw_typing() {
  return page->emulator.typist().busy();
}
EMSCRIPTEN_KEEPALIVE void tw_cancel_typing() {
  page->emulator.cancelTyping();
}

// F9: the power-on sequence.
EMSCRIPTEN_KEEPALIVE void tw_reset() {
  page->emulator.apply(InputKind::Reset);
}

// Save states, as files of the in-memory file system. tw_load_state
// returns 0 when the state was loaded, 1 when it was refused (tw_reason
// says why) and 2 when it was taken with other ROM images or another
// character set and force was not set (nothing loaded).
EMSCRIPTEN_KEEPALIVE int tw_save_state(const char* path) {
  return page->emulator.saveState(path);
}
EMSCRIPTEN_KEEPALIVE int tw_load_state(const char* path, int force) {
  Emulator& e = page->emulator;
  // Checked before anything is let go, so that a refusal changes nothing.
  DecodedState state;
  page->text = readStateFile(path, state);
  if (!page->text.empty()) return 1;
  if (!force && !sameImages(state, page->m())) return 2;
  e.cancelTyping();
  tw_mouse_cancel();
  page->text = e.loadState(path, force != 0);
  if (!page->text.empty()) return 1;
  // Drawn from the frame the state holds: composing a new one would change
  // the state just loaded.
  page->lcd.initialise(page->m().lcd.control);
  page->lcd.render(page->m().lcd);
  return 0;
}
EMSCRIPTEN_KEEPALIVE const char* tw_reason() {
  return page->text.c_str();
}

// The digest of the whole emulated state, as tarvo-run --dump prints it.
EMSCRIPTEN_KEEPALIVE const char* tw_state_digest() {
  page->text = stateDigestText(page->m(), &page->emulator.scheduler());
  return page->text.c_str();
}

}  // extern "C"
