// The pre-pass that marks where blocks close and where do-loops open.
#pragma once

#include <cstdint>

#include "image/program_image.h"

namespace classic {

// Whether the IFNOT at the position heads a while loop (else an if block). The
// translator and the marking pass both decide by this.
bool ifnot_opens_while(int64_t position);
void mark_blocks(const image::FunctionRecord& function);

}  // namespace classic
