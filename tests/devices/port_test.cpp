#include "devices/port.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include "../support/loopback.h"
#include "frontpanel/run_loop.h"
#include "machine.h"

extern char** environ;

namespace tarvo {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr uint8_t kReady = 0x04;
// PE for the drive: lines 3, 4 and 5 are outputs.
constexpr uint8_t kDrivePins = 0x38;

int openDescriptors() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d)) ++n;
    ::closedir(d);
  }
  return n;
}

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

using test::BoundSocket;
using test::connectLoopback;
using test::loopbackAddress;

using test::TestServer;

// Takes every byte and never answers, until the peer goes away.
void neverAnswer(int fd, const std::atomic<bool>& stop) {
  uint8_t b;
  while (TestServer::readByte(fd, stop, b)) {
  }
}

// An independent echo server: socat handing each connection to cat.
class SocatEcho {
 public:
  SocatEcho() {
    const BoundSocket probe(false);
    port_ = probe.port;
  }
  bool start() {
    const std::string listen =
        "TCP-LISTEN:" + std::to_string(port_) + ",bind=127.0.0.1,reuseaddr,fork";
    char* argv[] = {const_cast<char*>("socat"), const_cast<char*>(listen.c_str()),
                    const_cast<char*>("EXEC:cat"), nullptr};
    if (::posix_spawnp(&pid_, "socat", nullptr, nullptr, argv, environ) != 0) {
      pid_ = -1;
      return false;
    }
    // Ready once a connection is accepted.
    for (int i = 0; i < 200; ++i) {
      const int fd = connectLoopback(port_);
      if (fd >= 0) {
        ::close(fd);
        return true;
      }
      std::this_thread::sleep_for(milliseconds(25));
    }
    return false;
  }
  ~SocatEcho() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  int port() const { return port_; }

 private:
  int port_ = 0;
  pid_t pid_ = -1;
};

bool haveProgram(const char* name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t from = 0;
  while (from <= dirs.size()) {
    const std::size_t to = std::min(dirs.find(':', from), dirs.size());
    const std::string candidate = dirs.substr(from, to - from) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return true;
    from = to + 1;
  }
  return false;
}

class PortTest : public ::testing::Test {
 protected:
  Machine m;
  int descriptorsAtStart = 0;

  void SetUp() override { descriptorsAtStart = openDescriptors(); }

  // The port part of the power-on sequence.
  void powerOn(const std::string& address, int32_t tcpPort, uint8_t optionCode) {
    m.port.address = address;
    m.port.portNumber = tcpPort;
    m.port.optionCode = optionCode;
    m.port.inputLines = static_cast<uint8_t>((m.port.inputLines & 0x03) | 0xF8);
    m.cpu.PE = 0;
    portLinkReset(m);
  }
  void pins(uint8_t pe, uint8_t pd) {
    m.cpu.PE = pe;
    m.cpu.PD = pd;
    portUpdate(m);
  }
  // Lines 4 and 5 low, line 3 high: connects and opens the registers.
  void connectDrive() { pins(kDrivePins, 0x08); }
  // Writes a byte and takes line 3 low: one exchange.
  void strobe(uint8_t b) {
    ioWrite(m, 4, b);
    pins(kDrivePins, 0x00);
  }
  bool ready() const { return (portValue(m) & kReady) != 0; }
  bool connected() const { return m.port.fddSocket->connected(); }
};

TEST_F(PortTest, PortValueMixesOutputLatchAndInputLines) {
  m.port.inputLines = 0x02;
  powerOn("", 0, 0xFF);
  EXPECT_EQ(portValue(m), 0xFA);
  m.cpu.PE = 0x0F;
  m.cpu.PD = 0xA5;
  EXPECT_EQ(portValue(m), 0xF5);
  m.cpu.PE = 0xF0;
  EXPECT_EQ(portValue(m), 0xAA);
}

