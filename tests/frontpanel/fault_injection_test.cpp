// Files that go wrong at start and at close, with real failures from the
// kernel: a file system that fills up (a small tmpfs, where mounting is
// allowed), a file size limit (RLIMIT_FSIZE, which makes write() fail with
// EFBIG), and directories, FIFOs, devices and broken links in place of the
// images. Whatever happens, the images on disk are either left exactly as
// they were or replaced whole, and the messages name the right files.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "frontpanel/input_log.h"
#include "frontpanel/run_loop.h"
#include "machine.h"
#include "temp_dir.h"

namespace tarvo {
namespace {

using test::pattern;
using test::RecordingMessages;
using test::TempDir;

// What a user has stored: RAM images and registers that differ from what
// the machine will hold at close.
struct StoredState {
  std::vector<uint8_t> ram0 = pattern(65536, 11);
  std::vector<uint8_t> ram1 = pattern(32768, 22);
  std::vector<uint8_t> regs = pattern(36, 33);

  void writeTo(const TempDir& dir) const {
    dir.write("ram0.bin", ram0);
    dir.write("ram1.bin", ram1);
    dir.write("register.bin", regs);
  }
};

// A machine started on dir whose RAM and registers have then changed.
struct Session {
  std::unique_ptr<Machine> m = std::make_unique<Machine>();
  RecordingMessages messages;
  RunLoop loop;

