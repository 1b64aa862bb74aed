// tarvo-run run as a process, on machine directories made by the tests.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <png.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "../support/loopback.h"
#include "spawn.h"

namespace {

namespace fs = std::filesystem;

using tarvo::test::Outcome;
using tarvo::test::spawn;

const std::string kRun = std::string(TARVO_BIN_DIR) + "/tarvo-run";

Outcome run(std::vector<std::string> args) {
  args.insert(args.begin(), kRun);
  return spawn(args);
}

// A machine directory, open to every user so that the unprivileged runs
// can use it.
struct MachineDir {
  std::string path;
  MachineDir() {
    std::string pattern = (fs::temp_directory_path() / "tarvo-run-XXXXXX").string();
    path = ::mkdtemp(pattern.data());
    ::chmod(path.c_str(), 0777);
  }
  ~MachineDir() {
    std::error_code ec;
    fs::permissions(path, fs::perms::all, ec);
    fs::remove_all(path, ec);
  }
  std::string file(const std::string& name) const { return path + "/" + name; }
  void write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream out(file(name), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  void writeText(const std::string& name, const std::string& text) const {
    std::ofstream(file(name), std::ios::binary) << text;
  }
  std::vector<uint8_t> read(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
};

std::vector<uint8_t> bytes(std::size_t n, uint8_t value) {
  return std::vector<uint8_t>(n, value);
}

nlohmann::json lastJson(const std::string& out) {
  const auto start = out.rfind('{');
  return nlohmann::json::parse(out.substr(start));
}

const std::string kNoImages =
    "Failed to load the file charset.bin\nFailed to load the file rom0.bin\n";

TEST(RunCli, StartsOnAnEmptyDirectory) {
  MachineDir dir;
  const Outcome r = run({"--dir", dir.path, "--dump"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kNoImages);
  // One line, fields in their fixed order.
  const std::string expected =
      R"({"PC":0,"SS":65535,"US":65535,"IX":0,"IY":0,"IZ":0,"KY":0,"SX":0,"SY":0,"SZ":0,)"
      R"("UA":0,"IA":0,"IB":0,"IE":0,"PE":0,"PD":0,"TM":0,"F":8,"segmentLatch":0,)"
      R"("inService":0,"clockShift":0,"R":[)";
  EXPECT_EQ(r.out.substr(0, expected.size()), expected);
  const auto j = lastJson(r.out);
  EXPECT_EQ(j["R"].size(), 32u);
  EXPECT_EQ(j["R"][31], 255);
  EXPECT_EQ(j["powerOff"], false);
  EXPECT_EQ(j["steps"], 0);
  EXPECT_EQ(j["cycles"], 0);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1);
}

// A character map that is no file (a FIFO, a link to an endless device) or
// far too large is said to be unusable and left out, as other machine files
// are: the run neither waits on it nor reads it whole.
TEST(RunCli, CharMapThatIsNoUsableFileIsReportedAndLeftOut) {
  struct Case {
    const char* what;
    std::function<void(const std::string&)> make;
    const char* reason;
  };
  const Case cases[] = {
      {"FIFO", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); },
       "not a regular file"},
      {"link to /dev/zero", [](const std::string& p) { fs::create_symlink("/dev/zero", p); },
       "not a regular file"},
      {"1.5 GB file",
       [](const std::string& p) {
         std::ofstream(p) << "> 47+25\n";
         fs::resize_file(p, uint64_t{1536} << 20);
       },
       "the file is too large"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MachineDir dir;
    c.make(dir.file("charmap.txt"));
    const auto started = std::chrono::steady_clock::now();
    std::vector<std::string> command = {"/usr/bin/timeout", "20", kRun,     "--dir", dir.path,
                                        "--ticks",          "10", "--type", "AB"};
#if !defined(__SANITIZE_ADDRESS__)
    // The sanitizer reserves more address space than any such limit leaves.
    command.insert(command.begin(), {"/usr/bin/prlimit", "--as=1000000000"});
#endif
    const Outcome r = spawn(command);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "Failed to load the file charmap.txt: " + std::string(c.reason) + "\n" + kNoImages);
  }
}

TEST(RunCli, PokesPeeksAndBankSwitching) {
  MachineDir dir;
  const Outcome r = run({"--dir", dir.path, "--poke", "0=A1B2C3", "--poke", "0x78000=ab", "--poke",
                         "C10=02", "--poke", "1FFFF=5A", "--peek", "0:2", "--peek", "8000:1",
                         "--peek", "1FFFE:3", "--peek", "C10:0"});
  EXPECT_EQ(r.status, 0);
  // On-chip ROM: word address 0 holds A1 B2, and a data read returns the
  // first byte of each word. Bank byte A bit 1 maps rom2's upper half at
  // segment 0, 0x8000.
  EXPECT_EQ(r.out,
            "00000: A1 C3\n"
            "08000: AB\n"
            "1FFFE: FF 5A FF\n"
            "00C10:\n");
}

TEST(RunCli, SetStoresTruncatedValuesWithoutSideEffects) {
  MachineDir dir;
  const Outcome r = run({"--dir", dir.path, "--set", "PC=12345", "--set", "R31=1FF", "--set",
                         "IB=1F", "--set", "IE=0", "--set", "PE=FF", "--set", "0x0", "--dump"});
  EXPECT_EQ(r.status, 2);  // "0x0" has no name
  const Outcome ok =
      run({"--dir", dir.path,       "--set", "PC=12345",       "--set", "R31=1FF",
           "--set", "IB=1F",        "--set", "IE=0",           "--set", "PE=FF",
           "--set", "KY=0xBEEF",    "--set", "segmentLatch=3", "--set", "inService=104",
           "--set", "clockShift=4", "--set", "powerOff=1",     "--dump"});
  ASSERT_EQ(ok.status, 0) << ok.err;
  const auto j = lastJson(ok.out);
  EXPECT_EQ(j["PC"], 0x2345);
  EXPECT_EQ(j["R"][31], 0xFF);
  EXPECT_EQ(j["IB"], 0x1F);  // writing IE did not clear requests
  EXPECT_EQ(j["PE"], 0xFF);
  EXPECT_EQ(j["KY"], 0xBEEF);
  EXPECT_EQ(j["segmentLatch"], 3);
  EXPECT_EQ(j["inService"], 4);
  EXPECT_EQ(j["clockShift"], 4);
  EXPECT_EQ(j["powerOff"], true);
}

TEST(RunCli, StepsAreTheProcessorStepAlone) {
  MachineDir dir;
  // 0x19 has no instruction: 3 cycles for the byte, 3 for the handler.
  Outcome r = run(
      {"--dir", dir.path, "--poke", "2000=191919", "--set", "PC=2000", "--steps", "3", "--dump"});
  ASSERT_EQ(r.status, 0);
  auto j = lastJson(r.out);
  EXPECT_EQ(j["PC"], 0x2003);
  EXPECT_EQ(j["steps"], 3);
  EXPECT_EQ(j["cycles"], 18);

  // Idle steps while off, slowed: 6 << 4 each. No timer runs beside them.
  r = run({"--dir", dir.path, "--set", "powerOff=1", "--set", "clockShift=4", "--set", "IA=40",
           "--set", "IE=FF", "--steps", "2", "--dump"});
  j = lastJson(r.out);
  EXPECT_EQ(j["cycles"], 192);
  EXPECT_EQ(j["IB"], 0);
  EXPECT_EQ(j["powerOff"], true);
}

TEST(RunCli, TicksRunEmulatedTime) {
  MachineDir dir;
  dir.writeText("tarvo.ini", "[Settings]\r\nOscFreq = 6\r\n");
  // 60 cycles a tick: ten idle steps of 6 cycles.
  Outcome r = run({"--dir", dir.path, "--set", "powerOff=1", "--ticks", "100", "--dump"});
  ASSERT_EQ(r.status, 0);
  auto j = lastJson(r.out);
  EXPECT_EQ(j["steps"], 1000);
  EXPECT_EQ(j["cycles"], 6000);
  EXPECT_EQ(j["TM"], 1);

  // A full minute of ticks requests interrupt 1, which (with IB bit 5)
  // wakes the machine.
  r = run({"--dir", dir.path, "--set", "powerOff=1", "--set", "IE=10", "--set", "IB=20", "--set",
           "TM=3A", "--ticks", "200", "--dump"});
  j = lastJson(r.out);
  EXPECT_EQ(j["TM"], 0x40);
  EXPECT_EQ(j["powerOff"], false);
}

// At a fixed pace: one key every 10 ticks from tick 100 on.
TEST(RunCli, TypingPressesKeysAfterOneSecond) {
  MachineDir dir;
  dir.writeText("tarvo.ini", "[Settings]\nOscFreq=1\n");
  // Switched off, key interrupts on for every key (IA 0xBD): the key
  // interrupt check latches request 3 without waking the processor.
  auto typed = [&](const std::string& text, int ticks) {
    const Outcome r =
        run({"--dir", dir.path, "--set", "powerOff=1", "--set", "IA=BD", "--set", "IE=40",
             "--ticks", std::to_string(ticks), "--type", text, "--type-pace", "--dump"});
    EXPECT_EQ(r.status, 0) << r.err;
    return lastJson(r.out)["IB"].get<int>();
  };
  EXPECT_EQ(typed("q", 100), 0);
  EXPECT_EQ(typed("q", 101), 0x08);
  EXPECT_EQ(typed("!q", 110), 0);  // '!' has no key: its turn passes
  EXPECT_EQ(typed("!q", 111), 0x08);
  EXPECT_EQ(typed("{ENTER}", 200), 0);  // special keys only set the key code
  EXPECT_EQ(typed("{ENTER}a", 111), 0x08);
}

// Enables the LCD, switches the display on, sets the address counter to 0
// and writes 0xFF there: dot column 0, rows 0-7, dark.
std::vector<std::string> lcdProgram() {
  return {"--poke",
          "2000=540087"
          "5214"
          "D20003"
          "540086"
          "52FF",
          "--set",
          "PC=2000",
          "--set",
          "R0=82",
          "--set",
          "R1=0",
          "--set",
          "R2=0",
          "--steps",
          "5"};
}

struct Png {
  unsigned width = 0, height = 0;
  std::vector<uint8_t> rgb;
  uint32_t at(unsigned x, unsigned y) const {
    const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
    return static_cast<uint32_t>(rgb[i] << 16 | rgb[i + 1] << 8 | rgb[i + 2]);
  }
};

// The test program does not link the PNG library; it loads it to read the
// pictures back.
Png readPng(const std::string& file) {
  Png result;
  void* lib = ::dlopen("libpng16.so.16", RTLD_NOW | RTLD_LOCAL);
  if (!lib) return result;
  const auto begin = reinterpret_cast<decltype(&png_image_begin_read_from_file)>(
      ::dlsym(lib, "png_image_begin_read_from_file"));
  const auto finish =
      reinterpret_cast<decltype(&png_image_finish_read)>(::dlsym(lib, "png_image_finish_read"));
  const auto release = reinterpret_cast<decltype(&png_image_free)>(::dlsym(lib, "png_image_free"));
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (begin && finish && release && begin(&image, file.c_str())) {
    image.format = PNG_FORMAT_RGB;
    result.rgb.resize(PNG_IMAGE_SIZE(image));
    if (finish(&image, nullptr, result.rgb.data(), 0, nullptr)) {
      result.width = image.width;
      result.height = image.height;
    }
    release(&image);
  }
  ::dlclose(lib);
  return result;
}

TEST(RunCli, LcdAsTextAndPicture) {
  MachineDir dir;
  std::vector<std::string> args = {"--dir", dir.path};
  for (const std::string& a : lcdProgram()) args.push_back(a);
  args.insert(args.end(),
              {"--peek", "2000:1", "--lcd-text", "--lcd-png", dir.file("lcd.png"), "--dump"});
  const Outcome r = run(args);
  ASSERT_EQ(r.status, 0) << r.err;
  std::istringstream lines(r.out);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "02000: 54");  // peeks come first
  for (int y = 0; y < 32; ++y) {
    ASSERT_TRUE(std::getline(lines, line));
    ASSERT_EQ(line.size(), 192u);
    EXPECT_EQ(line[0], y < 8 ? '#' : '.') << y;
    EXPECT_EQ(line.find('#', 1), std::string::npos) << y;
  }
  std::getline(lines, line);
  EXPECT_EQ(line.front(), '{');  // the dump comes last

