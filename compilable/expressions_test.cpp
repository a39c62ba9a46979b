// Statements and nested expressions: each value evaluated once, in the original order.
#include "compilable/expressions.h"

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

// Cells of the programs below.
constexpr int kSelf = 28;
constexpr int kHealth = 29;  // field globals
constexpr int kAmmo = 30;
constexpr int kCurrent = 31;
constexpr int kThink1 = 32;
constexpr int kOrigin = 33;
constexpr int kVlen = 34;  // builtins, their parameters after them
constexpr int kRandom = 38;
constexpr int kDprint = 39;
constexpr int kActive = 41;  // float globals
constexpr int kOther = 42;
constexpr int kTrue = 43;     // float TRUE = 1
constexpr int kSide = 44;     // float(float x) side, its parameter x at 45
constexpr int kAdd2 = 46;     // float(float a, float b) add2: a, b and its sum at 47..49
constexpr int kV = 50;        // vector v, no component definitions
constexpr int kLiteral = 53;  // a constant with no definition
// Cells from kOwn on are the function's own, counted from the start of its area: its
// parameters float a and vector dir, then unnamed cells.
constexpr int kOwn = 1000;
constexpr int kA = kOwn;
constexpr int kDir = kOwn + 1;
constexpr int kT = kOwn + 6;
constexpr int kU = kOwn + 7;
constexpr int kW = kOwn + 8;
constexpr int kAreaSize = 10;

struct Op {
  uint16_t op;
  int a, b, c;
};

struct Case {
  const char* name;
  std::vector<Op> code;
  const char* want;  // the body of the function, between its braces
};

// Globals, fields, builtins and two functions with code, laid out as qcc lays them out,
// then for each case a function f1, f2, ... (float a, vector dir) with the case's code.
// A function with no local statement has no locals for qcc, whatever cells its code uses.
ProgsBuilder program_with(const std::vector<Case>& cases) {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(ev_entity | DEF_SAVEGLOBAL, kSelf, "self");
  tests::add_field(b, kHealth, "health", ev_float, 0);
  tests::add_field(b, kAmmo, "ammo_shells", ev_float, 1);
  tests::add_field(b, kCurrent, "currentammo", ev_float, 2);
  tests::add_field(b, kThink1, "think1", ev_function, 3);
  tests::add_field(b, kOrigin, "origin", ev_vector, 4);
  tests::add_builtin(b, kVlen, "vlen", 12, {3});      // record 1
  tests::add_builtin(b, kRandom, "random", 7);        // record 2
  tests::add_builtin(b, kDprint, "dprint", 25, {1});  // record 3
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, kActive, "active");
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, kOther, "other");
  b.add_globaldef(ev_float, kTrue, "TRUE");
  b.set_float(kTrue, 1);

  // float(float x) side = { active = x; return x; };  record 4
  b.add_function_global(kSide, "side", 4);
  b.add_globaldef(ev_float, kSide + 1, "x");
  int first = b.add_statement(OP_STORE_F, kSide + 1, kActive);
  b.add_statement(OP_RETURN, kSide + 1);
  b.add_statement(OP_DONE);
  b.add_function(first, kSide + 1, 0, "side", "a.qc", {1});
  // float(float a, float b) add2 = { return a + b; };  record 5
  b.add_function_global(kAdd2, "add2", 5);
  b.add_globaldef(ev_float, kAdd2 + 1, "a");
  b.add_globaldef(ev_float, kAdd2 + 2, "b");
  first = b.add_statement(OP_ADD_F, kAdd2 + 1, kAdd2 + 2, kAdd2 + 3);
  b.add_statement(OP_RETURN, kAdd2 + 3);
  b.add_statement(OP_DONE);
  b.add_function(first, kAdd2 + 1, 0, "add2", "a.qc", {1, 1});
  b.add_globaldef(ev_vector | DEF_SAVEGLOBAL, kV, "v");
  b.set_float(kLiteral, 2.5f);

  int cell = kLiteral + 1;
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string name = "f" + std::to_string(i + 1);
    b.add_function_global(cell, name, static_cast<int>(b.functions.size()));
    const int area = cell + 1;
    b.add_globaldef(ev_float, static_cast<uint16_t>(area), "a");
    b.add_globaldef(ev_vector, static_cast<uint16_t>(area + 1), "dir");
    auto place = [area](int operand) { return operand >= kOwn ? area + operand - kOwn : operand; };
    first = static_cast<int>(b.statements.size());
    for (const Op& op : cases[i].code) {
      b.add_statement(op.op, place(op.a), place(op.b), place(op.c));
    }
    b.add_statement(OP_DONE);
    b.add_function(first, area, 0, name, "a.qc", {1, 3});
    cell = area + kAreaSize;
  }
  b.set_int(cell, 0);
  return b;
}