TEST_F(PortTest, WithoutAServerThereIsNoDrive) {
  for (const auto& [address, tcpPort] : {std::pair<std::string, int32_t>{"", 1234},
                                         std::pair<std::string, int32_t>{"127.0.0.1", 0}}) {
    powerOn(address, tcpPort, 0x55);
    EXPECT_EQ(m.port.optionCode, 0xFF);
    connectDrive();
    EXPECT_EQ(ioRead(m, 3), 0xFF);
    EXPECT_FALSE(connected());
    EXPECT_FALSE(m.port.linkFailed);
    // Configuring a server later does not bring the drive back.
    m.port.address = "127.0.0.1";
    m.port.portNumber = 1234;
    portLinkReset(m);
    EXPECT_EQ(m.port.optionCode, 0xFF);
  }
}

TEST_F(PortTest, RegistersOpenOnlyWithLines4And5Low) {
  powerOn("", 0, 0xFF);
  m.port.receiveByte = 0x42;
  for (uint8_t pd : {0x10, 0x20, 0x30}) {
    pins(kDrivePins, pd);
    EXPECT_EQ(ioRead(m, 3), 0xFF) << int(pd);
    ioWrite(m, 4, 0x99);
    EXPECT_EQ(m.port.sendByte, 0) << int(pd);
  }
  pins(kDrivePins, 0x00);
  ioWrite(m, 4, 0x99);
  EXPECT_EQ(m.port.sendByte, 0x99);
  EXPECT_EQ(ioRead(m, 3), 0xFF);  // the option code, loaded as line 5 fell
  m.port.receiveByte = 0x42;
  EXPECT_EQ(ioRead(m, 3), 0x42);
  for (unsigned reg : {0u, 1u, 2u, 4u, 5u, 6u, 7u}) EXPECT_EQ(ioRead(m, reg), 0xFF) << reg;
  ioWrite(m, 3, 0x11);
  EXPECT_EQ(m.port.receiveByte, 0x42);
}

TEST_F(PortTest, ExchangesWithAnEchoServer) {
  if (!haveProgram("socat")) GTEST_SKIP() << "socat is not installed";
  {
    SocatEcho echo;
    ASSERT_TRUE(echo.start());
    const auto start = Clock::now();
    powerOn("127.0.0.1", echo.port(), 0x55);
    connectDrive();
    ASSERT_TRUE(connected());
    EXPECT_EQ(ioRead(m, 3), 0x55);  // before any byte is exchanged
    EXPECT_FALSE(ready());

    for (uint8_t b : {0x00, 0x5A, 0xA5, 0xFF}) {
      strobe(b);
      EXPECT_TRUE(ready());
      EXPECT_EQ(ioRead(m, 3), b);
      pins(kDrivePins, 0x08);
      EXPECT_FALSE(ready());
    }
    // Same levels again: no edge, no exchange.
    strobe(0x11);
    EXPECT_EQ(ioRead(m, 3), 0x11);
    ioWrite(m, 4, 0x22);
    pins(kDrivePins, 0x00);
    EXPECT_EQ(ioRead(m, 3), 0x11);

    // The off instruction makes every line an input: line 4 rises, closing.
    m.cpu.PE = 0;
    portUpdate(m);
    EXPECT_FALSE(connected());
    EXPECT_FALSE(m.port.linkFailed);
    EXPECT_LT(secondsSince(start), 1.0);
  }
  EXPECT_EQ(openDescriptors(), descriptorsAtStart);
}

TEST_F(PortTest, ExchangeWhileNotConnectedDoesNothing) {
  powerOn("127.0.0.1", 9, 0xFF);  // a server is set, but no drive announced
  connectDrive();
  EXPECT_FALSE(connected());
  m.port.inputLines |= kReady;
  strobe(0x12);
  EXPECT_TRUE(ready());
  EXPECT_EQ(ioRead(m, 3), 0xFF);
  m.port.inputLines &= static_cast<uint8_t>(~kReady);
  pins(kDrivePins, 0x08);
  strobe(0x12);
  EXPECT_FALSE(ready());
}

