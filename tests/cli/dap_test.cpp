// tarvo-dap driven through its standard input and output as an editor
// drives it: whole debugging sessions on the demo machine with a small
// program, the errors it must survive, and breakpoints on every line that
// stores bytes, checked against the listing.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dap_client.h"
#include "demo_machine.h"
#include "spawn.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using tarvo::demo::MachineDir;
using tarvo::test::DapClient;
using namespace std::chrono_literals;

const std::string kBin = TARVO_BIN_DIR;

// A loop that counts in $1 and calls a routine that adds 2 to $3 and
// stores $1 into the labelled byte; then an endless loop on one line.
constexpr const char* kProgram = R"(; counting loop
        org &H8000
start:
        pre ss,&HFF00
        pre ix,counter
        ld $30,0
        ld $1,0
        ld $3,0
loop:
        ad $1,1
        cal bump
        jp loop

bump:
        ad $3,2
        st $1,(ix+$30)
        rtn

counter:
        db 0
)";
// Source lines of kProgram.
constexpr int kLoopLine = 10;  // ad $1,1
constexpr int kCallLine = 11;  // cal bump
constexpr int kJumpLine = 12;  // jp loop
constexpr int kBumpLine = 15;  // ad $3,2
constexpr int kStoreLine = 16;

struct Workspace {
  MachineDir machine;
  fs::path dir;
  Workspace() : dir(machine.path() / "src") { fs::create_directory(dir); }
  std::string write(const std::string& name, const std::string& text) const {
    std::ofstream(dir / name) << text;
    return (dir / name).string();
  }
};

json launchArgs(const Workspace& w, const std::string& program, bool stopOnEntry = true) {
  return {
      {"machine", w.machine.path().string()}, {"program", program}, {"stopOnEntry", stopOnEntry}};
}

std::map<std::string, std::string> registers(DapClient& dap) {
  std::map<std::string, std::string> out;
  const json r = dap.request("variables", {{"variablesReference", 1}});
  for (const json& v : r["body"]["variables"]) out[v["name"]] = v["value"];
  return out;
}

json topFrame(DapClient& dap) {
  const json r = dap.request("stackTrace", {{"threadId", 1}});
  return r["body"]["stackFrames"][0];
}

// Starts a session on the program and stops on entry.
void begin(DapClient& dap, const json& launch) {
  ASSERT_EQ(dap.request("initialize", {{"adapterID", "tarvo"}})["success"], true);
  const json l = dap.request("launch", launch);
  ASSERT_EQ(l["success"], true) << l.dump();
  ASSERT_FALSE(dap.event("initialized").is_null());
}

std::string stopReason(DapClient& dap) {
  const json e = dap.event("stopped");
  return e.is_null() ? "(none)" : e["body"]["reason"].get<std::string>();
}

