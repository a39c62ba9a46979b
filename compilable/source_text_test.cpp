// The text of declarations, expressions and whole functions, which both compilers read alike.
#include "compilable/source_text.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "image/opcodes.h"
#include "tests/compilable_runs.h"
#include "tests/expect_compiles.h"
#include "tests/progs_builder.h"

namespace {

using namespace image;
using tests::ProgsBuilder;

constexpr int kA = 28;  // float globals a, b, c, x
constexpr int kB = 29;
constexpr int kC = 30;
constexpr int kX = 31;
// Cells from kOwn on are the function's own, counted from the start of its area.
constexpr int kOwn = 1000;
constexpr int kT = kOwn;
constexpr int kU = kOwn + 1;

struct Op {
  uint16_t op;
  int a, b, c;
};

// Each case computes x from a, b and c with two instructions: T = first, x = second.
TEST(FunctionText, BracketsWhereEitherCompilerWouldReadOtherwise) {
  struct Case {
    const char* name;
    Op first;   // into T
    Op second;  // into U, stored into x
    const char* want;
  };
  const Case cases[] = {
      {"a sum multiplied", {OP_ADD_F, kA, kB, kT}, {OP_MUL_F, kT, kC, kU}, "x = (a + b) * c;"},
      {"a product added", {OP_MUL_F, kA, kB, kT}, {OP_ADD_F, kT, kC, kU}, "x = a * b + c;"},
      {"a difference from the left",
       {OP_SUB_F, kA, kB, kT},
       {OP_SUB_F, kT, kC, kU},
       "x = a - b - c;"},
      {"a difference on the right",
       {OP_SUB_F, kB, kC, kT},
       {OP_SUB_F, kA, kT, kU},
       "x = a - (b - c);"},
      {"a quotient on the right",
       {OP_DIV_F, kB, kC, kT},
       {OP_DIV_F, kA, kT, kU},
       "x = a / (b / c);"},
      // qcc binds & and | as tightly as *, C more loosely than +.
      {"a sum under &", {OP_ADD_F, kA, kB, kT}, {OP_BITAND, kT, kC, kU}, "x = (a + b) & c;"},
      {"& under a sum", {OP_BITAND, kA, kB, kT}, {OP_ADD_F, kT, kC, kU}, "x = (a & b) + c;"},
      {"| under &", {OP_BITOR, kA, kB, kT}, {OP_BITAND, kT, kC, kU}, "x = (a | b) & c;"},
      {"a comparison compared", {OP_EQ_F, kA, kB, kT}, {OP_EQ_F, kT, kC, kU}, "x = a == b == c;"},
      {"a comparison compared on the right",
       {OP_EQ_F, kB, kC, kT},
       {OP_EQ_F, kA, kT, kU},
       "x = a == (b == c);"},
      {"a comparison under &", {OP_LT, kA, kB, kT}, {OP_BITAND, kT, kC, kU}, "x = (a < b) & c;"},
      // qcc reads "!a == b" as "!(a == b)".
      {"a negation compared", {OP_NOT_F, kA, 0, kT}, {OP_EQ_F, kT, kB, kU}, "x = (!a) == b;"},
      {"a comparison negated", {OP_EQ_F, kA, kB, kT}, {OP_NOT_F, kT, 0, kU}, "x = !(a == b);"},
      // Both compilers read "x = a && b" as "(x = a) && b".
      {"&& assigned to a local",
       {OP_AND, kA, kB, kT},
       {OP_OR, kT, kT, kU},
       "local float local1;\n\tlocal1 = (a && b);\n\tx = (local1 || local1);"},
      {"|| under &&", {OP_OR, kA, kB, kT}, {OP_AND, kT, kC, kU}, "x = ((a || b) && c);"},
      {"&& under ||", {OP_AND, kA, kB, kT}, {OP_OR, kT, kC, kU}, "x = (a && b || c);"},
      {"a negation under &&", {OP_NOT_F, kA, 0, kT}, {OP_AND, kT, kB, kU}, "x = (!a && b);"},
  };
  // Four globals and a function f1, f2, ... for each case, all in one run.
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, kA, "a");
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, kB, "b");
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, kC, "c");
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, kX, "x");
  int cell = kX + 1;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const int area = cell + 1;
    auto place = [area](int operand) { return operand >= kOwn ? area + operand - kOwn : operand; };
    b.add_function_global(cell, "f" + std::to_string(i + 1), static_cast<int>(b.functions.size()));
    const int first = static_cast<int>(b.statements.size());
    for (const Op& op : {cases[i].first, cases[i].second, Op{OP_STORE_F, kU, kX, 0}}) {
      b.add_statement(op.op, place(op.a), place(op.b), place(op.c));
    }
    b.add_statement(OP_DONE);
    b.add_function(first, area, 0, "f" + std::to_string(i + 1), "a.qc");
    cell = area + 2;
  }
  b.set_int(cell, 0);
  const tests::RunResult run = tests::run_compilable(b);
  ASSERT_EQ(0, run.status) << run.console;
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    const std::string name = "f" + std::to_string(i + 1);
    EXPECT_EQ("void() " + name + " =\n{\n\t" + cases[i].want + "\n};\n",
              tests::function_named(run, name));
  }
  tests::expect_compiles(run);
}

