// Instructions 0x80-0xBF: the word (register pair) forms of the register,
// memory, stack and indexed instructions, the word shifts, the 16-bit
// specific-register transfers and the relative jumps. 0xC0-0xFF live in
// ops_c0_ff.cpp.
//
// Each family is a template on its opcode, so the opcode bits that choose
// the operation are constants and every opcode gets its own handler.
#include "cpu/ops_80_ff.h"

#include "devices/keyboard.h"
#include "devices/port.h"

namespace tarvo {

namespace {

// adcw, sbcw, adw, sbw $r,R2 (0x80, 0x81, 0x88, 0x89). Both pairs are read
// before anything is written; bit 0 subtracts, bit 3 stores.
template <unsigned Op>
void wordArith(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  const unsigned r = firstRegister(b1);
  const unsigned s = secondRegister(m, b1);
  const int32_t a = pairRead(c, r);
  const int32_t b = pairRead(c, s);
  const int32_t w = (Op & 1) ? a - b : a + b;
  if (Op & 0x08) pairWrite(c, r, static_cast<uint16_t>(w));
  setFlags16High(c, static_cast<uint16_t>(w));
  setCarry(c, w < 0 || w > 0xFFFF);
  c.cycles += 8;
  jumpOption(m, b1);
}

// ldw $r,R2 (0x82): byte by byte, so the high byte is copied after the low
// one has been written (ldw $5,$4 leaves $5 = $6 = old $4).
void wordMove(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  const unsigned r = firstRegister(b1);
  const unsigned s = secondRegister(m, b1);
  reg(c, r) = reg(c, s);
  reg(c, r + 1) = reg(c, s + 1);
  c.cycles += 8;
  jumpOption(m, b1);
}

// ancw..xrcw (0x84-0x87, flags only) and anw..xrw (0x8C-0x8F, stored). The
// high bytes are combined after the low byte has been stored.
template <unsigned Op>
void wordLogic(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  const unsigned r = firstRegister(b1);
  const unsigned s = secondRegister(m, b1);
  const uint8_t lo = logicOp(Op, reg(c, r), reg(c, s));
  if (Op & 0x08) reg(c, r) = lo;
  const uint8_t hi = logicOp(Op, reg(c, r + 1), reg(c, s + 1));
  if (Op & 0x08) reg(c, r + 1) = hi;
  setNibbleFlags(c, hi);
  logicCarry(c, Op);
  setNonZero(c, (lo | hi) != 0);
  c.cycles += 8;
  jumpOption(m, b1);
}

// adbw, sbbw $r,R2 (0x8A, 0x8B): two decimal digits per byte, low byte
// first; the carry or borrow of the low byte is added to the second operand
// of the high byte. A carry out of either byte also counts as non-zero.
template <unsigned Op>
void wordDecimal(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  const unsigned r = firstRegister(b1);
  const unsigned s = secondRegister(m, b1);
  const auto op = [](uint32_t a, uint32_t b) { return (Op & 1) ? bcdSub(a, b) : bcdAdd(a, b); };
  const uint32_t x = op(reg(c, r), reg(c, s));
  reg(c, r) = static_cast<uint8_t>(x);
  const uint32_t carry = bcdCarry(x) ? 1 : 0;
  const uint32_t y = op(reg(c, r + 1), reg(c, s + 1) + carry);
  reg(c, r + 1) = static_cast<uint8_t>(y);
  setNibbleFlags(c, static_cast<uint8_t>(y));
  setCarry(c, bcdCarry(y));
  setNonZero(c, (x & 0xFF) != 0 || (y & 0xFF) != 0 || carry != 0 || bcdCarry(y));
  c.cycles += 8;
  jumpOption(m, b1);
}

// stw $r,(R2) and ldw $r,(R2) (0x90, 0x91): the word at the address held
// in pair $s, on the IX side.
template <unsigned Op>
void pairIndirect(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  const unsigned r = firstRegister(b1);
  const uint16_t a = pairRead(c, secondRegister(m, b1));
  const unsigned sel = ixSelector(c);
  const uint16_t a1 = static_cast<uint16_t>(a + 1);
  if (Op & 1) {
    reg(c, r) = loadByte(m, sel, a);
    reg(c, r + 1) = loadByte(m, sel, a1);
  } else {
    storeByte(m, sel, a, reg(c, r));
    storeByte(m, sel, a1, reg(c, r + 1));
  }
  c.cycles += 11;
  jumpOption(m, b1);
}

// stlw, ldlw $r (0x92, 0x93): two bytes in one frame. The selector bits of
// the operand byte are not decoded and no register byte follows.
template <unsigned Op>
void lcdWord(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  const unsigned r = firstRegister(b1);
  m.lcd.startFrame();
  if (Op & 1) {
    reg(c, r) = m.lcd.byteTransfer(0);
    reg(c, r + 1) = m.lcd.byteTransfer(0);
  } else {
    m.lcd.byteTransfer(reg(c, r));
    m.lcd.byteTransfer(reg(c, r + 1));
  }
  c.cycles += 19;
  jumpOption(m, b1);
}

// 16-bit specific register index: opcode bit 0 picks the half of the table,
// the operand byte's selector bits the register within it.
inline unsigned specIndex(unsigned opcode, uint8_t b1) {
  return (opcode & 1) * 4 + ((b1 >> 5) & 3);
}

// pre ix/iy/iz/us/ss/ky,$r (0x96, 0x97): register <- pair $r.
template <unsigned Op>
void specPut(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  spec16(c, specIndex(Op, b1)) = pairRead(c, firstRegister(b1));
  c.cycles += 8;
  jumpOption(m, b1);
}

// gre ix/iy/iz/us/ss/ky,$r (0x9E, 0x9F): pair $r <- register. KY is built
// at the moment of the read from the selected strobe's return lines and the
// status lines in bits 8-11.
template <unsigned Op>
void specGet(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  const unsigned index = specIndex(Op, b1);
  if (index >= 5) {
    const uint16_t lines = keyLines(m.keys, c.IA & 0x0F);
    c.KY = static_cast<uint16_t>(lines | (c.kyStatus & 0x0F00));
    if (m.keys.watch.active) noteKeyRead(m.keys, c.IA, lines);
  }
  pairWrite(c, firstRegister(b1), spec16(c, index));
  c.cycles += 8;
  jumpOption(m, b1);
}

// Word shifts. The down operations work on the pair below r (low $(r-1),
// high $r) and take their digit flags from its low byte; the up operations
// work on pair $r and take them from its high byte.
template <uint16_t (*Shift)(uint16_t, bool), bool CarryOut>
void shiftDown(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  const unsigned p = firstRegister(b1) - 1;
  const uint16_t w = pairRead(c, p);
  const uint16_t v = Shift(w, (c.F & kFlagC) != 0);
  pairWrite(c, p, v);
  setFlags16Low(c, v);
  setCarry(c, CarryOut && (w & 1));
  c.cycles += 11;
  jumpOption(m, b1);
}

template <uint16_t (*Shift)(uint16_t, bool), bool CarryOut>
void shiftUp(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  const unsigned p = firstRegister(b1);
  const uint16_t w = pairRead(c, p);
  const uint16_t v = Shift(w, (c.F & kFlagC) != 0);
  pairWrite(c, p, v);
  setFlags16High(c, v);
  setCarry(c, CarryOut && (w & 0x8000));
  c.cycles += 11;
  jumpOption(m, b1);
}

uint16_t rotateRight(uint16_t w, bool carry) {
  return static_cast<uint16_t>((w >> 1) | (carry ? 0x8000 : 0));
}
uint16_t rotateLeft(uint16_t w, bool carry) {
  return static_cast<uint16_t>((w << 1) | (carry ? 1 : 0));
}
uint16_t bitRight(uint16_t w, bool) {
  return static_cast<uint16_t>(w >> 1);
}
uint16_t bitLeft(uint16_t w, bool) {
  return static_cast<uint16_t>(w << 1);
}
uint16_t digitRight(uint16_t w, bool) {
  return static_cast<uint16_t>(w >> 4);
}
uint16_t digitLeft(uint16_t w, bool) {
  return static_cast<uint16_t>(w << 4);
}

// bydw, byuw: $r moves one register down or up and $r becomes 0; the flags
// come from the byte that moved.
template <int Direction>
void byteMove(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  const unsigned r = firstRegister(b1);
  const uint8_t old = reg(c, r);
  reg(c, r + Direction) = old;
  reg(c, r) = 0;
  setFlags8(c, old);  // C ends up 0
  c.cycles += 11;
  jumpOption(m, b1);
}

// 0x98 and 0x9A choose their operation by bits 5-6 of the operand byte,
// looked at in the prefetch buffer without consuming it.
constexpr Handler kShift98[4] = {
    &shiftDown<rotateRight, true>,  // rodw
    &shiftUp<rotateLeft, true>,     // rouw
    &shiftDown<bitRight, true>,     // bidw
    &shiftUp<bitLeft, true>,        // biuw
};
constexpr Handler kShift9A[4] = {
    &shiftDown<digitRight, false>,  // didw
    &shiftUp<digitLeft, false>,     // diuw
    &byteMove<-1>,                  // bydw
    &byteMove<+1>,                  // byuw
};
void wordShift98(Machine& m) {
  kShift98[(m.cpu.fetchBuffer[1] >> 5) & 3](m);
}
void wordShift9A(Machine& m) {
  kShift9A[(m.cpu.fetchBuffer[1] >> 5) & 3](m);
}

// cmpw, invw $r (0x9B): operand byte bit 6 chooses the one's complement.
void wordComplement(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  const unsigned r = firstRegister(b1);
  const uint16_t w = pairRead(c, r);
  const bool invert = (b1 & 0x40) != 0;
  const uint16_t v = invert ? static_cast<uint16_t>(~w) : static_cast<uint16_t>(0x10000 - w);
  pairWrite(c, r, v);
  setFlags16High(c, v);
  setCarry(c, v != 0 || invert);
  c.cycles += 8;
  jumpOption(m, b1);
}

// gpow, gflw $r (0x9C): the port value, computed once per byte, or the flag
// register into both bytes of the pair. Flags unchanged.
void portOrFlags(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  const unsigned r = firstRegister(b1);
  if (b1 & 0x40) {
    reg(c, r) = c.F;
    reg(c, r + 1) = c.F;
  } else {
    reg(c, r) = portValue(m);
    reg(c, r + 1) = portValue(m);
  }
  c.cycles += 8;
  jumpOption(m, b1);
}

// Indexed word transfers 0xA0-0xA5 and 0xA8-0xAD. Bit 3 loads, bit 2 runs
// downward ($r then $(r-1), leaving I on the lower byte), and bit 1 keeps
// the advanced index in the upward forms. Bit 7 of the operand byte is the
// offset's sign; there is no jump option.
template <unsigned Op>
void indexedWord(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  const unsigned r = firstRegister(b1);
  const uint16_t offset = indexOffset(m, Op, b1);
  const IndexSide side = indexSide(c, Op);
  uint16_t& index = side.reg;
  const auto transfer = [&](unsigned n) {
    if (Op & 0x08)
      reg(c, n) = loadByte(m, side.selector, index);
    else
      storeByte(m, side.selector, index, reg(c, n));
  };
  const uint16_t old = index;
  index = static_cast<uint16_t>(index + offset);
  if (Op & 0x04) {
    transfer(r);
    --index;
    transfer(r - 1);
    c.cycles += 9;
  } else {
    transfer(r);
    ++index;
    transfer(r + 1);
    ++index;
    if (!(Op & 0x02)) index = old;
    c.cycles += 11;
  }
}

// phsw, phuw $r (0xA6, 0xA7): push $r then $(r-1), so the pair below r lies
// little-endian at the new stack pointer.
template <unsigned Op>
void wordPush(Machine& m) {
  ProcessorState& c = m.cpu;
  const unsigned r = firstRegister(takeByte(m));
  uint16_t& sp = (Op & 1) ? c.US : c.SS;
  push(m, sp, reg(c, r));
  push(m, sp, reg(c, r - 1));
  c.cycles += 12;
}

// ppsw, ppuw $r (0xAE, 0xAF): pop into $r then $(r+1).
template <unsigned Op>
void wordPop(Machine& m) {
  ProcessorState& c = m.cpu;
  const unsigned r = firstRegister(takeByte(m));
  uint16_t& sp = (Op & 1) ? c.US : c.SS;
  reg(c, r) = pop(m, sp);
  reg(c, r + 1) = pop(m, sp);
  c.cycles += 14;
}

// jr cc,target (0xB0-0xB7): the displacement follows the opcode and is
// consumed whether or not the jump is taken.
template <unsigned Op>
void jumpRelative(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint16_t target = relativeTarget(m);
  if (condition(c.F, Op & 7)) {
    c.PC = target;
    c.fetchPos = 0;
  }
  c.cycles += 3;
}

// adcw, sbcw, adw, sbw (I+-R2),$r (0xB8-0xBF): the memory word is the first
// operand, the register pair the second. Bit 1 subtracts, bit 2 stores. The
// non-zero flag also sees a carry or borrow out of either byte.
template <unsigned Op>
void memoryWordArith(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  const unsigned r = firstRegister(b1);
  const uint16_t offset = indexOffset(m, Op, b1);
  const IndexSide side = indexSide(c, Op);
  const uint16_t a0 = static_cast<uint16_t>(side.reg + offset);
  const uint16_t a1 = static_cast<uint16_t>(a0 + 1);
  const int32_t m0 = loadByte(m, side.selector, a0);
  const int32_t m1 = loadByte(m, side.selector, a1);
  int32_t lo, hi;
  if (Op & 0x02) {
    lo = m0 - reg(c, r);
    hi = m1 - reg(c, r + 1) - (lo < 0 ? 1 : 0);
  } else {
    lo = reg(c, r) + m0;
    hi = reg(c, r + 1) + m1 + (lo > 0xFF ? 1 : 0);
  }
  if (Op & 0x04) {
    storeByte(m, side.selector, a0, static_cast<uint8_t>(lo));
    storeByte(m, side.selector, a1, static_cast<uint8_t>(hi));
  }
  setNibbleFlags(c, static_cast<uint8_t>(hi));
  setNonZero(c, lo != 0 || hi != 0);
  setCarry(c, hi < 0 || hi > 0xFF);
  c.cycles += 15;
}

}  // namespace

// 0x83 ldcw, 0x94 ppow, 0x95 psrw, 0x99 and 0x9D gsrw keep the no-operation
// handler that the table is filled with.
void installHandlers80toFF(Handler* t) {
  t[0x80] = &wordArith<0x80>;
  t[0x81] = &wordArith<0x81>;
  t[0x82] = &wordMove;
  t[0x84] = &wordLogic<0x84>;
  t[0x85] = &wordLogic<0x85>;
  t[0x86] = &wordLogic<0x86>;
  t[0x87] = &wordLogic<0x87>;
  t[0x88] = &wordArith<0x88>;
  t[0x89] = &wordArith<0x89>;
  t[0x8A] = &wordDecimal<0x8A>;
  t[0x8B] = &wordDecimal<0x8B>;
  t[0x8C] = &wordLogic<0x8C>;
  t[0x8D] = &wordLogic<0x8D>;
  t[0x8E] = &wordLogic<0x8E>;
  t[0x8F] = &wordLogic<0x8F>;

  t[0x90] = &pairIndirect<0x90>;
  t[0x91] = &pairIndirect<0x91>;
  t[0x92] = &lcdWord<0x92>;
  t[0x93] = &lcdWord<0x93>;
  t[0x96] = &specPut<0x96>;
  t[0x97] = &specPut<0x97>;
  t[0x98] = &wordShift98;
  t[0x9A] = &wordShift9A;
  t[0x9B] = &wordComplement;
  t[0x9C] = &portOrFlags;
  t[0x9E] = &specGet<0x9E>;
  t[0x9F] = &specGet<0x9F>;

  t[0xA0] = &indexedWord<0xA0>;
  t[0xA1] = &indexedWord<0xA1>;
  t[0xA2] = &indexedWord<0xA2>;
  t[0xA3] = &indexedWord<0xA3>;
  t[0xA4] = &indexedWord<0xA4>;
  t[0xA5] = &indexedWord<0xA5>;
  t[0xA6] = &wordPush<0xA6>;
  t[0xA7] = &wordPush<0xA7>;
  t[0xA8] = &indexedWord<0xA8>;
  t[0xA9] = &indexedWord<0xA9>;
  t[0xAA] = &indexedWord<0xAA>;
  t[0xAB] = &indexedWord<0xAB>;
  t[0xAC] = &indexedWord<0xAC>;
  t[0xAD] = &indexedWord<0xAD>;
  t[0xAE] = &wordPop<0xAE>;
  t[0xAF] = &wordPop<0xAF>;

  t[0xB0] = &jumpRelative<0xB0>;
  t[0xB1] = &jumpRelative<0xB1>;
  t[0xB2] = &jumpRelative<0xB2>;
  t[0xB3] = &jumpRelative<0xB3>;
  t[0xB4] = &jumpRelative<0xB4>;
  t[0xB5] = &jumpRelative<0xB5>;
  t[0xB6] = &jumpRelative<0xB6>;
  t[0xB7] = &jumpRelative<0xB7>;
  t[0xB8] = &memoryWordArith<0xB8>;
  t[0xB9] = &memoryWordArith<0xB9>;
  t[0xBA] = &memoryWordArith<0xBA>;
  t[0xBB] = &memoryWordArith<0xBB>;
  t[0xBC] = &memoryWordArith<0xBC>;
  t[0xBD] = &memoryWordArith<0xBD>;
  t[0xBE] = &memoryWordArith<0xBE>;
  t[0xBF] = &memoryWordArith<0xBF>;

  installHandlersC0toFF(t);
}

}  // namespace tarvo
