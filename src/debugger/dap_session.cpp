#include "debugger/dap_session.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "cpu/code_view.h"
#include "cpu/memory.h"
#include "debugger/expression.h"
#include "debugger/session.h"
#include "emulator/emulator.h"
#include "frontpanel/files.h"
#include "frontpanel/lcd_text.h"
#include "machine.h"
#include "machine/register_set.h"
#include "machine/registers.h"
#include "tools/disasm.h"
#include "tools/json_shape.h"
#include "tools/xasm.h"

namespace tarvo {

using nlohmann::json;

namespace {

constexpr int kThreadId = 1;
constexpr int kRegistersScope = 1;
constexpr int kFlagsScope = 2;
constexpr int kMemoryScope = 3;
// The LCD is sent at most this often while the machine runs.
constexpr auto kLcdInterval = std::chrono::milliseconds(50);
constexpr std::size_t kMaxHeaderBytes = 64 * 1024;
constexpr std::size_t kMaxBodyBytes = 64 * 1024 * 1024;
// No request comes near these: the deepest nests a few levels, and the
// longest lists of breakpoints take a few values per entry.
constexpr int kMaxMessageDepth = 32;
constexpr std::size_t kMaxMessageValues = std::size_t{8} << 20;
constexpr uint32_t kMaxMemoryRequest = 0x10000;
constexpr int kMaxInstructions = 4096;
constexpr uint32_t kAddressLimit = 0x100000;

// A request that cannot be carried out: its message answers it.
struct Refusal {
  std::string message;
};
[[noreturn]] void refuseWith(std::string message) {
  throw Refusal{std::move(message)};
}

std::string hex(uint32_t v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, v);
  return buf;
}
std::string addressReference(uint32_t address) {
  return "0x" + hex(address, 5);
}

// The processor's flags as the flag scope shows them: 1 when the flag
// reads so. The zero flags are kept inverted in F.
struct FlagDef {
  const char* name;
  uint8_t bit;
  bool inverted;
};
constexpr FlagDef kFlags[] = {
    {"Z", kFlagNZ, true},
    {"C", kFlagC, false},
    {"LZ", kFlagNLZ, true},
    {"UZ", kFlagNUZ, true},
};

std::string registerText(const RegisterDef& r, const ProcessorState& c) {
  return hex(r.get(c), r.width > 8 ? 4 : 2);
}

const char* rowName(int row) {
  switch (row) {
    case kRomRow:
      return "on-chip ROM";
    case kBankRow:
      return "bank bytes";
    default:
      return nullptr;
  }
}

std::string base64(const std::vector<uint8_t>& bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const uint32_t n = static_cast<uint32_t>(bytes[i]) << 16 |
                       (i + 1 < bytes.size() ? static_cast<uint32_t>(bytes[i + 1]) << 8 : 0) |
                       (i + 2 < bytes.size() ? bytes[i + 2] : 0);
    out += kAlphabet[n >> 18 & 63];
    out += kAlphabet[n >> 12 & 63];
    out += i + 1 < bytes.size() ? kAlphabet[n >> 6 & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[n & 63] : '=';
  }
  return out;
}

std::optional<std::vector<uint8_t>> unbase64(std::string_view text) {
  std::vector<uint8_t> out;
  uint32_t acc = 0;
  int bits = 0;
  std::size_t padding = 0;
  for (char ch : text) {
    int v;
    if (ch >= 'A' && ch <= 'Z')
      v = ch - 'A';
    else if (ch >= 'a' && ch <= 'z')
      v = ch - 'a' + 26;
    else if (ch >= '0' && ch <= '9')
      v = ch - '0' + 52;
    else if (ch == '+')
      v = 62;
    else if (ch == '/')
      v = 63;
    else if (ch == '=') {
      ++padding;
      continue;
    } else {
      return std::nullopt;
    }
    if (padding > 0) return std::nullopt;  // data after the padding
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<uint8_t>(acc >> bits));
    }
  }
  return out;
}

// Arguments: typed accessors that refuse a wrong type with a message.
const json& argsOf(const json& request) {
  static const json kEmpty = json::object();
  const auto it = request.find("arguments");
  if (it == request.end() || it->is_null()) return kEmpty;
  if (!it->is_object()) refuseWith("\"arguments\" must be an object");
  return *it;
}
std::optional<std::string> optString(const json& args, const char* key) {
  const auto it = args.find(key);
  if (it == args.end() || it->is_null()) return std::nullopt;
  if (!it->is_string()) refuseWith(std::string("\"") + key + "\" must be a string");
  return it->get<std::string>();
}
std::optional<int64_t> optInteger(const json& args, const char* key) {
  const auto it = args.find(key);
  if (it == args.end() || it->is_null()) return std::nullopt;
  // Bounded far beyond any address, line or count, so that sums of them
  // (an offset added to an address) cannot overflow.
  constexpr int64_t kLimit = int64_t{1} << 40;
  if (!it->is_number_integer() || (it->is_number_unsigned() && it->get<uint64_t>() > kLimit) ||
      it->get<int64_t>() < -kLimit || it->get<int64_t>() > kLimit)
    refuseWith(std::string("\"") + key + "\" must be an integer of at most 2^40");
  return it->get<int64_t>();
}
bool optBool(const json& args, const char* key) {
  const auto it = args.find(key);
  if (it == args.end() || it->is_null()) return false;
  if (!it->is_boolean()) refuseWith(std::string("\"") + key + "\" must be true or false");
  return it->get<bool>();
}
const json& arrayOf(const json& args, const char* key) {
  static const json kEmpty = json::array();
  const auto it = args.find(key);
  if (it == args.end() || it->is_null()) return kEmpty;
  if (!it->is_array()) refuseWith(std::string("\"") + key + "\" must be an array");
  return *it;
}