  const Png png = readPng(dir.file("lcd.png"));
  ASSERT_EQ(png.width, 384u);
  ASSERT_EQ(png.height, 64u);
  EXPECT_EQ(png.at(0, 0), 0x000000u);
  EXPECT_EQ(png.at(1, 15), 0x000000u);
  EXPECT_EQ(png.at(0, 16), 0xFFFFFFu);
  EXPECT_EQ(png.at(2, 0), 0xFFFFFFu);

  // Controllers disabled: grey, and no dark dot in the text.
  const Outcome off = run({"--dir", dir.path, "--lcd-text", "--lcd-png", dir.file("off.png")});
  ASSERT_EQ(off.status, 0);
  EXPECT_EQ(off.out.find('#'), std::string::npos);
  const Png grey = readPng(dir.file("off.png"));
  ASSERT_EQ(grey.width, 384u);
  EXPECT_EQ(grey.at(0, 0), 0xC0C0C0u);
  EXPECT_EQ(grey.at(383, 63), 0xC0C0C0u);

  const Outcome bad = run({"--dir", dir.path, "--lcd-png", dir.file("no/such/dir.png")});
  EXPECT_EQ(bad.status, 2);
}

TEST(RunCli, SaveWritesTheStateBack) {
  MachineDir dir;
  dir.write("ram0.bin", bytes(100, 0x11));
  const Outcome r = run({"--dir", dir.path, "--poke", "10200=42", "--poke", "28000=43", "--set",
                         "R3=77", "--set", "US=BEEF", "--save"});
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kNoImages);
  const auto ram0 = dir.read("ram0.bin");
  ASSERT_EQ(ram0.size(), 65536u);
  EXPECT_EQ(ram0[99], 0x11);
  EXPECT_EQ(ram0[100], 0xFF);
  EXPECT_EQ(ram0[0x200], 0x42);
  EXPECT_EQ(dir.read("ram1.bin"), [] {
    auto v = bytes(32768, 0xFF);
    v[0] = 0x43;
    return v;
  }());
  const auto regs = dir.read("register.bin");
  ASSERT_EQ(regs.size(), 36u);
  EXPECT_EQ(regs[3], 0x77);
  EXPECT_EQ(regs[34], 0xEF);
  EXPECT_EQ(regs[35], 0xBE);

  // Without --save nothing is written.
  MachineDir clean;
  run({"--dir", clean.path, "--set", "R3=1"});
  EXPECT_FALSE(fs::exists(clean.file("register.bin")));
}

