// Complete small programs, laid out as a QuakeC compiler lays them out.
#pragma once

#include "tests/progs_builder.h"

namespace tests {

// The README's example: builtins, globals, fields, frame functions, if/else and loops,
// spread over several source files.
ProgsBuilder example_program();

}  // namespace tests