TEST_F(PortTest, ServerThatNeverAnswersEndsTheTickWithinTheBound) {
  {
    TestServer server(neverAnswer);
    powerOn("127.0.0.1", server.port(), 0x55);
    connectDrive();
    ASSERT_TRUE(connected());
    const auto start = Clock::now();
    strobe(0x31);
    const double waited = secondsSince(start);
    EXPECT_GE(waited, 0.9);
    EXPECT_LT(waited, 2.5);
    EXPECT_TRUE(m.port.linkFailed);
    EXPECT_FALSE(connected());
    EXPECT_FALSE(ready());
    EXPECT_EQ(ioRead(m, 3), 0x55);

    // The machine goes on in the next tick: further edges do nothing and do
    // not wait.
    m.port.linkFailed = false;
    m.port.fddSocket->startTick();
    const auto later = Clock::now();
    pins(kDrivePins, 0x08);
    strobe(0x32);
    EXPECT_FALSE(m.port.linkFailed);
    EXPECT_LT(secondsSince(later), 0.1);
    // Taking line 4 high and low again reconnects.
    pins(kDrivePins, 0x18);
    connectDrive();
    EXPECT_TRUE(connected());
    closeLink(m);
    EXPECT_FALSE(connected());
  }
  EXPECT_EQ(openDescriptors(), descriptorsAtStart);
}

TEST_F(PortTest, PowerOnSequenceEndsTheServersSession) {
  {
    std::atomic<bool> ended{false};
    TestServer server([&](int fd, const std::atomic<bool>& stop) {
      uint8_t b;
      while (TestServer::readByte(fd, stop, b)) {
      }
      if (!stop) ended = true;
    });
    powerOn("127.0.0.1", server.port(), 0x55);
    connectDrive();
    ASSERT_TRUE(connected());
    // The reset key: the session ends now, not at the next edge of line 4.
    powerOnSequence(m);
    EXPECT_FALSE(connected());
    const auto start = Clock::now();
    while (!ended && secondsSince(start) < 5) std::this_thread::sleep_for(milliseconds(5));
    EXPECT_TRUE(ended) << "the server still holds the session";
    // The program then calls afresh.
    connectDrive();
    EXPECT_TRUE(connected());
    closeLink(m);
  }
  EXPECT_EQ(openDescriptors(), descriptorsAtStart);
}

TEST_F(PortTest, ServerClosingInTheMiddleOfAnExchange) {
  {
    // Answers the first byte, then takes the next and hangs up.
    TestServer server([](int fd, const std::atomic<bool>& stop) {
      uint8_t b;
      if (!TestServer::readByte(fd, stop, b)) return;
      const uint8_t reply = static_cast<uint8_t>(b + 1);
      (void)!::send(fd, &reply, 1, MSG_NOSIGNAL);
      TestServer::readByte(fd, stop, b);
    });
    powerOn("127.0.0.1", server.port(), 0x55);
    connectDrive();
    strobe(0x40);
    EXPECT_EQ(ioRead(m, 3), 0x41);
    EXPECT_FALSE(m.port.linkFailed);
    pins(kDrivePins, 0x08);

    const auto start = Clock::now();
    strobe(0x50);
    EXPECT_LT(secondsSince(start), 1.5);
    EXPECT_TRUE(m.port.linkFailed);
    EXPECT_FALSE(connected());
    EXPECT_FALSE(ready());
    EXPECT_EQ(ioRead(m, 3), 0x41);
  }
  EXPECT_EQ(openDescriptors(), descriptorsAtStart);
}

