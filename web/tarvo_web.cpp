// Everything the web page asks of the emulator, in one place, exported to
// JavaScript as plain C functions (tw_*). The page keeps no machine state of
// its own: it draws what these report and forwards the user's input.
//
// One emulator at a time lives here; its machine directory is a folder of
// the in-memory file system that the page fills before tw_start. Every call
// goes through PageEmulator, so following a change in how the core bundles
// a running emulator means changing that one struct.
#include <emscripten/emscripten.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "devices/disk_link.h"
#include "frontpanel/charmap.h"
#include "frontpanel/files.h"
#include "frontpanel/keymap.h"
#include "frontpanel/lcd_image.h"
#include "frontpanel/lcd_text.h"
#include "frontpanel/run_loop.h"
#include "frontpanel/state_file.h"
#include "frontpanel/typist.h"
#include "machine.h"
#include "machine/digest.h"
#include "machine/operations.h"

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

// Emulated time of one run tick, and the most host time one call catches
// up on (a tab that was slow or in the background does not race after).
constexpr double kTickMs = 10.0;
constexpr double kMaxCatchUpMs = 100.0;

struct PageEmulator {
  explicit PageEmulator(const std::string& dir) : loop(m, messages, dir), typist(m, loop) {
    m.port.fddSocket = std::make_unique<NoDiskLink>();
    charMap = loadCharMap(dir);
  }

  void start(bool optionalKey) {
    loop.create();
    loop.show(optionalKey);
    lcd.initialise(m.lcd.control);
  }

  // One run tick and the refresh and one-second ticks that fall due after
  // it, counted in emulated time as the headless runner does.
  void tick() {
    typist.beforeTick();
    headlessTick(loop, [&] { lcd.render(m.lcd); });
  }

  Machine m;
  PageMessages messages;
  RunLoop loop;
  Typist typist;
  std::optional<CharMap> charMap;
  LcdImage lcd;
  double owedMs = 0;
  bool mappedCharHeld = false;
  std::string text;  // the last answer handed out as a C string
};

std::unique_ptr<PageEmulator> emu;

const CharMap* charMap() {
  return emu->charMap ? &*emu->charMap : nullptr;
}

}  // namespace

