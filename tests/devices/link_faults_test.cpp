// Disk-link faults met by a running machine: a program talks to the drive in
// rounds of eight byte exchanges while the run loop drives it, and the disk
// server misbehaves. Whatever the server does, every run tick ends within
// the link's bound, the program keeps running, the replies it takes are the
// ones the server gave to its bytes, and no descriptor or thread is left
// behind.
#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../support/loopback.h"
#include "devices/disk_link.h"
#include "devices/port.h"
#include "frontpanel/run_loop.h"
#include "machine.h"
#include "tools/xasm.h"

namespace tarvo {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kLinkBoundMs = 200;

int countEntries(const char* dir) {
  int n = 0;
  if (DIR* d = ::opendir(dir)) {
    while (::readdir(d)) ++n;
    ::closedir(d);
  }
  return n;
}
int openDescriptors() {
  return countEntries("/proc/self/fd");
}
int threads() {
  return countEntries("/proc/self/task");
}

// The drive conversation: connect, exchange eight bytes, hang up, again and
// again. A reply is logged at 0x2000 + the byte that asked for it, but only
// when the ready line says that it came. $1 is the next byte, $3 counts the
// rounds.
constexpr const char* kDriveProgram = R"(
        org &h1000
start:  pre ix,&h0C00       ; I/O window (IX side is segment 0)
        pre iz,&h2000       ; reply log (IZ side is segment 1)
        pst pe,&h38         ; lines 3, 4 and 5 are outputs
        ld $1,0
        ld $3,0
round:  pst pd,&h18         ; line 4 high: hang up
        pst pd,&h08         ; lines 4 and 5 low: call, registers open
        ld $4,8
ex:     st $1,(ix+4)        ; byte for the drive
        pst pd,&h00         ; line 3 falls: exchange
        gpo $5
        an $5,4             ; input line 2: a reply came
        jr z,skip
        ld $2,(ix+3)
        st $2,(iz+$1)
skip:   pst pd,&h08         ; line 3 high again
        ad $1,1
        sb $4,1
        jr nz,ex
        ad $3,1
        jr round
)";

constexpr uint8_t kReplyXor = 0x5A;  // the test servers answer b with b ^ 0x5A
constexpr uint32_t kLog = 0x12000;

struct NoMessages : Messages {
  void loadFailed(const std::string&) override {}
  void saveFailed(const std::string&) override {}
};

// A machine with nothing loaded, configured for a drive at address:port,
// running the drive program from segment 1.
class DriveMachine {
 public:
  DriveMachine(const std::string& address, int port) : loop_(m_, messages_, "/nonexistent") {
    loop_.create();
    m_.port.address = address;
    m_.port.portNumber = port;
    m_.port.optionCode = 0x55;
    m_.port.fddSocket = std::make_unique<TcpDiskLink>(kLinkBoundMs);
    loop_.show(true);

    XasmOptions options;
    const XasmOutput out = assembleProgram(
        "drive.s", options, [](const std::string&) { return std::string(kDriveProgram); });
    if (!out.ok()) {
      ADD_FAILURE() << formatXasmError(out.errors.front());
      return;
    }
    std::vector<uint8_t>& ram = m_.mem.rows[kRam0Row].buffer;
    std::copy(out.image.begin(), out.image.end(), ram.begin() + out.imageBase);
    // Unlogged entries hold their own index, which no reply ever is.
    for (int i = 0; i < 256; ++i) ram[(kLog & 0xFFFF) + i] = static_cast<uint8_t>(i);
    m_.cpu.PC = 0x1000;
    m_.cpu.UA = m_.cpu.segmentLatch = 0x41;
  }