  explicit Session(const std::string& dir) : loop(*m, messages, dir) {
    loop.create();
    loop.show(false);
  }
  void change() {
    m->mem.rows[kRam0Row].buffer[0x1234] ^= 0xFF;
    m->mem.rows[kRam1Row].buffer[0x0042] ^= 0xFF;
    m->cpu.R[7] ^= 0xFF;
  }
  std::vector<std::string> closeAndCollect() {
    messages.shown.clear();
    loop.close();
    return messages.shown;
  }
};

std::vector<std::string> saveFailures(std::initializer_list<const char*> names) {
  std::vector<std::string> v;
  for (const char* n : names) v.push_back(saveFailedMessage(n));
  return v;
}

// A tmpfs of the given size mounted over a fresh directory for the life of
// the object, when the process may mount at all.
class SmallFileSystem {
 public:
  explicit SmallFileSystem(const std::string& size) {
    mounted_ = ::mount("tmpfs", dir_.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                       ("size=" + size).c_str()) == 0;
  }
  ~SmallFileSystem() {
    if (mounted_) ::umount2(dir_.path().c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  const TempDir& dir() const { return dir_; }

  // Fills what is left with a file that takes every free block.
  void fill() const {
    const std::vector<uint8_t> block(4096, 0);
    FILE* f = std::fopen(dir_.file("filler").c_str(), "wb");
    if (!f) return;
    while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {
    }
    std::fclose(f);
    // Whatever a partial block could still take.
    f = std::fopen(dir_.file("filler2").c_str(), "wb");
    if (!f) return;
    while (std::fputc(0, f) != EOF && std::fflush(f) == 0) {
    }
    std::fclose(f);
  }

 private:
  TempDir dir_;
  bool mounted_ = false;
};

TEST(FullDisk, EverySaveFailsAndTheOldImagesStay) {
  SmallFileSystem fs("160k");
  if (!fs.mounted()) GTEST_SKIP() << "this process may not mount a tmpfs";
  const TempDir& dir = fs.dir();
  const StoredState stored;
  stored.writeTo(dir);
  Session s(dir.path());
  s.change();
  fs.fill();
  EXPECT_EQ(s.closeAndCollect(), saveFailures({"register.bin", "ram0.bin", "ram1.bin"}));
  EXPECT_EQ(dir.read("ram0.bin"), stored.ram0);
  EXPECT_EQ(dir.read("ram1.bin"), stored.ram1);
  EXPECT_EQ(dir.read("register.bin"), stored.regs);
  // No half-written temporary file takes up the space either.
  for (const std::string& name : dir.entries()) EXPECT_NE(name[0], '.') << name;
}

TEST(FullDisk, RoomForSomeFilesOnly) {
  // Room for the registers and ram1, not for ram0: the ones that fit are
  // replaced, the other stays as it was.
  SmallFileSystem fs("160k");
  if (!fs.mounted()) GTEST_SKIP() << "this process may not mount a tmpfs";
  const TempDir& dir = fs.dir();
  const StoredState stored;
  stored.writeTo(dir);
  Session s(dir.path());
  s.change();
  // 160 KB less the three images (100 KB) leaves 60 KB: ram0's new copy
  // (64 KB) cannot be written, the others can.
  const auto ram0Before = dir.read("ram0.bin");
  EXPECT_EQ(s.closeAndCollect(), saveFailures({"ram0.bin"}));
  EXPECT_EQ(dir.read("ram0.bin"), ram0Before);
  EXPECT_NE(dir.read("ram1.bin"), stored.ram1);
  EXPECT_EQ(dir.read("ram1.bin"), s.m->mem.rows[kRam1Row].buffer);
  EXPECT_NE(dir.read("register.bin"), stored.regs);
}

// RLIMIT_FSIZE for this process while the object lives, with SIGXFSZ
// ignored, so that writing past the limit fails with EFBIG.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit old_{};
  void (*oldHandler_)(int) = nullptr;
};

TEST(FileTooLarge, OnlyTheImageOverTheLimitFailsAndStaysAsItWas) {
  TempDir dir;
  const StoredState stored;
  stored.writeTo(dir);
  Session s(dir.path());
  s.change();
  std::vector<std::string> shown;
  {
    const FileSizeLimit limit(40000);  // ram1 (32 KB) fits, ram0 (64 KB) does not
    shown = s.closeAndCollect();
  }
  EXPECT_EQ(shown, saveFailures({"ram0.bin"}));
  EXPECT_EQ(dir.read("ram0.bin"), stored.ram0);
  EXPECT_EQ(dir.read("ram1.bin"), s.m->mem.rows[kRam1Row].buffer);
  ASSERT_EQ(dir.read("register.bin").size(), 36u);
  EXPECT_EQ(dir.read("register.bin")[7], s.m->cpu.R[7]);
  EXPECT_EQ(dir.entries().size(), 3u) << "a temporary file was left behind";
}

TEST(FileTooLarge, NothingFitsNothingChanges) {
  TempDir dir;
  const StoredState stored;
  stored.writeTo(dir);
  Session s(dir.path());
  s.change();
  std::vector<std::string> shown;
  {
    const FileSizeLimit limit(10);
    shown = s.closeAndCollect();
  }
  EXPECT_EQ(shown, saveFailures({"register.bin", "ram0.bin", "ram1.bin"}));
  EXPECT_EQ(dir.read("ram0.bin"), stored.ram0);
  EXPECT_EQ(dir.read("ram1.bin"), stored.ram1);
  EXPECT_EQ(dir.read("register.bin"), stored.regs);
  EXPECT_EQ(dir.entries().size(), 3u);
}

TEST(CloseFaults, RamImageReplacedByADirectoryWhileRunning) {
  TempDir dir;
  const StoredState stored;
  stored.writeTo(dir);
  Session s(dir.path());
  s.change();
  // Someone moves the image away and leaves a directory with a file in it.
  ASSERT_EQ(::rename(dir.file("ram1.bin").c_str(), dir.file("ram1.old").c_str()), 0);
  ASSERT_EQ(::mkdir(dir.file("ram1.bin").c_str(), 0755), 0);
  const std::string keep = dir.file("ram1.bin") + "/keep";
  { std::ofstream(keep) << "mine"; }
  EXPECT_EQ(s.closeAndCollect(), saveFailures({"ram1.bin"}));
  EXPECT_TRUE(dir.isDirectory("ram1.bin"));
  EXPECT_TRUE(std::filesystem::exists(keep));
  EXPECT_EQ(dir.read("ram1.old"), stored.ram1);
  EXPECT_EQ(dir.read("ram0.bin"), s.m->mem.rows[kRam0Row].buffer);
}

// Shapes an image can take at start. Each is put in place of every image at
// once; the start must finish promptly, and the close must leave whatever
// could not be read exactly as it was.
enum class Shape { Empty, Truncated, Enlarged, Directory, Fifo, Device, DanglingLink, LinkLoop };

const char* const kImages[] = {"charset.bin", "register.bin", "rom0.bin", "rom1.bin",
                               "ram0.bin",    "ram1.bin",     "rom2.bin", "rom3.bin"};

std::size_t fullSize(const std::string& name) {
  if (name == "charset.bin") return 2048;
  if (name == "register.bin") return 36;
  if (name == "rom0.bin") return 6144;
  if (name == "ram1.bin") return 32768;
  return 65536;
}

void makeShape(const TempDir& dir, const std::string& name, Shape shape) {
  const std::string path = dir.file(name);
  const std::size_t n = fullSize(name);
  switch (shape) {
    case Shape::Empty:
      dir.write(name, {});
      break;
    case Shape::Truncated:
      dir.write(name, pattern(n - 1, 5));
      break;
    case Shape::Enlarged:
      dir.write(name, pattern(n + 1000, 5));
      break;
    case Shape::Directory:
      ASSERT_EQ(::mkdir(path.c_str(), 0755), 0);
      break;
    case Shape::Fifo:
      ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
      break;
    case Shape::Device:
      ASSERT_EQ(::symlink("/dev/zero", path.c_str()), 0);
      break;
    case Shape::DanglingLink:
      ASSERT_EQ(::symlink((path + ".nowhere").c_str(), path.c_str()), 0);
      break;
    case Shape::LinkLoop:
      ASSERT_EQ(::symlink(path.c_str(), path.c_str()), 0);
      break;
  }
}

struct ShapeCase {
  Shape shape;
  const char* name;
  bool readable;  // a regular file (or none at all) is read; the rest is not
};

void PrintTo(const ShapeCase& c, std::ostream* os) {
  *os << c.name;
}

class StartShapes : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(StartShapes, StartFinishesAndCloseKeepsWhatItCouldNotRead) {
  const ShapeCase c = GetParam();
  TempDir dir;
  for (const char* name : kImages) makeShape(dir, name, c.shape);
  struct stat before[std::size(kImages)];
  for (std::size_t i = 0; i < std::size(kImages); ++i)
    ASSERT_EQ(::lstat(dir.file(kImages[i]).c_str(), &before[i]), 0);

