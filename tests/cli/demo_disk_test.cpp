// The demo machine's disk end to end: BASIC typed into tarvo-run on machine
// directories of the generated machine, talking to the real tarvo-disk on
// 127.0.0.1, the screen read back as characters.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../support/loopback.h"
#include "demo_machine.h"
#include "disk_process.h"

namespace tarvo::demo {
namespace {

using Lines = std::vector<std::string>;

// The template's settings with the drive's port (and option code) changed.
std::string settingsFor(int port, const char* optionCode = "0x55") {
  std::ifstream in(templateDir() / "tarvo.ini");
  std::string out, line;
  while (std::getline(in, line)) {
    if (line.rfind("Port=", 0) == 0) line = "Port=" + std::to_string(port);
    if (line.rfind("OptionCode=", 0) == 0) line = std::string("OptionCode=") + optionCode;
    out += line + "\n";
  }
  return out;
}

class DemoDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!templateHas("rom1.bin") || !templateHas("tarvo.ini"))
      GTEST_FAIL() << "the build made no demo machine in " << templateDir();
    std::string pattern = (fs::temp_directory_path() / "tarvo-demo-disk-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    disk_ = pattern;
    server_ = std::make_unique<test::DiskProcess>(disk_);
    ASSERT_NE(server_->port(), 0) << "tarvo-disk did not come up";
    for (MachineDir* m : {&a, &b}) std::ofstream(m->path() / "tarvo.ini") << settingsFor(port());
  }
  void TearDown() override {
    if (server_) {
      EXPECT_EQ(server_->stop(), 0);
    }
    std::error_code ec;
    fs::remove_all(disk_, ec);
  }

  int port() const { return server_->port(); }

  // The four LCD lines after typing text on machine m, its RAM kept.
  Lines run(MachineDir& m, const std::string& text, int after = 300) {
    const RunResult r =
        runTool(m.path(), {"--ticks", std::to_string(100 + 10 * keyCount(text) + after),
                           "--lcd-chars", "--save", "--type", text});
    EXPECT_EQ(r.status, 0);
    return r.lines;
  }

  fs::path disk_;
  std::unique_ptr<test::DiskProcess> server_;
  MachineDir a, b;
};

TEST_F(DemoDisk, SavedOnOneMachineLoadsOnAnotherAsTheSameProgram) {
  const Lines program = {"10 FOR I=1 TO 3",
                         "20 GOSUB 100:NEXT I",
                         "30 END:KILL \"SQUARES\"",
                         "100 PRINT I;\"*\";I;\"=\";I*I",
                         "110 IF I=3 THEN PRINT \"<>@:\"",
                         "120 RETURN"};
  std::string typed;
  for (const std::string& l : program) typed += l + "{ENTER}";
  run(a, typed + "SAVE \"SQUARES\"{ENTER}");
  const Lines firstHalf = {program[0], program[1], program[2], ">_"};
  const Lines secondHalf = {program[3], program[4], program[5], ">_"};
  ASSERT_EQ(run(a, "CLS:LIST 1-99{ENTER}"), firstHalf);
  ASSERT_EQ(run(a, "CLS:LIST 100-{ENTER}"), secondHalf);

  // The other machine has a program and variables of its own, which go.
  run(b, "5 PRINT 99{ENTER}200 PRINT 98{ENTER}X=7{ENTER}");
  const Lines loaded = run(b, "LOAD \"SQUARES\"{ENTER}");
  ASSERT_EQ(loaded.size(), 4u);
  EXPECT_EQ(loaded[2], ">LOAD \"SQUARES\"");
  EXPECT_EQ(loaded[3], ">_");
  EXPECT_EQ(run(b, "CLS:LIST 1-99{ENTER}"), firstHalf);
  EXPECT_EQ(run(b, "CLS:LIST 100-{ENTER}"), secondHalf);
  run(b, "DIM C(3):C(2)=5:A$=\"GONE\"{ENTER}");
  run(b, "LOAD \"SQUARES\"{ENTER}");
  EXPECT_EQ(run(b, "CLS:PRINT X;LEN(A$){ENTER}PRINT C(2){ENTER}"),
            (Lines{"00", ">PRINT C(2)", "?BAD SUBSCRIPT ERROR", ">_"}));
  EXPECT_EQ(run(b, "CLS:RUN{ENTER}", 500), (Lines{"2*2=4", "3*3=9", "<>@:", ">_"}));
}