TEST(Dap, WholeSessionOnASourceProgram) {
  Workspace w;
  const std::string src = w.write("count.s", kProgram);
  DapClient dap(kBin + "/tarvo-dap");
  begin(dap, launchArgs(w, src));

  // A breakpoint on the loop's first line, by the path as an editor spells it.
  const json set = dap.request(
      "setBreakpoints", {{"source", {{"path", (w.dir / "." / "count.s").string()}}},
                         {"breakpoints", {{{"line", kLoopLine}}, {{"line", 1}}, {{"line", 400}}}}});
  ASSERT_EQ(set["success"], true);
  const json& bps = set["body"]["breakpoints"];
  EXPECT_EQ(bps[0]["verified"], true);
  EXPECT_EQ(bps[0]["line"], kLoopLine);
  EXPECT_EQ(bps[0]["instructionReference"], "0x18011");
  EXPECT_EQ(bps[1]["line"], 4);  // a comment line moves to the first code after it
  EXPECT_EQ(bps[2]["verified"], false);
  EXPECT_EQ(dap.request("configurationDone")["success"], true);
  EXPECT_EQ(stopReason(dap), "entry");
  json top = topFrame(dap);
  EXPECT_EQ(top["line"], 4);
  EXPECT_EQ(top["source"]["path"], fs::canonical(src).string());

  // From stop to stop the loop's registers move as the program says.
  dap.request("setBreakpoints",
              {{"source", {{"path", src}}}, {"breakpoints", {{{"line", kLoopLine}}}}});
  for (int pass = 0; pass < 3; ++pass) {
    EXPECT_EQ(dap.request("continue", {{"threadId", 1}})["success"], true);
    EXPECT_EQ(stopReason(dap), "breakpoint");
    auto r = registers(dap);
    EXPECT_EQ(r["PC"], "8011");
    EXPECT_EQ(r["$1"], (std::ostringstream()
                        << std::uppercase << std::hex << std::setw(2) << std::setfill('0') << pass)
                           .str());
    EXPECT_EQ(r["$3"], pass == 0 ? "00" : pass == 1 ? "02" : "04");
    EXPECT_EQ(topFrame(dap)["line"], kLoopLine);
  }

  // next goes line by line and over the call, which runs whole.
  dap.request("next", {{"threadId", 1}});
  EXPECT_EQ(stopReason(dap), "step");
  EXPECT_EQ(topFrame(dap)["line"], kCallLine);
  dap.request("next", {{"threadId", 1}});
  EXPECT_EQ(stopReason(dap), "step");
  EXPECT_EQ(topFrame(dap)["line"], kJumpLine);
  EXPECT_EQ(registers(dap)["$3"], "06");
  EXPECT_EQ(dap.request("evaluate", {{"expression", "(counter)"}})["body"]["result"], "03");

  // stepIn enters the routine; the call stack shows where it came from;
  // stepOut returns after the call.
  // The jump lands on the loop's breakpoint, which is the reason given.
  dap.request("next", {{"threadId", 1}});
  EXPECT_EQ(stopReason(dap), "breakpoint");
  EXPECT_EQ(topFrame(dap)["line"], kLoopLine);
  dap.request("next", {{"threadId", 1}});
  EXPECT_EQ(stopReason(dap), "step");
  dap.request("stepIn", {{"threadId", 1}});
  EXPECT_EQ(stopReason(dap), "step");
  const json trace = dap.request("stackTrace", {{"threadId", 1}})["body"];
  ASSERT_EQ(trace["stackFrames"].size(), 2u);
  EXPECT_EQ(trace["stackFrames"][0]["line"], kBumpLine);
  EXPECT_EQ(trace["stackFrames"][0]["name"], "bump");
  EXPECT_EQ(trace["stackFrames"][1]["line"], kCallLine);
  dap.request("stepIn", {{"threadId", 1}});
  EXPECT_EQ(stopReason(dap), "step");
  EXPECT_EQ(topFrame(dap)["line"], kStoreLine);
  dap.request("stepOut", {{"threadId", 1}});
  EXPECT_EQ(stopReason(dap), "step");
  top = topFrame(dap);
  EXPECT_EQ(top["line"], kJumpLine);
  EXPECT_EQ(dap.request("stackTrace", {{"threadId", 1}})["body"]["totalFrames"], 1);

  // A hit count: the third pass with the condition holding.
  const json hit = dap.request("setBreakpoints",
                               {{"source", {{"path", src}}},
                                {"breakpoints", {{{"line", kLoopLine}, {"hitCondition", "3"}}}}});
  EXPECT_EQ(hit["body"]["breakpoints"][0]["verified"], true);
  const int before = std::stoi(registers(dap)["$1"], nullptr, 16);
  dap.request("continue", {{"threadId", 1}});
  EXPECT_EQ(stopReason(dap), "breakpoint");
  EXPECT_EQ(std::stoi(registers(dap)["$1"], nullptr, 16), before + 2);  // $1 counts after the line
  dap.request("setBreakpoints", {{"source", {{"path", src}}}, {"breakpoints", json::array()}});

  // A data breakpoint on the labelled byte stops after the store.
  const json info = dap.request("dataBreakpointInfo", {{"name", "counter"}});
  ASSERT_EQ(info["body"]["dataId"], "0x18021");
  const json data = dap.request(
      "setDataBreakpoints",
      {{"breakpoints", {{{"dataId", info["body"]["dataId"]}, {"accessType", "write"}}}}});
  EXPECT_EQ(data["body"]["breakpoints"][0]["verified"], true);
  dap.request("continue", {{"threadId", 1}});
  EXPECT_EQ(stopReason(dap), "data breakpoint");
  EXPECT_EQ(topFrame(dap)["line"], kStoreLine + 1);  // the rtn after the store
  const json mem = dap.request("readMemory", {{"memoryReference", "counter"}, {"count", 1}});
  EXPECT_EQ(mem["body"]["address"], "0x18021");
  const std::string counter = registers(dap)["$1"];
  EXPECT_EQ(dap.request("evaluate", {{"expression", "(counter)"}})["body"]["result"], counter);
  dap.request("setDataBreakpoints", {{"breakpoints", json::array()}});

  // Memory and registers written from the editor.
  EXPECT_EQ(dap.request("writeMemory",
                        {{"memoryReference", "0x18021"}, {"data", "qg=="}})["body"]["bytesWritten"],
            1);  // 0xAA
  EXPECT_EQ(dap.request("evaluate", {{"expression", "(counter)"}})["body"]["result"], "AA");
  EXPECT_EQ(
      dap.request("writeMemory", {{"memoryReference", "0x08000"}, {"data", "AA=="}})["success"],
      false);  // ROM
  const json sv =
      dap.request("setVariable", {{"variablesReference", 1}, {"name", "$7"}, {"value", "1c"}});
  EXPECT_EQ(sv["body"]["value"], "1C");
  EXPECT_EQ(dap.request("evaluate", {{"expression", "$7 + start"}})["body"]["result"], "801C");

  // The disassembly names labels and the source lines.
  const json dis = dap.request(
      "disassemble",
      {{"memoryReference", "0x18011"}, {"instructionOffset", -1}, {"instructionCount", 3}});
  const json& rows = dis["body"]["instructions"];
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0]["address"], "0x1800E");
  EXPECT_EQ(rows[1]["symbol"], "loop");
  EXPECT_EQ(rows[1]["line"], kLoopLine);
  EXPECT_EQ(rows[2]["instruction"], "cal bump");
  EXPECT_EQ(rows[2]["instructionBytes"], "77 1A 80");

  // An instruction breakpoint, as a disassembly view sets it.
  const json ib = dap.request("setInstructionBreakpoints",
                              {{"breakpoints", {{{"instructionReference", "0x1801A"}}}}});
  EXPECT_EQ(ib["body"]["breakpoints"][0]["line"], kBumpLine);
  dap.request("continue", {{"threadId", 1}});
  EXPECT_EQ(stopReason(dap), "instruction breakpoint");
  dap.request("setInstructionBreakpoints", {{"breakpoints", json::array()}});

  // A program that loops for ever stops at once on pause.
  dap.request("continue", {{"threadId", 1}});
  std::this_thread::sleep_for(200ms);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(dap.request("pause", {{"threadId", 1}})["success"], true);
  EXPECT_EQ(stopReason(dap), "pause");
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 500ms);

  EXPECT_EQ(dap.request("disconnect")["success"], true);
  EXPECT_EQ(dap.wait(), 0);
}

