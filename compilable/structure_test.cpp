// if/else, loops, break, continue, && and ||, and the state loop for code of no such shape.
#include "compilable/structure.h"

#include <gtest/gtest.h>

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
constexpr int kOne = 32;  // an anonymous constant 1
// Cells from kOwn on are the function's own, counted from the start of its area.
constexpr int kOwn = 1000;
constexpr int kT = kOwn;
constexpr int kU = kOwn + 1;
constexpr int kW = kOwn + 2;
constexpr int kAreaSize = 3;

struct Op {
  uint16_t op;
  int a, b, c;
};

struct Case {
  const char* name;
  std::vector<Op> code;
  const char* want;  // the body of the function, between its braces
  bool qcc;          // qcc can compile it: it has no break or continue
};

// Four globals and for each case a function f1, f2, ... with the case's code.
ProgsBuilder program_with(const std::vector<Case>& cases) {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, kA, "a");
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, kB, "b");
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, kC, "c");
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, kX, "x");
  b.add_immediate_float(kOne, 1);
  int cell = kOne + 1;
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string name = "f" + std::to_string(i + 1);
    b.add_function_global(cell, name, static_cast<int>(b.functions.size()));
    const int area = cell + 1;
    auto place = [area](int operand) { return operand >= kOwn ? area + operand - kOwn : operand; };
    const int first = static_cast<int>(b.statements.size());
    for (const Op& op : cases[i].code) {
      b.add_statement(op.op, place(op.a), place(op.b), place(op.c));
    }
    b.add_function(first, area, 0, name, "a.qc");
    cell = area + kAreaSize;
  }
  b.set_int(cell, 0);
  return b;
}

// One run for all the cases, and one compilation by each compiler; qcc only when every case
// is one it can read.
void expect_cases(const std::vector<Case>& cases) {
  const tests::RunResult run = tests::run_compilable(program_with(cases));
  ASSERT_EQ(0, run.status) << run.console;
  bool qcc = true;
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    const std::string name = "f" + std::to_string(i + 1);
    EXPECT_EQ("void() " + name + " =\n{\n" + cases[i].want + "};\n",
              tests::function_named(run, name));
    qcc = qcc && cases[i].qcc;
  }
  tests::expect_compiles(run, qcc);
}

// Bodies that several shapes of code come back as.
constexpr const char* kIfElse =
    "\tif (a)\n"
    "\t{\n"
    "\t\tx = b;\n"
    "\t}\n"
    "\telse\n"
    "\t{\n"
    "\t\tx = c;\n"
    "\t}\n";
constexpr const char* kElseIfChain =
    "\tif (a)\n"
    "\t{\n"
    "\t\tx = b;\n"
    "\t}\n"
    "\telse if (b)\n"
    "\t{\n"
    "\t\tx = c;\n"
    "\t}\n"
    "\telse\n"
    "\t{\n"
    "\t\tx = a;\n"
    "\t}\n";