TEST_F(PortTest, ServerResettingBetweenExchanges) {
  {
    // Answers one byte, then drops the connection with a reset.
    TestServer server([](int fd, const std::atomic<bool>& stop) {
      uint8_t b;
      if (!TestServer::readByte(fd, stop, b)) return;
      (void)!::send(fd, &b, 1, MSG_NOSIGNAL);
      const linger hard{1, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    });
    powerOn("127.0.0.1", server.port(), 0x55);
    connectDrive();
    strobe(0x60);
    EXPECT_EQ(ioRead(m, 3), 0x60);
    pins(kDrivePins, 0x08);
    std::this_thread::sleep_for(milliseconds(100));
    // Writing to the dropped connection reports an error, not a signal.
    const auto start = Clock::now();
    strobe(0x61);
    EXPECT_LT(secondsSince(start), 1.5);
    EXPECT_TRUE(m.port.linkFailed);
    EXPECT_FALSE(connected());
    EXPECT_EQ(ioRead(m, 3), 0x60);
  }
  EXPECT_EQ(openDescriptors(), descriptorsAtStart);
}

TEST_F(PortTest, RefusedConnectionEndsTheTickAtOnce) {
  {
    const BoundSocket closedPort(false);  // bound, never listening
    powerOn("127.0.0.1", closedPort.port, 0x55);
    const auto start = Clock::now();
    connectDrive();
    EXPECT_LT(secondsSince(start), 1.0);
    EXPECT_TRUE(m.port.linkFailed);
    EXPECT_FALSE(connected());
    // The rest of the update still happened: the option code is readable.
    EXPECT_EQ(ioRead(m, 3), 0x55);
    EXPECT_EQ(m.port.optionCode, 0x55);
    m.port.linkFailed = false;
    strobe(0x01);
    EXPECT_FALSE(m.port.linkFailed);
    EXPECT_FALSE(ready());
  }
  EXPECT_EQ(openDescriptors(), descriptorsAtStart);
}

TEST_F(PortTest, ConnectThatNeverCompletesIsBounded) {
  {
    // Backlog 0 with one connection already queued: further handshakes are
    // not answered.
    const BoundSocket full(true, 0);
    const int filler = connectLoopback(full.port);
    ASSERT_GE(filler, 0);

    powerOn("127.0.0.1", full.port, 0x55);
    const auto start = Clock::now();
    connectDrive();
    const double waited = secondsSince(start);
    const bool gotThrough = connected();
    closeLink(m);
    ::close(filler);
    if (gotThrough) GTEST_SKIP() << "this system completed the handshake anyway";
    EXPECT_GE(waited, 0.9);
    EXPECT_LT(waited, 2.5);
    EXPECT_TRUE(m.port.linkFailed);
  }
  EXPECT_EQ(openDescriptors(), descriptorsAtStart);
}

TEST_F(PortTest, ReopeningDropsTheOldConnection) {
  {
    TestServer server(neverAnswer);
    // The server takes connections one at a time, each until its peer
    // closes: a second accept means the first connection was dropped.
    const auto waitAccepted = [&](int n) {
      for (int i = 0; i < 200 && server.accepted() < n; ++i)
        std::this_thread::sleep_for(milliseconds(10));
      return server.accepted();
    };
    powerOn("127.0.0.1", server.port(), 0x55);
    connectDrive();
    ASSERT_TRUE(connected());
    ASSERT_EQ(waitAccepted(1), 1);
    const int withOneLink = openDescriptors();
    // A power-on sequence does not close the link, but it makes line 4 an
    // input at level 1 again, so the next low level is a falling edge.
    powerOn("127.0.0.1", server.port(), 0x55);
    connectDrive();
    EXPECT_TRUE(connected());
    EXPECT_EQ(waitAccepted(2), 2);
    EXPECT_EQ(openDescriptors(), withOneLink);
    closeLink(m);
  }
  EXPECT_EQ(openDescriptors(), descriptorsAtStart);
}

TEST(DiskLinkTest, RejectsWhatIsNotAnAddressAndPort) {
  TcpDiskLink link;
  EXPECT_FALSE(link.open("localhost", 80));
  EXPECT_FALSE(link.open("127.0.0", 80));
  EXPECT_FALSE(link.open("127.0.0.1", 70000));
  EXPECT_FALSE(link.open("127.0.0.1", -5));
  EXPECT_FALSE(link.connected());
  uint8_t b = 0;
  EXPECT_FALSE(link.sendByte(1));
  EXPECT_FALSE(link.receiveByte(b));
}

}  // namespace
}  // namespace tarvo