TEST(Dap, ErrorsAnswerAndTheAdapterGoesOn) {
  Workspace w;
  DapClient dap(kBin + "/tarvo-dap");
  auto failed = [](const json& r) {
    return !r.is_null() && r["success"] == false && r.contains("message");
  };
  // Not JSON, not a request, an unusable header: each answered, none fatal.
  dap.writeBody("{\"seq\": 1, \"type\": \"req");
  json m = *dap.next();
  EXPECT_TRUE(failed(m)) << m.dump();
  dap.writeBody("[1, 2]");
  EXPECT_TRUE(failed(*dap.next()));
  dap.write("Content-Length: many\r\n\r\n");
  EXPECT_TRUE(failed(*dap.next()));
  EXPECT_TRUE(failed(dap.request("fly")));
  EXPECT_TRUE(failed(dap.request("continue", {{"threadId", 1}})));  // nothing launched
  EXPECT_TRUE(failed(dap.request("launch", {{"program", "x.s"}})));
  EXPECT_TRUE(failed(dap.request("launch", {{"machine", 7}})));
  EXPECT_TRUE(failed(dap.request("launch", {{"machine", "/no/such/dir"}})));
  EXPECT_TRUE(failed(dap.request(
      "launch", {{"machine", w.machine.path().string()}, {"registers", {{"QQ", "1"}}}})));

  // An assembly that fails: every message as file:line:column.
  const std::string bad = w.write("bad.s", "        org &H8000\n        ld $1,\n        frob\n");
  const json r = dap.request("launch", launchArgs(w, bad));
  ASSERT_TRUE(failed(r));
  const std::string message = r["message"];
  EXPECT_NE(message.find(bad + ":2:"), std::string::npos) << message;
  EXPECT_NE(message.find(bad + ":3:"), std::string::npos) << message;

  // A program that would not land in writable memory.
  const std::string rom = w.write("rom.s", "        org &H9000\n        nop\n");
  EXPECT_TRUE(failed(dap.request(
      "launch", {{"machine", w.machine.path().string()}, {"program", rom}, {"segment", 3}})));

  // And then a good launch still works, and bad arguments to it are refused.
  const std::string good = w.write("count.s", kProgram);
  begin(dap, launchArgs(w, good));
  EXPECT_TRUE(failed(dap.request("setBreakpoints", {{"source", "count.s"}})));
  EXPECT_TRUE(failed(dap.request("evaluate", {{"expression", "1 +"}})));
  EXPECT_TRUE(failed(dap.request("evaluate", {{"expression", "1/0"}})));
  EXPECT_TRUE(failed(dap.request("readMemory", {{"memoryReference", "nowhere"}, {"count", 4}})));
  // Offsets far outside any address are refused, not added up until they wrap.
  for (const json& offset : {json(INT64_MAX), json(UINT64_MAX), json(INT64_MIN)})
    EXPECT_TRUE(failed(dap.request(
        "readMemory", {{"memoryReference", "counter"}, {"offset", offset}, {"count", 4}})));
  EXPECT_TRUE(failed(dap.request("writeMemory", {{"memoryReference", "counter"}, {"data", "!!"}})));
  EXPECT_TRUE(failed(
      dap.request("setVariable", {{"variablesReference", 1}, {"name", "PC"}, {"value", "xyz"}})));
  EXPECT_TRUE(failed(dap.request("variables", {{"variablesReference", "1"}})));
  const json cond =
      dap.request("setBreakpoints", {{"source", {{"path", good}}},
                                     {"breakpoints",
                                      {{{"line", kLoopLine}, {"condition", "$1 =="}},
                                       {{"line", kLoopLine}, {"hitCondition", "often"}}}}});
  EXPECT_EQ(cond["body"]["breakpoints"][0]["verified"], false);
  EXPECT_EQ(cond["body"]["breakpoints"][1]["verified"], false);
  EXPECT_EQ(dap.request("evaluate", {{"expression", "counter"}})["body"]["result"], "8021");
  EXPECT_EQ(dap.request("disconnect")["success"], true);
  EXPECT_EQ(dap.wait(), 0);
}