TEST(StructureFunction, WritesIfElseAndTheirChains) {
  expect_cases({
      {"if and else",
       {{OP_IFNOT, kA, 3, 0},
        {OP_STORE_F, kB, kX, 0},
        {OP_GOTO, 2, 0, 0},
        {OP_STORE_F, kC, kX, 0},
        {OP_DONE, 0, 0, 0}},
       kIfElse,
       true},
      {"an if with no else",
       {{OP_IFNOT, kA, 2, 0}, {OP_STORE_F, kB, kX, 0}, {OP_DONE, 0, 0, 0}},
       "\tif (a)\n"
       "\t{\n"
       "\t\tx = b;\n"
       "\t}\n",
       true},
      {"an else-if chain",
       {{OP_IFNOT, kA, 3, 0},
        {OP_STORE_F, kB, kX, 0},
        {OP_GOTO, 5, 0, 0},
        {OP_IFNOT, kB, 3, 0},
        {OP_STORE_F, kC, kX, 0},
        {OP_GOTO, 2, 0, 0},
        {OP_STORE_F, kA, kX, 0},
        {OP_DONE, 0, 0, 0}},
       kElseIfChain,
       true},
      // IF x,+2; RETURN: the test jumps over the return when x holds.
      {"a forward IF over a return",
       {{OP_IF, kA, 2, 0}, {OP_RETURN, 0, 0, 0}, {OP_STORE_F, kB, kX, 0}, {OP_DONE, 0, 0, 0}},
       "\tif (!a)\n"
       "\t{\n"
       "\t\treturn;\n"
       "\t}\n"
       "\tx = b;\n",
       true},
      {"the function's end in the middle of its body",
       {{OP_IFNOT, kA, 2, 0}, {OP_DONE, 0, 0, 0}, {OP_STORE_F, kB, kX, 0}, {OP_DONE, 0, 0, 0}},
       "\tif (a)\n"
       "\t{\n"
       "\t\treturn;\n"
       "\t}\n"
       "\tx = b;\n",
       true},
      {"no DONE at the end",
       {{OP_STORE_F, kB, kX, 0}, {OP_RETURN, 0, 0, 0}},
       "\tx = b;\n"
       "\treturn;\n",
       true},
      // A block placed after the code that jumps back to it, which is no loop.
      {"a block placed out of line",
       {{OP_GOTO, 3, 0, 0},
        {OP_STORE_F, kB, kX, 0},
        {OP_RETURN, 0, 0, 0},
        {OP_STORE_F, kC, kX, 0},
        {OP_GOTO, -3, 0, 0}},
       "\tx = c;\n"
       "\tx = b;\n"
       "\treturn;\n",
       true},
      // IFNOT c,+3; STORE_F b->T; GOTO +2; STORE_F c->T; STORE_F T->x.
      {"a value chosen by a test is written as if and else on a local",
       {{OP_IFNOT, kA, 3, 0},
        {OP_STORE_F, kB, kT, 0},
        {OP_GOTO, 2, 0, 0},
        {OP_STORE_F, kC, kT, 0},
        {OP_STORE_F, kT, kX, 0},
        {OP_DONE, 0, 0, 0}},
       "\tlocal float local1;\n"
       "\tif (a)\n"
       "\t{\n"
       "\t\tlocal1 = b;\n"
       "\t}\n"
       "\telse\n"
       "\t{\n"
       "\t\tlocal1 = c;\n"
       "\t}\n"
       "\tx = local1;\n",
       true},
  });
}

// fteqcc's compound jumps make a jump to the closing DONE a DONE of its own, so an arm ending
// in DONE is an if/else; but where the program shows that its compiler writes "return;" as
// DONE (a function ending without one), it stays a return.
TEST(StructureFunction, ArmsEndingInTheFunctionsEndAreIfAndElse) {
  expect_cases({
      {"arms that end in the function's end are an else-if chain",
       {{OP_IFNOT, kA, 3, 0},
        {OP_STORE_F, kB, kX, 0},
        {OP_DONE, 0, 0, 0},
        {OP_IFNOT, kB, 3, 0},
        {OP_STORE_F, kC, kX, 0},
        {OP_DONE, 0, 0, 0},
        {OP_STORE_F, kA, kX, 0},
        {OP_DONE, 0, 0, 0}},
       kElseIfChain,
       true},
      {"a last arm that ends in the function's end",
       {{OP_IFNOT, kA, 3, 0},
        {OP_STORE_F, kB, kX, 0},
        {OP_GOTO, 3, 0, 0},
        {OP_STORE_F, kC, kX, 0},
        {OP_DONE, 0, 0, 0},
        {OP_DONE, 0, 0, 0}},
       kIfElse,
       true},
  });
  expect_cases({
      {"arms that end in DONE, where DONE may be a return",
       {{OP_IFNOT, kA, 3, 0},
        {OP_STORE_F, kB, kX, 0},
        {OP_DONE, 0, 0, 0},
        {OP_STORE_F, kC, kX, 0},
        {OP_DONE, 0, 0, 0}},
       "\tif (a)\n"
       "\t{\n"
       "\t\tx = b;\n"
       "\t\treturn;\n"
       "\t}\n"
       "\tx = c;\n",
       true},
      {"a function that ends in a return and no DONE",
       {{OP_STORE_F, kB, kX, 0}, {OP_RETURN, 0, 0, 0}},
       "\tx = b;\n"
       "\treturn;\n",
       true},
  });
}

