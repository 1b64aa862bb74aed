// The debug adapter: the machine driven by an editor through the Debug
// Adapter Protocol. It takes one request at a time as JSON and answers with
// the protocol's responses and events, owning an emulator (a headless
// machine with its run loop and debugger) and the assembled program's
// labels and line information. The program that speaks the protocol over
// standard input and output (tarvo-dap) only frames the messages and calls
// runSlice() while the machine runs.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "debugger/source_map.h"
#include "debugger/symbols.h"

namespace tarvo {

struct Machine;
class DebugSession;
class Emulator;
struct Messages;

// Content-Length framing of the protocol's messages.
class DapFramer {
 public:
  // Appends bytes read from the editor.
  void feed(std::string_view bytes) { buffer_.append(bytes); }
  // The next whole message body. A header block without a usable
  // Content-Length is dropped and reported in *error (the body, if any,
  // then reads as further headers and is dropped the same way).
  std::optional<std::string> next(std::string* error);
  static std::string frame(std::string_view body);

 private:
  std::string buffer_;
};

class DapSession {
 public:
  using Out = std::vector<nlohmann::json>;

  DapSession();
  ~DapSession();
  DapSession(const DapSession&) = delete;
  DapSession& operator=(const DapSession&) = delete;

  // One message body from the editor; anything that is not a request
  // answers an error response, never throws.
  void receive(std::string_view body, Out& out);
  // An error response to something that never was a request (a malformed frame).
  void refuse(const std::string& message, Out& out);

  // Whether the machine runs (continue, or a step not yet done).
  bool running() const { return running_; }
  // Runs whole run ticks for about this much host time, or until the run
  // stops; what happened goes to out (stopped, output).
  void runSlice(std::chrono::nanoseconds slice, Out& out);
  // The editor has disconnected.
  bool ended() const { return ended_; }

 private:
  enum class Motion : uint8_t { Continue, Next, StepIn, StepOut };
  enum class BreakSource : uint8_t { Line, Instruction, Data };

  void handle(const nlohmann::json& request, Out& out);
  nlohmann::json event(std::string name, nlohmann::json body = nullptr);
  nlohmann::json response(const nlohmann::json& request, bool success, std::string message = {},
                          nlohmann::json body = nullptr);

  // Requests; each returns the response body, or throws Refusal.
  nlohmann::json initialize(const nlohmann::json& args);
  nlohmann::json launch(const nlohmann::json& args, Out& out);
  nlohmann::json setBreakpoints(const nlohmann::json& args);
  nlohmann::json setInstructionBreakpoints(const nlohmann::json& args);
  nlohmann::json dataBreakpointInfo(const nlohmann::json& args);
  nlohmann::json setDataBreakpoints(const nlohmann::json& args);
  nlohmann::json stackTrace(const nlohmann::json& args);
  nlohmann::json scopes(const nlohmann::json& args);
  nlohmann::json variables(const nlohmann::json& args);
  nlohmann::json setVariable(const nlohmann::json& args);
  nlohmann::json evaluate(const nlohmann::json& args);
  nlohmann::json readMemory(const nlohmann::json& args);
  nlohmann::json writeMemory(const nlohmann::json& args);
  nlohmann::json disassemble(const nlohmann::json& args);

  void needMachine() const;
  void needStopped() const;
  void start(Motion motion, bool instructionGranularity = false);
  void armStep();
  void pause(Out& out);
  // After the run tick stopped the machine: true when it stays stopped (the
  // event is in out), false when a step by source line goes on.
  bool stopped(Out& out);
  void sendStop(const std::string& reason, Out& out, std::vector<int> ids = {});
  void sendLcd(bool compose, Out& out);

  // A breakpoint's response object; adds it to the session's list, or
  // reports why not.
  nlohmann::json addBreak(BreakSource kind, uint32_t address, const nlohmann::json& entry,
                          uint32_t end = 0, int access = 0);
  void dropBreaks(const std::vector<int>& ids);
  // A memory reference or typed address: physical hex ("0x1A000", "&H1A000",
  // "1A000") or a label (label+HEX), which lies in the program's segment.
  std::optional<uint32_t> reference(std::string_view text, std::string* error) const;
  uint32_t programAddress(uint16_t address) const;
  nlohmann::json sourceOf(int file) const;
  std::string hexValue(int64_t v) const;

  int seq_ = 1;
  int lineBase_ = 1;  // the editor's first line and column
  int columnBase_ = 1;
  std::unique_ptr<Messages> messages_;
  std::unique_ptr<Emulator> emulator_;
  // The emulator's machine and debugger, once launched.
  Machine* machine_ = nullptr;
  DebugSession* debug_ = nullptr;
  SymbolTable symbols_;
  SourceMap map_;
  unsigned segment_ = 1;
  bool launched_ = false;
  bool configured_ = false;
  bool stopOnEntry_ = false;
  bool running_ = false;
  bool ended_ = false;
  Motion motion_ = Motion::Continue;
  bool lineSteps_ = false;  // next by source line (not one instruction)
  std::optional<SourcePosition> stepFrom_;
  // Breakpoint numbers of the session, as the editor set them.
  std::map<std::string, std::vector<int>> lineBreaks_;  // by canonical source path
  std::vector<int> instructionBreaks_;
  std::vector<int> dataBreaks_;
  std::string lastLcd_;
  bool lcdSent_ = false;
  std::chrono::steady_clock::time_point lastLcdCheck_{};
  std::vector<std::string> pendingMessages_;  // load failures of the machine's files
};

}  // namespace tarvo