  // Runs n ticks; returns the longest one in seconds.
  double runTicks(int n) {
    double longest = 0;
    for (int i = 0; i < n; ++i) {
      const auto start = Clock::now();
      loop_.runTick();
      longest = std::max(longest, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return longest;
  }

  uint8_t reg(int n) const { return m_.cpu.R[n]; }
  uint8_t logged(int i) const { return m_.mem.rows[kRam0Row].buffer[(kLog & 0xFFFF) + i]; }
  uint64_t steps() const { return loop_.stepsRun(); }
  Machine& machine() { return m_; }

  // Replies in the log that are the server's answer to their byte, and
  // whether every logged entry is such an answer.
  int goodReplies(bool* allGood) const {
    int good = 0;
    *allGood = true;
    for (int i = 0; i < 256; ++i) {
      const uint8_t v = logged(i);
      if (v == (i ^ kReplyXor)) {
        ++good;
      } else if (v != i) {
        *allGood = false;
      }
    }
    return good;
  }

 private:
  Machine m_;
  NoMessages messages_;
  RunLoop loop_;
};

using FaultyServer = test::TestServer;

class LinkFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    descriptors_ = openDescriptors();
    threads_ = threads();
  }
  void TearDown() override {
    EXPECT_EQ(openDescriptors(), descriptors_) << "a descriptor was left open";
    // A joined thread can still be listed for a moment while the kernel
    // reaps it; one that was left running never goes away.
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (threads() != threads_ && Clock::now() < deadline)
      std::this_thread::sleep_for(milliseconds(5));
    EXPECT_EQ(threads(), threads_) << "a thread was left running";
  }
  // Generous for a loaded machine, but far below a hang.
  static constexpr double kTickBound = kLinkBoundMs / 1000.0 + 0.5;

 private:
  int descriptors_ = 0;
  int threads_ = 0;
};

TEST_F(LinkFaults, ServerThatStallsForever) {
  {
    FaultyServer server([](int fd, const std::atomic<bool>& stop) {
      uint8_t b;
      while (FaultyServer::readByte(fd, stop, b)) {
      }
    });
    DriveMachine dm("127.0.0.1", server.port());
    const double longest = dm.runTicks(8);
    EXPECT_LT(longest, kTickBound);
    // Each tick meets a stall, gives up and goes on with the next round.
    EXPECT_GE(dm.reg(3), 6);
    bool allGood = false;
    EXPECT_EQ(dm.goodReplies(&allGood), 0);
    EXPECT_TRUE(allGood);
  }
}

TEST_F(LinkFaults, ServerThatHangsUpAfterARandomNumberOfBytes) {
  std::mt19937 rng(20240611);
  // Per connection: how many bytes to answer, and whether to reset.
  std::vector<std::pair<int, bool>> plan(400);
  for (auto& p : plan) p = {static_cast<int>(rng() % 12), (rng() & 1) != 0};
  std::atomic<std::size_t> connection{0};
  {
    FaultyServer server([&](int fd, const std::atomic<bool>& stop) {
      const auto [answers, reset] = plan[connection++ % plan.size()];
      uint8_t b;
      for (int i = 0; i < answers; ++i) {
        if (!FaultyServer::readByte(fd, stop, b)) return;
        const uint8_t reply = b ^ kReplyXor;
        if (::send(fd, &reply, 1, MSG_NOSIGNAL) != 1) return;
      }
      if (reset) {
        const linger hard{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
      }
    });
    DriveMachine dm("127.0.0.1", server.port());
    const double longest = dm.runTicks(200);
    EXPECT_LT(longest, kTickBound);
    EXPECT_GE(connection.load(), 50u);
    bool allGood = false;
    EXPECT_GT(dm.goodReplies(&allGood), 100);
    EXPECT_TRUE(allGood) << "a reply reached the machine for the wrong byte";
  }
}

TEST_F(LinkFaults, ServerThatSendsMoreThanAsked) {
  {
    // Every answer comes with 1 to 3 bytes nobody asked for, in the same
    // segment, so that they are already waiting when the next byte goes out.
    FaultyServer server([&](int fd, const std::atomic<bool>& stop) {
      uint8_t b;
      int n = 0;
      while (FaultyServer::readByte(fd, stop, b)) {
        const uint8_t burst[4] = {static_cast<uint8_t>(b ^ kReplyXor), 0xA5, 0xA5, 0xA5};
        const std::size_t length = 2 + static_cast<std::size_t>(n++ % 3);
        if (::send(fd, burst, length, MSG_NOSIGNAL) != static_cast<ssize_t>(length)) return;
      }
    });
    DriveMachine dm("127.0.0.1", server.port());
    const double longest = dm.runTicks(20);
    EXPECT_LT(longest, kTickBound);
    EXPECT_GE(dm.reg(3), 40);
    bool allGood = false;
    EXPECT_EQ(dm.goodReplies(&allGood), 256);
    EXPECT_TRUE(allGood) << "bytes nobody asked for were taken as replies";
  }
}

TEST_F(LinkFaults, ConnectionRefused) {
  // A port that was bound and released: nothing listens there.
  const int port = test::refusingPort();
  DriveMachine dm("127.0.0.1", port);
  const auto start = Clock::now();
  const double longest = dm.runTicks(50);
  EXPECT_LT(longest, kTickBound);
  EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 5.0);
  // A refused call ends its tick; the next tick calls again.
  EXPECT_GE(dm.reg(3), 45);
  EXPECT_FALSE(dm.machine().port.fddSocket->connected());
}