TEST(RunCli, DirectoryInPlaceOfARamImage) {
  MachineDir dir;
  fs::create_directory(dir.file("ram1.bin"));
  const Outcome r = run({"--dir", dir.path, "--save"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kNoImages + "Failed to load the file ram1.bin\n" +
                       "Failed to save the file ram1.bin\n");
  EXPECT_TRUE(fs::is_directory(dir.file("ram1.bin")));
  EXPECT_EQ(dir.read("ram0.bin").size(), 65536u);
}

TEST(RunCli, UnusableArgumentsExitTwoWithOneLine) {
  MachineDir dir;
  const std::vector<std::vector<std::string>> cases = {
      {"--set", "XX=1"},
      {"--set", "R32=1"},
      {"--set", "PC=12G"},
      {"--set", "PC="},
      {"--set", "PC"},
      {"--set", "powerOff=2"},
      {"--set", "clockShift=10"},
      {"--set", "clockShift=1F"},
      {"--poke", "1000=ABC"},
      {"--poke", "1000=XY"},
      {"--poke", "1000="},
      {"--poke", "=12"},
      {"--poke", "zz=12"},
      {"--poke", "30000=12"},
      {"--poke", "1FFFF=1234"},
      {"--poke", "123456789=12"},
      {"--poke"},
      {"--steps"},
      {"--steps", "-1"},
      {"--steps", "ten"},
      {"--steps", "1", "--ticks", "1"},
      {"--type", "abc"},
      {"--ticks", "1", "--type", "{NOPE}"},
      {"--ticks", "1", "--type", "{ENTER"},
      {"--peek", "100"},
      {"--peek", "100:x"},
      {"--peek", "100:99999999999"},
      {"--bogus"},
      {"stray"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--dir", dir.path};
    args.insert(args.end(), c.begin(), c.end());
    const Outcome r = run(args);
    std::string shown;
    for (const auto& a : c) shown += a + " ";
    EXPECT_EQ(r.status, 2) << shown;
    EXPECT_EQ(r.out, "") << shown;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << shown << r.err;
  }
  const Outcome noDir = run({"--dir", dir.file("missing")});
  EXPECT_EQ(noDir.status, 2);
  EXPECT_FALSE(fs::exists(dir.file("register.bin")));  // nothing ran
}

TEST(RunCli, UnreachableDiskServerDoesNotStopTheMachine) {
  // A port where nothing listens: bound once, then let go.
  const int port = tarvo::test::refusingPort();
  ASSERT_GT(port, 0);
  MachineDir dir;
  dir.writeText("tarvo.ini",
                "[Settings]\nOptionCode=85\n[Floppy Disk Drive]\nAddress=127.0.0.1\nPort=" +
                    std::to_string(port) + "\n");
  // pst PE,0x30 takes lines 4 and 5 low and so opens the link; then 0x19
  // (no instruction) over and over.
  std::string code = "560030";
  for (int i = 0; i < 5000; ++i) code += "19";
  const Outcome r = run(
      {"--dir", dir.path, "--poke", "2000=" + code, "--set", "PC=2000", "--ticks", "3", "--dump"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto j = lastJson(r.out);
  EXPECT_GT(j["steps"].get<int>(), 1000);
  EXPECT_GT(j["PC"].get<int>(), 0x2003 + 1000);
}

// The cases that need an ordinary user, since root reads and writes
// whatever it likes.
class Unprivileged : public testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to switch to nobody";
    if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "no setpriv";
    // A copy of the program that nobody can reach, wherever the build is.
    bin_ = dir_.file("tarvo-run");
    fs::copy_file(kRun, bin_);
    ::chmod(bin_.c_str(), 0755);
  }
  Outcome runAsNobody(std::vector<std::string> args) {
    args.insert(args.begin(),
                {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", bin_});
    return spawn(args);
  }
  MachineDir dir_;  // holds the program
  MachineDir machine_;
  std::string bin_;
};

TEST_F(Unprivileged, UnreadableRamImageIsReportedAndNotOverwritten) {
  machine_.write("ram0.bin", bytes(65536, 0x5A));
  ::chmod(machine_.file("ram0.bin").c_str(), 0);
  const Outcome r = runAsNobody({"--dir", machine_.path, "--set", "R0=12", "--save"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, kNoImages + "Failed to load the file ram0.bin\n" +
                       "Failed to save the file ram0.bin\n");
  EXPECT_EQ(machine_.read("ram0.bin"), bytes(65536, 0x5A));
  EXPECT_EQ(machine_.read("register.bin").at(0), 0x12);  // the rest of the close went on
  EXPECT_EQ(machine_.read("ram1.bin").size(), 32768u);
}

// A read-only machine folder that holds writable images, as shared
// machines have: the images are written in place, not lost.
TEST_F(Unprivileged, ReadOnlyDirectoryWithWritableImages) {
  machine_.write("register.bin", bytes(36, 0x01));
  machine_.write("ram0.bin", bytes(65536, 0x02));
  machine_.write("ram1.bin", bytes(100, 0x03));  // short: grows to its full size
  for (const char* f : {"register.bin", "ram0.bin", "ram1.bin"}) {
    ASSERT_EQ(::chown(machine_.file(f).c_str(), 65534, 65534), 0);
    ::chmod(machine_.file(f).c_str(), 0640);
  }
  ::chmod(machine_.path.c_str(), 0555);
  const Outcome r = runAsNobody({"--dir", machine_.path, "--set", "R0=99", "--poke", "10000=77",
                                 "--poke", "28000=88", "--save"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kNoImages);
  auto regs = bytes(36, 0x01);
  regs[0] = 0x99;
  EXPECT_EQ(machine_.read("register.bin"), regs);
  auto ram0 = bytes(65536, 0x02);
  ram0[0] = 0x77;
  EXPECT_EQ(machine_.read("ram0.bin"), ram0);
  auto ram1 = bytes(32768, 0xFF);
  for (int i = 0; i < 100; ++i) ram1[static_cast<std::size_t>(i)] = 0x03;
  ram1[0] = 0x88;
  EXPECT_EQ(machine_.read("ram1.bin"), ram1);
  for (const char* f : {"register.bin", "ram0.bin", "ram1.bin"}) {
    struct stat st;
    ASSERT_EQ(::stat(machine_.file(f).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u) << f;
  }
}

// Where neither a new file nor the old one can be written, or the write
// fails halfway (here a file size limit below the image size), the old
// file stays byte for byte and the save message is shown.
TEST_F(Unprivileged, FailedSaveInAReadOnlyDirectoryLeavesTheOldFile) {
  if (::access("/usr/bin/prlimit", X_OK) != 0) GTEST_SKIP() << "no prlimit";
  machine_.write("register.bin", bytes(36, 0x01));
  machine_.write("ram0.bin", bytes(1000, 0x02));
  machine_.write("ram1.bin", bytes(32768, 0x03));
  ASSERT_EQ(::chown(machine_.file("ram0.bin").c_str(), 65534, 65534), 0);
  ::chmod(machine_.file("ram0.bin").c_str(), 0600);
  ::chmod(machine_.file("ram1.bin").c_str(), 0644);  // root's: nobody may not write it
  ::chmod(machine_.path.c_str(), 0555);
  const Outcome r = spawn({"/usr/bin/prlimit", "--fsize=20000", "/usr/bin/setpriv",
                           "--reuid=nobody", "--regid=nogroup", "--clear-groups", bin_, "--dir",
                           machine_.path, "--poke", "10000=77", "--poke", "28000=88", "--save"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, kNoImages +
                       "Failed to save the file register.bin\n"
                       "Failed to save the file ram0.bin\n"
                       "Failed to save the file ram1.bin\n");
  EXPECT_EQ(machine_.read("register.bin"), bytes(36, 0x01));
  EXPECT_EQ(machine_.read("ram0.bin"), bytes(1000, 0x02));
  EXPECT_EQ(machine_.read("ram1.bin"), bytes(32768, 0x03));
}

}  // namespace