// Every request that takes an address reads it the same way: a label the
// program defines is that label (in the program's segment) even when it is
// spelled with hex digits only, and the expression evaluator agrees; "&H"
// and "0x" make a number; a number is the full address it spells, and one
// above FFFFF is refused.
TEST(Dap, AddressTextsReadAlikeInEveryRequest) {
  Workspace w;
  const std::string src = w.write("hexlabels.s",
                                  "        org &H8000\nstart:  jp start\nbeef:   db &H5A\n"
                                  "add:    db &H6B\n");
  DapClient dap(kBin + "/tarvo-dap");
  begin(dap, launchArgs(w, src));
  const std::string beef = dap.request("evaluate", {{"expression", "beef"}})["body"]["result"];
  ASSERT_EQ(beef.size(), 4u);
  ASSERT_NE(beef, "BEEF");
  const std::string add = dap.request("evaluate", {{"expression", "add"}})["body"]["result"];
  // What readMemory, dataBreakpointInfo and an instruction breakpoint make
  // of the text: the address each answers with, or "refused".
  auto where = [&](const std::string& text) {
    auto field = [](const json& body, const char* key) {
      return body.is_object() && body.contains(key) && body[key].is_string()
                 ? body[key].get<std::string>()
                 : std::string("refused");
    };
    const json ib = dap.request("setInstructionBreakpoints",
                                {{"breakpoints", {{{"instructionReference", text}}}}});
    return std::vector<std::string>{
        field(dap.request("readMemory", {{"memoryReference", text}, {"count", 1}})["body"],
              "address"),
        field(dap.request("dataBreakpointInfo", {{"name", text}})["body"], "dataId"),
        field(ib["body"]["breakpoints"][0], "instructionReference")};
  };
  using Seen = std::vector<std::string>;
  EXPECT_EQ(where("beef"), Seen(3, "0x1" + beef));
  EXPECT_EQ(where("add"), Seen(3, "0x1" + add));
  EXPECT_EQ(where(" beef+1 "), Seen(3, "0x1" + add));
  for (const char* number : {"&Hbeef", "0xbeef", "BEEF", "0BEEF"})
    EXPECT_EQ(where(number), Seen(3, "0x0BEEF")) << number;
  for (const char* full : {"FFFFF", "ABCDE", "E0000", "&HE0000", "0x1A000"}) {
    std::string digits = full;
    digits = digits.substr(digits.size() - 5);
    for (char& ch : digits) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    const Seen s = where(full);
    EXPECT_EQ(s[0], "0x" + digits) << full;
    EXPECT_EQ(s[1], "0x" + digits) << full;
  }
  const json data = dap.request("setDataBreakpoints", {{"breakpoints",
                                                        {{{"dataId", "FFFFF"}},
                                                         {{"dataId", "100000"}},
                                                         {{"dataId", "0x10FFFF"}},
                                                         {{"dataId", "&H10FFFF"}},
                                                         {{"dataId", "1FFFFF"}}}}});
  const json& verdicts = data["body"]["breakpoints"];
  ASSERT_EQ(verdicts.size(), 5u);
  EXPECT_EQ(verdicts[0]["verified"], true);
  for (int i = 1; i < 5; ++i) EXPECT_EQ(verdicts[i]["verified"], false) << i;
  EXPECT_EQ(where("100000")[0], "refused");
  EXPECT_EQ(where("100000")[1], "refused");
  dap.request("disconnect");
  EXPECT_EQ(dap.wait(), 0);
}

