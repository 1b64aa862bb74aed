// Instructions 0xC0-0xFF.
#include "cpu/ops_80_ff.h"

namespace tarvo {

void installHandlersC0toFF(Handler*) {}

}  // namespace tarvo
