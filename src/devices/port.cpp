#include "devices/port.h"

#include "machine.h"

namespace tarvo {

namespace {

constexpr uint8_t kLineReady = 0x04;      // input: a reply byte has arrived
constexpr uint8_t kLineExchange = 0x08;   // falling edge: exchange one byte
constexpr uint8_t kLineConnect = 0x10;    // low: connection held open
constexpr uint8_t kLineRegisters = 0x20;  // low (with line 4 low): registers 3 and 4 open

constexpr uint8_t kDriveAttached = 0x55;

bool linkConfigured(const Port& port) {
  return !port.address.empty() && port.portNumber != 0;
}

bool registersOpen(const Machine& m) {
  return (portValue(m) & (kLineConnect | kLineRegisters)) == 0;
}

// A failed socket operation leaves the link closed and tells the run loop,
// which ends its tick; the machine then sees the drive as not connected.
void failLink(Machine& m) {
  m.port.fddSocket->close();
  m.port.linkFailed = true;
  m.cpu.attention = true;
}

// One byte out, one byte back. On failure the receive byte and the ready
// line stay as they were.
void exchangeByte(Machine& m) {
  Port& port = m.port;
  uint8_t reply = 0;
  if (!port.fddSocket->sendByte(port.sendByte) || !port.fddSocket->receiveByte(reply)) {
    failLink(m);
    return;
  }
  port.receiveByte = reply;
  port.inputLines |= kLineReady;
}

}  // namespace

uint8_t portValue(const Machine& m) {
  const uint8_t pe = m.cpu.PE;
  return static_cast<uint8_t>((m.cpu.PD & pe) | (~pe & m.port.inputLines));
}

void portUpdate(Machine& m) {
  Port& port = m.port;
  const uint8_t p = portValue(m);
  const uint8_t q = port.previousValue;
  const auto fell = [&](uint8_t line) { return (q & line) != 0 && (p & line) == 0; };

  if (p & kLineConnect) {
    if ((q & kLineConnect) == 0) closeLink(m);
  } else {
    if (fell(kLineConnect) && port.optionCode == kDriveAttached && linkConfigured(port)) {
      if (!port.fddSocket->open(port.address, port.portNumber)) failLink(m);
    }
    if ((p & kLineRegisters) == 0) {
      if (fell(kLineRegisters)) port.receiveByte = port.optionCode;
      if (port.fddSocket->connected()) {
        if (p & kLineExchange) {
          port.inputLines &= static_cast<uint8_t>(~kLineReady);
        } else if (fell(kLineExchange)) {
          exchangeByte(m);
        }
      }
    }
  }
  // Computed again: a change of the ready line belongs to this update. After
  // a failure the edges are still consumed, so the next update does not
  // retry the same connect or exchange.
  port.previousValue = portValue(m);
}

void portLinkReset(Machine& m) {
  Port& port = m.port;
  port.previousValue = portValue(m);
  port.receiveByte = port.optionCode;
  // Without a server there is no drive, until the program restarts.
  if (!linkConfigured(port)) port.optionCode = 0xFF;
}

void closeLink(Machine& m) {
  if (m.port.fddSocket->connected()) m.port.fddSocket->close();
}

uint8_t ioRead(const Machine& m, unsigned reg) {
  if ((reg & 7) == 3 && registersOpen(m)) return m.port.receiveByte;
  return 0xFF;
}

void ioWrite(Machine& m, unsigned reg, uint8_t value) {
  if ((reg & 7) == 4 && registersOpen(m)) m.port.sendByte = value;
}

}  // namespace tarvo
