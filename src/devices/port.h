// I/O port with the disk link, and the I/O window registers.
#pragma once

#include <cstdint>
#include <string>

namespace tarvo {

struct Machine;

struct Port {
  uint8_t inputLines = 0xFA;
  uint8_t previousValue = 0;
  uint8_t sendByte = 0;
  uint8_t receiveByte = 0;
  uint8_t optionCode = 0xFF;
  std::string address;     // disk server, dotted-decimal IPv4
  int32_t portNumber = 0;  // disk server TCP port
};

// (PD AND PE) OR (NOT PE AND input lines).
uint8_t portValue(const Machine& m);
// After PE or PD changed: edges of lines 3, 4 and 5 drive the disk link.
void portUpdate(Machine& m);
void portLinkReset(Machine& m);
void closeLink(Machine& m);

// I/O window registers 0..7 (0x00C00-0x00C0F).
uint8_t ioRead(Machine& m, unsigned reg);
void ioWrite(Machine& m, unsigned reg, uint8_t value);

}  // namespace tarvo
