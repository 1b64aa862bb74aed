// I/O port with the disk link, and the I/O window registers.
//
// Port lines as the disk drive uses them: line 2 (input) is "byte ready",
// a falling edge of line 3 exchanges one byte, line 4 low holds the
// connection open, and lines 4 and 5 both low open registers 3 and 4 of the
// I/O window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "devices/disk_link.h"

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
  // Set when a link operation inside a step failed; whoever runs the steps
  // ends its run tick and clears it.
  bool linkFailed = false;
  std::unique_ptr<DiskLink> fddSocket = std::make_unique<TcpDiskLink>();
};

// (PD AND PE) OR (NOT PE AND input lines).
uint8_t portValue(const Machine& m);
// After PE or PD changed: edges of lines 3, 4 and 5 drive the disk link.
// A failed link operation closes the link and sets linkFailed.
void portUpdate(Machine& m);
void portLinkReset(Machine& m);
void closeLink(Machine& m);

// I/O window registers 0..7 (0x00C00-0x00C0F).
uint8_t ioRead(const Machine& m, unsigned reg);
void ioWrite(Machine& m, unsigned reg, uint8_t value);

}  // namespace tarvo
