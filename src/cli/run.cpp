// tarvo-run: the machine without a window. It starts as the window does,
// applies pokes and register settings, runs processor steps or run ticks
// (optionally typing on the host keyboard), and reports memory, the LCD and
// the processor state.
#include <png.h>
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_common.h"
#include "cpu/exec.h"
#include "cpu/memory.h"
#include "debugger/session.h"
#include "debugger/symbols.h"
#include "emulator/emulator.h"
#include "frontpanel/charmap.h"
#include "frontpanel/files.h"
#include "frontpanel/input_log.h"
#include "frontpanel/keymap.h"
#include "frontpanel/lcd_image.h"
#include "frontpanel/lcd_text.h"
#include "frontpanel/state_file.h"
#include "machine.h"
#include "machine/digest.h"
#include "machine/register_set.h"
#include "machine/registers.h"

namespace {

using namespace tarvo;

using cli::fail;
using cli::hexDigit;

struct StderrMessages : Messages {
  void loadFailed(const std::string& file) override {
    std::cerr << loadFailedMessage(file) << '\n';
  }
  void saveFailed(const std::string& file) override {
    std::cerr << saveFailedMessage(file) << '\n';
  }
};

std::string_view dropHexPrefix(std::string_view s) {
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
  return s;
}

// A hex address; more than 32 bits is refused.
std::optional<uint32_t> parseAddress(std::string_view s) {
  s = dropHexPrefix(s);
  if (s.empty()) return std::nullopt;
  uint64_t v = 0;
  for (char ch : s) {
    const int d = hexDigit(ch);
    if (d < 0) return std::nullopt;
    v = (v << 4) | static_cast<uint64_t>(d);
    if (v > 0xFFFFFFFFu) return std::nullopt;
  }
  return static_cast<uint32_t>(v);
}

std::optional<uint64_t> parseDecimal(std::string_view s) {
  if (s.empty()) return std::nullopt;
  uint64_t v = 0;
  for (char ch : s) {
    if (ch < '0' || ch > '9') return std::nullopt;
    const uint64_t d = static_cast<uint64_t>(ch - '0');
    if (v > (UINT64_MAX - d) / 10) return std::nullopt;
    v = v * 10 + d;
  }
  return v;
}

uint64_t countArgument(const std::string& option, const std::string& text) {
  const auto n = parseDecimal(text);
  if (!n) fail(option + ": not a decimal count: '" + text + "'");
  return *n;
}

// --poke ADDR=HEXBYTES: straight into the buffer of the first region row
// that holds ADDR, writable or not. The on-chip ROM is addressed by words.
struct Poke {
  int row;
  std::size_t offset;
  std::vector<uint8_t> bytes;
};

Poke parsePoke(const MemoryMap& mem, const std::string& arg) {
  const auto eq = arg.find('=');
  if (eq == std::string::npos) fail("--poke: expected ADDR=HEXBYTES, got '" + arg + "'");
  const std::string_view addrText = std::string_view(arg).substr(0, eq);
  const std::string_view bytesText = std::string_view(arg).substr(eq + 1);
  const auto addr = parseAddress(addrText);
  if (!addr) fail("--poke: malformed address '" + std::string(addrText) + "'");
  if (bytesText.empty() || bytesText.size() % 2 != 0)
    fail("--poke: expected pairs of hex digits, got '" + std::string(bytesText) + "'");
  std::vector<uint8_t> bytes;
  for (std::size_t i = 0; i < bytesText.size(); i += 2) {
    const int hi = hexDigit(bytesText[i]);
    const int lo = hexDigit(bytesText[i + 1]);
    if (hi < 0 || lo < 0) fail("--poke: malformed hex bytes '" + std::string(bytesText) + "'");
    bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  for (int i = 0; i < kRegionCount; ++i) {
    const Region& row = mem.rows[i];
    if (static_cast<int64_t>(*addr) < row.start || static_cast<int64_t>(*addr) >= row.end) continue;
    const std::size_t offset = static_cast<std::size_t>(*addr - row.start) << row.shift;
    if (offset + bytes.size() > row.size())
      fail("--poke: " + std::to_string(bytes.size()) + " bytes at " + std::string(addrText) +
           " run past the end of their memory region");
    return {i, offset, std::move(bytes)};
  }
  fail("--poke: no memory at address " + std::string(addrText));
}

void applyPoke(Machine& m, const Poke& p) {
  std::vector<uint8_t>& buffer = m.mem.rows[p.row].buffer;
  for (std::size_t i = 0; i < p.bytes.size(); ++i) buffer[p.offset + i] = p.bytes[i];
}

// --set NAME=VALUE: the value truncated to the register's width and stored
// without any side effect.
RegisterSetting parseSet(const std::string& arg) {
  const auto eq = arg.find('=');
  if (eq == std::string::npos) fail("--set: expected NAME=VALUE, got '" + arg + "'");
  std::string error;
  const auto setting = parseRegisterSetting(std::string_view(arg).substr(0, eq),
                                            std::string_view(arg).substr(eq + 1), &error);
  if (!setting) fail("--set: " + error);
  return *setting;
}

struct Peek {
  uint32_t address;
  uint64_t length;
};

constexpr uint64_t kMaxPeek = 0x100000;

Peek parsePeek(const std::string& arg) {
  const auto colon = arg.find(':');
  if (colon == std::string::npos) fail("--peek: expected ADDR:LEN, got '" + arg + "'");
  const auto addr = parseAddress(std::string_view(arg).substr(0, colon));
  if (!addr) fail("--peek: malformed address in '" + arg + "'");
  const auto len = parseDecimal(std::string_view(arg).substr(colon + 1));
  if (!len) fail("--peek: malformed length in '" + arg + "'");
  if (*len > kMaxPeek)
    fail("--peek: length above " + std::to_string(kMaxPeek) + " in '" + arg + "'");
  return {*addr, *len};
}

std::vector<Keystroke> parseTyping(const std::string& text, const CharMap* charMap) {
  struct Named {
    std::string_view name;
    HostKey key;
  };
  static constexpr Named kNamed[] = {
      {"{ENTER}", HostKey::Enter}, {"{BS}", HostKey::Backspace},  {"{ESC}", HostKey::Escape},
      {"{UP}", HostKey::Up},       {"{DOWN}", HostKey::Down},     {"{LEFT}", HostKey::Left},
      {"{RIGHT}", HostKey::Right}, {"{INS}", HostKey::Insert},    {"{DEL}", HostKey::Delete},
      {"{PGUP}", HostKey::PageUp}, {"{PGDN}", HostKey::PageDown}, {"{F8}", HostKey::F8},
  };
  std::vector<Keystroke> out;
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    if (b == '{') {
      const auto close = text.find('}', i);
      const std::string token =
          text.substr(i, close == std::string::npos ? std::string::npos : close - i + 1);
      // "{{}" is the brace itself, typed as any other character.
      if (token == "{{}") {
        out.push_back(charStroke('{', charMap));
        i += token.size();
        continue;
      }
      bool found = false;
      for (const Named& n : kNamed) {
        if (token == n.name) {
          out.push_back(specialStroke(n.key));
          found = true;
          break;
        }
      }
      if (!found)
        fail("--type: unknown key name '" + token.substr(0, 24) +
             (token.size() > 24 ? "...'" : "'") + " (\"{{}\" types a brace)");
      i += token.size();
      continue;
    }
    // One character, however many bytes its UTF-8 form takes. Only ASCII
    // characters stand for keys; the rest press nothing (at a fixed pace
    // they still take their turn).
    out.push_back(charStroke(b < 0x80 ? b : 0xFFFD, charMap));
    ++i;
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) ++i;
  }
  return out;
}

