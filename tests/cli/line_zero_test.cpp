// Port input line 0 on the demo machine in tarvo-run and tarvo-dap: the
// same as the face says (set with the optional key, cleared without
// "face.bmp"), read by the program itself with gpo.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "dap_client.h"
#include "demo_machine.h"
#include "frontpanel/face_file.h"
#include "tools/xasm.h"

namespace tarvo::demo {
namespace {

using test::DapClient;
using json = nlohmann::json;

constexpr const char* kReadPort = R"(        org &H8000
        gpo $5
here:   jp here
)";

// The port as the program reads it, after one step in tarvo-run.
std::string portInRun(const MachineDir& dir, const std::string& source) {
  const XasmOutput out = assembleProgram(source, XasmOptions{});
  EXPECT_TRUE(out.ok());
  std::string bytes;
  char hex[3];
  for (uint8_t b : out.image) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    bytes += hex;
  }
  const RunResult r = runTool(dir.path(), {"--poke", "18000=" + bytes, "--set", "PC=8000", "--set",
                                           "segmentLatch=1", "--steps", "1", "--dump"});
  EXPECT_EQ(r.status, 0);
  if (r.lines.empty()) return "(none)";
  const int value = json::parse(r.lines.back())["R"][5];
  std::snprintf(hex, sizeof hex, "%02X", value);
  return hex;
}

// ... and after one step in tarvo-dap.
std::string portInDap(const MachineDir& dir, const std::string& source) {
  DapClient dap(std::string(TARVO_BIN_DIR) + "/tarvo-dap");
  EXPECT_EQ(dap.request("initialize", {{"adapterID", "tarvo"}})["success"], true);
  EXPECT_EQ(dap.request("launch", {{"machine", dir.path().string()},
                                   {"program", source},
                                   {"stopOnEntry", true}})["success"],
            true);
  EXPECT_FALSE(dap.event("initialized").is_null());
  dap.request("configurationDone", json::object());
  EXPECT_FALSE(dap.event("stopped").is_null());
  dap.request("stepIn", {{"threadId", 1}});
  EXPECT_FALSE(dap.event("stopped").is_null());
  const json r = dap.request("evaluate", {{"expression", "$5"}});
  dap.request("disconnect", json::object());
  return r["body"]["result"].is_string() ? r["body"]["result"].get<std::string>() : "(none)";
}

TEST(LineZero, FollowsTheFaceInTarvoRunAndTarvoDap) {
  MachineDir dir;
  if (!dir.has("face.bmp") || !dir.has("rom1.bin")) GTEST_SKIP() << "the build made no demo face";
  const std::string source = (dir.path() / "port.s").string();
  std::ofstream(source) << kReadPort;

  // The demo face has the optional key: line 0 set (line 1 too, no rom2 or
  // rom3; line 2, the disk link, cleared; 3-7 set).
  ASSERT_TRUE(machineHasOptionalKey(dir.path().string()));
  EXPECT_EQ(portInRun(dir, source), "FB");
  EXPECT_EQ(portInDap(dir, source), "FB");

  std::filesystem::remove(dir.path() / "face.bmp");
  ASSERT_FALSE(machineHasOptionalKey(dir.path().string()));
  EXPECT_EQ(portInRun(dir, source), "FA");
  EXPECT_EQ(portInDap(dir, source), "FA");
}

}  // namespace
}  // namespace tarvo::demo