struct CollectedMessages : Messages {
  std::vector<std::string> lines;
  void loadFailed(const std::string& file) override { lines.push_back(loadFailedMessage(file)); }
  void saveFailed(const std::string& file) override { lines.push_back(saveFailedMessage(file)); }
};

}  // namespace

// --- framing ---

std::optional<std::string> DapFramer::next(std::string* error) {
  for (;;) {
    const std::size_t end = buffer_.find("\r\n\r\n");
    if (end == std::string::npos) {
      if (buffer_.size() > kMaxHeaderBytes) {
        buffer_.clear();
        if (error) *error = "malformed message: a header without an end";
      }
      return std::nullopt;
    }
    // Header lines "Name: value"; only Content-Length counts.
    std::optional<std::size_t> length;
    bool bad = false;
    std::size_t p = 0;
    while (p < end) {
      std::size_t eol = buffer_.find("\r\n", p);
      if (eol == std::string::npos || eol > end) eol = end;
      const std::string_view line(buffer_.data() + p, eol - p);
      const auto colon = line.find(':');
      if (colon != std::string_view::npos && line.substr(0, colon) == "Content-Length") {
        std::string_view v = line.substr(colon + 1);
        while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
        while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
        std::size_t n = 0;
        bool ok = !v.empty() && v.size() <= 10;
        for (char ch : v) ok = ok && ch >= '0' && ch <= '9';
        if (ok)
          for (char ch : v) n = n * 10 + static_cast<std::size_t>(ch - '0');
        if (!ok || n > kMaxBodyBytes)
          bad = true;
        else
          length = n;
      }
      p = eol + 2;
    }
    if (bad || !length) {
      buffer_.erase(0, end + 4);
      if (error) *error = "malformed message: no usable Content-Length header";
      return std::nullopt;
    }
    if (buffer_.size() < end + 4 + *length) return std::nullopt;
    std::string body = buffer_.substr(end + 4, *length);
    buffer_.erase(0, end + 4 + *length);
    return body;
  }
}

std::string DapFramer::frame(std::string_view body) {
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + std::string(body);
}

// --- the session ---

DapSession::DapSession() = default;

DapSession::~DapSession() = default;

json DapSession::event(std::string name, json body) {
  json e = {{"seq", seq_++}, {"type", "event"}, {"event", std::move(name)}};
  if (!body.is_null()) e["body"] = std::move(body);
  return e;
}

json DapSession::response(const json& request, bool success, std::string message, json body) {
  json r = {{"seq", seq_++}, {"type", "response"}};
  const auto seq = request.is_object() ? request.find("seq") : request.end();
  r["request_seq"] = request.is_object() && seq != request.end() && seq->is_number_integer()
                         ? seq->get<int64_t>()
                         : 0;
  r["success"] = success;
  const auto command = request.is_object() ? request.find("command") : request.end();
  r["command"] = request.is_object() && command != request.end() && command->is_string()
                     ? command->get<std::string>()
                     : std::string();
  if (!message.empty()) r["message"] = std::move(message);
  if (!body.is_null()) r["body"] = std::move(body);
  return r;
}

void DapSession::refuse(const std::string& message, Out& out) {
  out.push_back(response(json(), false, message));
}

void DapSession::receive(std::string_view body, Out& out) {
  // Refused before anything is built: no request nests deeper or holds
  // more values, and building such a text could take all memory.
  const JsonShape shape = measureJson(body, kMaxMessageDepth, kMaxMessageValues);
  if (shape.depth > kMaxMessageDepth)
    return refuse("malformed message: nested deeper than " + std::to_string(kMaxMessageDepth), out);
  if (shape.values > kMaxMessageValues)
    return refuse("message too large: more than " + std::to_string(kMaxMessageValues) + " values",
                  out);
  json request;
  try {
    request = json::parse(body, nullptr, false);
  } catch (const std::bad_alloc&) {
    return refuse("message too large for the memory there is", out);
  }
  if (request.is_discarded()) return refuse("malformed message: not JSON", out);
  if (!request.is_object() || request.value("type", json()) != "request" ||
      !request.contains("command") || !request["command"].is_string())
    return out.push_back(response(request, false, "malformed message: not a request"));
  try {
    handle(request, out);
  } catch (const Refusal& r) {
    out.push_back(response(request, false, r.message));
  } catch (const json::exception& e) {
    out.push_back(response(request, false, std::string("bad arguments: ") + e.what()));
  } catch (const std::bad_alloc&) {
    out.push_back(response(request, false, "not enough memory to carry out the request"));
  }
}