// One run for all the cases, and one compilation by each compiler.
void expect_cases(const std::vector<Case>& cases) {
  const tests::RunResult run = tests::run_compilable(program_with(cases));
  ASSERT_EQ(0, run.status) << run.console;
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    const std::string name = "f" + std::to_string(i + 1);
    EXPECT_EQ("void(float a, vector dir) " + name + " =\n{\n" + cases[i].want + "};\n",
              tests::function_named(run, name));
  }
  tests::expect_compiles(run);
}

TEST(BuildFunctionCode, WritesEachValueOnceInItsOrder) {
  expect_cases({
      // qcc takes both addresses before it computes the value.
      {"a value stored into two fields is one chained assignment",
       {{OP_ADDRESS, kSelf, kCurrent, kT},
        {OP_ADDRESS, kSelf, kAmmo, kU},
        {OP_LOAD_F, kSelf, kAmmo, kW},
        {OP_SUB_F, kW, kTrue, kW + 1},
        {OP_STOREP_F, kW + 1, kU, 0},
        {OP_STOREP_F, kW + 1, kT, 0}},
       "\tself.currentammo = self.ammo_shells = self.ammo_shells - TRUE;\n"},
      {"a value stored into two globals is one chained assignment",
       {{OP_SUB_F, kA, kTrue, kT}, {OP_STORE_F, kT, kActive, 0}, {OP_STORE_F, kT, kOther, 0}},
       "\tother = active = a - TRUE;\n"},
      {"a call through a function value",
       {{OP_LOAD_FNC, kSelf, kThink1, kT}, {OP_CALL0, kT, 0, 0}},
       "\tself.think1 ();\n"},
      {"a call's result used twice is kept in a local",
       {{OP_STORE_F, kA, OFS_PARM0, 0},
        {OP_CALL1, kSide, 0, 0},
        {OP_STORE_F, OFS_RETURN, kActive, 0},
        {OP_MUL_F, OFS_RETURN, OFS_RETURN, kT},
        {OP_STORE_F, kT, kOther, 0}},
       "\tlocal float local1;\n"
       "\tlocal1 = side (a);\n"
       "\tactive = local1;\n"
       "\tother = local1 * local1;\n"},
      {"an unread value that may have an effect is still written",
       {{OP_STORE_F, kA, OFS_PARM0, 0}, {OP_CALL1, kSide, 0, 0}, {OP_ADD_F, OFS_RETURN, kTrue, kT}},
       "\tside (a) + TRUE;\n"},
      {"an unread value is still computed, as the program did",
       {{OP_ADD_F, kA, kTrue, kT}, {OP_STORE_F, kA, kActive, 0}},
       "\ta + TRUE;\n"
       "\tactive = a;\n"},
      {"an argument computed straight into its parameter cell",
       {{OP_SUB_V, kDir, kV, OFS_PARM0},
        {OP_CALL1, kVlen, 0, 0},
        {OP_STORE_F, OFS_RETURN, kActive, 0}},
       "\tactive = vlen (dir - v);\n"},
      // qcc stores each argument as soon as it is made: the first parameter cell is set
      // before the call that makes the second argument.
      {"a parameter cell set before a nested call",
       {{OP_STORE_V, kA, OFS_PARM0, 0},
        {OP_CALL0, kRandom, 0, 0},
        {OP_STORE_V, OFS_RETURN, OFS_PARM0 + 3, 0},
        {OP_CALL2, kAdd2, 0, 0},
        {OP_STORE_F, OFS_RETURN, kActive, 0}},
       "\tactive = add2 (a, random ());\n"},
      {"a call's result copied to a temporary and read after another call",
       {{OP_CALL0, kRandom, 0, 0},
        {OP_STORE_F, OFS_RETURN, kT, 0},
        {OP_CALL0, kRandom, 0, 0},
        {OP_SUB_F, kT, OFS_RETURN, kU},
        {OP_STORE_F, kU, kActive, 0}},
       "\tlocal float local1;\n"
       "\tlocal1 = random ();\n"
       "\tactive = local1 - random ();\n"},
      // qcc copies each argument into its parameter cell as soon as it is made, three cells
      // wide: the first result waits in its cell while the second call is made.
      {"a call's result copied for an argument before another call",
       {{OP_CALL0, kRandom, 0, 0},
        {OP_STORE_V, OFS_RETURN, OFS_PARM0, 0},
        {OP_CALL0, kRandom, 0, 0},
        {OP_STORE_V, OFS_RETURN, OFS_PARM0 + 3, 0},
        {OP_CALL2, kAdd2, 0, 0},
        {OP_STORE_F, OFS_RETURN, kActive, 0}},
       "\tlocal float local1;\n"
       "\tlocal1 = random ();\n"
       "\tactive = add2 (local1, random ());\n"},
      // fteqcc keeps the first result in a temporary across the second call and copies it
      // back into the return cell to pass it: add2 (side (a), random ()).
      {"a call's result kept across another call and copied back",
       {{OP_STORE_F, kA, OFS_PARM0, 0},
        {OP_CALL1, kSide, 0, 0},
        {OP_STORE_F, OFS_RETURN, kT, 0},
        {OP_CALL0, kRandom, 0, 0},
        {OP_STORE_F, OFS_RETURN, kU, 0},
        {OP_STORE_F, kT, OFS_RETURN, 0},
        {OP_STORE_V, OFS_RETURN, OFS_PARM0, 0},
        {OP_STORE_V, kU, OFS_PARM0 + 3, 0},
        {OP_CALL2, kAdd2, 0, 0},
        {OP_STORE_F, OFS_RETURN, kActive, 0}},
       "\tlocal float local1;\n"
       "\tlocal float local2;\n"
       "\tlocal float local3;\n"
       "\tlocal1 = side (a);\n"
       "\tlocal2 = random ();\n"
       "\tlocal3 = local1;\n"
       "\tactive = add2 (local3, local2);\n"},
      {"a constant with no definition",
       {{OP_MUL_F, kA, kLiteral, kT}, {OP_STORE_F, kT, kActive, 0}},
       "\tactive = a * 2.5;\n"},
      {"vector components with no definitions of their own",
       {{OP_ADD_F, kV + 1, kDir + 2, kT}, {OP_STORE_F, kT, kV + 2, 0}},
       "\tv_z = v_y + dir_z;\n"},
      {"a field of a vector field",
       {{OP_LOAD_V, kSelf, kOrigin, kT}, {OP_STORE_V, kT, kV, 0}},
       "\tv = self.origin;\n"},
  });
}