  auto m = std::make_unique<Machine>();
  RecordingMessages messages;
  RunLoop loop(*m, messages, dir.path());
  auto started = std::async(std::launch::async, [&] {
    loop.create();
    loop.show(false);
  });
  ASSERT_EQ(started.wait_for(std::chrono::seconds(10)), std::future_status::ready)
      << "the start blocked on " << c.name;
  started.get();

  std::vector<std::string> expected;
  // What the close says: the kept files were not saved.
  std::vector<std::string> closeExpected;
  if (c.shape == Shape::Enlarged) {
    // Every image gave all its bytes: nothing to report.
  } else if (c.readable) {
    // Missing or short: only the character set and the on-chip ROM say so.
    expected = {loadFailedMessage("charset.bin"), loadFailedMessage("rom0.bin")};
  } else {
    // Not a file that can be read: the character set, the registers, the
    // on-chip ROM and the RAM images say so; the registers and the RAM
    // images will be kept.
    expected = {loadFailedMessage("charset.bin"), loadFailedMessage("register.bin"),
                loadFailedMessage("rom0.bin"), loadFailedMessage("ram0.bin"),
                loadFailedMessage("ram1.bin")};
    closeExpected = {saveFailedMessage("register.bin"), saveFailedMessage("ram0.bin"),
                     saveFailedMessage("ram1.bin")};
  }
  EXPECT_EQ(messages.shown, expected);
  if (c.shape == Shape::Enlarged) {
    EXPECT_EQ(m->mem.rows[kRam0Row].buffer[65535], pattern(65536 + 1000, 5)[65535]);
    EXPECT_EQ(m->cpu.R[31], pattern(36, 5)[31]);
  }