void DapSession::handle(const json& request, Out& out) {
  const std::string command = request["command"];
  const json& args = argsOf(request);
  if (command == "initialize") {
    out.push_back(response(request, true, {}, initialize(args)));
  } else if (command == "launch") {
    json body = launch(args, out);
    out.push_back(response(request, true, {}, std::move(body)));
    out.push_back(event("initialized"));
  } else if (command == "attach") {
    refuseWith("attach is not supported: launch a machine directory");
  } else if (command == "setBreakpoints") {
    out.push_back(response(request, true, {}, setBreakpoints(args)));
  } else if (command == "setInstructionBreakpoints") {
    out.push_back(response(request, true, {}, setInstructionBreakpoints(args)));
  } else if (command == "setExceptionBreakpoints") {
    out.push_back(response(request, true, {}, json{{"breakpoints", json::array()}}));
  } else if (command == "dataBreakpointInfo") {
    out.push_back(response(request, true, {}, dataBreakpointInfo(args)));
  } else if (command == "setDataBreakpoints") {
    out.push_back(response(request, true, {}, setDataBreakpoints(args)));
  } else if (command == "configurationDone") {
    needMachine();
    out.push_back(response(request, true));
    if (!configured_) {
      configured_ = true;
      if (stopOnEntry_) {
        debug_->setStop(StopReason::User);
        sendStop("entry", out);
      } else {
        start(Motion::Continue);
      }
    }
  } else if (command == "threads") {
    out.push_back(
        response(request, true, {},
                 json{{"threads", json::array({{{"id", kThreadId}, {"name", "Tarvo"}}})}}));
  } else if (command == "continue") {
    needStopped();
    out.push_back(response(request, true, {}, json{{"allThreadsContinued", true}}));
    start(Motion::Continue);
  } else if (command == "next" || command == "stepIn" || command == "stepOut") {
    needStopped();
    const bool instruction = optString(args, "granularity").value_or("") == "instruction";
    out.push_back(response(request, true));
    start(command == "next"     ? Motion::Next
          : command == "stepIn" ? Motion::StepIn
                                : Motion::StepOut,
          instruction);
  } else if (command == "pause") {
    needMachine();
    out.push_back(response(request, true));
    if (running_) pause(out);
  } else if (command == "stackTrace") {
    out.push_back(response(request, true, {}, stackTrace(args)));
  } else if (command == "scopes") {
    out.push_back(response(request, true, {}, scopes(args)));
  } else if (command == "variables") {
    out.push_back(response(request, true, {}, variables(args)));
  } else if (command == "setVariable") {
    out.push_back(response(request, true, {}, setVariable(args)));
  } else if (command == "evaluate") {
    out.push_back(response(request, true, {}, evaluate(args)));
  } else if (command == "readMemory") {
    out.push_back(response(request, true, {}, readMemory(args)));
  } else if (command == "writeMemory") {
    out.push_back(response(request, true, {}, writeMemory(args)));
  } else if (command == "disassemble") {
    out.push_back(response(request, true, {}, disassemble(args)));
  } else if (command == "terminate") {
    running_ = false;
    out.push_back(response(request, true));
    out.push_back(event("exited", json{{"exitCode", 0}}));
    out.push_back(event("terminated"));
  } else if (command == "disconnect") {
    running_ = false;
    out.push_back(response(request, true));
    ended_ = true;
  } else {
    refuseWith("unknown command '" + command + "'");
  }
}

json DapSession::initialize(const json& args) {
  // Lines and columns count from 1 unless the editor says otherwise.
  const auto it = args.find("linesStartAt1");
  lineBase_ = it != args.end() && it->is_boolean() && !it->get<bool>() ? 0 : 1;
  const auto col = args.find("columnsStartAt1");
  columnBase_ = col != args.end() && col->is_boolean() && !col->get<bool>() ? 0 : 1;
  return {
      {"supportsConfigurationDoneRequest", true},
      {"supportsConditionalBreakpoints", true},
      {"supportsHitConditionalBreakpoints", true},
      {"supportsEvaluateForHovers", true},
      {"supportsSetVariable", true},
      {"supportsReadMemoryRequest", true},
      {"supportsWriteMemoryRequest", true},
      {"supportsDisassembleRequest", true},
      {"supportsInstructionBreakpoints", true},
      {"supportsDataBreakpoints", true},
      {"supportsTerminateRequest", true},
      {"supportsSteppingGranularity", true},
  };
}

void DapSession::needMachine() const {
  if (!launched_) refuseWith("no machine is launched");
}

void DapSession::needStopped() const {
  needMachine();
  if (running_) refuseWith("the machine is running: pause it first");
}

uint32_t DapSession::programAddress(uint16_t address) const {
  return physicalAddress(machine_->cpu, segment_, address);
}