TEST_F(LinkFaults, ConnectsThatAreNeverAnswered) {
  // A listener on 127.0.0.1 with a backlog of 0 that one queued connection
  // already fills: the calls either fail at once or are never answered,
  // and both must end within the bound.
  const test::BoundSocket listener(true, 0);
  ASSERT_GE(listener.fd, 0);
  const int filler = test::connectLoopback(listener.port);
  ASSERT_GE(filler, 0);
  {
    DriveMachine dm("127.0.0.1", listener.port);
    const double longest = dm.runTicks(6);
    EXPECT_LT(longest, kTickBound);
    // Taking lines 3-5 as outputs already calls (and fails) in the first
    // tick; from then on each tick ends one round.
    EXPECT_GE(dm.reg(3), 4);
    EXPECT_FALSE(dm.machine().port.fddSocket->connected());
  }
  ::close(filler);
}

TEST_F(LinkFaults, SlowServerCannotHoldOneTickForLong) {
  // Each answer comes just inside the link's own bound for one reply, so no
  // single exchange fails; what bounds the tick is the waiting it has done
  // in total. The first answers are slow, the rest prompt.
  std::atomic<int> slow{4};
  {
    FaultyServer server([&](int fd, const std::atomic<bool>& stop) {
      uint8_t b;
      while (FaultyServer::readByte(fd, stop, b)) {
        if (slow-- > 0) std::this_thread::sleep_for(milliseconds(900));
        const uint8_t reply = b ^ kReplyXor;
        if (::send(fd, &reply, 1, MSG_NOSIGNAL) != 1) return;
      }
    });
    DriveMachine dm("127.0.0.1", server.port());
    dm.machine().port.fddSocket = std::make_unique<TcpDiskLink>();  // 1 s per reply and per tick
    std::vector<double> ticks;
    for (int i = 0; i < 12; ++i) ticks.push_back(dm.runTicks(1));
    // A tick may wait 1 s on the link, and a little over while one reply is
    // already on its way; never the four slow replies in a row (3.6 s).
    for (double t : ticks) EXPECT_LT(t, 2.5);
    // The machine goes on, and the prompt answers are taken again.
    bool allGood = false;
    EXPECT_GT(dm.goodReplies(&allGood), 16);
    EXPECT_TRUE(allGood);
  }
}

TEST_F(LinkFaults, ExtraBytesAreNotTakenAsTheNextReply) {
  {
    FaultyServer server([&](int fd, const std::atomic<bool>& stop) {
      uint8_t b;
      while (FaultyServer::readByte(fd, stop, b)) {
        const uint8_t burst[3] = {static_cast<uint8_t>(b + 1), 0xEE, 0xEF};
        if (::send(fd, burst, sizeof burst, MSG_NOSIGNAL) != 3) return;
      }
    });
    TcpDiskLink link(kLinkBoundMs);
    ASSERT_TRUE(link.open("127.0.0.1", server.port()));
    for (uint8_t b : {0x10, 0x20, 0x30}) {
      ASSERT_TRUE(link.sendByte(b));
      uint8_t reply = 0;
      ASSERT_TRUE(link.receiveByte(reply));
      EXPECT_EQ(reply, b + 1);
      // Let the rest of the burst arrive before the next byte goes out.
      std::this_thread::sleep_for(milliseconds(20));
    }
    link.close();
  }
}

}  // namespace
}  // namespace tarvo