// Arming takes time in proportion to the list: an editor's 100 000
// breakpoints of each kind are answered within seconds, replaced as fast,
// and they stop the run as one would.
TEST(Dap, LongBreakpointListsAreAnsweredAtOnce) {
  Workspace w;
  const std::string src = w.write("count.s", kProgram);
  DapClient dap(kBin + "/tarvo-dap");
  begin(dap, launchArgs(w, src));
#if defined(__SANITIZE_ADDRESS__)
  constexpr std::size_t kCount = 20000;  // the sanitizer's JSON is slow, not the arming
#else
  constexpr std::size_t kCount = 100000;
#endif
  json lines = json::array(), instructions = json::array(), data = json::array();
  for (std::size_t i = 0; i < kCount; ++i) {
    lines.push_back({{"line", kLoopLine}});
    instructions.push_back({{"instructionReference", "0x18011"}, {"offset", i % 3 == 0 ? 0 : 9}});
    data.push_back({{"dataId", "0x18021"}, {"accessType", "write"}});
  }
  for (int round = 0; round < 2; ++round) {  // the second round replaces the first
    const auto t0 = std::chrono::steady_clock::now();
    const json set[] = {
        dap.request("setBreakpoints", {{"source", {{"path", src}}}, {"breakpoints", lines}}),
        dap.request("setInstructionBreakpoints", {{"breakpoints", instructions}}),
        dap.request("setDataBreakpoints", {{"breakpoints", data}})};
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 20s) << round;
    for (const json& r : set) {
      ASSERT_EQ(r["success"], true) << round;
      const json& list = r["body"]["breakpoints"];
      ASSERT_EQ(list.size(), kCount);
      EXPECT_EQ(list.front()["verified"], true);
      EXPECT_EQ(list.back()["verified"], true);
    }
  }
  EXPECT_EQ(dap.request("configurationDone")["success"], true);
  EXPECT_EQ(stopReason(dap), "entry");
  dap.request("continue", {{"threadId", 1}});
  EXPECT_EQ(stopReason(dap), "breakpoint");
  dap.request("setBreakpoints", {{"source", {{"path", src}}}, {"breakpoints", json::array()}});
  dap.request("continue", {{"threadId", 1}});
  EXPECT_EQ(stopReason(dap), "instruction breakpoint");
  dap.request("setInstructionBreakpoints", {{"breakpoints", json::array()}});
  dap.request("continue", {{"threadId", 1}});
  EXPECT_EQ(stopReason(dap), "data breakpoint");
  EXPECT_EQ(dap.request("disconnect")["success"], true);
  EXPECT_EQ(dap.wait(), 0);
}

