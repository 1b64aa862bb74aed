// Instructions 0x80-0xFF.
#include "cpu/exec.h"
#include "cpu/operands.h"

namespace tarvo {

void installHandlers80toFF(Handler*) {}

}  // namespace tarvo
