// Loads built programs into the process-wide image and captures what a routine writes.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "support/error.h"
#include "tests/progs_builder.h"

namespace tests {

// Resets every table of the run and loads the program as the loader would read it, with
// the classic engine's own tables made from it as a run makes them before its signatures.
void load_fixture(const ProgsBuilder& program);

struct Captured {
  std::string output;                            // what went to the current .qc file
  std::string console;                           // what went to standard output
  std::optional<support::FatalCondition> fatal;  // the condition that ended the routine
};

// Runs the routine with a fresh current output and console capture; a fatal condition
// is caught and returned.
Captured capture(const std::function<void()>& routine);

}  // namespace tests