// The adapter's resident memory in KiB.
long residentKiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

// Hostile messages cost the adapter neither its life nor its memory: under
// an address-space limit of 1 GiB, a message nested too deeply or holding
// too many values is refused before it is built, one that is merely large
// is answered, and the session goes on; the source paths of files that are
// not the program's leave nothing behind.
TEST(Dap, HostileMessagesAreRefusedAndTheAdapterGoesOn) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs more address space than the limit";
#endif
  if (::access("/usr/bin/prlimit", X_OK) != 0) GTEST_SKIP() << "no prlimit";
  Workspace w;
  const std::string src = w.write("count.s", kProgram);
  DapClient dap(std::vector<std::string>{"/usr/bin/prlimit", "--as=1073741824", "--core=0",
                                         kBin + "/tarvo-dap"});
  auto answer = [&](const std::string& body) {
    dap.writeBody(body);
    const auto m = dap.next(20s);
    return m && (*m)["type"] == "response" && (*m)["success"] == false
               ? (*m)["message"].get<std::string>()
               : std::string("(no refusal)");
  };
  auto repeat = [](const std::string& open, const std::string& item, std::size_t n,
                   const std::string& close) {
    std::string t = open;
    t.reserve(open.size() + n * (item.size() + 1) + close.size());
    for (std::size_t i = 0; i < n; ++i) t += (i ? "," : "") + item;
    return t + close;
  };
  EXPECT_NE(answer(std::string(16 << 20, '[')).find("nested deeper"), std::string::npos);
  EXPECT_NE(answer(std::string(64 << 20, '{')).find("nested deeper"), std::string::npos);
  std::string deep = R"({"seq":1,"type":"request","command":"initialize","arguments":{"x":)";
  deep += std::string(40, '[') + std::string(40, ']') + "}}";
  EXPECT_NE(answer(deep).find("nested deeper"), std::string::npos);
  EXPECT_NE(answer(repeat("[", "0", 30u << 20, "]")).find("too large"), std::string::npos);
  // Just within the count: built and answered (it is no request).
  EXPECT_NE(answer(repeat("[", R"({"":0})", 2700000, "]")).find("malformed"), std::string::npos);

  begin(dap, launchArgs(w, src));
  auto paths = [&](int from, int to) {
    // Fifty at a time: their answers fit in the pipe while the next go out.
    for (int batch = from; batch < to; batch += 50) {
      for (int i = batch; i < batch + 50; ++i) {
        json args = json::object();
        args["source"]["path"] = (w.dir / ("other" + std::to_string(i) + ".s")).string();
        args["breakpoints"] = json::array({json::object({{"line", 1}})});
        dap.send("setBreakpoints", std::move(args));
      }
      // One response each, in order.
      for (int i = 0; i < 50; ++i) {
        const auto r = dap.next();
        ASSERT_TRUE(r && r->value("success", false));
      }
    }
  };
  paths(0, 20000);
  const long before = residentKiB(dap.pid());
  paths(20000, 120000);
  EXPECT_LT(residentKiB(dap.pid()) - before, 4096) << "KiB grown by 100 000 source paths";
  EXPECT_EQ(dap.request("evaluate", {{"expression", "counter"}})["body"]["result"], "8021");
  EXPECT_EQ(dap.request("disconnect")["success"], true);
  EXPECT_EQ(dap.wait(), 0);
}