extern "C" {

// Starts the machine of dir (create and show, as the window does); a face
// without the optional key passes 0.
EMSCRIPTEN_KEEPALIVE void tw_start(const char* dir, int optionalKey) {
  emu = std::make_unique<PageEmulator>(dir);
  emu->start(optionalKey != 0);
}

// Closes the machine: "register.bin" and the RAM images are written into
// its directory.
EMSCRIPTEN_KEEPALIVE void tw_close() {
  if (!emu) return;
  emu->loop.close();
  emu.reset();
}

// Writes "register.bin" and the RAM images without stopping the machine.
EMSCRIPTEN_KEEPALIVE void tw_save_files() {
  const RunLoop& loop = emu->loop;
  if (!saveRegisters(emu->m.cpu, loop.path("register.bin")))
    emu->messages.saveFailed("register.bin");
  for (const Region& r : emu->m.mem.rows) {
    if (!r.writable || r.imageFile[0] == '\0') continue;
    if (!saveFile(loop.path(r.imageFile), r.buffer.data(), r.buffer.size()))
      emu->messages.saveFailed(r.imageFile);
  }
}

// Runs the run ticks that hostMs of host time is worth, carrying what is
// left over into the next call. Returns the ticks run.
EMSCRIPTEN_KEEPALIVE int tw_run_for(double hostMs) {
  emu->owedMs = std::min(emu->owedMs + std::max(hostMs, 0.0), kMaxCatchUpMs);
  int ticks = 0;
  while (emu->owedMs >= kTickMs) {
    emu->owedMs -= kTickMs;
    emu->tick();
    ++ticks;
  }
  return ticks;
}

// Exactly n run ticks, whatever the host's clock says.
EMSCRIPTEN_KEEPALIVE void tw_run_ticks(int n) {
  for (int i = 0; i < n; ++i) emu->tick();
}

// The LCD image, 384 x 64 pixels of 0x00RRGGBB, and whether it changed
// since the last tw_lcd_seen.
EMSCRIPTEN_KEEPALIVE const uint32_t* tw_lcd_pixels() {
  return emu->lcd.pixels.data();
}
EMSCRIPTEN_KEEPALIVE int tw_lcd_changed() {
  return emu->lcd.changed;
}
EMSCRIPTEN_KEEPALIVE void tw_lcd_seen() {
  emu->lcd.changed = 0;
}

// The LCD read back as four lines of text.
EMSCRIPTEN_KEEPALIVE const char* tw_lcd_text() {
  emu->text = lcdText(emu->m.lcd);
  return emu->text.c_str();
}

// The key under a face point (0 for none), for the face's search bounds.
EMSCRIPTEN_KEEPALIVE int tw_key_at(int x, int y, int optionalKey) {
  return keyAt(x, y, optionalKey ? kLastGroup : kLastGroupNoOptional,
               optionalKey ? kHighestKey : kHighestKeyNoOptional)
      .code;
}

// The mouse holds a key (0 lets go of it, with no effect); releasing one
// ends its action: the power switch flips, the wake key wakes.
EMSCRIPTEN_KEEPALIVE void tw_mouse_down(int code) {
  holdKey(emu->m, KeyHolder::Mouse, code);
  if (code != 0) pressKey(emu->m, KeyHolder::Mouse, code);
}
EMSCRIPTEN_KEEPALIVE void tw_mouse_cancel() {
  releaseKey(emu->m, KeyHolder::Mouse);
}
EMSCRIPTEN_KEEPALIVE void tw_mouse_up() {
  const int code = emu->m.keys.mouseKey;
  releaseKey(emu->m, KeyHolder::Mouse);
  if (code == kKeyPower) togglePowerSwitch(emu->m);
  if (code == kKeyWake) releaseWakeKey(emu->m);
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
  return emu->m.keys.mouseKey;
}
EMSCRIPTEN_KEEPALIVE int tw_power_on() {
  return (emu->m.cpu.F & kFlagPower) != 0;
}

// A character typed on the host keyboard: the host table, else the
// machine's character map. False when neither has it.
EMSCRIPTEN_KEEPALIVE int tw_host_char(uint32_t ch) {
  if (pressHostChar(emu->m, ch)) return 1;
  if (charMap() && pressMappedChar(emu->m, *charMap(), ch)) {
    emu->mappedCharHeld = true;
    return 1;
  }
  return 0;
}
// A special host key (HostKey order: Backspace, Enter, Escape, PageUp,
// PageDown, Left, Up, Right, Down, Insert, Delete, F8).
EMSCRIPTEN_KEEPALIVE void tw_host_key(int key) {
  if (key >= 0 && key <= static_cast<int>(HostKey::F8))
    pressHostKey(emu->m, static_cast<HostKey>(key));
}
EMSCRIPTEN_KEEPALIVE void tw_host_up() {
  // A paste holds the host key itself.
  if (emu->typist.busy()) return;
  releaseHostKey(emu->m);
  if (emu->mappedCharHeld) releaseMappedChar(emu->m);
  emu->mappedCharHeld = false;
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
  emu->typist.type(keystrokesForText(text, charMap(), &skipped));
  return static_cast<int>(skipped);
}
EMSCRIPTEN_KEEPALIVE int tw_typing() {
  return emu->typist.busy();
}
EMSCRIPTEN_KEEPALIVE void tw_cancel_typing() {
  emu->typist.cancel();
}

// F9: the power-on sequence.
EMSCRIPTEN_KEEPALIVE void tw_reset() {
  powerOnSequence(emu->m);
}

// Save states, as files of the in-memory file system. tw_load_state
// returns 0 when the state was loaded, 1 when it was refused (tw_reason
// says why) and 2 when it was taken with other ROM images or another
// character set and force was not set (nothing loaded).
EMSCRIPTEN_KEEPALIVE int tw_save_state(const char* path) {
  return writeStateFile(path, emu->m, emu->loop.scheduler);
}
EMSCRIPTEN_KEEPALIVE int tw_load_state(const char* path, int force) {
  DecodedState state;
  emu->text = readStateFile(path, state);
  if (!emu->text.empty()) return 1;
  if (!force && !sameImages(state, emu->m)) return 2;
  emu->typist.cancel();
  releaseKey(emu->m, KeyHolder::Mouse);
  applyState(state, emu->m, emu->loop.scheduler);
  // Drawn from the frame the state holds: composing a new one would change
  // the state just loaded.
  emu->lcd.initialise(emu->m.lcd.control);
  emu->lcd.render(emu->m.lcd);
  return 0;
}
EMSCRIPTEN_KEEPALIVE const char* tw_reason() {
  return emu->text.c_str();
}

// The digest of the whole emulated state, as tarvo-run --dump prints it.
EMSCRIPTEN_KEEPALIVE const char* tw_state_digest() {
  emu->text = stateDigestText(emu->m, &emu->loop.scheduler);
  return emu->text.c_str();
}

}  // extern "C"
