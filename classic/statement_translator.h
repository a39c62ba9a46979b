// Turns one instruction of a marked body into QuakeC text on the current output.
#pragma once

#include <cstdint>

#include "image/program_image.h"

namespace classic {

// Empties the working texts the translator reuses from instruction to instruction.
void reset_statement_translator();

// Prints the instruction's block marks, strips them, then the instruction itself:
// a line, a parked expression, or a block opening or closing. `indent` is the body's
// indentation counter.
void translate_statement(const image::FunctionRecord& function, int64_t position, int& indent);

}  // namespace classic