json DapSession::launch(const json& args, Out& out) {
  if (launched_) refuseWith("a machine is already launched");
  const auto dir = optString(args, "machine");
  if (!dir) refuseWith("launch needs \"machine\": the machine directory");
  struct stat st;
  if (::stat(dir->c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    refuseWith("\"machine\": not a directory: '" + *dir + "'");
  const auto program = optString(args, "program");
  const int64_t segment = optInteger(args, "segment").value_or(1);
  if (segment < 0 || segment > 3) refuseWith("\"segment\" must be 0 to 3");
  std::vector<RegisterSetting> settings;
  bool setsPC = false, setsLatch = false, setsUA = false;
  if (args.contains("registers") && !args["registers"].is_null()) {
    const json& regs = args["registers"];
    if (!regs.is_object()) refuseWith("\"registers\" must be an object of NAME: \"HEX\"");
    for (const auto& [name, value] : regs.items()) {
      if (!value.is_string())
        refuseWith("\"registers\": the value of " + name + " must be hex text");
      std::string error;
      const auto s = parseRegisterSetting(name, value.get<std::string>(), &error);
      if (!s) refuseWith("\"registers\": " + error);
      settings.push_back(*s);
      setsPC = setsPC || name == "PC";
      setsLatch = setsLatch || name == "segmentLatch";
      setsUA = setsUA || name == "UA";
    }
  }
  stopOnEntry_ = optBool(args, "stopOnEntry");
  segment_ = static_cast<unsigned>(segment);

  XasmOutput assembled;
  if (program) {
    assembled = assembleProgram(*program, XasmOptions{});
    if (!assembled.ok()) {
      std::string message;
      for (const XasmError& e : assembled.errors) {
        if (!message.empty()) message += '\n';
        message += formatXasmError(e);
      }
      refuseWith(message);
    }
  }

  auto messages = std::make_unique<CollectedMessages>();
  auto emulator = std::make_unique<Emulator>(*messages);
  emulator->open(*dir);
  Machine& m = emulator->machine();

  SymbolTable symbols;
  SourceMap map;
  if (program) {
    // The bytes of every line that stored any, at its address in the
    // program's segment; gaps keep what the machine holds.
    for (const XasmLine& l : assembled.lines) {
      for (uint32_t k = 0; k < l.length; ++k) {
        const uint32_t a = l.address + k;
        const uint8_t b = assembled.image[a - assembled.imageBase];
        const uint32_t physical = physicalAddress(m.cpu, segment_, static_cast<uint16_t>(a));
        writePhysical(m, physical, b);
        if (readPhysical(m, physical) != b) {
          closeLink(m);
          refuseWith("the program's byte at &H" + hex(a, 4) + " (" + hex(physical, 5) +
                     ") does not land in writable memory: put it in segment 1, or 2 from &H8000");
        }
      }
    }
    for (const XasmSymbol& s : assembled.symbols) symbols.add(s.name, s.value);
    const unsigned seg = segment_;
    const ProcessorState& c = m.cpu;
    map = SourceMap(assembled, [&c, seg](uint16_t a) { return physicalAddress(c, seg, a); });
    if (!assembled.lines.empty()) {
      // The program starts at its first stored line, fetched from its
      // segment, with its data in the same segment.
      if (!setsPC) m.cpu.PC = static_cast<uint16_t>(assembled.lines.front().address);
      if (!setsLatch) m.cpu.segmentLatch = static_cast<uint8_t>(segment_);
      if (!setsUA) m.cpu.UA = static_cast<uint8_t>(segment_ * 0x55);
    }
  }
  for (const RegisterSetting& s : settings) s.apply(m.cpu);
  m.mem.pagesKey = kPagesStale;

  messages_ = std::move(messages);
  emulator_ = std::move(emulator);
  machine_ = &emulator_->machine();
  symbols_ = std::move(symbols);
  map_ = std::move(map);
  debug_ = &emulator_->debugger();
  debug_->setSymbols(&symbols_);
  debug_->setRecording(true);  // the call stack
  emulator_->stop();           // until the configuration is done
  launched_ = true;
  for (const std::string& line : static_cast<CollectedMessages&>(*messages_).lines)
    out.push_back(event("output", json{{"category", "stderr"}, {"output", line + "\n"}}));
  static_cast<CollectedMessages&>(*messages_).lines.clear();
  return nullptr;
}

// --- breakpoints ---

json DapSession::addBreak(BreakSource kind, uint32_t address, const json& entry, uint32_t end,
                          int access) {
  json b = {{"verified", false}};
  const auto condition = optString(entry, "condition").value_or("");
  const auto hits = optString(entry, "hitCondition").value_or("");
  std::string error;
  const int id =
      kind == BreakSource::Data
          ? debug_->addWatchpoint(address, end, static_cast<WatchAccess>(access), condition, &error)
          : debug_->addBreakpoint(address, condition, &error);
  if (id == 0) {
    b["message"] = "condition '" + condition + "': " + error;
    return b;
  }
  if (!debug_->setHitCondition(id, hits, &error)) {
    debug_->remove(id);
    b["message"] = error;
    return b;
  }
  if (kind == BreakSource::Instruction) instructionBreaks_.push_back(id);
  if (kind == BreakSource::Data) dataBreaks_.push_back(id);
  b["id"] = id;
  b["verified"] = true;
  if (kind != BreakSource::Data) b["instructionReference"] = addressReference(address);
  return b;
}

void DapSession::dropBreaks(const std::vector<int>& ids) {
  debug_->removeAll(ids);
}

json DapSession::sourceOf(int file) const {
  const std::string& path = map_.files()[static_cast<std::size_t>(file)];
  return {{"name", std::filesystem::path(path).filename().string()}, {"path", path}};
}

json DapSession::setBreakpoints(const json& args) {
  needMachine();
  if (!args.contains("source") || !args["source"].is_object())
    refuseWith("setBreakpoints needs \"source\"");
  const auto path = optString(args["source"], "path");
  if (!path) refuseWith("setBreakpoints needs \"source\": {\"path\": ...}");
  const std::string key = SourceMap::canonical(*path);
  const DebugSession::Batch batch(*debug_);
  if (const auto old = lineBreaks_.find(key); old != lineBreaks_.end()) {
    dropBreaks(old->second);
    lineBreaks_.erase(old);
  }
  const int file = map_.fileIndex(*path);
  // Only the program's own files keep a list (its breakpoints are only on
  // them), so the paths an editor names for other files cost nothing.
  std::vector<int>* ids = file >= 0 ? &lineBreaks_[key] : nullptr;
  json list = json::array();
  for (const json& entry : arrayOf(args, "breakpoints")) {
    if (!entry.is_object()) refuseWith("each breakpoint must be an object");
    const auto line = optInteger(entry, "line");
    if (!line) refuseWith("each breakpoint needs a \"line\"");
    const int64_t asked = *line;
    // The source line, counted from 1; 0 for none.
    const int64_t wanted = asked >= 0 && asked < INT32_MAX - 1 ? asked + 1 - lineBase_ : 0;
    const auto start =
        file >= 0 && wanted > 0 ? map_.lineStart(file, static_cast<int>(wanted)) : std::nullopt;
    if (!start) {
      json b = {{"verified", false}, {"line", asked}};
      b["message"] = file < 0 ? "this file is not part of the launched program"
                              : "no code on or after this line";
      list.push_back(b);
      continue;
    }
    json b = addBreak(BreakSource::Line, start->address, entry);
    if (b["verified"]) ids->push_back(b["id"].get<int>());
    b["line"] = start->line - 1 + lineBase_;
    b["source"] = sourceOf(file);
    list.push_back(b);
  }
  return {{"breakpoints", list}};
}

json DapSession::setInstructionBreakpoints(const json& args) {
  needMachine();
  const DebugSession::Batch batch(*debug_);
  dropBreaks(instructionBreaks_);
  instructionBreaks_.clear();
  json list = json::array();
  for (const json& entry : arrayOf(args, "breakpoints")) {
    if (!entry.is_object()) refuseWith("each breakpoint must be an object");
    const auto ref = optString(entry, "instructionReference");
    if (!ref) refuseWith("each instruction breakpoint needs an \"instructionReference\"");
    std::string error;
    const auto address = reference(*ref, &error);
    if (!address) {
      list.push_back({{"verified", false}, {"message", error}});
      continue;
    }
    const uint32_t a = static_cast<uint32_t>(*address + optInteger(entry, "offset").value_or(0));
    json b = addBreak(BreakSource::Instruction, a & 0x3FFFF, entry);
    if (const auto pos = map_.at(a & 0x3FFFF)) {
      b["line"] = pos->line - 1 + lineBase_;
      b["source"] = sourceOf(pos->file);
    }
    list.push_back(b);
  }
  return {{"breakpoints", list}};
}

json DapSession::dataBreakpointInfo(const json& args) {
  needMachine();
  const auto name = optString(args, "name");
  if (!name) refuseWith("dataBreakpointInfo needs a \"name\"");
  std::string error;
  const auto address = reference(*name, &error);
  if (!address) return {{"dataId", nullptr}, {"description", error}};
  return {{"dataId", addressReference(*address)},
          {"description", *name + " (" + hex(*address, 5) + ")"},
          {"accessTypes", json::array({"read", "write", "readWrite"})},
          {"canPersist", false}};
}

json DapSession::setDataBreakpoints(const json& args) {
  needMachine();
  const DebugSession::Batch batch(*debug_);
  dropBreaks(dataBreaks_);
  dataBreaks_.clear();
  json list = json::array();
  for (const json& entry : arrayOf(args, "breakpoints")) {
    if (!entry.is_object()) refuseWith("each data breakpoint must be an object");
    const auto id = optString(entry, "dataId");
    if (!id) refuseWith("each data breakpoint needs a \"dataId\"");
    std::string error;
    const auto address = reference(*id, &error);
    if (!address) {
      list.push_back({{"verified", false}, {"message", error}});
      continue;
    }
    const std::string type = optString(entry, "accessType").value_or("write");
    int access;
    if (type == "read")
      access = static_cast<int>(WatchAccess::Read);
    else if (type == "write")
      access = static_cast<int>(WatchAccess::Write);
    else if (type == "readWrite")
      access = static_cast<int>(WatchAccess::ReadWrite);
    else
      refuseWith("\"accessType\" must be read, write or readWrite");
    list.push_back(addBreak(BreakSource::Data, *address, entry, *address + 1, access));
  }
  return {{"breakpoints", list}};
}

std::optional<uint32_t> DapSession::reference(std::string_view text, std::string* error) const {
  std::string_view t = text;
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  bool label = false;
  const auto address = parseTypedAddress(t, &symbols_, error, &label);
  if (address) {
    // A label lies in the program's segment; a number is the full address.
    if (label) return programAddress(static_cast<uint16_t>(*address));
    if (*address >= kAddressLimit) {
      if (error) *error = "address " + std::string(t) + " lies above FFFFF";
      return std::nullopt;
    }
    return *address;
  }
  // Any expression of the debugger, as a 16-bit address in the program's
  // segment.
  const Expression e = Expression::parse(t, &symbols_);
  if (!e.ok()) return std::nullopt;
  const auto v = e.evaluate(*machine_, error);
  if (!v) return std::nullopt;
  if (*v < 0 || *v > 0xFFFF) {
    if (error) *error = "'" + std::string(t) + "' is no 16-bit address";
    return std::nullopt;
  }
  return programAddress(static_cast<uint16_t>(*v));
}

// --- running ---

void DapSession::armStep() {
  switch (motion_) {
    case Motion::Continue:
      break;
    case Motion::Next:
      debug_->stepOver();
      break;
    case Motion::StepIn:
      debug_->stepInto();
      break;
    case Motion::StepOut:
      debug_->stepOut();
      break;
  }
}

void DapSession::start(Motion motion, bool instructionGranularity) {
  motion_ = motion;
  lineSteps_ = motion == Motion::Next && !instructionGranularity;
  stepFrom_ = map_.at(DebugSession::fetchAddress(machine_->cpu));
  debug_->cancelStepping();
  armStep();
  emulator_->resume();
  running_ = true;
}

void DapSession::pause(Out& out) {
  emulator_->stop();
  sendStop("pause", out);
}

void DapSession::runSlice(std::chrono::nanoseconds slice, Out& out) {
  if (!running_) return;
  const auto end = std::chrono::steady_clock::now() + slice;
  do {
    emulator_->runFor(end - std::chrono::steady_clock::now(), Emulator::Pace::FastForward);
    if (emulator_->stopped() && stopped(out)) return;
  } while (std::chrono::steady_clock::now() < end);
  const auto now = std::chrono::steady_clock::now();
  if (now - lastLcdCheck_ >= kLcdInterval) {
    lastLcdCheck_ = now;
    sendLcd(false, out);
  }
}

bool DapSession::stopped(Out& out) {
  const StopInfo& s = debug_->lastStop();
  switch (s.reason) {
    case StopReason::Breakpoint: {
      const bool instruction = std::find(instructionBreaks_.begin(), instructionBreaks_.end(),
                                         s.id) != instructionBreaks_.end();
      sendStop(instruction ? "instruction breakpoint" : "breakpoint", out, {s.id});
      return true;
    }
    case StopReason::Watchpoint:
      sendStop("data breakpoint", out, {s.id});
      return true;
    case StopReason::StepDone: {
      if (lineSteps_ && stepFrom_) {
        const auto here = map_.at(DebugSession::fetchAddress(machine_->cpu));
        if (here && here->file == stepFrom_->file && here->line == stepFrom_->line) {
          // Still on the line the step started from: one more instruction.
          armStep();
          emulator_->resume();
          return false;
        }
      }
      sendStop("step", out);
      return true;
    }
    default:
      sendStop(s.reason == StopReason::User ? "pause" : "breakpoint", out);
      return true;
  }
}

void DapSession::sendStop(const std::string& reason, Out& out, std::vector<int> ids) {
  running_ = false;
  sendLcd(true, out);
  json body = {
      {"reason", reason},
      {"threadId", kThreadId},
      {"allThreadsStopped", true},
      {"description", reason == "entry" ? std::string("Paused on entry") : debug_->stopText()}};
  if (!ids.empty()) body["hitBreakpointIds"] = ids;
  out.push_back(event("stopped", std::move(body)));
}

void DapSession::sendLcd(bool compose, Out& out) {
  if (compose) machine_->lcd.composeFrame();
  std::string text = lcdText(machine_->lcd);
  // A display that never showed anything is not news.
  const bool blank = text.find_first_not_of("\n ") == std::string::npos;
  if (lcdSent_ ? text == lastLcd_ : blank) return;
  lcdSent_ = true;
  lastLcd_ = text;
  out.push_back(event("output", json{{"category", "console"}, {"output", text + "\n"}}));
}

// --- inspection ---

json DapSession::stackTrace(const json&) {
  needMachine();
  const std::vector<CallFrame>& calls = debug_->callStack();
  std::vector<uint32_t> pcs = {DebugSession::fetchAddress(machine_->cpu)};
  for (auto it = calls.rbegin(); it != calls.rend(); ++it) pcs.push_back(it->callSite);
  json frames = json::array();
  for (std::size_t i = 0; i < pcs.size(); ++i) {
    const uint32_t a = pcs[i];
    std::string name = symbols_.describe(static_cast<uint16_t>(a));
    if (name.empty()) name = hex(a, 5);
    json f = {{"id", i},
              {"name", name},
              {"line", 0},
              {"column", 0},
              {"instructionPointerReference", addressReference(a)}};
    if (const auto pos = map_.at(a)) {
      f["source"] = sourceOf(pos->file);
      f["line"] = pos->line - 1 + lineBase_;
      f["column"] = columnBase_;
    }
    frames.push_back(f);
  }
  return {{"stackFrames", frames}, {"totalFrames", pcs.size()}};
}

json DapSession::scopes(const json&) {
  needMachine();
  return {
      {"scopes",
       json::array({
           {{"name", "Registers"}, {"variablesReference", kRegistersScope}, {"expensive", false}},
           {{"name", "Flags"}, {"variablesReference", kFlagsScope}, {"expensive", false}},
           {{"name", "Memory"}, {"variablesReference", kMemoryScope}, {"expensive", false}},
       })}};
}

json DapSession::variables(const json& args) {
  needMachine();
  const int64_t ref = optInteger(args, "variablesReference").value_or(0);
  const ProcessorState& c = machine_->cpu;
  json vars = json::array();
  auto add = [&](std::string name, std::string value) {
    vars.push_back(
        {{"name", std::move(name)}, {"value", std::move(value)}, {"variablesReference", 0}});
  };
  if (ref == kRegistersScope) {
    for (const RegisterDef& r : kRegisters) add(std::string(r.name), registerText(r, c));
    for (int i = 0; i < 32; ++i) add("$" + std::to_string(i), hex(c.R[i], 2));
  } else if (ref == kFlagsScope) {
    for (const FlagDef& f : kFlags) add(f.name, ((c.F & f.bit) != 0) != f.inverted ? "1" : "0");
  } else if (ref == kMemoryScope) {
    for (int row = 0; row <= kRam1Row; ++row) {
      const Region& r = machine_->mem.rows[static_cast<std::size_t>(row)];
      const char* name = rowName(row);
      json v = {{"name", name != nullptr ? name : r.imageFile},
                {"value", hex(static_cast<uint32_t>(regionStart(row)), 5) + "-" +
                              hex(static_cast<uint32_t>(regionEnd(row) - 1), 5) +
                              (regionWritable(row) ? " writable" : " read-only")},
                {"variablesReference", 0},
                {"memoryReference", addressReference(static_cast<uint32_t>(regionStart(row)))}};
      vars.push_back(v);
    }
  } else {
    refuseWith("no variables under reference " + std::to_string(ref));
  }
  return {{"variables", vars}};
}

json DapSession::setVariable(const json& args) {
  needStopped();
  const int64_t ref = optInteger(args, "variablesReference").value_or(0);
  const auto name = optString(args, "name");
  const auto value = optString(args, "value");
  if (!name || !value) refuseWith("setVariable needs \"name\" and \"value\"");
  std::string v = *value;
  if (v.size() > 2 && v[0] == '&' && (v[1] == 'H' || v[1] == 'h')) v = v.substr(2);
  ProcessorState& c = machine_->cpu;
  if (ref == kRegistersScope) {
    std::string n = *name;
    if (n.size() > 1 && n[0] == '$') n[0] = 'R';
    std::string error;
    const auto s = parseRegisterSetting(n, v, &error);
    if (!s) refuseWith(error);
    s->apply(c);
    machine_->mem.pagesKey = kPagesStale;  // IB may have moved the common area
    if (s->reg != nullptr) return {{"value", registerText(*s->reg, c)}};
    return {{"value", hex(c.R[s->main], 2)}};
  }
  if (ref == kFlagsScope) {
    for (const FlagDef& f : kFlags) {
      if (*name != f.name) continue;
      if (v != "0" && v != "1") refuseWith("a flag is 0 or 1");
      const bool set = (v == "1") != f.inverted;
      c.F = static_cast<uint8_t>(set ? c.F | f.bit : c.F & ~f.bit);
      return {{"value", v}};
    }
    refuseWith("no flag '" + *name + "'");
  }
  refuseWith("only registers and flags can be set");
}

std::string DapSession::hexValue(int64_t v) const {
  const bool negative = v < 0;
  const uint64_t u = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  if (negative) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "-%llX", static_cast<unsigned long long>(u));
    return buf;
  }
  if (u <= 0xFF) return hex(static_cast<uint32_t>(u), 2);
  if (u <= 0xFFFF) return hex(static_cast<uint32_t>(u), 4);
  char buf[24];
  std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(u));
  return buf;
}

