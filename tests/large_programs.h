// Programs at the format's full scale, laid out as a QuakeC compiler lays them out.
#pragma once

#include "tests/progs_builder.h"

namespace tests {

// A program that fills `eighths`/8 (1 to 8) of the format's capacity: at 8, about 65536
// statements, 8192 function records, 16384 global cells, 500000 string bytes and 1024
// field definitions, and some 13000 global definitions (temporaries have none). Builtins,
// globals, fields, frame functions and ordinary functions spread over a few hundred
// source files; it decompiles completely. The same `eighths` always gives the same bytes.
ProgsBuilder large_program(int eighths);

}  // namespace tests
