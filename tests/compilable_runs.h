// Whole runs of the compilable engine for tests: on built programs, on programs compiled from
// a small source, and the compilers on what it wrote.
#pragma once

#include <string>
#include <vector>

#include "compare/progs_compare.h"
#include "tests/compilers.h"
#include "tests/progs_builder.h"
#include "tests/run_harness.h"

namespace tests {

// progs2qc -c on the program written as "progs.dat" in a fresh directory.
RunResult run_compilable(const ProgsBuilder& program);

// The definition of the function `name` in the files of a run, from its head line to its
// "};" line; "" when no file defines it.
std::string function_named(const RunResult& run, const std::string& name);

// The first line of the run's files that declares `name` outside every function and ends
// with ";": "float x;", "float X = 5;", ".vector origin;", "void(float p0) name = #1;" or a
// prototype; "" when there is none.
std::string declaration_named(const RunResult& run, const std::string& name);

// Writes the files the run wrote (progs.src and the source files) into the directory.
void write_run_files(const RunResult& run, const std::string& directory);

// Compiles what the run wrote, in directory/name; status -1 when the compiler is absent.
CompileResult compile_run(Compiler compiler, const RunResult& run, const std::string& directory,
                          const std::string& name, const std::vector<std::string>& options = {});

// Adds a builtin: the function global at `ofs` and its record, parameters after it.
int add_builtin(ProgsBuilder& b, int ofs, const std::string& name, int number,
                std::vector<uint8_t> parm_sizes = {});
// Adds a field: the field global at `ofs` holding `field_ofs`, and the field definition.
void add_field(ProgsBuilder& b, int ofs, const std::string& name, uint16_t type, int field_ofs);

// A program compiled from one source file, decompiled by this engine in-process and
// compiled again by the same compiler, then compared with the first build.
struct SourceTrip {
  CompileResult original;
  RunResult decompiled;  // the run of progs2qc -c, with the files it wrote
  CompileResult rebuilt;
  compare::Comparison comparison;  // filled when both builds succeeded
};
SourceTrip round_trip_source(Compiler compiler, const std::vector<std::string>& options,
                             const std::string& source, const std::string& directory);

}  // namespace tests