json DapSession::evaluate(const json& args) {
  needMachine();
  const auto text = optString(args, "expression");
  if (!text) refuseWith("evaluate needs an \"expression\"");
  const Expression e = Expression::parse(*text, &symbols_);
  if (!e.ok()) refuseWith(e.error());
  std::string error;
  const auto v = e.evaluate(*machine_, &error);
  if (!v) refuseWith(error);
  return {{"result", hexValue(*v)}, {"variablesReference", 0}};
}

json DapSession::readMemory(const json& args) {
  needMachine();
  const auto ref = optString(args, "memoryReference");
  if (!ref) refuseWith("readMemory needs a \"memoryReference\"");
  std::string error;
  const auto base = reference(*ref, &error);
  if (!base) refuseWith(error.empty() ? "not an address: '" + *ref + "'" : error);
  const int64_t start = static_cast<int64_t>(*base) + optInteger(args, "offset").value_or(0);
  const int64_t count = optInteger(args, "count").value_or(0);
  if (count < 0 || count > kMaxMemoryRequest)
    refuseWith("\"count\" must be 0 to " + std::to_string(kMaxMemoryRequest));
  if (start < 0 || start >= kAddressLimit) refuseWith("the address lies outside 00000-FFFFF");
  const int64_t readable = std::min<int64_t>(count, kAddressLimit - start);
  std::vector<uint8_t> bytes;
  for (int64_t i = 0; i < readable; ++i)
    bytes.push_back(readPhysical(*machine_, static_cast<uint32_t>(start + i)));
  return {{"address", addressReference(static_cast<uint32_t>(start))},
          {"data", base64(bytes)},
          {"unreadableBytes", count - readable}};
}