// An editor that counts lines and columns from 0 gets them so, both ways.
TEST(Dap, LinesFromZeroWhenTheEditorSaysSo) {
  Workspace w;
  const std::string src = w.write("count.s", kProgram);
  DapClient dap(kBin + "/tarvo-dap");
  dap.request("initialize",
              {{"adapterID", "tarvo"}, {"linesStartAt1", false}, {"columnsStartAt1", false}});
  ASSERT_EQ(dap.request("launch", launchArgs(w, src, false))["success"], true);
  const json set = dap.request("setBreakpoints", {{"source", {{"path", src}}},
                                                  {"breakpoints", {{{"line", kLoopLine - 1}}}}});
  EXPECT_EQ(set["body"]["breakpoints"][0]["line"], kLoopLine - 1);
  EXPECT_EQ(set["body"]["breakpoints"][0]["instructionReference"], "0x18011");
  dap.request("configurationDone");
  EXPECT_EQ(stopReason(dap), "breakpoint");
  const json top = topFrame(dap);
  EXPECT_EQ(top["line"], kLoopLine - 1);
  EXPECT_EQ(top["column"], 0);
  dap.request("disconnect");
  EXPECT_EQ(dap.wait(), 0);
}

// Every line of a program (and of the files it includes) as (file, line),
// in the order the listing shows them.
void expandLines(const fs::path& file, std::vector<std::pair<std::string, int>>& out) {
  std::ifstream in(file);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    out.push_back({fs::canonical(file).string(), ++number});
    // include "name", as the assembler reads it (the directive in any case).
    std::string lower = line;
    for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    const auto word = lower.find_first_not_of(" \t");
    if (word != std::string::npos && lower.compare(word, 8, "include ") == 0) {
      const auto open = line.find('"', word);
      const auto close = line.find('"', open + 1);
      if (open != std::string::npos && close != std::string::npos)
        expandLines(file.parent_path() / line.substr(open + 1, close - open - 1), out);
    }
  }
}

// The first address of every line that stored bytes, by the listing.
std::map<std::pair<std::string, int>, std::string> listedAddresses(const fs::path& source,
                                                                   const fs::path& listing) {
  std::vector<std::pair<std::string, int>> lines;
  expandLines(source, lines);
  std::map<std::pair<std::string, int>, std::string> out;
  std::ifstream in(listing);
  std::size_t index = 0;
  for (std::string row; std::getline(in, row);) {
    // "AAAA  BB BB BB BB  text": bytes in columns 6..17, the text from 19.
    const bool bytes = row.size() > 6 && row.find_first_not_of(' ', 6) < 18;
    const bool text = row.size() > 19;
    if (bytes && !text && index > 0 && out.count(lines[index - 1])) continue;  // a continuation
    if (index >= lines.size()) break;
    if (bytes && row[4] == ' ') out[lines[index]] = row.substr(0, 4);
    ++index;
  }
  return out;
}

