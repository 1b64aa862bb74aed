// tarvo-disk as a process on 127.0.0.1, met by machines that misbehave:
// bad names, a way out of its directory, files too large for it, a flood of
// bytes nobody reads, callers that stall in the middle of a save, more
// callers than it serves at once. Through all of it the server keeps
// serving the machines that behave, and at the end it is still running and
// its directory holds exactly what they stored.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "../support/loopback.h"
#include "disk_process.h"

namespace tarvo::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

class Scratch {
 public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "tarvo-disk-cli-XXXXXX").string();
    if (::mkdtemp(pattern.data())) path_ = pattern;
    fs::create_directory(path_ / "disk");
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  fs::path disk() const { return path_ / "disk"; }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::map<std::string, Bytes> contents(const fs::path& dir) {
  std::map<std::string, Bytes> files;
  for (const auto& e : fs::directory_iterator(dir)) {
    std::ifstream in(e.path(), std::ios::binary);
    files[e.path().filename().string()] =
        Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return files;
}

Bytes pattern(std::size_t n, uint8_t seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

TEST(DiskServer, HostileCallersLeaveItServingAndItsDirectoryIntact) {
  Scratch scratch;
  DiskProcess server(scratch.disk(),
                     {"--timeout", "1", "--max-file", "3000", "--max-bytes", "7000"});
  ASSERT_NE(server.port(), 0) << "tarvo-disk did not come up";
  const int port = server.port();
  std::map<std::string, Bytes> expected;

  {
    DiskCall call(port);
    ASSERT_TRUE(call.opened());
    expected["KEEP"] = pattern(1500, 1);
    ASSERT_EQ(call->save("KEEP", expected["KEEP"]), 0);
  }

  // Names that are no plain name of the directory, each refused, and every
  // byte of the rest of the command refused with it.
  for (const std::string name : {"../x", "..", "../../etc/passwd", "/tmp/x", "a/b", "", ".hidden",
                                 "A1234567890BCDEFG", "A B", "a\\b", "NUL\x01"}) {
    DiskCall call(port);
    EXPECT_EQ(call->save(name, pattern(10, 2)), 2) << name;
    EXPECT_TRUE(call->errorsHeld()) << name;
  }

  // A file larger than a file may be, sent whole all the same; then files
  // that each fit but together overflow the directory.
  {
    DiskCall call(port);
    EXPECT_EQ(call->save("HUGE", pattern(65535, 3)), 4);
    EXPECT_TRUE(call->errorsHeld());
  }
  {
    DiskCall call(port);
    expected["A"] = pattern(3000, 4);
    EXPECT_EQ(call->save("A", expected["A"]), 0);
    EXPECT_EQ(call->save("B", pattern(3000, 5)), 5);  // 1500 + 3000 + 3000 > 7000
  }
  {
    DiskCall call(port);
    expected["B"] = pattern(900, 6);
    EXPECT_EQ(call->save("B", expected["B"]), 0);
  }

  // A flood of bytes from a peer that reads none of its answers.
  const int flood = connectLoopback(port);
  ASSERT_GE(flood, 0);
  {
    const Bytes junk(1 << 16, 'S');
    ::fcntl(flood, F_SETFL, O_NONBLOCK);
    for (int i = 0; i < 64; ++i) ::send(flood, junk.data(), junk.size(), MSG_NOSIGNAL);
  }

  // A caller that stalls in the middle of replacing KEEP; meanwhile another
  // machine is served as usual.
  DiskCall stalled(port);
  ASSERT_TRUE(stalled.opened());
  for (uint8_t b : Bytes{'S', 4, 'K', 'E', 'E', 'P', 0xE8, 0x03}) {
    ASSERT_TRUE(stalled.link().sendByte(b));
    uint8_t answer = 0xFF;
    ASSERT_TRUE(stalled.link().receiveByte(answer));
    ASSERT_EQ(answer, 0);
  }
  {
    DiskCall call(port);
    Bytes data;
    EXPECT_EQ(call->load("KEEP", data), 0);
    EXPECT_EQ(data, expected["KEEP"]);
  }
  // Silent past the timeout: hung up on, and the save is dropped.
  std::this_thread::sleep_for(milliseconds(1600));
  EXPECT_FALSE(stalled.link().sendByte(0x11) && [&] {
    uint8_t answer;
    return stalled.link().receiveByte(answer);
  }()) << "a stalled caller was still being served";
  ::close(flood);

  // Two machines whose bytes arrive interleaved, one byte each in turn.
  {
    DiskCall one(port), two(port);
    const Bytes a = pattern(700, 7), b = pattern(900, 8);
    std::vector<uint8_t> first = {'S', 2, 'M', '1', 700 & 0xFF, 700 >> 8};
    std::vector<uint8_t> second = {'S', 2, 'M', '2', 900 & 0xFF, 900 >> 8};
    first.insert(first.end(), a.begin(), a.end());
    second.insert(second.end(), b.begin(), b.end());
    for (std::size_t i = 0; i < std::max(first.size(), second.size()); ++i) {
      for (auto* side : {&first, &second}) {
        if (i >= side->size()) continue;
        TcpDiskLink& link = side == &first ? one.link() : two.link();
        link.startTick();
        uint8_t answer = 0xFF;
        ASSERT_TRUE(link.sendByte((*side)[i]) && link.receiveByte(answer));
        ASSERT_EQ(answer, 0);
      }
    }
    Bytes back;
    EXPECT_EQ(one->load("M2", back), 0);
    EXPECT_EQ(back, b);
    EXPECT_EQ(two->load("M1", back), 0);
    EXPECT_EQ(back, a);
    EXPECT_EQ(one->kill("M1"), 0);
    EXPECT_EQ(two->kill("M2"), 0);
  }

  // More callers than it serves at once, all silent: a machine is hung up
  // on while they hold it, and served once they have timed out.
  {
    std::vector<int> idle;
    for (int i = 0; i < 12; ++i) idle.push_back(connectLoopback(port));
    std::this_thread::sleep_for(milliseconds(100));
    {
      DiskCall call(port);
      std::vector<std::pair<std::string, int>> listing;
      EXPECT_EQ(call->files(listing), DiskClient::kLinkFailed);
    }
    std::this_thread::sleep_for(milliseconds(1600));
    DiskCall call(port);
    std::vector<std::pair<std::string, int>> listing;
    EXPECT_EQ(call->files(listing), 0);
    EXPECT_EQ(listing,
              (std::vector<std::pair<std::string, int>>{{"A", 3000}, {"B", 900}, {"KEEP", 1500}}));
    for (int fd : idle) ::close(fd);
  }

  EXPECT_TRUE(server.running());
  EXPECT_EQ(contents(scratch.disk()), expected);
  // Nothing was written beside the directory either.
  std::vector<std::string> beside;
  for (const auto& e : fs::directory_iterator(scratch.path()))
    beside.push_back(e.path().filename().string());
  EXPECT_EQ(beside, std::vector<std::string>{"disk"});
  EXPECT_EQ(server.stop(), 0);
}

}  // namespace
}  // namespace tarvo::test