TEST(StructureFunction, JoinsShortCircuitTestsWithAndAndOr) {
  expect_cases({
      // if (a && b) x = c; else x = a;
      {"and with an else",
       {{OP_IFNOT, kA, 4, 0},
        {OP_IFNOT, kB, 3, 0},
        {OP_STORE_F, kC, kX, 0},
        {OP_GOTO, 2, 0, 0},
        {OP_STORE_F, kA, kX, 0},
        {OP_DONE, 0, 0, 0}},
       "\tif (a && b)\n"
       "\t{\n"
       "\t\tx = c;\n"
       "\t}\n"
       "\telse\n"
       "\t{\n"
       "\t\tx = a;\n"
       "\t}\n",
       true},
      // if (a || b) x = c;
      {"or",
       {{OP_IF, kA, 2, 0}, {OP_IFNOT, kB, 2, 0}, {OP_STORE_F, kC, kX, 0}, {OP_DONE, 0, 0, 0}},
       "\tif (a || b)\n"
       "\t{\n"
       "\t\tx = c;\n"
       "\t}\n",
       true},
      // Without an else, nested tests say what && would.
      {"and without an else stays nested",
       {{OP_IFNOT, kA, 3, 0}, {OP_IFNOT, kB, 2, 0}, {OP_STORE_F, kC, kX, 0}, {OP_DONE, 0, 0, 0}},
       "\tif (a)\n"
       "\t{\n"
       "\t\tif (b)\n"
       "\t\t{\n"
       "\t\t\tx = c;\n"
       "\t\t}\n"
       "\t}\n",
       true},
  });
}

TEST(StructureFunction, WritesLoops) {
  expect_cases({
      // while (1) { x = x + 1; if (x > b) return; }: qcc has no break to leave it by.
      {"a loop left only by a return",
       {{OP_ADD_F, kX, kOne, kT},
        {OP_STORE_F, kT, kX, 0},
        {OP_GT, kX, kB, kU},
        {OP_IFNOT, kU, 2, 0},
        {OP_RETURN, 0, 0, 0},
        {OP_GOTO, -5, 0, 0},
        {OP_DONE, 0, 0, 0}},
       "\twhile (1)\n"
       "\t{\n"
       "\t\tx = x + 1;\n"
       "\t\tif (x > b)\n"
       "\t\t{\n"
       "\t\t\treturn;\n"
       "\t\t}\n"
       "\t}\n",
       true},
      {"while",
       {{OP_LT, kX, kB, kT},
        {OP_IFNOT, kT, 4, 0},
        {OP_ADD_F, kX, kOne, kU},
        {OP_STORE_F, kU, kX, 0},
        {OP_GOTO, -4, 0, 0},
        {OP_DONE, 0, 0, 0}},
       "\twhile (x < b)\n"
       "\t{\n"
       "\t\tx = x + 1;\n"
       "\t}\n",
       true},
      {"do and while",
       {{OP_ADD_F, kX, kOne, kT},
        {OP_STORE_F, kT, kX, 0},
        {OP_LT, kX, kB, kU},
        {OP_IF, kU, -3, 0},
        {OP_DONE, 0, 0, 0}},
       "\tdo\n"
       "\t{\n"
       "\t\tx = x + 1;\n"
       "\t}\n"
       "\twhile (x < b);\n",
       true},
  });
}

