// Extended instructions no compiler at hand writes (FTE's direct field stores, indexed
// pointers, 64-bit numbers, doubles, bit-fields, ...), in a built version-7 program: what the
// compilable engine writes for each.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/opcodes.h"
#include "tests/compilable_runs.h"
#include "tests/progs_builder.h"

namespace {

using namespace image;
using tests::ProgsBuilder;

// Cells of the program.
constexpr int kSelf = 28;
constexpr int kX = 29;  // float
constexpr int kY = 30;
constexpr int kI = 31;  // int
constexpr int kJ = 32;
constexpr int kP = 33;   // pointer
constexpr int kFl = 34;  // .float fl
constexpr int kV = 35;   // vector, 35..37
constexpr int kL1 = 38;  // int64, two cells each
constexpr int kL2 = 40;
constexpr int kD = 42;    // double, two cells
constexpr int kArr = 44;  // float arr[3], 44..46
constexpr int kFirstArea = 100;
constexpr int kAreaSize = 8;

struct Op {
  uint16_t op;
  int a, b, c;
};

struct Case {
  const char* name;
  std::vector<Op> code;  // cells from 1000 on are the function's own, from its area's start
  const char* want;      // a line of the function's body
};

constexpr int kT = 1000;  // an unnamed cell of the function's area
constexpr int kU = 1003;

const Case Cases[] = {
    {"a direct field store", {{220, kSelf, kFl, kX}}, "\tself.fl = x;"},
    {"a load through a pointer at an index",
     {{154, kP, kI, kT}, {OP_STORE_F, kT, kX, 0}},
     "\tx = p[i];"},
    {"a store through a pointer at an index", {{OP_STOREP_F, kX, kP, kI}}, "\tp[i] = x;"},
    {"a load through a pointer", {{160, kP, 0, kT}, {113, kT, kI, 0}}, "\ti = *p;"},
    {"an array element",
     {{211, kI, 3, 0}, {145, kArr, kI, kT}, {OP_STORE_F, kT, kX, 0}},
     "\tx = arr[i];"},
    {"64-bit arithmetic", {{229, kL1, kL2, kT}, {246, kT, kL1, 0}}, "\tl1 = l1 + l2;"},
    {"a conversion from double", {{256, kD, 0, kT}, {OP_STORE_F, kT, kX, 0}}, "\tx = (float)d;"},
    {"an integer negation", {{138, kI, 0, kT}, {113, kT, kJ, 0}}, "\tj = !i;"},
    {"mixed comparison", {{167, kI, kX, kT}, {113, kT, kJ, 0}}, "\tj = i < x;"},
    {"random vectors", {{97, kV, kV, kT}, {OP_STORE_V, kT, kV, 0}}, "\tv = randomv (v, v);"},
    {"a compound store through a pointer with its value used",
     {{74, kX, kP, kT}, {OP_STORE_F, kT, kY, 0}},
     "\ty = p += x;"},
    // No source spells these: written as calls of the instruction's name.
    {"a global loaded by number",
     {{206, kI, 0, kT}, {OP_STORE_F, kT, kX, 0}},
     "\tx = __gload_f (i);"},
    {"a global stored by number", {{198, kX, kI, 0}}, "\t__gstorep_f (x, i);"},
    {"a bit-field", {{273, kI, kJ, kT}, {113, kT, kI, 0}}, "\ti = __bitextend_i (i, j);"},
    {"a block on the local stack", {{213, kI, 0, kT}, {152, kT, kP, 0}}, "\tp = __push (i);"},
    {"a weapon frame cycle", {{86, kX, kY, 0}}, "\t__cwstate (x, y);"},
};

ProgsBuilder extended_program() {
  ProgsBuilder b = tests::new_program();
  b.format = tests::Format::kFte16;
  b.add_globaldef(ev_entity | DEF_SAVEGLOBAL, kSelf, "self");
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, kX, "x");
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, kY, "y");
  b.add_globaldef(8 | DEF_SAVEGLOBAL, kI, "i");
  b.add_globaldef(8 | DEF_SAVEGLOBAL, kJ, "j");
  b.add_globaldef(ev_pointer | DEF_SAVEGLOBAL, kP, "p");
  tests::add_field(b, kFl, "fl", ev_float, 0);
  b.add_globaldef(ev_vector | DEF_SAVEGLOBAL, kV, "v");
  b.add_globaldef(10 | DEF_SAVEGLOBAL, kL1, "l1");
  b.add_globaldef(10 | DEF_SAVEGLOBAL, kL2, "l2");
  b.add_globaldef(12 | DEF_SAVEGLOBAL, kD, "d");
  for (int k = 0; k < 3; ++k) {
    b.add_globaldef(ev_float | DEF_SAVEGLOBAL, static_cast<uint16_t>(kArr + k),
                    "arr[" + std::to_string(k) + "]");
  }
  int area = kFirstArea;
  int number = 1;
  for (const Case& c : Cases) {
    auto cell = [area](int operand) { return operand >= kT ? area + operand - kT : operand; };
    int first = -1;
    for (const Op& op : c.code) {
      const int at = b.add_statement(op.op, cell(op.a), cell(op.b), cell(op.c));
      first = first < 0 ? at : first;
    }
    b.add_statement(OP_DONE);
    b.add_function(first, area, kAreaSize, "f" + std::to_string(number++), "a.qc");
    area += kAreaSize;
  }
  b.set_int(area, 0);
  return b;
}

TEST(ExtendedInstructions, EachIsWrittenAsTheSourceSpellsIt) {
  const tests::RunResult run = tests::run_compilable(extended_program());
  ASSERT_EQ(0, run.status) << run.console;
  int number = 1;
  for (const Case& c : Cases) {
    SCOPED_TRACE(c.name);
    const std::string body = tests::function_named(run, "f" + std::to_string(number++));
    EXPECT_NE(std::string::npos, body.find(std::string(c.want) + "\n")) << body;
  }
  // The five that no source spells are reported, since no compiler will read them back.
  EXPECT_NE(std::string::npos,
            run.console.find("Warning: 5 instructions no source spells were written as calls of "
                             "their names (__name): no compiler reads them\n"))
      << run.console;
  // The array is declared whole; the numbers by the types the definitions give.
  std::string text;
  for (const auto& [file, bytes] : run.files) {
    text += bytes;
  }
  for (const char* declaration :
       {"\nfloat arr[3];\n", "\nint i;\n", "\nlong l1;\n", "\ndouble d;\n"}) {
    EXPECT_NE(std::string::npos, text.find(declaration)) << declaration;
  }
}

}  // namespace
