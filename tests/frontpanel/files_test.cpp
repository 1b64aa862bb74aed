#include "frontpanel/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>

#include "cpu/state.h"
#include "devices/lcd.h"
#include "temp_dir.h"

namespace tarvo {
namespace {

using test::pattern;
using test::TempDir;

TEST(LoadFile, SuccessOnlyWhenEveryByteWasRead) {
  TempDir dir;
  uint8_t buf[8];

  // Missing: all 0xFF.
  EXPECT_EQ(loadFile(dir.file("none.bin"), buf, 8), LoadResult::Short);
  for (uint8_t b : buf) EXPECT_EQ(b, 0xFF);

  // Short: its bytes, then 0xFF.
  dir.write("short.bin", {1, 2, 3});
  EXPECT_EQ(loadFile(dir.file("short.bin"), buf, 8), LoadResult::Short);
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + 8),
            (std::vector<uint8_t>{1, 2, 3, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));

  // Exact and longer: complete, first n bytes.
  dir.write("long.bin", pattern(20));
  EXPECT_EQ(loadFile(dir.file("long.bin"), buf, 8), LoadResult::Complete);
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + 8), pattern(8));
  dir.write("exact.bin", pattern(8, 3));
  EXPECT_EQ(loadFile(dir.file("exact.bin"), buf, 8), LoadResult::Complete);
  EXPECT_EQ(std::vector<uint8_t>(buf, buf + 8), pattern(8, 3));

  // Empty file of zero bytes asked for zero bytes.
  dir.write("empty.bin", {});
  EXPECT_EQ(loadFile(dir.file("empty.bin"), buf, 0), LoadResult::Complete);
}

TEST(LoadFile, DirectoryOrFifoInPlaceIsUnreadableAndNeverBlocks) {
  TempDir dir;
  uint8_t buf[4] = {1, 2, 3, 4};
  ASSERT_EQ(::mkdir(dir.file("dir.bin").c_str(), 0755), 0);
  EXPECT_EQ(loadFile(dir.file("dir.bin"), buf, 4), LoadResult::Unreadable);
  for (uint8_t b : buf) EXPECT_EQ(b, 0xFF);

  // A FIFO with no writer would block an ordinary open for ever.
  ASSERT_EQ(::mkfifo(dir.file("fifo.bin").c_str(), 0644), 0);
  auto result =
      std::async(std::launch::async, [&] { return loadFile(dir.file("fifo.bin"), buf, 4); });
  ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(result.get(), LoadResult::Unreadable);
  EXPECT_FALSE(fileExists(dir.file("dir.bin")));
  EXPECT_TRUE(fileExists(dir.file("fifo.bin")));
}

TEST(MachineDirectory, AnyOneMachineFileMakesOneAndNothingElseDoes) {
  TempDir empty;
  EXPECT_FALSE(isMachineDirectory(empty.path()));
  // Other files, and a folder that bears a machine file's name, do not count.
  empty.write("notes.txt", {1});
  empty.write("rom0.bin.bak", {1});
  ASSERT_EQ(::mkdir(empty.file("ram0.bin").c_str(), 0755), 0);
  EXPECT_FALSE(isMachineDirectory(empty.path()));
  for (const char* name : kMachineFileNames) {
    TempDir dir;
    dir.write(name, {});
    EXPECT_TRUE(isMachineDirectory(dir.path())) << name;
  }
}

