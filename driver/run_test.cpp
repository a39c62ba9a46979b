// Whole runs: the summary, naming of unnamed functions and the input-file failures.
#include "driver/run.h"

#include <gtest/gtest.h>

#include "tests/example_programs.h"
#include "tests/run_harness.h"

namespace {

TEST(RunDecompiler, ExampleProgramRunsToTheEnd) {
  tests::RunResult result = tests::run_program(tests::example_program());
  EXPECT_EQ(0, result.status) << result.console;
  EXPECT_EQ(1u, result.files.count("progs.src"));
}

}  // namespace