json DapSession::writeMemory(const json& args) {
  needStopped();
  const auto ref = optString(args, "memoryReference");
  const auto data = optString(args, "data");
  if (!ref || !data) refuseWith("writeMemory needs \"memoryReference\" and \"data\"");
  std::string error;
  const auto base = reference(*ref, &error);
  if (!base) refuseWith(error.empty() ? "not an address: '" + *ref + "'" : error);
  const auto bytes = unbase64(*data);
  if (!bytes) refuseWith("\"data\" is not base64");
  const int64_t start = static_cast<int64_t>(*base) + optInteger(args, "offset").value_or(0);
  if (start < 0 || start + static_cast<int64_t>(bytes->size()) > kAddressLimit)
    refuseWith("the bytes would lie outside 00000-FFFFF");
  // Written as the processor writes; ROM and unmapped addresses drop them,
  // and only the bytes that took are counted.
  int64_t written = 0;
  for (std::size_t i = 0; i < bytes->size(); ++i) {
    const auto a = static_cast<uint32_t>(start + static_cast<int64_t>(i));
    writePhysical(*machine_, a, (*bytes)[i]);
    if (readPhysical(*machine_, a) == (*bytes)[i]) ++written;
  }
  machine_->mem.pagesKey = kPagesStale;  // the bank bytes may have changed
  if (written == 0 && !bytes->empty())
    refuseWith("no byte could be written at " + hex(static_cast<uint32_t>(start), 5) +
               ": not writable memory");
  return {{"bytesWritten", written}};
}