TEST(SaveFile, ReplacesTheFileWholeAndKeepsItsMode) {
  TempDir dir;
  dir.write("ram.bin", pattern(100));
  ASSERT_EQ(::chmod(dir.file("ram.bin").c_str(), 0640), 0);
  const auto data = pattern(50, 9);
  ASSERT_TRUE(saveFile(dir.file("ram.bin"), data.data(), data.size()));
  EXPECT_EQ(dir.read("ram.bin"), data);
  struct stat st;
  ASSERT_EQ(::stat(dir.file("ram.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  ASSERT_TRUE(saveFile(dir.file("new.bin"), data.data(), data.size()));
  EXPECT_EQ(dir.read("new.bin"), data);
  EXPECT_EQ(dir.entries().size(), 2u);  // no temporary file left behind
}

// A new image gets what the process's umask allows, and the umask itself
// is left alone.
TEST(SaveFile, NewFileFollowsTheUmask) {
  TempDir dir;
  const mode_t previous = ::umask(027);
  const auto data = pattern(8);
  const bool saved = saveFile(dir.file("ram0.bin"), data.data(), data.size());
  const mode_t during = ::umask(previous);
  ASSERT_TRUE(saved);
  EXPECT_EQ(during, 027u);
  struct stat st;
  ASSERT_EQ(::stat(dir.file("ram0.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(SaveFile, FailureLeavesWhatWasThere) {
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.file("ram0.bin").c_str(), 0755), 0);
  const auto data = pattern(16);
  EXPECT_FALSE(saveFile(dir.file("ram0.bin"), data.data(), data.size()));
  EXPECT_TRUE(dir.isDirectory("ram0.bin"));
  EXPECT_EQ(dir.entries().size(), 1u);

  EXPECT_FALSE(saveFile(dir.file("missing/ram1.bin"), data.data(), data.size()));
}

// A save killed before it could tidy up leaves its temporary file; the next
// save of that file removes it, but not a temporary file another save is
// still writing (locked), nor a file that only looks like one.
TEST(SaveFile, NextSaveRemovesTheLeftoversOfAKilledOne) {
  TempDir dir;
  const auto data = pattern(64);
  dir.write("quick.tst", pattern(8));
  const std::vector<std::string> leftovers = {".quick.tst.0123456789ab", ".quick.tst.fedcba987654"};
  for (const std::string& name : leftovers) dir.write(name, pattern(106000));
  const std::string busy = ".quick.tst.00000000beef";
  dir.write(busy, pattern(10));
  const int busyFd = ::open(dir.file(busy).c_str(), O_RDONLY);
  ASSERT_GE(busyFd, 0);
  ASSERT_EQ(::flock(busyFd, LOCK_EX), 0);
  const std::vector<std::string> strangers = {".quick.tst.0123456789AB", ".quick.tst.0123",
                                              ".other.tst.0123456789ab", "quick.tst.0123456789ab"};
  for (const std::string& name : strangers) dir.write(name, pattern(10));

  ASSERT_TRUE(saveFile(dir.file("quick.tst"), data.data(), data.size()));
  EXPECT_EQ(dir.read("quick.tst"), data);
  for (const std::string& name : leftovers) EXPECT_FALSE(dir.exists(name)) << name;
  EXPECT_TRUE(dir.exists(busy));
  for (const std::string& name : strangers) EXPECT_TRUE(dir.exists(name)) << name;
  ::close(busyFd);
}

ino_t inodeOf(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// What the user set up around an image survives a save: symbolic links
// (followed through a chain, relative to each link's own folder, and to a
// target not yet there), further hard links, and an owner other than the
// user running now.
TEST(SaveFile, KeepsLinksAndOwnership) {
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.file("store").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(dir.file("links").c_str(), 0755), 0);
  dir.write("store/ram0.img", pattern(100));
  ASSERT_EQ(::chmod(dir.file("store/ram0.img").c_str(), 0604), 0);
  ASSERT_EQ(::symlink("../store/ram0.img", dir.file("links/mid").c_str()), 0);
  ASSERT_EQ(::symlink("links/mid", dir.file("ram0.bin").c_str()), 0);
  const auto data = pattern(200, 3);
  ASSERT_TRUE(saveFile(dir.file("ram0.bin"), data.data(), data.size()));
  struct stat st;
  ASSERT_EQ(::lstat(dir.file("ram0.bin").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(::lstat(dir.file("links/mid").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(dir.read("store/ram0.img"), data);
  ASSERT_EQ(::stat(dir.file("store/ram0.img").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  EXPECT_EQ(dir.entries().size(), 3u);  // no temporary file anywhere
  EXPECT_EQ(std::filesystem::directory_iterator(dir.file("store"))->path().filename(), "ram0.img");

  // A link to a file that is not there yet creates it.
  ASSERT_EQ(::symlink("store/ram1.img", dir.file("ram1.bin").c_str()), 0);
  ASSERT_TRUE(saveFile(dir.file("ram1.bin"), data.data(), data.size()));
  ASSERT_EQ(::lstat(dir.file("ram1.bin").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(dir.read("store/ram1.img"), data);

  // Hard links: every name sees the new content, and it is the same file.
  dir.write("register.bin", pattern(36));
  ASSERT_EQ(::link(dir.file("register.bin").c_str(), dir.file("backup.bin").c_str()), 0);
  const ino_t inode = inodeOf(dir.file("register.bin"));
  const auto regs = pattern(36, 5);
  ASSERT_TRUE(saveFile(dir.file("register.bin"), regs.data(), regs.size()));
  EXPECT_EQ(inodeOf(dir.file("register.bin")), inode);
  EXPECT_EQ(dir.read("backup.bin"), regs);

  // Another user's file keeps its owner; a longer old file is cut to size.
  if (::geteuid() == 0) {
    dir.write("other.bin", pattern(300));
    ASSERT_EQ(::chown(dir.file("other.bin").c_str(), 65534, 65534), 0);
    ASSERT_TRUE(saveFile(dir.file("other.bin"), data.data(), data.size()));
    ASSERT_EQ(::stat(dir.file("other.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(dir.read("other.bin"), data);
  }
}

TEST(RegisterFile, LayoutAndMissingFile) {
  TempDir dir;
  ProcessorState c;
  EXPECT_EQ(loadRegisters(c, dir.file("register.bin")), LoadResult::Short);
  for (uint8_t r : c.R) EXPECT_EQ(r, 0xFF);
  EXPECT_EQ(c.SS, 0xFFFF);
  EXPECT_EQ(c.US, 0xFFFF);

  for (int i = 0; i < 32; ++i) c.R[i] = static_cast<uint8_t>(i * 3);
  c.SS = 0x1234;
  c.US = 0xABCD;
  c.PC = 0x5555;
  ASSERT_TRUE(saveRegisters(c, dir.file("register.bin")));
  const auto image = dir.read("register.bin");
  ASSERT_EQ(image.size(), kRegisterFileSize);
  EXPECT_EQ(image[31], 93);
  EXPECT_EQ(image[32], 0x34);
  EXPECT_EQ(image[33], 0x12);
  EXPECT_EQ(image[34], 0xCD);
  EXPECT_EQ(image[35], 0xAB);

  ProcessorState back;
  EXPECT_EQ(loadRegisters(back, dir.file("register.bin")), LoadResult::Complete);
  EXPECT_EQ(std::memcmp(back.R, c.R, 32), 0);
  EXPECT_EQ(back.SS, 0x1234);
  EXPECT_EQ(back.US, 0xABCD);
  EXPECT_EQ(back.PC, 0);  // not kept

  // A short file leaves the tail at 0xFF.
  dir.write("register.bin", std::vector<uint8_t>(33, 0x11));
  EXPECT_EQ(loadRegisters(back, dir.file("register.bin")), LoadResult::Short);
  EXPECT_EQ(back.SS, 0xFF11);
  EXPECT_EQ(back.US, 0xFFFF);
}

TEST(Charset, ExpandsEveryByteIntoTwoNibbles) {
  TempDir dir;
  auto bytes = pattern(kCharsetFileSize);
  bytes[0] = 0xA5;
  bytes[2047] = 0x3C;
  dir.write("charset.bin", bytes);
  Lcd lcd;
  EXPECT_EQ(loadCharset(lcd, dir.file("charset.bin")), LoadResult::Complete);
  EXPECT_EQ(lcd.glyphs[0], 0x0A);
  EXPECT_EQ(lcd.glyphs[1], 0x05);
  EXPECT_EQ(lcd.glyphs[2 * 100], bytes[100] >> 4);
  EXPECT_EQ(lcd.glyphs[2 * 100 + 1], bytes[100] & 0x0F);
  EXPECT_EQ(lcd.glyphs[4094], 0x03);
  EXPECT_EQ(lcd.glyphs[4095], 0x0C);

  // Short: the missing glyph bytes show every dot set.
  dir.write("charset.bin", {0x12});
  EXPECT_EQ(loadCharset(lcd, dir.file("charset.bin")), LoadResult::Short);
  EXPECT_EQ(lcd.glyphs[0], 0x01);
  EXPECT_EQ(lcd.glyphs[1], 0x02);
  EXPECT_EQ(lcd.glyphs[2], 0x0F);
  EXPECT_EQ(lcd.glyphs[4095], 0x0F);
}

TEST(SettingsInteger, DecimalHexAndGarbage) {
  struct Case {
    const char* text;
    bool ok;
    int32_t value;
  };
  const Case cases[] = {
      {"910", true, 910},
      {"0x400", true, 1024},
      {"0X1f", true, 31},
      {"$400", true, 1024},
      {"-5", true, -5},
      {"+7", true, 7},
      {"  42  ", true, 42},
      {"2147483647", true, 2147483647},
      {"-2147483648", true, INT32_MIN},
      {"$FFFFFFFF", true, -1},
      {"2147483648", false, 0},
      {"0x100000000", false, 0},
      {"", false, 0},
      {"0x", false, 0},
      {"$", false, 0},
      {"12abc", false, 0},
      {"1 2", false, 0},
      {"ten", false, 0},
      {"1.5", false, 0},
      {"0x-5", false, 0},
      {"99999999999999999999", false, 0},
  };
  for (const Case& c : cases) {
    int32_t v = 12345;
    EXPECT_EQ(parseSettingsInteger(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

TEST(Settings, MissingFileGivesDefaults) {
  TempDir dir;
  const Settings s = readSettings(dir.file("tarvo.ini"));
  EXPECT_EQ(s.oscFreq, 910);
  EXPECT_EQ(s.optionCode, 255);
  EXPECT_EQ(s.address, "");
  EXPECT_EQ(s.port, 0);
}

TEST(Settings, CrlfBomCommentsBlanksAndCase) {
  TempDir dir;
  dir.writeText("tarvo.ini",
                "\xEF\xBB\xBF; settings of the machine\r\n"
                "[settings]\r\n"
                "  # indented comment\r\n"
                "   oscfreq   =   0x400   \r\n"
                "\r\n"
                "OPTIONCODE=341\r\n"
                "[ Floppy Disk Drive ]\r\n"
                "  address = 127.0.0.1 \r\n"
                "\tPort\t=\t$1F90\r\n");
  const Settings s = readSettings(dir.file("tarvo.ini"));
  EXPECT_EQ(s.oscFreq, 1024);
  EXPECT_EQ(s.optionCode, 341);
  EXPECT_EQ(s.address, "127.0.0.1");
  EXPECT_EQ(s.port, 0x1F90);
}

TEST(Settings, GarbageValuesAndWrongSectionsGiveDefaults) {
  TempDir dir;
  dir.writeText("tarvo.ini",
                "OscFreq=100\n"  // before any section
                "[Other]\n"
                "OptionCode=85\n"
                "[Settings]\n"
                "OscFreq=fast\n"
                "OptionCode\n"
                "this line is not a setting\n"
                "[Floppy Disk Drive]\n"
                "Port=80x\n");
  const Settings s = readSettings(dir.file("tarvo.ini"));
  EXPECT_EQ(s.oscFreq, 910);
  EXPECT_EQ(s.optionCode, 255);
  EXPECT_EQ(s.port, 0);
}

// Lines of any length are read whole: blanks, comments, padded section
// names and values as long as a line the ini library would cut in two.
TEST(Settings, LongLinesAreReadWhole) {
  const std::string blanks(190, ' ');
  const std::string zeros(400, '0');
  TempDir dir;
  dir.writeText("tarvo.ini",
                "[Settings]\n"
                "OscFreq=" +
                    blanks +
                    "455\n"
                    "OptionCode = " +
                    zeros + "341 ;" + std::string(300, 'x') +
                    "\n"
                    "Unknown" +
                    blanks + "Key = 1\n" + std::string(300, 'k') +
                    " = 2\n"
                    "[" +
                    blanks + "Floppy Disk Drive" + blanks +
                    "]\n"
                    "Address = " +
                    blanks + "127.0.0.1" + blanks +
                    "\n"
                    "Port=" +
                    zeros + "8080\n");
  const Settings s = readSettings(dir.file("tarvo.ini"));
  EXPECT_EQ(s.oscFreq, 455);
  EXPECT_EQ(s.optionCode, 341);
  EXPECT_EQ(s.address, "127.0.0.1");
  EXPECT_EQ(s.port, 8080);

  // A long value that is no setting gives the default, and a long line
  // leaks nothing into the lines after it.
  dir.writeText("tarvo.ini",
                "[Settings]\n"
                "OscFreq=" +
                    std::string(250, '9') +
                    "\n"
                    "[" +
                    std::string(250, 's') +
                    "]\n"
                    "OptionCode=85\n"
                    "[Floppy Disk Drive]\n"
                    "Address=" +
                    std::string(190, '1') +
                    "OptionCode=85\n"
                    "Port=\x01"
                    "0\n");
  const Settings t = readSettings(dir.file("tarvo.ini"));
  EXPECT_EQ(t.oscFreq, 910);
  EXPECT_EQ(t.optionCode, 255);
  EXPECT_EQ(t.address, std::string(190, '1') + "OptionCode=85");
  EXPECT_EQ(t.port, 0);
}

TEST(Settings, FirstOccurrenceWinsAndInlineCommentsGo) {
  TempDir dir;
  dir.writeText("tarvo.ini",
                "[Settings]\n"
                "OscFreq=500 ; half speed\n"
                "OscFreq=700\n"
                "[settings]\n"
                "OptionCode=0x55\n");
  const Settings s = readSettings(dir.file("tarvo.ini"));
  EXPECT_EQ(s.oscFreq, 500);
  EXPECT_EQ(s.optionCode, 0x55);
}

TEST(Settings, DirectoryInPlaceGivesDefaults) {
  TempDir dir;
  ASSERT_EQ(::mkdir(dir.file("tarvo.ini").c_str(), 0755), 0);
  EXPECT_EQ(readSettings(dir.file("tarvo.ini")).oscFreq, 910);
}

TEST(MachinePath, JoinsBareNames) {
  EXPECT_EQ(machinePath(".", "rom0.bin"), "rom0.bin");
  EXPECT_EQ(machinePath("", "rom0.bin"), "rom0.bin");
  EXPECT_EQ(machinePath("/m", "rom0.bin"), "/m/rom0.bin");
  EXPECT_EQ(machinePath("/m/", "rom0.bin"), "/m/rom0.bin");
}

}  // namespace
}  // namespace tarvo
