// Whole runs of the compilable engine: files, project list, console, and the runs it ends.
#include "compilable/engine.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "image/opcodes.h"
#include "tests/compilable_runs.h"
#include "tests/example_programs.h"
#include "tests/expect_compiles.h"
#include "tests/progs_builder.h"

namespace {

using namespace image;
using tests::ProgsBuilder;

// The console after the summary of the file, which the driver prints for both engines.
std::string engine_console(const tests::RunResult& run) {
  const std::string rule = "----------------------\n";
  const size_t at = run.console.find(rule);
  return at == std::string::npos ? run.console : run.console.substr(at + rule.size());
}

// Functions in files of awkward names: grouped by their usable names, in the order of each
// file's first function.
ProgsBuilder filed_program() {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, 28, "x");
  struct Row {
    const char* name;
    const char* file;
  };
  const Row rows[] = {
      {"in_fight", "ai\\fight.qc"},    {"in_world", "world.qc"}, {"no_file", ""},
      {"fight_again", "ai\\fight.qc"}, {"in_list", "progs.src"}, {"dotted", ".hidden.qc"},
  };
  int cell = 29;
  for (const Row& row : rows) {
    b.add_function_global(cell, row.name, static_cast<int>(b.functions.size()));
    const int first = b.add_statement(OP_STORE_F, 28, 28);
    b.add_statement(OP_DONE);
    b.add_function(first, cell + 1, 0, row.name, row.file);
    ++cell;
  }
  b.set_int(cell, 0);
  return b;
}

TEST(DecompileProgram, GroupsFunctionsByTheirSourceFiles) {
  const tests::RunResult run = tests::run_compilable(filed_program());
  EXPECT_EQ(0, run.status);
  // A name that is no usable file name ("", "progs.src", ".hidden.qc") sends its function
  // to functions.qc.
  EXPECT_EQ(
      "Format: version 6\n"
      "writing ai_fight.qc...\n"
      "writing world.qc...\n"
      "writing functions.qc...\n"
      "6 functions written in 3 files, 0 as state loops, 0 strings only fteqcc can read\n",
      engine_console(run));
  std::string files;
  for (const auto& [name, text] : run.files) {
    files += name + "\n";
  }
  EXPECT_EQ("ai_fight.qc\nfunctions.qc\nprogs.src\nworld.qc\n", files);
  EXPECT_EQ("./progs.dat\n\nai_fight.qc\nworld.qc\nfunctions.qc\n", run.files.at("progs.src"));
  const std::string& fight = run.files.at("ai_fight.qc");
  EXPECT_NE(std::string::npos, fight.find("void() in_fight =\n"));
  EXPECT_NE(std::string::npos, fight.find("void() fight_again =\n"));
  const std::string& rest = run.files.at("functions.qc");
  for (const char* name : {"no_file", "in_list", "dotted"}) {
    EXPECT_NE(std::string::npos, rest.find(std::string("void() ") + name + " =\n")) << name;
  }
  EXPECT_EQ("", run.errors);
  tests::expect_compiles(run);
}

TEST(DecompileProgram, CountsWhatItCouldNotWriteAsIs) {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, 28, "x");
  b.add_function_global(29, "f", 1);
  b.add_immediate_float(30, std::numeric_limits<float>::quiet_NaN());
  b.add_immediate_string(31, "back\\slash");
  b.add_immediate_string(32, "C:\\");
  int first = b.add_statement(OP_ADD_F, 28, 30, 33);
  b.add_statement(OP_STORE_F, 33, 28);
  b.add_statement(OP_EQ_S, 31, 32, 33);
  b.add_statement(OP_STORE_F, 33, 28);
  b.add_statement(OP_DONE);
  b.add_function(first, 33, 0, "f", "a.qc");
  // g: a loop entered in two places, written as a state loop.
  b.add_function_global(34, "g", 2);
  first = b.add_statement(OP_IFNOT, 28, 2);
  b.add_statement(OP_STORE_F, 28, 28);
  b.add_statement(OP_STORE_F, 28, 28);
  b.add_statement(OP_IF, 28, -2);
  b.add_statement(OP_DONE);
  b.add_function(first, 35, 0, "g", "a.qc");
  b.set_int(35, 0);
  const tests::RunResult run = tests::run_compilable(b);
  EXPECT_EQ(0, run.status);
  // A NaN has no literal: it is written as 0 and reported.
  EXPECT_EQ(
      "Format: version 6\n"
      "writing a.qc...\n"
      "2 functions written in 1 files, 1 as state loops, 2 strings only fteqcc can read\n"
      "Warning: 1 float values cannot be written and were written as 0\n",
      engine_console(run));
  EXPECT_EQ("void() f =\n{\n\tx = x + 0;\n\tx = \"back\\\\slash\" == \"C:\\\\\";\n};\n",
            tests::function_named(run, "f"));
  tests::expect_compiles(run, false);
}

// The bundled example (its whole run is a golden file set) compiles with fteqcc; qcc cannot
// compile its string constant, whose value qcc takes from the last literal it read.
TEST(DecompileProgram, TheBundledExampleCompilesWithFteqcc) {
  const tests::RunResult run = tests::run_compilable(tests::example_program());
  ASSERT_EQ(0, run.status) << run.console;
  tests::expect_compiles(run, false);
}

TEST(DecompileProgram, EndsWithAMessageOnAProgramItCannotRead) {
  struct Case {
    const char* name;
    uint16_t op;  // g's first instruction, with a of x and b as given
    int16_t b;
    const char* message;
  };
  const Case cases[] = {
      {"an opcode no format has", 300, 0,
       "Format: version 6\nFatal Error - g: unknown opcode 300 at instruction 3.\n"},
      {"a jump out of a function", OP_IFNOT, 9,
       "Format: version 6\nFatal Error - g: the jump at instruction 3 leaves the function.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgsBuilder b = tests::new_program();
    b.add_globaldef(ev_float | DEF_SAVEGLOBAL, 28, "x");
    int first = b.add_statement(OP_STORE_F, 28, 28);
    b.add_statement(OP_DONE);
    b.add_function(first, 29, 0, "f", "a.qc");
    first = b.add_statement(c.op, 28, c.b);
    b.add_statement(OP_DONE);
    b.add_function(first, 29, 0, "g", "b.qc");
    b.set_int(29, 0);
    const tests::RunResult run = tests::run_compilable(b);
    EXPECT_EQ(1, run.status);
    EXPECT_EQ(c.message, engine_console(run));
    // Every function is read before the first file is written: nothing was written.
    EXPECT_TRUE(run.files.empty());
  }
}

}  // namespace