void roundTrip(const fs::path& source, const json& launch, const std::string& segmentDigit,
               std::size_t atLeast) {
  Workspace w;
  const fs::path listing = w.dir / "out.lst";
  const auto a = tarvo::test::spawn({kBin + "/tarvo-asm", source.string(), "-o",
                                     (w.dir / "out.bin").string(), "--listing", listing.string()});
  ASSERT_EQ(a.status, 0) << a.err;
  const auto expected = listedAddresses(source, listing);
  ASSERT_GE(expected.size(), atLeast);

  DapClient dap(kBin + "/tarvo-dap");
  begin(dap, launch);
  std::map<std::string, std::vector<int>> byFile;
  for (const auto& [where, address] : expected) byFile[where.first].push_back(where.second);
  std::size_t checked = 0;
  for (const auto& [file, lines] : byFile) {
    json list = json::array();
    for (int line : lines) list.push_back({{"line", line}});
    const json r =
        dap.request("setBreakpoints", {{"source", {{"path", file}}}, {"breakpoints", list}});
    ASSERT_EQ(r["success"], true);
    const json& got = r["body"]["breakpoints"];
    ASSERT_EQ(got.size(), lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(got[i]["verified"], true) << file << ":" << lines[i];
      EXPECT_EQ(got[i]["line"], lines[i]) << file << ":" << lines[i];
      EXPECT_EQ(got[i]["instructionReference"], "0x" + segmentDigit + expected.at({file, lines[i]}))
          << file << ":" << lines[i];
      ++checked;
    }
  }
  EXPECT_EQ(checked, expected.size());
  dap.request("disconnect");
  EXPECT_EQ(dap.wait(), 0);
}

TEST(Dap, EveryLineThatStoresBytesTakesABreakpointAtItsListedAddress) {
  Workspace w;
  // The loop of kProgram with its routine and more data in an included file.
  const std::string program(kProgram);
  w.write("sub.s",
          "; included\nbump:   ad $3,2\n        st $1,(ix+$30)\n        rtn\ntable:  db "
          "1,2,3,4,5,6,7\n        dw &H1234\n");
  const std::string main = w.write(
      "main.s", program.substr(0, program.find("bump:")) +
                    "        include \"sub.s\"\ncounter: db 0\n        ds 3,&HEE\nend: nop\n");
  roundTrip(main, launchArgs(w, main), "1", 15);

  // A sample runs to its line: the store in the included routine.
  DapClient dap(kBin + "/tarvo-dap");
  begin(dap, launchArgs(w, main, false));
  const std::string sub = (w.dir / "sub.s").string();
  dap.request("setBreakpoints", {{"source", {{"path", sub}}}, {"breakpoints", {{{"line", 3}}}}});
  dap.request("configurationDone");
  EXPECT_EQ(stopReason(dap), "breakpoint");
  const json top = topFrame(dap);
  EXPECT_EQ(top["source"]["path"], fs::canonical(sub).string());
  EXPECT_EQ(top["line"], 3);
  dap.request("disconnect");
}

TEST(Dap, TheDemoFirmwareSourceRoundTripsAndRuns) {
  MachineDir machine;
  if (!machine.has("rom1.bin")) GTEST_SKIP() << "the build made no demo machine";
  const fs::path rom1 = fs::path(TARVO_SOURCE_DIR) / "firmware/demo/rom1.s";
  // Segment 0 holds the ROM; its bytes are the ones the program stores.
  const json launch = {{"machine", machine.path().string()},
                       {"program", rom1.string()},
                       {"segment", 0},
                       {"stopOnEntry", false}};
  roundTrip(rom1, launch, "0", 500);

  // Started from its first line, the firmware reaches its start and shows
  // its banner on the LCD, which comes as output.
  DapClient dap(kBin + "/tarvo-dap");
  begin(dap, launch);
  dap.request("setBreakpoints", {{"source", {{"path", rom1.string()}}},
                                 {"breakpoints", {{{"line", 29}}}}});  // pst ie,0 at start
  dap.request("configurationDone");
  EXPECT_EQ(stopReason(dap), "breakpoint");
  EXPECT_EQ(topFrame(dap)["name"], "start");
  dap.request("setBreakpoints",
              {{"source", {{"path", rom1.string()}}}, {"breakpoints", json::array()}});
  dap.request("continue", {{"threadId", 1}});
  const json out = dap.event("output", 20s);
  ASSERT_FALSE(out.is_null());
  EXPECT_EQ(out["body"]["category"], "console");
  EXPECT_NE(out["body"]["output"].get<std::string>().find_first_not_of(" \n"), std::string::npos);
  dap.request("pause", {{"threadId", 1}});
  EXPECT_EQ(stopReason(dap), "pause");
  dap.request("disconnect");
  EXPECT_EQ(dap.wait(), 0);
}

}  // namespace
