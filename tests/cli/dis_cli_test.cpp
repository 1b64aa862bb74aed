// tarvo-dis run as a process.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::string tempPath(const std::string& name) {
  return testing::TempDir() + "tarvo_dis_" + std::to_string(getpid()) + "_" + name;
}

Result runDis(const std::string& args) {
  const std::string errPath = tempPath("stderr.txt");
  const std::string command = std::string(TARVO_BIN_DIR) + "/tarvo-dis " + args + " 2>" + errPath;
  Result r;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream err(errPath);
  std::stringstream ss;
  ss << err.rdbuf();
  r.err = ss.str();
  std::remove(errPath.c_str());
  return r;
}

void writeFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(DisCli, ListsOneInstructionAsThePaneDraws) {
  const Result r = runDis("--hex \"02 E3 07 85\" --origin 1000");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "11000: ld    $3,$7,jr &H0FFE\n");
  EXPECT_EQ(r.err, "");
}

// The listing ends once the last given byte is consumed, even when the last
// instruction reads beyond it (here the displacement of xrc is not given).
TEST(DisCli, StopsAfterTheLastGivenByte) {
  Result r = runDis("--hex \"02 23 07 85\" --origin 1000");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "11000: ld    $3,$sy\n11002: xrc   $5,$sx,jr &H0F85\n");

  r = runDis("--hex \"F8 F9 19\"");
  EXPECT_EQ(r.out, "10000: nop\n10001: clt\n10002: ****\n");

  r = runDis("--hex \"\"");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "");
}

TEST(DisCli, CountListsThatManyLines) {
  Result r = runDis("--hex F8 --count 3");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "10000: nop\n10001: trp\n10002: trp\n");  // unloaded RAM reads 0xFF
  r = runDis("--hex \"F8 F8 F8\" --count 1");
  EXPECT_EQ(r.out, "10000: nop\n");
  r = runDis("--hex \"F8 F8 F8\" --count 0");
  EXPECT_EQ(r.out, "");
}

TEST(DisCli, BytesWrapInsideSegmentOne) {
  const Result r = runDis("--origin FFFF --hex \"B7 05 F8\"");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "1FFFF: jr    &H0005\n10001: nop\n");
}

TEST(DisCli, WordModeListsTheOnChipRom) {
  Result r = runDis("--word --origin 10 --hex \"37 34 EE 12 F8\"");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "00010: jp    &H1234\n00012: nop\n");

  // The last word of the ROM: the listing ends with the region.
  r = runDis("--word --origin BFF --hex F8 --count 5");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "00BFF: nop\n");
}

TEST(DisCli, FileGivesTheSameListingAsHex) {
  const std::string path = tempPath("code.bin");
  writeFile(path, {0x56, 0x60, 0x41, 0xE0, 0x61, 0xA5});
  const Result r = runDis(path + " --origin 2000");
  std::remove(path.c_str());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "12000: pst   ua,&H41\n12003: stm   $1,(ix+$5),6\n");
  EXPECT_EQ(r.out, runDis("--hex \"56 60 41 E0 61 A5\" --origin 2000").out);
}

// A whole segment of arbitrary bytes lists without trouble, every line in
// segment 1; one byte more does not fit.
TEST(DisCli, WholeSegmentOfArbitraryBytes) {
  std::vector<unsigned char> bytes(0x10000);
  unsigned x = 12345;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<unsigned char>(x >> 16);
  }
  const std::string path = tempPath("segment.bin");
  writeFile(path, bytes);
  Result r = runDis(path);
  EXPECT_EQ(r.status, 0);
  std::istringstream lines(r.out);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    ASSERT_GE(line.size(), 10u) << line;
    EXPECT_EQ(line[0], '1');
    EXPECT_EQ(line[5], ':');
  }
  EXPECT_GT(count, 0x10000 / 4);
  EXPECT_LE(count, 0x10000);

  bytes.push_back(0);
  writeFile(path, bytes);
  r = runDis(path);
  std::remove(path.c_str());
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
}

TEST(DisCli, UnusableArgumentsExitTwoWithOneLine) {
  const char* cases[] = {
      "",                                        // no bytes at all
      "--hex F8 some.bin",                       // both inputs
      "--hex \"F8 GG\"",                         // not a byte
      "--hex 123",                               // three digits
      "--hex F8 --origin 10000",                 // beyond the segment
      "--hex F8 --origin xyz",                   // not hex
      "--hex F8 --word --origin C00",            // beyond the on-chip ROM
      "--hex \"F8 F8 F8\" --word --origin BFF",  // does not fit below C00
      "--hex F8 --count x",                      // not a count
      "--hex F8 --bogus",                        // unknown option
      "/nonexistent/dir/code.bin",               // unreadable file
  };
  for (const char* args : cases) {
    SCOPED_TRACE(args);
    const Result r = runDis(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1);
  }
}

}  // namespace