TEST_F(DemoDisk, FilesKillAndTheErrorsOfTheDisk) {
  run(a, "10 PRINT 1{ENTER}SAVE \"ONE\"{ENTER}20 PRINT 2{ENTER}SAVE \"TWO\"{ENTER}");
  // FILES lists each with its length, which is what the server stored.
  const auto size = [&](const char* name) { return std::to_string(fs::file_size(disk_ / name)); };
  const auto row = [&](const char* name) {
    const std::string n = name;
    return n + std::string(17 - n.size(), ' ') + size(name);
  };
  EXPECT_EQ(run(a, "CLS:FILES{ENTER}"), (Lines{row("ONE"), row("TWO"), ">_", ""}));
  EXPECT_LT(fs::file_size(disk_ / "ONE"), fs::file_size(disk_ / "TWO"));

  EXPECT_EQ(run(a, "CLS:KILL \"ONE\":FILES{ENTER}"), (Lines{row("TWO"), ">_", "", ""}));
  EXPECT_FALSE(fs::exists(disk_ / "ONE"));
  EXPECT_EQ(run(a, "CLS:LOAD \"ONE\"{ENTER}KILL \"ONE\"{ENTER}"),
            (Lines{"?FILE NOT FOUND ERROR", ">KILL \"ONE\"", "?FILE NOT FOUND ERROR", ">_"}));
  EXPECT_EQ(run(a, "CLS:SAVE \"../X\"{ENTER}SAVE \"\"{ENTER}"),
            (Lines{"?BAD NAME ERROR", ">SAVE \"\"", "?BAD NAME ERROR", ">_"}));
  EXPECT_FALSE(fs::exists(disk_.parent_path() / "X"));

  // A file that no BASIC saved is refused, and the program stays.
  std::ofstream(disk_ / "JUNK") << "10 PRINT \"NOT A PROGRAM\"\n";
  EXPECT_EQ(run(a, "CLS:LOAD \"JUNK\"{ENTER}LIST 10{ENTER}"),
            (Lines{"?BAD FILE ERROR", ">LIST 10", "10 PRINT 1", ">_"}));
  // In a program line, the error names the line.
  EXPECT_EQ(run(a, "30 KILL \"NONE\"{ENTER}CLS:RUN 30{ENTER}"),
            (Lines{"?FILE NOT FOUND ERROR IN 30", ">_", "", ""}));
  EXPECT_TRUE(server_->running());
}

// A server that offers a program of the given length for any LOAD: the
// length, the signature of a file the firmware saved, ten bytes, and then
// it hangs up.
test::TestServer::Behaviour offering(int length, std::vector<uint8_t> signature) {
  return [length, signature](int fd, const std::atomic<bool>& stop) {
    std::vector<uint8_t> offer = {static_cast<uint8_t>(length & 0xFF),
                                  static_cast<uint8_t>(length >> 8)};
    offer.insert(offer.end(), signature.begin(), signature.end());
    offer.insert(offer.end(), 10, 0x11);
    uint8_t byte = 0;
    std::size_t received = 0, nameLength = 0, sent = 0;
    while (sent < offer.size() && test::TestServer::readByte(fd, stop, byte)) {
      if (++received == 2) nameLength = byte;
      const uint8_t answer = received <= 2 + nameLength ? 0 : offer[sent++];
      if (::send(fd, &answer, 1, MSG_NOSIGNAL) != 1) return;
    }
  };
}

TEST_F(DemoDisk, ALoadThatFailsKeepsTheProgram) {
  run(a, "10 PRINT 1{ENTER}20 PRINT 2{ENTER}SAVE \"P\"{ENTER}");
  // Its variables stay too: the file comes in between @() and DIM's arrays.
  run(a, "DIM C(20):C(10)=5:@(3)=7:A$=\"KEPT\"{ENTER}");
  std::ifstream saved(disk_ / "P", std::ios::binary);
  std::vector<uint8_t> signature(4);
  saved.read(reinterpret_cast<char*>(signature.data()), 4);
  // One that breaks off in the middle, and one too large for the memory.
  for (const auto& [length, message] : std::vector<std::pair<int, std::string>>{
           {104, "?DISK ERROR"}, {60000, "?OUT OF MEMORY ERROR"}}) {
    test::TestServer server(offering(length, signature));
    std::ofstream(a.path() / "tarvo.ini") << settingsFor(server.port());
    EXPECT_EQ(run(a, "CLS:LOAD \"P\"{ENTER}"), (Lines{message, ">_", "", ""})) << length;
    EXPECT_EQ(run(a, "CLS:LIST{ENTER}"), (Lines{"10 PRINT 1", "20 PRINT 2", ">_", ""})) << length;
    EXPECT_EQ(run(a, "CLS:PRINT C(10);@(3);A${ENTER}"), (Lines{"57KEPT", ">_", "", ""})) << length;
  }
}

TEST_F(DemoDisk, WithoutAServerTheDiskIsAnErrorAndNothingHangs) {
  // Nothing listening; a server that takes the call and never answers; no
  // drive announced.
  const int refusing = test::refusingPort();
  test::TestServer silent([](int fd, const std::atomic<bool>& stop) {
    uint8_t byte;
    while (test::TestServer::readByte(fd, stop, byte)) {
    }
  });
  const std::vector<std::pair<int, const char*>> cases = {
      {refusing, "0x55"}, {silent.port(), "0x55"}, {port(), "255"}};
  for (const auto& [p, option] : cases) {
    std::ofstream(a.path() / "tarvo.ini") << settingsFor(p, option);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(run(a, "10 SAVE \"X\"{ENTER}CLS:RUN{ENTER}"),
              (Lines{"?DISK ERROR IN 10", ">_", "", ""}))
        << "port " << p << ", option code " << option;
    EXPECT_EQ(run(a, "CLS:LOAD \"X\"{ENTER}PRINT 1+1{ENTER}"),
              (Lines{"?DISK ERROR", ">PRINT 1+1", "2", ">_"}))
        << "port " << p << ", option code " << option;
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
              20.0);
  }
  EXPECT_FALSE(fs::exists(disk_ / "X"));
}

}  // namespace
}  // namespace tarvo::demo
