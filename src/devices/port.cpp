#include "devices/port.h"

#include "machine.h"

namespace tarvo {

uint8_t portValue(const Machine& m) {
  const uint8_t pe = m.cpu.PE;
  return static_cast<uint8_t>((m.cpu.PD & pe) | (~pe & m.port.inputLines));
}

void portUpdate(Machine& m) { m.port.previousValue = portValue(m); }

void portLinkReset(Machine& m) {
  m.port.previousValue = portValue(m);
  m.port.receiveByte = m.port.optionCode;
}

void closeLink(Machine&) {}

uint8_t ioRead(Machine&, unsigned) { return 0xFF; }

void ioWrite(Machine&, unsigned, uint8_t) {}

}  // namespace tarvo