// A loop entered in two places has no structured form: the function is one loop over a
// state variable that names the block to run next.
TEST(StructureFunction, WritesIrreducibleCodeAsAStateLoop) {
  expect_cases({
      // Either into the first half of the loop or into its second half.
      {"a loop with two entries",
       {{OP_IFNOT, kA, 3, 0},
        {OP_STORE_F, kB, kX, 0},
        {OP_STORE_F, kC, kX, 0},
        {OP_ADD_F, kX, kOne, kT},
        {OP_STORE_F, kT, kX, 0},
        {OP_LT, kX, kC, kU},
        {OP_IF, kU, -5, 0},
        {OP_DONE, 0, 0, 0}},
       "\tlocal float local1;\n"
       "\tlocal1 = 0;\n"
       "\twhile (1)\n"
       "\t{\n"
       "\t\tif (local1 == 0)\n"
       "\t\t{\n"
       "\t\t\tif (a)\n"
       "\t\t\t{\n"
       "\t\t\t\tlocal1 = 1;\n"
       "\t\t\t}\n"
       "\t\t\telse\n"
       "\t\t\t{\n"
       "\t\t\t\tlocal1 = 2;\n"
       "\t\t\t}\n"
       "\t\t}\n"
       "\t\telse if (local1 == 1)\n"
       "\t\t{\n"
       "\t\t\tx = b;\n"
       "\t\t\tx = c;\n"
       "\t\t\tlocal1 = 2;\n"
       "\t\t}\n"
       "\t\telse if (local1 == 2)\n"
       "\t\t{\n"
       "\t\t\tx = x + 1;\n"
       "\t\t\tif (x < c)\n"
       "\t\t\t{\n"
       "\t\t\t\tlocal1 = 1;\n"
       "\t\t\t}\n"
       "\t\t\telse\n"
       "\t\t\t{\n"
       "\t\t\t\tlocal1 = 3;\n"
       "\t\t\t}\n"
       "\t\t}\n"
       "\t\telse if (local1 == 3)\n"
       "\t\t{\n"
       "\t\t\treturn;\n"
       "\t\t}\n"
       "\t}\n",
       true},
  });
}

// qcc has no break or continue: only fteqcc reads these.
TEST(StructureFunction, WritesBreakAndContinue) {
  expect_cases({
      // do { x = x + 1; if (x == c) break; } while (x > b);
      {"a do-while loop that opens with a test to break",
       {{OP_ADD_F, kX, kOne, kT},
        {OP_STORE_F, kT, kX, 0},
        {OP_EQ_F, kX, kC, kU},
        {OP_IFNOT, kU, 2, 0},
        {OP_GOTO, 3, 0, 0},
        {OP_GT, kX, kB, kW},
        {OP_IF, kW, -6, 0},
        {OP_DONE, 0, 0, 0}},
       "\tdo\n"
       "\t{\n"
       "\t\tx = x + 1;\n"
       "\t\tif (x == c)\n"
       "\t\t{\n"
       "\t\t\tbreak;\n"
       "\t\t}\n"
       "\t}\n"
       "\twhile (x > b);\n",
       false},
      // while (x < b) { if (x == c) break; if (x == a) continue; x = x + 1; }
      {"break and continue",
       {{OP_LT, kX, kB, kT},
        {OP_IFNOT, kT, 10, 0},
        {OP_EQ_F, kX, kC, kU},
        {OP_IFNOT, kU, 2, 0},
        {OP_GOTO, 7, 0, 0},
        {OP_EQ_F, kX, kA, kU},
        {OP_IFNOT, kU, 2, 0},
        {OP_GOTO, -7, 0, 0},
        {OP_ADD_F, kX, kOne, kW},
        {OP_STORE_F, kW, kX, 0},
        {OP_GOTO, -10, 0, 0},
        {OP_DONE, 0, 0, 0}},
       "\twhile (x < b)\n"
       "\t{\n"
       "\t\tif (x == c)\n"
       "\t\t{\n"
       "\t\t\tbreak;\n"
       "\t\t}\n"
       "\t\telse if (!(x == a))\n"
       "\t\t{\n"
       "\t\t\tx = x + 1;\n"
       "\t\t}\n"
       "\t}\n",
       false},
  });
}

}  // namespace