json DapSession::disassemble(const json& args) {
  needMachine();
  const auto ref = optString(args, "memoryReference");
  if (!ref) refuseWith("disassemble needs a \"memoryReference\"");
  std::string error;
  const auto base = reference(*ref, &error);
  if (!base) refuseWith(error.empty() ? "not an address: '" + *ref + "'" : error);
  const int64_t count = optInteger(args, "instructionCount").value_or(0);
  if (count < 0 || count > kMaxInstructions)
    refuseWith("\"instructionCount\" must be 0 to " + std::to_string(kMaxInstructions));
  int64_t skip = optInteger(args, "instructionOffset").value_or(0);
  if (skip < -kMaxInstructions || skip > kMaxInstructions)
    refuseWith("\"instructionOffset\" lies too far off");
  const bool labels = !args.contains("resolveSymbols") || optBool(args, "resolveSymbols");
  const int64_t at = static_cast<int64_t>(*base) + optInteger(args, "offset").value_or(0);
  if (at < 0 || at >= 0x40000) refuseWith("the address lies outside 00000-3FFFF");
  const uint32_t segmentBase = static_cast<uint32_t>(at) & 0x30000;
  const Machine& m = *machine_;

  struct Row {
    uint32_t address, next;
    json j;
  };
  auto decode = [&](uint32_t a) {
    CodeView view(m, a);
    const unsigned index = disasmDecodeIndex(view);
    DisasmText operands;
    disasmOperands(view, index, operands);
    const uint32_t next = physicalAddress(view.state(), a >> 16, view.pc());
    std::string text = disasmMnemonic(index);
    const std::string ops =
        labels ? labelOperands(operands.view(), symbols_) : std::string(operands.view());
    if (!ops.empty()) text += " " + ops;
    std::string bytes;
    if (view.wordOrganised()) {
      for (int i = 0; i < std::min<int>(view.state().fetchPos, 4); ++i)
        bytes += (bytes.empty() ? "" : " ") + hex(view.prefetched(i), 2);
    } else {
      for (uint32_t k = a; k < next && k < a + 8; ++k)
        bytes += (bytes.empty() ? "" : " ") + hex(readPhysical(m, k), 2);
    }
    json j = {{"address", addressReference(a)}, {"instruction", text}, {"instructionBytes", bytes}};
    if (const std::string* label = symbols_.nameAt(static_cast<uint16_t>(a)); label && labels)
      j["symbol"] = *label;
    if (const auto pos = map_.at(a)) {
      j["location"] = sourceOf(pos->file);
      j["line"] = pos->line - 1 + lineBase_;
    }
    return Row{a, next > a ? next : a + 1, std::move(j)};
  };

  std::vector<json> rows;
  uint32_t cursor = static_cast<uint32_t>(at);
  if (skip < 0) {
    // Instructions before the address: decoded forward from far enough
    // back, keeping those that end at or before it.
    // A line start of the program is a sure boundary; otherwise the
    // first of a few starting points whose walk lands on the address.
    const uint32_t back = static_cast<uint32_t>(-skip) * 4;
    const uint32_t floor = cursor >= segmentBase + back ? cursor - back : segmentBase;
    std::vector<uint32_t> starts;
    if (const auto line = map_.lineStartAtOrBelow(floor);
        line && (*line & 0x30000) == segmentBase && floor - *line < 64)
      starts.push_back(*line);
    for (uint32_t k = 0; k < 4 && floor >= segmentBase + k; ++k) starts.push_back(floor - k);
    std::vector<Row> before;
    for (uint32_t start : starts) {
      std::vector<Row> walk;
      uint32_t a = start;
      while (a < cursor) {
        Row r = decode(a);
        if (r.next > cursor) break;
        a = r.next;
        walk.push_back(std::move(r));
      }
      const bool lands = a == cursor;
      if (lands || before.empty()) before = std::move(walk);
      if (lands) break;
    }
    const std::size_t want = static_cast<std::size_t>(-skip);
    // Addresses the walk could not reach are shown as unreadable.
    for (std::size_t i = before.size(); i < want; ++i) {
      const uint32_t addr = cursor - static_cast<uint32_t>(want - i);
      rows.push_back({{"address", addressReference(addr)},
                      {"instruction", "??"},
                      {"presentationHint", "invalid"}});
      if (static_cast<int64_t>(rows.size()) >= count) break;
    }
    const std::size_t first = before.size() > want ? before.size() - want : 0;
    for (std::size_t i = first; i < before.size(); ++i) rows.push_back(std::move(before[i].j));
    skip = 0;
  }
  for (int64_t i = 0; i < skip; ++i) cursor = decode(cursor).next;
  while (static_cast<int64_t>(rows.size()) < count) {
    if (cursor >= 0x40000) {
      rows.push_back({{"address", addressReference(cursor)},
                      {"instruction", "??"},
                      {"presentationHint", "invalid"}});
      ++cursor;
      continue;
    }
    Row r = decode(cursor);
    cursor = r.next;
    rows.push_back(std::move(r.j));
  }
  rows.resize(static_cast<std::size_t>(count));
  return {{"instructions", rows}};
}

}  // namespace tarvo
