// Instructions 0x00-0x7F: 8-bit register arithmetic and logic, loads and
// stores through register pairs and index registers, the two stacks, jumps
// and calls, the register-number and specific registers, one-register
// shifts, LCD and port transfers, and the block transfer and search.
//
// Most families are function templates over the opcode: the opcode's bits
// are decoded at compile time, so each installed handler is a short straight
// line. Operand bytes are consumed strictly in instruction order through
// takeByte(); the relative-jump option always comes last.
#include <cstdint>
#include <utility>

#include "cpu/exec.h"
#include "cpu/operands.h"
#include "devices/lcd.h"
#include "devices/port.h"
#include "machine.h"

namespace tarvo {

namespace {

// Opcode bit 0 chooses the index register: IX with the IX-side segment, or
// IZ with the IZ-side segment.
template <unsigned Op>
uint16_t& indexPointer(ProcessorState& c) {
  if constexpr ((Op & 1) != 0) {
    return c.IZ;
  } else {
    return c.IX;
  }
}
template <unsigned Op>
unsigned indexSegment(const ProcessorState& c) {
  return (Op & 1) != 0 ? izSelector(c) : ixSelector(c);
}

// ---------------------------------------------------------------------------
// Register arithmetic and logic: 0x00-0x0F and 0x40-0x4F (bit 6: immediate
// source). Low nibble: 0 adc, 1 sbc, 2 ld, 4-7 anc nac orc xrc, 8 ad, 9 sb,
// A adb, B sbb, C-F an na or xr. Bit 3 stores the result; the compare forms
// only set the flags. adb and sbb always store.
template <unsigned Op>
void opRegisterAlu(Machine& m) {
  ProcessorState& c = m.cpu;
  constexpr unsigned kOp = Op & 0x0F;
  constexpr bool kStore = (Op & 0x08) != 0;
  const uint8_t b = takeByte(m);
  const uint8_t src = sourceByte(m, static_cast<uint8_t>(Op), b);
  uint8_t& r = reg(c, firstRegister(b));
  if constexpr (kOp == 0x2) {
    r = src;
  } else if constexpr (kOp == 0xA || kOp == 0xB) {
    const uint32_t s = kOp == 0xA ? bcdAdd(r, src) : bcdSub(r, src);
    r = static_cast<uint8_t>(s);
    setFlags8(c, r);
    setCarry(c, s > 0xFF);
  } else if constexpr ((kOp & 7) < 2) {
    const uint16_t w = (kOp & 1) != 0 ? sub8(r, src) : add8(r, src);
    const uint8_t v = static_cast<uint8_t>(w);
    setFlags8(c, v);
    setCarry(c, w > 0xFF);
    if constexpr (kStore) r = v;
  } else {
    const uint8_t v = logicOp(static_cast<uint8_t>(Op), r, src);
    setFlags8(c, v);
    logicCarry(c, static_cast<uint8_t>(Op));
    if constexpr (kStore) r = v;
  }
  jumpOption(m, b);
  c.cycles += 3;
}

// ---------------------------------------------------------------------------
// 0x10 st r,(s) and 0x11 ld r,(s): the address is register pair s, on the
// IX side.
template <unsigned Op>
void opPairIndirect(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b = takeByte(m);
  const uint16_t address = pairRead(c, secondRegister(m, b));
  if constexpr ((Op & 1) != 0) {
    reg(c, firstRegister(b)) = loadByte(m, ixSelector(c), address);
  } else {
    storeByte(m, ixSelector(c), address, reg(c, firstRegister(b)));
  }
  jumpOption(m, b);
  c.cycles += 8;
}

// 0x50 st n,($sx/$sy/$sz): the pair whose number SX, SY or SZ holds; selector
// 3 means SZ here and takes no register byte.
void opStoreImmediatePair(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b = takeByte(m);
  const unsigned pair = regPointer(c, (b >> 5) & 3);
  const uint8_t n = takeByte(m);
  storeByte(m, ixSelector(c), pairRead(c, pair), n);
  c.cycles += 8;
}

// 0x51 ld r,n.
void opLoadImmediate(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b = takeByte(m);
  reg(c, firstRegister(b)) = takeByte(m);
  c.cycles += 8;
}

// ---------------------------------------------------------------------------
// LCD byte transfers. Every transfer instruction starts a new nibble frame.
// The operand byte's selector bits are not decoded.
void opStl(Machine& m) {
  ProcessorState& c = m.cpu;
  m.lcd.startFrame();
  const uint8_t b = takeByte(m);
  m.lcd.byteTransfer(reg(c, firstRegister(b)));
  jumpOption(m, b);
  c.cycles += 11;
}

void opLdl(Machine& m) {
  ProcessorState& c = m.cpu;
  m.lcd.startFrame();
  const uint8_t b = takeByte(m);
  reg(c, firstRegister(b)) = m.lcd.byteTransfer(0);
  jumpOption(m, b);
  c.cycles += 11;
}

void opStlImmediate(Machine& m) {
  m.lcd.startFrame();
  m.lcd.byteTransfer(takeByte(m));
  m.cpu.cycles += 12;
}

// 0x14 ppo/pfl r and 0x54 ppo/pfl n: operand bit 6 picks the LCD control
// byte (0) or the upper half of the flag register (1). Only the register
// form has the jump option.
template <unsigned Op>
void opPutControl(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b = takeByte(m);
  const uint8_t value = (Op & 0x40) != 0 ? takeByte(m) : reg(c, firstRegister(b));
  if (b & 0x40) {
    c.F = static_cast<uint8_t>((c.F & 0x0F) | (value & 0xF0));
  } else {
    m.lcd.control = value;
  }
  if constexpr ((Op & 0x40) == 0) jumpOption(m, b);
  c.cycles += 3;
}

// 0x1C gpo/gfl r: the port as the machine sees it, or the whole flag register.
void opGetPortFlags(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b = takeByte(m);
  reg(c, firstRegister(b)) = (b & 0x40) != 0 ? c.F : portValue(m);
  jumpOption(m, b);
  c.cycles += 3;
}

// ---------------------------------------------------------------------------
// Register-number registers: selector 0 SX, 1 SY, 2 and 3 SZ.
void opPsr(Machine& m) {  // 0x15 psr s,r
  ProcessorState& c = m.cpu;
  const uint8_t b = takeByte(m);
  regPointer(c, (b >> 5) & 3) = reg(c, firstRegister(b)) & 0x1F;
  jumpOption(m, b);
  c.cycles += 3;
}

void opPsrImmediate(Machine& m) {  // 0x55: the number sits in the operand byte
  ProcessorState& c = m.cpu;
  const uint8_t b = takeByte(m);
  regPointer(c, (b >> 5) & 3) = b & 0x1F;
  c.cycles += 3;
}

void opGsr(Machine& m) {  // 0x1D gsr r,s
  ProcessorState& c = m.cpu;
  const uint8_t b = takeByte(m);
  reg(c, firstRegister(b)) = regPointer(c, (b >> 5) & 3);
  jumpOption(m, b);
  c.cycles += 3;
}

// ---------------------------------------------------------------------------
// Specific registers: index = opcode bit 0 * 4 + operand bits 5-6 into
// PE PD IB UA IA IE TM TM.
template <unsigned Op>
unsigned specificIndex(uint8_t b) {
  return (Op & 1) * 4 + ((b >> 5) & 3);
}

// 0x1E, 0x1F gst.
template <unsigned Op>
void opGst(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b = takeByte(m);
  reg(c, firstRegister(b)) = spec8(c, specificIndex<Op>(b));
  jumpOption(m, b);
  c.cycles += 3;
}

// 0x16, 0x17 pst with a register, 0x56, 0x57 with an immediate. The request
// latches of IB are read-only and TM cannot be set; PE and PD drive the
// port; clearing an IE enable discards that request, pending or in service.
template <unsigned Op>
void opPst(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b = takeByte(m);
  const uint8_t value = (Op & 0x40) != 0 ? takeByte(m) : reg(c, firstRegister(b));
  const unsigned index = specificIndex<Op>(b);
  switch (index) {
    case 0:  // PE
    case 1:  // PD
      spec8(c, index) = value;
      portUpdate(m);
      break;
    case 2:  // IB; bits 6-7 move the common-area boundary
      c.IB = static_cast<uint8_t>((c.IB & 0x1F) | (value & 0xE0));
      syncMapping(m);
      break;
    case 3:  // UA
    case 4:  // IA
      spec8(c, index) = value;
      break;
    case 5: {  // IE
      c.IE = value;
      const uint8_t enabled = static_cast<uint8_t>(value >> 3);
      c.IB &= static_cast<uint8_t>(enabled | 0xE0);
      c.inService &= enabled;
      break;
    }
    default:  // TM
      break;
  }
  if constexpr ((Op & 0x40) == 0) jumpOption(m, b);
  c.cycles += 3;
}

// ---------------------------------------------------------------------------
// One-register shifts. 0x18 and 0x1A pick their operation by bits 5-6 of the
// operand byte, looked at in the prefetch buffer before it is consumed.
enum ShiftKind : unsigned { kRod, kRou, kBid, kBiu, kDid, kDiu, kByteClear };

template <ShiftKind Kind>
void opShift(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b = takeByte(m);
  uint8_t& r = reg(c, firstRegister(b));
  const uint8_t v = r;
  const bool carryIn = (c.F & kFlagC) != 0;
  uint8_t result = 0;
  bool carry = false;
  if constexpr (Kind == kRod) {
    result = static_cast<uint8_t>((v >> 1) | (carryIn ? 0x80 : 0));
    carry = (v & 0x01) != 0;
  } else if constexpr (Kind == kRou) {
    result = static_cast<uint8_t>((v << 1) | (carryIn ? 0x01 : 0));
    carry = (v & 0x80) != 0;
  } else if constexpr (Kind == kBid) {
    result = static_cast<uint8_t>(v >> 1);
    carry = (v & 0x01) != 0;
  } else if constexpr (Kind == kBiu) {
    result = static_cast<uint8_t>(v << 1);
    carry = (v & 0x80) != 0;
  } else if constexpr (Kind == kDid) {
    result = static_cast<uint8_t>(v >> 4);
  } else if constexpr (Kind == kDiu) {
    result = static_cast<uint8_t>(v << 4);
  }
  r = result;
  setFlags8(c, result);
  setCarry(c, carry);
  jumpOption(m, b);
  c.cycles += 3;
}

constexpr Handler kShifts18[4] = {&opShift<kRod>, &opShift<kRou>, &opShift<kBid>, &opShift<kBiu>};
constexpr Handler kShifts1A[4] = {&opShift<kDid>, &opShift<kDiu>, &opShift<kByteClear>,
                                  &opShift<kByteClear>};

void opShift18(Machine& m) {
  kShifts18[(m.cpu.fetchBuffer[1] >> 5) & 3](m);
}
void opShift1A(Machine& m) {
  kShifts1A[(m.cpu.fetchBuffer[1] >> 5) & 3](m);
}

// 0x1B: operand bit 6 = 0 two's complement (cmp), 1 one's complement (inv).
void opComplement(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b = takeByte(m);
  uint8_t& r = reg(c, firstRegister(b));
  const bool invert = (b & 0x40) != 0;
  r = invert ? static_cast<uint8_t>(~r) : static_cast<uint8_t>(0x100 - r);
  setFlags8(c, r);
  setCarry(c, invert || r != 0);
  jumpOption(m, b);
  c.cycles += 3;
}

// ---------------------------------------------------------------------------
// Indexed memory: 0x20-0x25 and 0x28-0x2D with a register offset, 0x60-0x65
// and 0x68-0x6D with an immediate one; operand bit 7 negates the offset.
// Bit 3 loads instead of storing, bit 1 (sti, ldi) leaves the pointer just
// past the byte, bit 2 (std, ldd) moves the pointer before the access.
template <unsigned Op>
void opIndexed(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b = takeByte(m);
  const uint16_t offset = indexOffset(m, static_cast<uint8_t>(Op), b);
  uint16_t& ptr = indexPointer<Op>(c);
  uint16_t address;
  if constexpr ((Op & 0x04) != 0) {
    ptr = static_cast<uint16_t>(ptr + offset);
    address = ptr;
  } else {
    address = static_cast<uint16_t>(ptr + offset);
  }
  uint8_t& r = reg(c, firstRegister(b));
  if constexpr ((Op & 0x08) != 0) {
    r = loadByte(m, indexSegment<Op>(c), address);
  } else {
    storeByte(m, indexSegment<Op>(c), address, r);
  }
  if constexpr ((Op & 0x06) == 0x02) ptr = static_cast<uint16_t>(address + 1);
  c.cycles += (Op & 0x04) != 0 ? 6 : 8;
}

// ---------------------------------------------------------------------------
// Stacks: 0x26 phs, 0x27 phu, 0x2E pps, 0x2F ppu. Bit 0 picks US over SS.
template <unsigned Op>
void opStack(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b = takeByte(m);
  uint16_t& sp = (Op & 1) != 0 ? c.US : c.SS;
  if constexpr ((Op & 0x08) != 0) {
    reg(c, firstRegister(b)) = pop(m, sp);
    c.cycles += 11;
  } else {
    push(m, sp, reg(c, firstRegister(b)));
    c.cycles += 9;
  }
}

// ---------------------------------------------------------------------------
// Jumps and calls; the condition is opcode bits 0-2. The address is read
// whether or not the condition holds.
template <unsigned Op>
void opJp(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint16_t target = immediate16(m);
  if (condition(c.F, Op & 7)) {
    c.PC = target;
    c.fetchPos = 0;
  }
  c.cycles += 3;
}

// A taken call pushes the address of its own last byte (PC - 1), high byte
// first; the return adds 1.
template <unsigned Op>
void opCal(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint16_t target = immediate16(m);
  if (condition(c.F, Op & 7)) {
    const uint16_t ret = static_cast<uint16_t>(c.PC - 1);
    push(m, c.SS, static_cast<uint8_t>(ret >> 8));
    push(m, c.SS, static_cast<uint8_t>(ret));
    c.PC = target;
    c.fetchPos = 0;
    c.cycles += 6;
  }
  c.cycles += 3;
}

// ---------------------------------------------------------------------------
// Memory arithmetic: 0x38-0x3F, 0x78-0x7F (immediate offset). Bit 1 picks
// memory minus register over register plus memory, bit 2 writes the result
// back to the same address. The pointer is not changed.
template <unsigned Op>
void opMemoryAlu(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b = takeByte(m);
  const uint16_t offset = indexOffset(m, static_cast<uint8_t>(Op), b);
  const uint16_t address = static_cast<uint16_t>(indexPointer<Op>(c) + offset);
  const unsigned segment = indexSegment<Op>(c);
  const uint8_t mem = loadByte(m, segment, address);
  const uint8_t r = reg(c, firstRegister(b));
  const uint16_t w = (Op & 0x02) != 0 ? sub8(mem, r) : add8(r, mem);
  if constexpr ((Op & 0x04) != 0) storeByte(m, segment, address, static_cast<uint8_t>(w));
  setFlags8(c, static_cast<uint8_t>(w));
  setCarry(c, w > 0xFF);
  c.cycles += 9;
}

// ---------------------------------------------------------------------------
// Block transfer (0x58 bups, 0x59 bdns) and search (0x5C sup, 0x5D sdn) with
// the key byte n. Bit 0 steps downward. The transfer copies from IX to IZ;
// both stop on the key byte or when IX reaches IY, leaving the pointers on
// the last byte handled. The loop walks at most once around the 64 KB
// address space, so it always ends.
template <unsigned Op>
void opBlock(Machine& m) {
  ProcessorState& c = m.cpu;
  constexpr bool kTransfer = (Op & 0x04) == 0;
  constexpr uint16_t kStep = (Op & 1) != 0 ? 0xFFFF : 0x0001;
  const uint8_t key = takeByte(m);
  uint8_t byte = 0;
  for (;;) {
    byte = loadByte(m, ixSelector(c), c.IX);
    if constexpr (kTransfer) storeByte(m, izSelector(c), c.IZ, byte);
    c.cycles += 6;
    if (byte == key || c.IX == c.IY) break;
    c.IX = static_cast<uint16_t>(c.IX + kStep);
    if constexpr (kTransfer) c.IZ = static_cast<uint16_t>(c.IZ + kStep);
  }
  const uint16_t w = sub8(byte, key);
  setFlags8(c, static_cast<uint8_t>(w));
  setCarry(c, w > 0xFF);
  c.cycles += 3;
}

// ---------------------------------------------------------------------------
// Puts make<Base>(), make<Base + 1>(), ... into Count consecutive slots;
// make is a lambda templated on the opcode.
template <unsigned Base, class Make, unsigned... I>
void installRange(Handler* table, Make make, std::integer_sequence<unsigned, I...>) {
  ((table[Base + I] = make.template operator()<Base + I>()), ...);
}
template <unsigned Base, unsigned Count, class Make>
void install(Handler* table, Make make) {
  installRange<Base>(table, make, std::make_integer_sequence<unsigned, Count>{});
}

}  // namespace

void installHandlers00to7F(Handler* table) {
  // Register arithmetic and logic; 0x03 and 0x43 (ldc) stay no-operations.
  install<0x00, 3>(table, []<unsigned Op>() { return &opRegisterAlu<Op>; });
  install<0x04, 12>(table, []<unsigned Op>() { return &opRegisterAlu<Op>; });
  install<0x40, 3>(table, []<unsigned Op>() { return &opRegisterAlu<Op>; });
  install<0x44, 12>(table, []<unsigned Op>() { return &opRegisterAlu<Op>; });

  install<0x10, 2>(table, []<unsigned Op>() { return &opPairIndirect<Op>; });
  table[0x50] = &opStoreImmediatePair;
  table[0x51] = &opLoadImmediate;

  table[0x12] = &opStl;
  table[0x13] = &opLdl;
  table[0x52] = &opStlImmediate;
  table[0x14] = &opPutControl<0x14>;
  table[0x54] = &opPutControl<0x54>;
  table[0x1C] = &opGetPortFlags;

  table[0x15] = &opPsr;
  table[0x55] = &opPsrImmediate;
  table[0x1D] = &opGsr;

  install<0x16, 2>(table, []<unsigned Op>() { return &opPst<Op>; });
  install<0x56, 2>(table, []<unsigned Op>() { return &opPst<Op>; });
  install<0x1E, 2>(table, []<unsigned Op>() { return &opGst<Op>; });

  table[0x18] = &opShift18;
  table[0x1A] = &opShift1A;
  table[0x1B] = &opComplement;

  install<0x20, 6>(table, []<unsigned Op>() { return &opIndexed<Op>; });
  install<0x28, 6>(table, []<unsigned Op>() { return &opIndexed<Op>; });
  install<0x60, 6>(table, []<unsigned Op>() { return &opIndexed<Op>; });
  install<0x68, 6>(table, []<unsigned Op>() { return &opIndexed<Op>; });

  install<0x26, 2>(table, []<unsigned Op>() { return &opStack<Op>; });
  install<0x2E, 2>(table, []<unsigned Op>() { return &opStack<Op>; });

  install<0x30, 8>(table, []<unsigned Op>() { return &opJp<Op>; });
  install<0x70, 8>(table, []<unsigned Op>() { return &opCal<Op>; });

  install<0x38, 8>(table, []<unsigned Op>() { return &opMemoryAlu<Op>; });
  install<0x78, 8>(table, []<unsigned Op>() { return &opMemoryAlu<Op>; });

  install<0x58, 2>(table, []<unsigned Op>() { return &opBlock<Op>; });
  install<0x5C, 2>(table, []<unsigned Op>() { return &opBlock<Op>; });
}

}  // namespace tarvo
