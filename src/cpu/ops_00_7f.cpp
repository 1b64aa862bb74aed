// Instructions 0x00-0x7F.
#include "cpu/exec.h"
#include "cpu/operands.h"

namespace tarvo {

void installHandlers00to7F(Handler*) {}

}  // namespace tarvo
