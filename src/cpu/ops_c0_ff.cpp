// Instructions 0xC0-0xFF: the multi-byte forms that work on a run of 2 to 8
// consecutive main registers, 16-bit immediate loads and stores, block
// transfer and search, register jumps, multi-byte indexed and stack
// transfers, returns and machine control.
//
// In this half of the map opcode bit 6 is always set and never selects an
// immediate operand. In the multi-byte forms the count byte b2 follows the
// operand byte b1; with selector 3 its bits 0-4 also name the second
// register, so no separate register byte follows. Register runs wrap modulo
// 32 and each register is read after the previous step has written.
#include "cpu/ops_80_ff.h"

namespace tarvo {

namespace {

// The flags that end the multi-byte arithmetic and logic: digit flags from
// the last byte, non-zero from every byte, and the carry.
void multiFlags(ProcessorState& c, uint8_t last, bool nonZero, bool carry) {
  setNibbleFlags(c, last);
  setNonZero(c, nonZero);
  setCarry(c, carry);
}

// adbcm, sbbcm (0xC0, 0xC1, flags only) and adbm, sbbm (0xC8, 0xC9, stored)
// $r,R2,n: n-byte little-endian decimal numbers, the carry or borrow of each
// byte added to the next byte's second operand.
template <unsigned Op>
void multiDecimal(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  const uint8_t b2 = takeByte(m);
  unsigned d = firstRegister(b1);
  unsigned e = secondRegister(m, b1, b2);
  const unsigned n = blockLength(b2);
  uint32_t carry = 0;
  uint8_t acc = 0, last = 0;
  for (unsigned i = 0; i < n; ++i, ++d, ++e) {
    const uint32_t second = reg(c, e) + carry;
    const uint32_t x = (Op & 1) ? bcdSub(reg(c, d), second) : bcdAdd(reg(c, d), second);
    last = static_cast<uint8_t>(x);
    if (Op & 0x08) reg(c, d) = last;
    carry = bcdCarry(x) ? 1 : 0;
    acc |= last;
    c.cycles += 5;
  }
  multiFlags(c, last, acc != 0, carry != 0);
  c.cycles -= 2;
  jumpOption(m, b1);
}

// adbm, sbbm $r,im5,n (0xCA, 0xCB): the constant b2 bits 0-4 goes into the
// lowest byte only; above it just the carry or borrow ripples. Always
// stored. b1's selector bits are not decoded.
template <unsigned Op>
void multiDecimalConstant(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  const uint8_t b2 = takeByte(m);
  unsigned d = firstRegister(b1);
  const unsigned n = blockLength(b2);
  uint32_t k = b2 & 0x1F;
  uint32_t carry = 0;
  uint8_t acc = 0, last = 0;
  for (unsigned i = 0; i < n; ++i, ++d) {
    const uint32_t x = (Op & 1) ? bcdSub(reg(c, d), k + carry) : bcdAdd(reg(c, d), k + carry);
    last = static_cast<uint8_t>(x);
    reg(c, d) = last;
    carry = bcdCarry(x) ? 1 : 0;
    acc |= last;
    k = 0;
    c.cycles += 5;
  }
  multiFlags(c, last, acc != 0, carry != 0);
  c.cycles -= 2;
  jumpOption(m, b1);
}

// ldm $r,R2,n (0xC2): upward, one register at a time, so a destination just
// above the source repeats the source's first bytes. No flags.
void multiMove(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  const uint8_t b2 = takeByte(m);
  unsigned d = firstRegister(b1);
  unsigned e = secondRegister(m, b1, b2);
  const unsigned n = blockLength(b2);
  for (unsigned i = 0; i < n; ++i, ++d, ++e) {
    reg(c, d) = reg(c, e);
    c.cycles += 5;
  }
  c.cycles -= 2;
  jumpOption(m, b1);
}

// ancm..xrcm (0xC4-0xC7, flags only) and anm..xrm (0xCC-0xCF, stored).
template <unsigned Op>
void multiLogic(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  const uint8_t b2 = takeByte(m);
  unsigned d = firstRegister(b1);
  unsigned e = secondRegister(m, b1, b2);
  const unsigned n = blockLength(b2);
  uint8_t acc = 0, last = 0;
  for (unsigned i = 0; i < n; ++i, ++d, ++e) {
    last = logicOp(Op, reg(c, d), reg(c, e));
    if (Op & 0x08) reg(c, d) = last;
    acc |= last;
    c.cycles += 5;
  }
  setNibbleFlags(c, last);
  logicCarry(c, Op);
  setNonZero(c, acc != 0);
  c.cycles -= 2;
  jumpOption(m, b1);
}

// stw im16,($sx/$sy/$sz) (0xD0): the two value bytes follow b1 with no
// filler, low first, and go to the address in the pair that the chosen
// register-number register names (selector 3 also means SZ), on the IX side.
void storeImmediateWord(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  const uint16_t a = pairRead(c, regPointer(c, (b1 >> 5) & 3) & 0x1F);
  const uint8_t lo = takeByte(m);
  const uint8_t hi = takeByte(m);
  storeByte(m, ixSelector(c), a, lo);
  storeByte(m, ixSelector(c), static_cast<uint16_t>(a + 1), hi);
  c.cycles += 11;
}

// ldw $r,im16 (0xD1): no filler, no flags; b1's selector bits are ignored.
void loadImmediateWord(Machine& m) {
  ProcessorState& c = m.cpu;
  const unsigned r = firstRegister(takeByte(m));
  reg(c, r) = takeByte(m);
  reg(c, r + 1) = takeByte(m);
  c.cycles += 11;
}

// stlm, ldlm $r,n (0xD2, 0xD3): n bytes in one LCD frame.
template <unsigned Op>
void lcdMulti(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  const uint8_t b2 = takeByte(m);
  unsigned d = firstRegister(b1);
  const unsigned n = blockLength(b2);
  m.lcd.startFrame();
  for (unsigned i = 0; i < n; ++i, ++d) {
    if (Op & 1)
      reg(c, d) = m.lcd.byteTransfer(0);
    else
      m.lcd.byteTransfer(reg(c, d));
    c.cycles += 8;
  }
  c.cycles += 3;
}

// pre ix/iy/iz/us/ss/ky,im16 (0xD6, 0xD7): two plain bytes, low first.
template <unsigned Op>
void specLoadImmediate(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  spec16(c, (Op & 1) * 4 + ((b1 >> 5) & 3)) = plain16(m);
  c.cycles += 8;
}

// bup, bdn (0xD8, 0xD9): copy from IX (IX side) to IZ (IZ side), the byte at
// IY included, stepping both pointers up or down. IX reaches IY after at
// most 65536 bytes, so the copy always ends.
template <unsigned Op>
void blockTransfer(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint16_t stride = (Op & 1) ? 0xFFFF : 0x0001;
  for (;;) {
    storeByte(m, izSelector(c), c.IZ, loadByte(m, ixSelector(c), c.IX));
    c.cycles += 6;
    if (c.IX == c.IY) break;
    c.IX = static_cast<uint16_t>(c.IX + stride);
    c.IZ = static_cast<uint16_t>(c.IZ + stride);
  }
  c.cycles += 3;
}

// Multi-byte shifts (0xDA). Each visited register gets a value made from its
// old value v and the old value p of the register visited before it (0 for
// the first): a digit shift across the block or a move by one register.
template <unsigned Sel>
void multiShift(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  const uint8_t b2 = takeByte(m);
  unsigned d = firstRegister(b1);
  const unsigned n = blockLength(b2);
  constexpr bool kUp = (Sel & 1) != 0;
  uint8_t p = 0, any = 0, last = 0;
  for (unsigned i = 0; i < n; ++i) {
    const uint8_t v = reg(c, d);
    if constexpr (Sel == 0)
      last = static_cast<uint8_t>((v >> 4) | (p << 4));  // didm
    else if constexpr (Sel == 1)
      last = static_cast<uint8_t>((v << 4) | (p >> 4));  // dium
    else
      last = p;  // bydm, byum
    reg(c, d) = last;
    p = v;
    any |= last;
    d = kUp ? d + 1 : d - 1;
    c.cycles += 5;
  }
  multiFlags(c, last, any != 0, false);
  c.cycles -= 2;
}

constexpr Handler kShiftDA[4] = {&multiShift<0>, &multiShift<1>, &multiShift<2>, &multiShift<3>};
void multiShiftDA(Machine& m) {
  kShiftDA[(m.cpu.fetchBuffer[1] >> 5) & 3](m);
}

// cmpm, invm $r,n (0xDB): upward with a carry that starts at 1 for the two's
// complement (b1 bit 6 = 0) and 0 for the one's complement, and stops at
// the first non-zero result.
void multiComplement(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  const uint8_t b2 = takeByte(m);
  unsigned d = firstRegister(b1);
  const unsigned n = blockLength(b2);
  const bool invert = (b1 & 0x40) != 0;
  unsigned k = invert ? 0 : 1;
  uint8_t any = 0, last = 0;
  for (unsigned i = 0; i < n; ++i, ++d) {
    last = static_cast<uint8_t>(~reg(c, d) + k);
    reg(c, d) = last;
    if (last != 0) k = 0;
    any |= last;
    c.cycles += 5;
  }
  multiFlags(c, last, any != 0, any != 0 || invert);
  c.cycles -= 2;
}

// sup, sdn $r (0xDC, 0xDD): look for the value of $r from IX towards IY,
// the byte at IY included. IX stays on the match, or on IY.
template <unsigned Op>
void blockSearch(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t value = reg(c, firstRegister(takeByte(m)));
  const uint16_t stride = (Op & 1) ? 0xFFFF : 0x0001;
  int32_t diff;
  for (;;) {
    diff = static_cast<int32_t>(loadByte(m, ixSelector(c), c.IX)) - value;
    c.cycles += 6;
    if (diff == 0 || c.IX == c.IY) break;
    c.IX = static_cast<uint16_t>(c.IX + stride);
  }
  setFlags8(c, static_cast<uint8_t>(diff));
  setCarry(c, diff < 0);
  c.cycles += 3;
}

// jp $r (0xDE) and jp ($r) (0xDF): to pair $r, or to the word it points at
// on the IX side.
template <unsigned Op>
void jumpRegister(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint16_t a = pairRead(c, firstRegister(takeByte(m)));
  if (Op & 1) {
    const uint8_t lo = loadByte(m, ixSelector(c), a);
    const uint8_t hi = loadByte(m, ixSelector(c), static_cast<uint16_t>(a + 1));
    c.PC = static_cast<uint16_t>(hi << 8 | lo);
  } else {
    c.PC = a;
  }
  c.fetchPos = 0;
  c.cycles += 5;
}

// stm, stim, stdm, ldm, ldim, lddm $r,(I+-R2),n (0xE0-0xE5, 0xE8-0xED). The
// offset register comes from b1 and b2 and is read once, before any
// transfer; b1 bit 7 is its sign. Bit 3 loads, bit 2 runs downward (and
// leaves I on the lowest byte), bit 1 keeps the advanced index.
template <unsigned Op>
void indexedMulti(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t b1 = takeByte(m);
  const uint8_t b2 = takeByte(m);
  unsigned d = firstRegister(b1);
  const uint16_t value = reg(c, secondRegister(m, b1, b2));
  const uint16_t offset = (b1 & 0x80) ? static_cast<uint16_t>(-value) : value;
  const unsigned n = blockLength(b2);
  const IndexSide side = indexSide(c, Op);
  uint16_t& index = side.reg;
  const uint16_t old = index;
  index = static_cast<uint16_t>(index + offset);
  for (unsigned i = 0; i < n; ++i) {
    if (Op & 0x08)
      reg(c, d) = loadByte(m, side.selector, index);
    else
      storeByte(m, side.selector, index, reg(c, d));
    if (Op & 0x04) {
      --d;
      --index;
    } else {
      ++d;
      ++index;
    }
    c.cycles += 3;
  }
  if (Op & 0x04) {
    ++index;
    c.cycles += 3;
  } else {
    if (!(Op & 0x02)) index = old;
    c.cycles += 5;
  }
}

// phsm, phum $r,n (0xE6, 0xE7): push $r, $(r-1), ... so the block lies in
// ascending register order at the new stack pointer.
template <unsigned Op>
void multiPush(Machine& m) {
  ProcessorState& c = m.cpu;
  unsigned d = firstRegister(takeByte(m));
  const unsigned n = blockLength(takeByte(m));
  uint16_t& sp = (Op & 1) ? c.US : c.SS;
  for (unsigned i = 0; i < n; ++i, --d) {
    push(m, sp, reg(c, d));
    c.cycles += 3;
  }
  c.cycles += 3;
}

// ppsm, ppum $r,n (0xEE, 0xEF): pop into $r, $(r+1), ...
template <unsigned Op>
void multiPop(Machine& m) {
  ProcessorState& c = m.cpu;
  unsigned d = firstRegister(takeByte(m));
  const unsigned n = blockLength(takeByte(m));
  uint16_t& sp = (Op & 1) ? c.US : c.SS;
  for (unsigned i = 0; i < n; ++i, ++d) {
    reg(c, d) = pop(m, sp);
    c.cycles += 3;
  }
  c.cycles += 5;
}

// rtn cc (0xF0-0xF7): calls push the address one below their next
// instruction, so the popped address is corrected by 1.
template <unsigned Op>
void returnFromCall(Machine& m) {
  ProcessorState& c = m.cpu;
  if (condition(c.F, Op & 7)) {
    const uint8_t lo = pop(m, c.SS);
    const uint8_t hi = pop(m, c.SS);
    c.PC = static_cast<uint16_t>((hi << 8 | lo) + 1);
    c.fetchPos = 0;
    c.cycles += 8;
  }
  c.cycles += 3;
}

void clearTime(Machine& m) {
  m.cpu.TM = 0;
  m.cpu.cycles += 3;
}

// fst and slw: every step outside interrupt service counts its cycles
// shifted left by the clock shift.
void fastClock(Machine& m) {
  m.cpu.clockShift = 0;
  m.cpu.cycles += 3;
}
void slowClock(Machine& m) {
  m.cpu.clockShift = 4;
  m.cpu.cycles += 3;
}

// rtni (0xFD): interrupt entry pushes the address of the next instruction
// itself, so nothing is added.
void returnFromInterrupt(Machine& m) {
  ProcessorState& c = m.cpu;
  const uint8_t lo = pop(m, c.SS);
  const uint8_t hi = pop(m, c.SS);
  c.PC = static_cast<uint16_t>(hi << 8 | lo);
  c.fetchPos = 0;
  endService(m);
  c.cycles += 8 + ((c.UA & 3) != 0 ? 1 : 0);
}

// trp (0xFF): a call to 0x0022 that, like every call, pushes the address one
// below the next instruction. In the word-organised ROM the opcode's word has
// not been passed yet when the handler runs (PC still addresses it), so the
// next instruction is one word further on; without that the matching rtn
// would land on the trp again.
void trap(Machine& m) {
  ProcessorState& c = m.cpu;
  const bool wordPending = c.wordFetch == 1 && (c.fetchPos & 1) != 0;
  const uint16_t next = static_cast<uint16_t>(c.PC + (wordPending ? 1 : 0));
  const uint16_t ret = static_cast<uint16_t>(next - 1);
  push(m, c.SS, static_cast<uint8_t>(ret >> 8));
  push(m, c.SS, static_cast<uint8_t>(ret));
  c.PC = 0x0022;
  c.fetchPos = 0;
  c.cycles += 9;
}

}  // namespace

// 0xC3 ldcm, 0xD4 ppom and 0xD5 psrm keep the no-operation handler.
void installHandlersC0toFF(Handler* t) {
  t[0xC0] = &multiDecimal<0xC0>;
  t[0xC1] = &multiDecimal<0xC1>;
  t[0xC2] = &multiMove;
  t[0xC4] = &multiLogic<0xC4>;
  t[0xC5] = &multiLogic<0xC5>;
  t[0xC6] = &multiLogic<0xC6>;
  t[0xC7] = &multiLogic<0xC7>;
  t[0xC8] = &multiDecimal<0xC8>;
  t[0xC9] = &multiDecimal<0xC9>;
  t[0xCA] = &multiDecimalConstant<0xCA>;
  t[0xCB] = &multiDecimalConstant<0xCB>;
  t[0xCC] = &multiLogic<0xCC>;
  t[0xCD] = &multiLogic<0xCD>;
  t[0xCE] = &multiLogic<0xCE>;
  t[0xCF] = &multiLogic<0xCF>;

  t[0xD0] = &storeImmediateWord;
  t[0xD1] = &loadImmediateWord;
  t[0xD2] = &lcdMulti<0xD2>;
  t[0xD3] = &lcdMulti<0xD3>;
  t[0xD6] = &specLoadImmediate<0xD6>;
  t[0xD7] = &specLoadImmediate<0xD7>;
  t[0xD8] = &blockTransfer<0xD8>;
  t[0xD9] = &blockTransfer<0xD9>;
  t[0xDA] = &multiShiftDA;
  t[0xDB] = &multiComplement;
  t[0xDC] = &blockSearch<0xDC>;
  t[0xDD] = &blockSearch<0xDD>;
  t[0xDE] = &jumpRegister<0xDE>;
  t[0xDF] = &jumpRegister<0xDF>;

  t[0xE0] = &indexedMulti<0xE0>;
  t[0xE1] = &indexedMulti<0xE1>;
  t[0xE2] = &indexedMulti<0xE2>;
  t[0xE3] = &indexedMulti<0xE3>;
  t[0xE4] = &indexedMulti<0xE4>;
  t[0xE5] = &indexedMulti<0xE5>;
  t[0xE6] = &multiPush<0xE6>;
  t[0xE7] = &multiPush<0xE7>;
  t[0xE8] = &indexedMulti<0xE8>;
  t[0xE9] = &indexedMulti<0xE9>;
  t[0xEA] = &indexedMulti<0xEA>;
  t[0xEB] = &indexedMulti<0xEB>;
  t[0xEC] = &indexedMulti<0xEC>;
  t[0xED] = &indexedMulti<0xED>;
  t[0xEE] = &multiPop<0xEE>;
  t[0xEF] = &multiPop<0xEF>;

  t[0xF0] = &returnFromCall<0xF0>;
  t[0xF1] = &returnFromCall<0xF1>;
  t[0xF2] = &returnFromCall<0xF2>;
  t[0xF3] = &returnFromCall<0xF3>;
  t[0xF4] = &returnFromCall<0xF4>;
  t[0xF5] = &returnFromCall<0xF5>;
  t[0xF6] = &returnFromCall<0xF6>;
  t[0xF7] = &returnFromCall<0xF7>;
  t[0xF8] = &opNone;  // nop
  t[0xF9] = &clearTime;
  t[0xFA] = &fastClock;
  t[0xFB] = &slowClock;
  t[0xFC] = &endService;  // cani
  t[0xFD] = &returnFromInterrupt;
  t[0xFE] = &enterPowerOff;  // off
  t[0xFF] = &trap;
}

}  // namespace tarvo
