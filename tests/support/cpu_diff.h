// The processor registers two machines of a differential test disagree on,
// written as "NAME: first A, second B; " for each.
#pragma once

#include <ostream>

#include "cpu/state.h"

namespace tarvo::test {

inline void registerDifferences(std::ostream& out, const ProcessorState& x, const ProcessorState& y,
                                const char* first, const char* second) {
#define TARVO_FIELD(f) \
  if (x.f != y.f) out << #f << ": " << first << " " << +x.f << ", " << second << " " << +y.f << "; "
  TARVO_FIELD(PC);
  TARVO_FIELD(SS);
  TARVO_FIELD(US);
  TARVO_FIELD(IX);
  TARVO_FIELD(IY);
  TARVO_FIELD(IZ);
  TARVO_FIELD(KY);
  TARVO_FIELD(SX);
  TARVO_FIELD(SY);
  TARVO_FIELD(SZ);
  TARVO_FIELD(UA);
  TARVO_FIELD(IA);
  TARVO_FIELD(IB);
  TARVO_FIELD(IE);
  TARVO_FIELD(PE);
  TARVO_FIELD(PD);
  TARVO_FIELD(TM);
  TARVO_FIELD(F);
  TARVO_FIELD(segmentLatch);
  TARVO_FIELD(inService);
  TARVO_FIELD(clockShift);
  TARVO_FIELD(powerOff);
  TARVO_FIELD(kyStatus);
  TARVO_FIELD(prevKyStatus);
#undef TARVO_FIELD
}

}  // namespace tarvo::test