// Temporaries are unnamed cells wherever they sit: inside the function's own locals, in
// another function's area, or in a pool that several functions write before they read.
TEST(BuildFunctionCode, TemporariesWhereverTheySit) {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, 28, "active");
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, 29, "other");
  b.add_globaldef(ev_float, 30, "TRUE");
  b.set_float(30, 1);
  constexpr int kPool = 31;
  // f(float a), its area 33..35: a, then two cells its count of locals covers.
  b.add_function_global(32, "f", 1);
  b.add_globaldef(ev_float, 33, "a");
  int first = b.add_statement(OP_ADD_F, 33, 30, 34);  // inside its own locals
  b.add_statement(OP_MUL_F, 34, 33, 37);              // in g's area
  b.add_statement(OP_STORE_F, 37, 28);
  b.add_statement(OP_SUB_F, 33, 30, kPool);  // in the pool
  b.add_statement(OP_STORE_F, kPool, 29);
  b.add_statement(OP_DONE);
  b.add_function(first, 33, 3, "f", "a.qc", {1});
  // g, its area 37..38.
  b.add_function_global(36, "g", 2);
  first = b.add_statement(OP_ADD_F, 29, 30, kPool);
  b.add_statement(OP_STORE_F, kPool, 28);
  b.add_statement(OP_DONE);
  b.add_function(first, 37, 2, "g", "a.qc");
  b.set_int(38, 0);

  const tests::RunResult run = tests::run_compilable(b);
  ASSERT_EQ(0, run.status) << run.console;
  // f's count of locals runs past its parameter into its temporaries, which no declaration
  // at the end makes: nothing is declared again there.
  EXPECT_EQ(
      "void(float a) f =\n{\n"
      "\tactive = (a + TRUE) * a;\n"
      "\tother = a - TRUE;\n"
      "};\n",
      tests::function_named(run, "f"));
  EXPECT_EQ("void() g =\n{\n\tactive = other + TRUE;\n};\n", tests::function_named(run, "g"));
  tests::expect_compiles(run);
}

}  // namespace