// The LCD as the window would compose it now, in a copy: the composed
// frame is part of the machine's state, and reading the screen must not
// change the state that --dump and --state-out report.
Lcd composedLcd(const Machine& m) {
  Lcd lcd = m.lcd;
  lcd.composeFrame();
  return lcd;
}

// The LCD image as the front panel draws it, from the composed frame.
LcdImage renderLcd(const Lcd& lcd) {
  LcdImage image;
  image.initialise(lcd.control);
  image.render(lcd);
  return image;
}

// RGB, 8 bits a channel.
bool writePng(const LcdImage& image, const std::string& file) {
  FILE* out = std::fopen(file.c_str(), "wb");
  if (!out) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, nullptr);
    std::fclose(out);
    return false;
  }
  std::vector<png_byte> row(LcdImage::kWidth * 3);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(out);
    return false;
  }
  png_init_io(png, out);
  png_set_IHDR(png, info, LcdImage::kWidth, LcdImage::kHeight, 8, PNG_COLOR_TYPE_RGB,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < LcdImage::kHeight; ++y) {
    for (int x = 0; x < LcdImage::kWidth; ++x) {
      const uint32_t rgb = image.pixel(x, y);
      row[static_cast<std::size_t>(x) * 3] = static_cast<png_byte>(rgb >> 16);
      row[static_cast<std::size_t>(x) * 3 + 1] = static_cast<png_byte>(rgb >> 8);
      row[static_cast<std::size_t>(x) * 3 + 2] = static_cast<png_byte>(rgb);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(out) == 0;
}

// --replay: the recording, checked whole before the machine starts.
std::vector<InputEvent> readReplay(const std::string& file) {
  std::vector<InputEvent> events;
  const std::string reason = readInputLog(file, events);
  if (!reason.empty()) fail("--replay: " + file + ": " + reason);
  return events;
}

// --symbols, --break, --watch and --trace: checked before the machine starts,
// armed on it after the pokes and register settings.
struct DebugOptions {
  std::string symbolsFile;
  std::vector<std::string> breaks, watches;
  std::string traceFile;
  std::string traceLimitText;
};

struct BreakRequest {
  uint16_t address;
  std::string condition;
};

struct DebugPlan {
  SymbolTable symbols;
  std::vector<BreakRequest> breaks;
  std::vector<WatchText> watches;
  std::string traceFile;
  uint64_t traceLimit = 0;
  bool any() const { return !breaks.empty() || !watches.empty() || !traceFile.empty(); }
};

constexpr uint64_t kDefaultTraceLimit = 64ull << 20;

DebugPlan planDebugging(const DebugOptions& o) {
  DebugPlan plan;
  if (!o.symbolsFile.empty()) {
    std::vector<std::string> errors;
    if (!plan.symbols.load(o.symbolsFile, &errors))
      fail("--symbols: cannot read '" + o.symbolsFile + "'");
    if (!errors.empty()) fail("--symbols: '" + o.symbolsFile + "' line " + errors.front());
  }
  for (const std::string& b : o.breaks) {
    const auto colon = b.find(':');
    std::string error;
    const auto address = parseTypedAddress(b.substr(0, colon), &plan.symbols, &error);
    if (!address) fail("--break: " + error);
    if (*address > 0xFFFF) fail("--break: address above FFFF in '" + b + "'");
    BreakRequest r{static_cast<uint16_t>(*address), {}};
    if (colon != std::string::npos) {
      r.condition = b.substr(colon + 1);
      const Expression e = Expression::parse(r.condition, &plan.symbols);
      if (!e.ok()) fail("--break: condition '" + r.condition + "': " + e.error());
    }
    plan.breaks.push_back(std::move(r));
  }
  const AddressReader physical = [](std::string_view text, std::string*) {
    return parseAddress(text);
  };
  for (const std::string& w : o.watches) {
    std::string error;
    const auto watch = parseWatchText(w, physical, &error);
    if (!watch) fail("--watch: " + error + " in '" + w + "'");
    plan.watches.push_back(*watch);
  }
  plan.traceFile = o.traceFile;
  plan.traceLimit = kDefaultTraceLimit;
  if (!o.traceLimitText.empty()) plan.traceLimit = countArgument("--trace-limit", o.traceLimitText);
  return plan;
}

// Breakpoints are logical addresses in the code segment the machine is in
// once it has started and the registers are set.
void armDebugging(DebugSession& session, DebugPlan& plan) {
  const DebugSession::Batch batch(session);
  session.setSymbols(&plan.symbols);
  for (const BreakRequest& b : plan.breaks) {
    std::string error;
    if (session.addBreakpoint(session.codeAddress(b.address), b.condition, &error) == 0)
      fail("--break: " + error);
  }
  for (const WatchText& w : plan.watches) session.addWatchpoint(w.start, w.end, w.access);
  if (!plan.traceFile.empty()) {
    std::string error;
    if (!session.openTrace(plan.traceFile, plan.traceLimit, &error)) fail("--trace: " + error);
  }
  session.resume();
}

// The "stopReason" and "stopAddress" of --dump.
void dumpStop(nlohmann::ordered_json& j, const DebugSession& session, bool ticks,
              const Machine& m) {
  const StopInfo& stop = session.lastStop();
  const bool stopped = stop.reason != StopReason::None;
  j["stopReason"] = stopped ? stopReasonName(stop.reason) : ticks ? "ticks" : "steps";
  char text[8];
  if (stopped && stop.reason == StopReason::Watchpoint) {
    std::snprintf(text, sizeof text, "%05X", stop.address);
  } else {
    std::snprintf(text, sizeof text, "%04X", m.cpu.PC);
  }
  j["stopAddress"] = text;
}

int run(int argc, char** argv) {
  CLI::App app{"Runs the Tarvo without a window and reports its state."};
  std::string dir = ".";
  std::vector<std::string> pokes, sets, peeks;
  std::string stepsText, ticksText, typeText, pngFile, gifFile;
  bool lcdText = false, lcdChars = false, dump = false, save = false, typePace = false;
  app.add_option("--dir", dir, "Machine directory with the images and settings");
  app.add_option("--poke", pokes, "ADDR=HEXBYTES into the region buffer holding ADDR")
      ->allow_extra_args(false);
  app.add_option("--set", sets, "NAME=VALUE (hex) stored into a register")->allow_extra_args(false);
  auto* stepsOpt = app.add_option("--steps", stepsText, "Processor steps to execute");
  auto* ticksOpt = app.add_option("--ticks", ticksText, "Run ticks of 10 ms to execute");
  stepsOpt->excludes(ticksOpt);
  app.add_option("--type", typeText,
                 "Text typed on the host keyboard during --ticks ({ENTER} and the like for "
                 "special keys, {{} for a brace)")
      ->needs(ticksOpt);
  app.add_flag("--type-pace", typePace,
               "Type at a fixed pace (each key held 5 ticks, then 5 ticks up) instead of "
               "waiting for the program to read each key")
      ->needs(ticksOpt);
  app.add_option("--peek", peeks, "ADDR:LEN bytes to print")->allow_extra_args(false);
  app.add_flag("--lcd-text", lcdText, "Print the LCD as text");
  app.add_flag("--lcd-chars", lcdChars, "Print the LCD read back as 4 lines of characters");
  app.add_option("--lcd-png", pngFile, "Write the LCD image as PNG");
  app.add_option("--lcd-gif", gifFile,
                 "Record the LCD during --ticks as an animated GIF: a frame for every refresh "
                 "(50 ms) that changed it")
      ->needs(ticksOpt);
  app.add_flag("--dump", dump, "Print the processor state as JSON");
  app.add_flag("--save", save, "Write register.bin, ram0.bin and ram1.bin back");
  std::string stateIn, stateOut, recordFile, replayFile;
  bool forceState = false;
  app.add_option("--state-in", stateIn, "State file loaded before --poke and --set");
  app.add_option("--state-out", stateOut, "State file written at the end of the run");
  app.add_flag("--force-state", forceState, "Load a state taken with other ROM images");
  app.add_option("--record", recordFile, "Write the input events of this run to FILE");
  auto* replayOpt = app.add_option("--replay", replayFile, "Feed the input events of FILE");
  // The replayed events are not recorded again: a replay with --record
  // would leave a recording of nothing.
  replayOpt->excludes("--type")->excludes("--record")->needs(ticksOpt);
  DebugOptions debugOptions;
  app.add_option("--symbols", debugOptions.symbolsFile, "Symbol file of tarvo-asm --symbols");
  app.add_option("--break", debugOptions.breaks,
                 "ADDR[:CONDITION]: stop before the instruction at ADDR (hex or label)")
      ->allow_extra_args(false);
  app.add_option("--watch", debugOptions.watches,
                 "PHYS[-PHYSLAST][:r|w|rw]: stop after an access to these bytes (default w)")
      ->allow_extra_args(false);
  app.add_option("--trace", debugOptions.traceFile, "Write every executed instruction to FILE");
  app.add_option("--trace-limit", debugOptions.traceLimitText,
                 "Largest trace file in bytes (default 67108864)");
  if (!cli::parseCommandLine(app, argc, argv)) return 0;

  struct stat st;
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    fail("--dir: not a directory: '" + dir + "'");

  // Everything is checked before the machine starts, so that a bad argument
  // never leaves a half-done run behind.
  std::vector<Peek> peekList;
  for (const std::string& p : peeks) peekList.push_back(parsePeek(p));
  const bool useSteps = !stepsOpt->empty();
  const bool useTicks = !ticksOpt->empty();
  const uint64_t steps = useSteps ? countArgument("--steps", stepsText) : 0;
  const uint64_t ticks = useTicks ? countArgument("--ticks", ticksText) : 0;
  std::string charMapProblem;
  const std::optional<CharMap> charMap = loadCharMap(dir, &charMapProblem);
  // Like any other machine file that cannot be read: said, and the run goes on.
  if (!charMapProblem.empty()) std::cerr << charMapProblem << '\n';
  std::vector<InputEvent> replayEvents;
  if (!replayOpt->empty()) replayEvents = readReplay(replayFile);
  const std::vector<Keystroke> typing = parseTyping(typeText, charMap ? &*charMap : nullptr);
  DebugPlan debugPlan = planDebugging(debugOptions);

  StderrMessages messages;
  Emulator emulator(messages);
  Machine& m = emulator.machine();
  std::vector<Poke> pokeList;
  for (const std::string& p : pokes) pokeList.push_back(parsePoke(m.mem, p));
  std::vector<RegisterSetting> setList;
  for (const std::string& s : sets) setList.push_back(parseSet(s));

  emulator.open(dir);
  // --state-in: the whole machine from a state file, refused (exit 2, one
  // line) when the file is not a sound state, and when it was taken with
  // other ROM images or another character set unless forced.
  if (!stateIn.empty()) {
    std::string reason = emulator.loadState(stateIn, forceState);
    if (reason == Emulator::kOtherImages) reason += " (--force-state loads it anyway)";
    if (!reason.empty()) fail(stateRefusedMessage(stateIn, reason));
  }
  // Recorded and replayed events count the cycles of this run.
  emulator.startInputRecording();
  if (!replayOpt->empty()) emulator.replay(std::move(replayEvents));
  for (const Poke& p : pokeList) applyPoke(m, p);
  for (const RegisterSetting& set : setList) set.apply(m.cpu);
  DebugSession& session = emulator.debugger();
  if (debugPlan.any()) armDebugging(session, debugPlan);

  if (!gifFile.empty() && !emulator.recordLcd(gifFile))
    fail("--lcd-gif: cannot write the file '" + gifFile + "'");

  uint64_t stepsDone = 0;
  int64_t cyclesDone = 0;
  if (useSteps) {
    // The debugger's single step: the step alone.
    const Emulator::Steps done = emulator.stepProcessor(steps);
    stepsDone = done.steps;
    cyclesDone = done.cycles;
  } else if (useTicks) {
    // Typing starts after one second, when a program has long been up.
    constexpr uint64_t kTypingStart = 100;
    Typist::Options pace;
    pace.paced = typePace;
    emulator.setTypingOptions(pace);
    const uint64_t before = std::min(ticks, kTypingStart);
    // A breakpoint or watchpoint may stop the run early.
    if (emulator.runTicks(before) == before && !emulator.stopped() && ticks > before) {
      emulator.type(typing);
      emulator.runTicks(ticks - before);
    }
    stepsDone = emulator.stepsRun();
    cyclesDone = emulator.cyclesRun();
  }

  for (const Peek& p : peekList) {
    char text[16];
    std::snprintf(text, sizeof text, "%05X:", p.address);
    std::string out = text;
    for (uint64_t i = 0; i < p.length; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, " %02X",
                    readPhysical(m, static_cast<uint32_t>(p.address + i)));
      out += hex;
    }
    std::cout << out << '\n';
  }

  const Lcd screen = composedLcd(m);
  std::optional<LcdImage> image;
  if (lcdText || !pngFile.empty()) image = renderLcd(screen);
  if (lcdText) {
    // One dot is a 2 x 2 square of the image.
    for (int y = 0; y < LcdImage::kHeight / 2; ++y) {
      std::string row(LcdImage::kWidth / 2, '.');
      for (int x = 0; x < LcdImage::kWidth / 2; ++x) {
        if (image->pixel(2 * x, 2 * y) == LcdImage::kDarkDot)
          row[static_cast<std::size_t>(x)] = '#';
      }
      std::cout << row << '\n';
    }
  }
  if (lcdChars) {
    for (const std::string& line : lcdTextLines(screen)) std::cout << line << '\n';
  }

  if (dump) {
    const ProcessorState& c = m.cpu;
    nlohmann::ordered_json j;
    for (const RegisterDef& r : kRegisters) {
      // The main register file goes before the one-bit powerOff, which is
      // printed as true or false.
      if (r.width == 1) {
        j["R"] = std::vector<int>(c.R, c.R + 32);
        j[std::string(r.name)] = r.get(c) != 0;
      } else {
        j[std::string(r.name)] = r.get(c);
      }
    }
    j["steps"] = stepsDone;
    j["cycles"] = cyclesDone;
    j["stateDigest"] = stateDigestText(m, &emulator.scheduler());
    dumpStop(j, session, useTicks, m);
    std::cout << j.dump() << '\n';
  }
  std::cout.flush();

  int status = 0;
  if (emulator.recordingLcd() && !emulator.endLcdRecording()) {
    std::cerr << "tarvo-run: cannot write the GIF file '" << gifFile << "'\n";
    status = 2;
  }
  if (!pngFile.empty() && !writePng(*image, pngFile)) {
    std::cerr << "tarvo-run: cannot write the PNG file '" << pngFile << "'\n";
    status = 2;
  }
  if (!stateOut.empty() && !emulator.saveState(stateOut)) {
    messages.saveFailed(stateOut);
    status = 2;
  }
  if (!recordFile.empty() && !writeInputLog(recordFile, emulator.recordedInput())) {
    messages.saveFailed(recordFile);
    status = 2;
  }
  if (session.tracing() && !session.closeTrace()) {
    messages.saveFailed(debugPlan.traceFile);
    status = 2;
  }
  if (save) {
    // A Ctrl+C or kill that arrives during the close waits until the three
    // files are written, then ends the program: the directory holds either
    // the old set or the new one, and no temporary file.
    const ShutdownSignalsHeld held;
    emulator.close(true);
  } else {
    emulator.close(false);
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // Under a file size limit a save then fails with a message instead of
  // killing the program halfway through the close.
  std::signal(SIGXFSZ, SIG_IGN);
  return tarvo::cli::runTool("tarvo-run", [&] { return run(argc, argv); });
}
