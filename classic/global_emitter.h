// Writes the global definitions that lie in front of a function in the global area.
#pragma once

#include "image/program_image.h"

namespace classic {

// Declares the globals between the previous record's area and record function_index's
// parameters; `name` is that record's name, whose own definition is left to the body.
void emit_globals_before(int function_index, const char* name);

}  // namespace classic
