#include "devices/lcd.h"

namespace tarvo {

uint8_t Lcd::nibbleTransfer(uint8_t) { return 0x0F; }

uint8_t Lcd::byteTransfer(uint8_t out) {
  const uint8_t lo = nibbleTransfer(out & 0x0F);
  const uint8_t hi = nibbleTransfer(out >> 4);
  return static_cast<uint8_t>((lo & 0x0F) | ((hi & 0x0F) << 4));
}

void Lcd::reset() {}

void Lcd::composeFrame() {}

}  // namespace tarvo