  messages.shown.clear();
  loop.close();
  EXPECT_EQ(messages.shown, closeExpected);
  for (std::size_t i = 0; i < std::size(kImages); ++i) {
    const std::string name = kImages[i];
    const bool written = name == "ram0.bin" || name == "ram1.bin" || name == "register.bin";
    struct stat after;
    ASSERT_EQ(::lstat(dir.file(name).c_str(), &after), 0) << name;
    if (written && c.shape == Shape::DanglingLink) {
      // The link stays, and the file it names now holds the whole image.
      EXPECT_TRUE(S_ISLNK(after.st_mode)) << name;
      ASSERT_EQ(::stat(dir.file(name).c_str(), &after), 0) << name;
      EXPECT_EQ(static_cast<std::size_t>(after.st_size), fullSize(name)) << name;
    } else if (written && c.readable) {
      // Replaced by the machine's whole image.
      EXPECT_TRUE(S_ISREG(after.st_mode)) << name;
      EXPECT_EQ(static_cast<std::size_t>(after.st_size), fullSize(name)) << name;
    } else {
      // Left exactly as it was: same kind, same inode, same size.
      EXPECT_EQ(after.st_mode, before[i].st_mode) << name;
      EXPECT_EQ(after.st_ino, before[i].st_ino) << name;
      EXPECT_EQ(after.st_size, before[i].st_size) << name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Images, StartShapes,
                         ::testing::Values(ShapeCase{Shape::Empty, "Empty", true},
                                           ShapeCase{Shape::Truncated, "Truncated", true},
                                           ShapeCase{Shape::Enlarged, "Enlarged", true},
                                           ShapeCase{Shape::Directory, "Directory", false},
                                           ShapeCase{Shape::Fifo, "Fifo", false},
                                           ShapeCase{Shape::Device, "Device", false},
                                           ShapeCase{Shape::DanglingLink, "DanglingLink", true},
                                           ShapeCase{Shape::LinkLoop, "LinkLoop", false}),
                         [](const ::testing::TestParamInfo<ShapeCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(StartFaults, DanglingLinkIsFollowedAndKept) {
  // A link to nowhere reads as a missing file; the save creates the file it
  // names, as writing the name would, and the link stays.
  TempDir dir;
  const std::string target = dir.file("elsewhere.bin");
  ASSERT_EQ(::symlink(target.c_str(), dir.file("ram1.bin").c_str()), 0);
  Session s(dir.path());
  s.loop.close();
  struct stat st;
  ASSERT_EQ(::lstat(dir.file("ram1.bin").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 32768);
}

TEST(StartFaults, MegabytesOfGarbageSettings) {
  std::mt19937 rng(99);
  const auto garbage = [&](std::size_t n, bool text) {
    std::string s(n, '\0');
    for (char& ch : s) {
      const unsigned r = rng();
      ch = text ? " =[];\n\r\tOscFreqPort0x$"[r % 22] : static_cast<char>(r);
    }
    return s;
  };
  const std::string settings = "[Settings]\nOscFreq=1234\n";
  const std::vector<std::pair<std::string, std::string>> files = {
      {"binary 4 MB", garbage(4 << 20, false)},
      {"text 3 MB", garbage(3 << 20, true)},
      {"one line of 2 MB", std::string(2 << 20, 'x')},
      {"900 KB of garbage, then settings", garbage(900 << 10, true) + "\n" + settings},
      {"NUL bytes, then settings", std::string(1000, '\0') + settings},
  };
  for (const auto& [what, text] : files) {
    SCOPED_TRACE(what);
    TempDir dir;
    dir.writeText("tarvo.ini", text);
    auto m = std::make_unique<Machine>();
    RecordingMessages messages;
    RunLoop loop(*m, messages, dir.path());
    const auto start = std::chrono::steady_clock::now();
    loop.create();
    loop.show(false);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
    // Text after NUL bytes is not read; nothing ever spills past a line.
    const Settings& st = loop.settings();
    if (what.rfind("NUL", 0) == 0) {
      EXPECT_EQ(st.oscFreq, 910);
    }
    EXPECT_EQ(st.address.find('\n'), std::string::npos);
    // The ini file is never written.
    loop.close();
    EXPECT_EQ(dir.read("tarvo.ini").size(), text.size());
  }
}

// An input recording and its start state replace the old pair together:
// whichever of the two cannot be written whole (too large for the limit,
// a directory in its place, no folder), neither old file changes and no
// temporary file stays.
TEST(RecordingPair, NeverHalfReplaced) {
  const std::vector<InputEvent> few = {{10, InputKind::HostChar, 69}, {20, InputKind::HostUp, 0}};
  std::vector<InputEvent> many;
  for (int i = 0; i < 20000; ++i) many.push_back({i * 1000, InputKind::HostChar, 63});
  const std::vector<uint8_t> bigState = pattern(100000, 5), smallState = pattern(1000, 6);
  struct Case {
    const char* what;
    std::vector<uint8_t> state;
    std::vector<InputEvent> events;
    rlim_t limit;
    bool eventsAreADirectory;
  };
  const Case cases[] = {
      {"the state over the limit", bigState, few, 50000, false},
      {"the events over the limit", smallState, many, 50000, false},
      {"a directory for the events", smallState, few, RLIM_INFINITY, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::vector<uint8_t> oldState = pattern(3000, 7);
    dir.write("recording.tst", oldState);
    std::string oldText;
    if (c.eventsAreADirectory) {
      ASSERT_EQ(::mkdir(dir.file("recording.txt").c_str(), 0755), 0);
    } else {
      oldText = formatInputLog(few);
      dir.writeText("recording.txt", oldText);
    }
    bool saved = true;
    {
      const FileSizeLimit limit(c.limit);
      saved =
          writeRecording(dir.file("recording.tst"), c.state, dir.file("recording.txt"), c.events);
    }
    EXPECT_FALSE(saved);
    EXPECT_EQ(dir.read("recording.tst"), oldState);
    if (!c.eventsAreADirectory) {
      const std::vector<uint8_t> text = dir.read("recording.txt");
      EXPECT_EQ(std::string(text.begin(), text.end()), oldText);
    }
    EXPECT_EQ(dir.entries().size(), 2u) << "a temporary file was left behind";
  }
  // Both fit: both are replaced.
  TempDir dir;
  ASSERT_TRUE(writeRecording(dir.file("recording.tst"), bigState, dir.file("recording.txt"), many));
  EXPECT_EQ(dir.read("recording.tst"), bigState);
  std::vector<InputEvent> back;
  EXPECT_EQ(readInputLog(dir.file("recording.txt"), back), "");
  EXPECT_EQ(back, many);
  EXPECT_EQ(dir.entries().size(), 2u);
}

}  // namespace
}  // namespace tarvo