// The declarations of globals with their values: constants have one, variables do not.
TEST(GlobalDeclaration, ConstantsWithTheirValues) {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(ev_float, 28, "pi");
  b.set_float(28, 3.14159f);
  b.add_globaldef(ev_float, 29, "tiny");
  b.set_float(29, 0.020000001f);
  b.add_globaldef(ev_float, 30, "minus_zero");
  b.set_float(30, -0.0f);
  b.add_globaldef(ev_vector, 31, "down");
  b.set_vector(31, 0, 0, -1);
  b.add_globaldef(ev_string, 34, "version");
  b.set_int(34, b.add_string("v1.0\n"));
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, 35, "skill");
  b.add_globaldef(ev_vector | DEF_SAVEGLOBAL, 36, "spot");
  b.add_globaldef(ev_string | DEF_SAVEGLOBAL, 39, "message");
  b.add_globaldef(ev_float, 40, "counter");  // a variable: the code writes it
  // A saved global with a value no code writes: the value is what the engine reads (FTE's
  // physics_mode), so it is kept, as a constant.
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, 44, "physics_mode");
  b.set_float(44, 2);
  // An entity and a void have no literal, whatever flags they carry.
  b.add_globaldef(ev_entity, 41, "target");
  b.add_globaldef(ev_void, 42, "end_sys_globals");
  b.add_globaldef(ev_function, 43, "f");
  b.set_int(43, 1);
  const int first = b.add_statement(OP_STORE_F, 35, 40);
  b.add_statement(OP_DONE);
  b.add_function(first, 45, 0, "f", "a.qc");

  const tests::RunResult run = tests::run_compilable(b);
  ASSERT_EQ(0, run.status) << run.console;
  EXPECT_EQ(
      "float pi = 3.14159;\n"
      "float tiny = 0.020000001;\n"
      "float minus_zero = -0;\n"
      "vector down = '0 0 -1';\n"
      "string version = \"v1.0\\n\";\n"
      "float skill;\n"
      "vector spot;\n"
      "string message;\n"
      "float counter;\n"
      "entity target;\n"
      "void end_sys_globals;\n"
      "float physics_mode = 2;\n"
      "\n"
      "void() f =\n{\n\tcounter = skill;\n};\n",
      run.files.at("a.qc"));
  tests::expect_compiles(run);
}

// Strings of 245 characters and more are written whole; one holding a backslash is written
// for fteqcc and counted.
TEST(FunctionText, StringsAreWrittenWhole) {
  std::string long_text;
  for (int i = 0; i < 300; ++i) {
    long_text += static_cast<char>('a' + i % 26);
  }
  ProgsBuilder b = tests::new_program();
  tests::add_builtin(b, 28, "dprint", 25, {1});
  b.add_function_global(30, "f", 2);
  b.add_immediate_string(31, long_text);
  b.add_immediate_string(32, "C:\\quake\\id1");
  const int first = b.add_statement(OP_STORE_S, 31, OFS_PARM0);
  b.add_statement(OP_CALL1, 28);
  b.add_statement(OP_STORE_S, 32, OFS_PARM0);
  b.add_statement(OP_CALL1, 28);
  b.add_statement(OP_DONE);
  b.add_function(first, 31, 0, "f", "a.qc");

  const tests::RunResult run = tests::run_compilable(b);
  ASSERT_EQ(0, run.status) << run.console;
  EXPECT_EQ(
      "void() f =\n{\n\tdprint (\"" + long_text + "\");\n\tdprint (\"C:\\\\quake\\\\id1\");\n};\n",
      tests::function_named(run, "f"));
  const std::vector<std::string> console = tests::split_lines(run.console);
  ASSERT_FALSE(console.empty());
  EXPECT_EQ("2 functions written in 2 files, 0 as state loops, 1 strings only fteqcc can read",
            console.back());
  tests::expect_compiles(run, false);
}

TEST(FunctionText, AFrameFunctionHasItsHeader) {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(ev_entity | DEF_SAVEGLOBAL, 28, "self");
  tests::add_field(b, 29, "health", ev_float, 0);
  b.add_function_global(30, "army_stand1", 1);
  b.add_function_global(31, "army_stand2", 2);
  b.add_immediate_float(32, 1);
  b.add_immediate_float(33, 2);
  // void() army_stand1 = [1, army_stand2] { self.health = self.health + 1; };
  int first = b.add_statement(OP_STATE, 32, 31);
  b.add_statement(OP_ADDRESS, 28, 29, 34);
  b.add_statement(OP_LOAD_F, 28, 29, 35);
  b.add_statement(OP_ADD_F, 35, 32, 36);
  b.add_statement(OP_STOREP_F, 36, 34);
  b.add_statement(OP_DONE);
  b.add_function(first, 34, 0, "army_stand1", "a.qc");
  // void() army_stand2 = [2, army_stand1] {};
  first = b.add_statement(OP_STATE, 33, 30);
  b.add_statement(OP_DONE);
  b.add_function(first, 37, 0, "army_stand2", "a.qc");
  b.set_int(37, 0);

  const tests::RunResult run = tests::run_compilable(b);
  ASSERT_EQ(0, run.status) << run.console;
  EXPECT_EQ("void() army_stand1 = [1, army_stand2]\n{\n\tself.health = self.health + 1;\n};\n",
            tests::function_named(run, "army_stand1"));
  EXPECT_EQ("void() army_stand2 = [2, army_stand1]\n{\n};\n",
            tests::function_named(run, "army_stand2"));
  tests::expect_compiles(run);
}

}  // namespace
