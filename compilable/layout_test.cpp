// The order of the declarations: qcc's order of allocation where the program keeps it, else
// every global and prototype before the code.
#include "compilable/layout.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "image/opcodes.h"
#include "tests/compilable_runs.h"
#include "tests/expect_compiles.h"
#include "tests/progs_builder.h"

namespace {

using namespace image;
using tests::ProgsBuilder;

// float x; void() f = { local float a; a = x * 2; local float b; b = a + 1; x = b; };
// float y; void() g = { y = x; f (); };   as qcc allocates it: each name where it is read,
// each temporary when its instruction is compiled. With `shuffled`, the definitions are
// listed out of the order of their cells.
ProgsBuilder two_functions(bool shuffled) {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, 28, "x");
  b.add_immediate_float(29, 2);
  b.add_immediate_float(30, 1);
  b.add_function_global(31, "f", 1);
  b.add_globaldef(ev_float, 32, "a");
  b.add_globaldef(ev_float, 34, "b");
  int first = b.add_statement(OP_MUL_F, 28, 29, 33);
  b.add_statement(OP_STORE_F, 33, 32);
  b.add_statement(OP_ADD_F, 32, 30, 35);
  b.add_statement(OP_STORE_F, 35, 34);
  b.add_statement(OP_STORE_F, 34, 28);
  b.add_statement(OP_DONE);
  b.add_function(first, 32, 3, "f", "a.qc");
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, 36, "y");
  b.add_function_global(37, "g", 2);
  first = b.add_statement(OP_STORE_F, 28, 36);
  b.add_statement(OP_CALL0, 31);
  b.add_statement(OP_DONE);
  b.add_function(first, 38, 0, "g", "a.qc");
  b.set_int(38, 0);
  if (shuffled) {
    std::swap(b.globaldefs[1], b.globaldefs[b.globaldefs.size() - 1]);
  }
  return b;
}

// Each local is declared where qcc allocated its cell, each global between the functions
// where its cell lies, so that compiling again puts everything where it was.
TEST(LayOutProgram, KeepsTheOrderOfAllocation) {
  const tests::RunResult run = tests::run_compilable(two_functions(false));
  ASSERT_EQ(0, run.status) << run.console;
  EXPECT_EQ(
      "float x;\n"
      "\n"
      "void() f =\n{\n"
      "\tlocal float a;\n"
      "\ta = x * 2;\n"
      "\tlocal float b;\n"
      "\tb = a + 1;\n"
      "\tx = b;\n"
      "};\n"
      "float y;\n"
      "\n"
      "void() g =\n{\n\ty = x;\n\tf ();\n};\n",
      run.files.at("a.qc"));
  tests::expect_compiles(run);
}

TEST(LayOutProgram, DeclaresEverythingBeforeTheCodeOtherwise) {
  const tests::RunResult run = tests::run_compilable(two_functions(true));
  ASSERT_EQ(0, run.status) << run.console;
  // No prototypes: each function is defined before its first use.
  EXPECT_EQ(
      "float x;\n"
      "float y;\n"
      "\n"
      "void() f =\n{\n"
      "\tlocal float a;\n"
      "\tlocal float b;\n"
      "\ta = x * 2;\n"
      "\tb = a + 1;\n"
      "\tx = b;\n"
      "};\n"
      "\n"
      "void() g =\n{\n\ty = x;\n\tf ();\n};\n",
      run.files.at("a.qc"));
  tests::expect_compiles(run);
}

// qcc counts as locals the cells up to its last local statement, so a function whose count
// runs past its last local declares one again at the end; never one qcc cannot declare, such
// as a parameter of function type (fteqcc counts its temporaries too).
TEST(LayOutProgram, DeclaresNoLocalOfFunctionTypeAgain) {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(ev_entity | DEF_SAVEGLOBAL, 28, "self");
  tests::add_field(b, 29, "think", ev_function, 0);
  b.add_function_global(30, "f", 1);
  b.add_globaldef(ev_function, 31, "fn");
  // void(void() fn) f = { self.think = fn; };  with fteqcc's count of locals
  const int first = b.add_statement(OP_ADDRESS, 28, 29, 32);
  b.add_statement(OP_STOREP_FNC, 31, 32);
  b.add_statement(OP_DONE);
  b.add_function(first, 31, 2, "f", "a.qc", {1});
  b.set_int(32, 0);
  const tests::RunResult run = tests::run_compilable(b);
  ASSERT_EQ(0, run.status) << run.console;
  EXPECT_EQ("void(void() fn) f =\n{\n\tself.think = fn;\n};\n", tests::function_named(run, "f"));
  tests::expect_compiles(run);
}

}  // namespace
