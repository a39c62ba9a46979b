// The check that what a run of the compilable engine wrote compiles without error.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/compilable_runs.h"
#include "tests/compilers.h"

namespace tests {

// Compiles the run's files with each compiler there is; a missing compiler is not checked.
// Returns how many compilers were run.
inline int expect_compiles(const RunResult& run, bool with_qcc = true) {
  int compiled = 0;
  for (Compiler compiler : {Compiler::fteqcc, Compiler::qcc}) {
    if ((compiler == Compiler::qcc && !with_qcc) || compiler_path(compiler).empty()) {
      continue;
    }
    const ScratchDirectory scratch = make_scratch_directory();
    const CompileResult result = compile_run(compiler, run, scratch.path, "src");
    EXPECT_EQ(0, result.status) << compiler_name(compiler) << ":\n" << result.console;
    ++compiled;
  }
  return compiled;
}

}  // namespace tests
