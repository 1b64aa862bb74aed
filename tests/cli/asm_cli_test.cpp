// tarvo-asm run as a process, and programs it assembles run with tarvo-run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "spawn.h"
#include "tools/debug_info.h"

namespace {

namespace fs = std::filesystem;

using Result = tarvo::test::Outcome;

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// A scratch directory per test.
class AsmCli : public testing::Test {
 protected:
  void SetUp() override {
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::path(testing::TempDir()) /
           ("tarvo_asm_" + std::to_string(getpid()) + "_" + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs a tool with the arguments as given (no shell in between).
  Result run(const std::string& tool, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {std::string(TARVO_BIN_DIR) + "/" + tool};
    argv.insert(argv.end(), args.begin(), args.end());
    return tarvo::test::spawn(argv);
  }

  Result line(const std::vector<std::string>& args) { return run("tarvo-asm", args); }

  fs::path dir_;
};

TEST_F(AsmCli, OneLineAsTheEditorAssemblesIt) {
  Result r = line({"--line", "jr &h103", "--origin", "100"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "B7 02\n");
  r = line({"--line", "jr &h103", "--origin", "200"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "error at 9\n");
  r = line({"--line", "ld $1,$sy,jr &h10", "--word"});
  EXPECT_EQ(r.out, "02 A1 00 0F\n");
  r = line({"--line", "  ; nothing"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "\n");
  // Characters after the 64th are never seen.
  r = line({"--line", "nop" + std::string(61, ' ') + "junk"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "F8\n");
}

TEST_F(AsmCli, UnusableArgumentsExitWith2) {
  writeText(dir_ / "p.asm", "nop\n");
  const std::string src = (dir_ / "p.asm").string();
  const std::string img = (dir_ / "p.bin").string();
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--line", "nop", "--origin", "xyz"},
      {"--line", "nop", "--origin", "10000"},
      {"--line", "nop", "-o", img},
      {"--origin", "100", src, "-o", img},
      {src},
      {src, "-o", img, "--word", "--size", "6143"},
      {src, "-o", img, "--base", "FF00", "--size", "512"},
      {src, "-o", img, "--size", "lots"},
      {"--bogus"},
  };
  for (const auto& args : cases) {
    const Result r = line(args);
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(r.status, 2) << joined;
    EXPECT_NE(r.err, "") << joined;
  }
  EXPECT_FALSE(fs::exists(img));
}

TEST_F(AsmCli, ProgramErrorsAreReportedAndNoImageIsWritten) {
  writeText(dir_ / "bad.asm", "  nop\n  jr nowhere\n  ld $1,999\n");
  const fs::path img = dir_ / "bad.bin";
  const Result r = line({(dir_ / "bad.asm").string(), "-o", img.string()});
  EXPECT_EQ(r.status, 1);
  const std::string file = (dir_ / "bad.asm").string();
  EXPECT_EQ(r.err, file + ":2:6: undefined symbol 'nowhere'\n" + file +
                       ":3:9: value 999 out of range 0..255\n");
  EXPECT_FALSE(fs::exists(img));
}

TEST_F(AsmCli, IncludedFileFarBeyondTheSourceLimitIsRefusedUnread) {
  // 1.5 GB of nothing (sparse): refused without being read whole, under an
  // address-space limit a whole read would exceed, and well within the time.
  const fs::path big = dir_ / "big.s";
  writeText(big, "");
  fs::resize_file(big, uint64_t{1536} << 20);
  writeText(dir_ / "main.s", "  nop\n  include \"big.s\"\n");
  const fs::path img = dir_ / "main.bin";
  const auto started = std::chrono::steady_clock::now();
  std::vector<std::string> command = {
      "/usr/bin/timeout",         "30", std::string(TARVO_BIN_DIR) + "/tarvo-asm",
      (dir_ / "main.s").string(), "-o", img.string()};
#if !defined(__SANITIZE_ADDRESS__)
  // The sanitizer reserves more address space than any such limit leaves.
  command.insert(command.begin(), {"/usr/bin/prlimit", "--as=1000000000"});
#endif
  const Result r = tarvo::test::spawn(command);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.err,
            (dir_ / "main.s").string() + ":2:11: more than 16 MB of source text in one program\n");
  EXPECT_FALSE(fs::exists(img));
}

TEST_F(AsmCli, ListingAndSymbolFiles) {
  writeText(dir_ / "p.asm", "        org &h20\nb:      nop\na:      jr a\n");
  const Result r = line({(dir_ / "p.asm").string(), "-o", (dir_ / "p.bin").string(), "--listing",
                         (dir_ / "p.lst").string(), "--symbols", (dir_ / "p.sym").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readText(dir_ / "p.bin"), std::string("\xF8\xB7\x81", 3));
  EXPECT_EQ(readText(dir_ / "p.sym"), "b 0020\na 0021\n");
  const std::string listing = readText(dir_ / "p.lst");
  EXPECT_NE(listing.find("0021  B7 81        a:      jr a"), std::string::npos) << listing;
}

// --debug-info adds one file and changes nothing else; a program that fails
// to assemble writes none.
TEST_F(AsmCli, DebugInfoFile) {
  fs::create_directories(dir_ / "lib");
  writeText(dir_ / "p.asm",
            "        org &h1000\n"
            "start:  ld $1,3\n"
            "        include \"lib/sub.asm\"\n"
            "        db 1,2\n");
  writeText(dir_ / "lib" / "sub.asm", "sub:    rtn\n");
  const std::string src = (dir_ / "p.asm").string();
  const auto outputs = [&](const std::string& stem) {
    return std::vector<std::string>{src,
                                    "-o",
                                    (dir_ / (stem + ".bin")).string(),
                                    "--listing",
                                    (dir_ / (stem + ".lst")).string(),
                                    "--symbols",
                                    (dir_ / (stem + ".sym")).string()};
  };
  Result r = line(outputs("plain"));
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> args = outputs("dbg");
  args.insert(args.end(), {"--debug-info", (dir_ / "p.json").string()});
  r = line(args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  for (const char* ext : {".bin", ".lst", ".sym"}) {
    EXPECT_EQ(readText(dir_ / ("dbg" + std::string(ext))),
              readText(dir_ / ("plain" + std::string(ext))))
        << ext;
  }
  const std::string json = readText(dir_ / "p.json");
  std::string why;
  const std::optional<tarvo::DebugInfo> info = tarvo::parseDebugInfo(json, &why);
  ASSERT_TRUE(info) << why << "\n" << json;
  EXPECT_FALSE(info->word);
  EXPECT_EQ(info->files, (std::vector<std::string>{src, (dir_ / "lib" / "sub.asm").string()}));
  ASSERT_EQ(info->lines.size(), 3u);
  const auto at = [&](std::size_t i) {
    const tarvo::XasmLine& l = info->lines[i];
    return std::make_tuple(l.file, l.line, l.address, l.length);
  };
  EXPECT_EQ(at(0), std::make_tuple(0, 2, 0x1000u, 3u));
  EXPECT_EQ(at(1), std::make_tuple(1, 1, 0x1003u, 1u));
  EXPECT_EQ(at(2), std::make_tuple(0, 4, 0x1004u, 2u));
  EXPECT_NE(json.find(R"({"name":"sub","address":"1003"})"), std::string::npos) << json;

  writeText(dir_ / "lib" / "sub.asm", "sub:    rtn nowhere\n");
  fs::remove(dir_ / "p.json");
  r = line(args);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("sub.asm:1:"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(dir_ / "p.json"));

  // One line takes no debug information; an unwritable file is reported.
  r = line({"--line", "nop", "--debug-info", (dir_ / "p.json").string()});
  EXPECT_EQ(r.status, 2);
  writeText(dir_ / "lib" / "sub.asm", "sub:    rtn\n");
  args.back() = (dir_ / "no" / "such" / "dir" / "p.json").string();
  r = line(args);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cannot write the debug information"), std::string::npos) << r.err;
}

// A program with labels, a loop, a call and a table, assembled into a whole
// "rom1.bin" and run from 0x1000 by tarvo-run; its results land in RAM.
TEST_F(AsmCli, ByteProgramRunsInTheMachine) {
  writeText(dir_ / "sum.asm",
            "; sums a table of bytes into $0 (low) and $1 (high)\n"
            "count   equ table_end-table\n"
            "result  equ &h2000\n"
            "        org &h1000\n"
            "start:  pst ua,&h04          ; stack in RAM, IX side in segment 0\n"
            "        pre ss,&h3000\n"
            "        pre ix,table\n"
            "        ld $0,0\n"
            "        ld $1,0\n"
            "        ld $2,count\n"
            "loop:   ldi $3,(ix+0)\n"
            "        ad $0,$3\n"
            "        jr nc,nocarry\n"
            "        ad $1,1\n"
            "nocarry: sb $2,1\n"
            "        jr nz,loop\n"
            "        pst ua,&h14          ; IX side in RAM for the result\n"
            "        pre ix,result\n"
            "        st $0,(ix+0)\n"
            "        st $1,(ix+1)\n"
            "        cal fetch_magic\n"
            "        st $5,(ix+2)\n"
            "        st $6,(ix+3)\n"
            "done:   jr done\n"
            "fetch_magic:\n"
            "        ld $5,lo(magic),jr over\n"
            "        ld $5,0              ; jumped over\n"
            "over:   ld $6,hi(magic)\n"
            "        rtn\n"
            "magic   equ &h1234\n"
            "table:  db 200,100,50,\"AB\"\n"
            "table_end:\n");
  const fs::path machine = dir_ / "machine";
  fs::create_directories(machine);
  Result r = line({(dir_ / "sum.asm").string(), "-o", (machine / "rom1.bin").string(), "--base",
                   "0", "--size", "65536"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(fs::file_size(machine / "rom1.bin"), 65536u);
  r = run("tarvo-run",
          {"--dir", machine.string(), "--set", "PC=1000", "--steps", "300", "--peek", "12000:4"});
  ASSERT_EQ(r.status, 0) << r.err;
  // 200 + 100 + 50 + 65 + 66 = 481 = 0x01E1
  EXPECT_EQ(r.out, "12000: E1 01 34 12\n");
}

// The same kind of program in the word-organised on-chip ROM, started by the
// reset at address 0; its table is read through data reads, which return the
// first byte of each word, so it is written with dw.
TEST_F(AsmCli, WordProgramRunsFromReset) {
  writeText(dir_ / "rom0.asm",
            "        org 0\n"
            "start:  pst ua,&h04\n"
            "        pre ss,&h3000\n"
            "        pre ix,table\n"
            "        ld $3,(ix+1)         ; second table entry\n"
            "        ld $0,0\n"
            "        ld $2,5\n"
            "loop:   ad $0,$2             ; 5+4+3+2+1\n"
            "        sb $2,1\n"
            "        jr nz,loop\n"
            "        cal sub\n"
            "        pst ua,&h14\n"
            "        pre ix,&h2000\n"
            "        st $0,(ix+0)\n"
            "        st $7,(ix+1)\n"
            "        st $3,(ix+2)\n"
            "done:   jr done\n"
            "sub:    ld $7,&h5A,jr back\n"
            "        nop\n"
            "back:   rtn\n"
            "table:  dw 7,9\n");
  const fs::path machine = dir_ / "machine";
  fs::create_directories(machine);
  Result r = line({(dir_ / "rom0.asm").string(), "-o", (machine / "rom0.bin").string(), "--word",
                   "--size", "6144"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(fs::file_size(machine / "rom0.bin"), 6144u);
  r = run("tarvo-run", {"--dir", machine.string(), "--steps", "200", "--peek", "12000:3"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "12000: 0F 5A 09\n");
}

}  // namespace
