// Tests for the statement translator: lines, parked expressions, blocks and failures.
#include "classic/statement_translator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classic/block_marks.h"
#include "classic/expression_slots.h"
#include "classic/instructions.h"
#include "image/opcodes.h"
#include "image/program_image.h"
#include "tests/expect_fatal.h"
#include "tests/fixture.h"
#include "tests/progs_builder.h"

namespace {

using tests::capture;
using tests::Captured;

using image::OP_ADD_F;
using image::OP_ADDRESS;
using image::OP_AND;
using image::OP_CALL0;
using image::OP_CALL1;
using image::OP_CALL2;
using image::OP_CALL7;
using image::OP_DONE;
using image::OP_GOTO;
using image::OP_IF;
using image::OP_IFNOT;
using image::OP_LOAD_F;
using image::OP_LT;
using image::OP_NOT_F;
using image::OP_RETURN;
using image::OP_STATE;
using image::OP_STORE_F;
using image::OP_STOREP_F;

// Global offsets of the fixture. The return value and the parameters have no
// definitions; t1 .. t3 are the function's unnamed temporaries.
namespace ofs {
constexpr int ret = 1;
constexpr int parm0 = 4;
constexpr int parm1 = 7;
constexpr int x = 30;
constexpr int y = 31;
constexpr int f = 32;
constexpr int g = 33;
constexpr int one = 34;
constexpr int two = 35;
constexpr int ten = 36;
constexpr int self = 37;
constexpr int health = 38;
constexpr int v = 39;  // a vector, three cells
constexpr int think = 42;
constexpr int write_coord = 43;
constexpr int write_byte = 44;
constexpr int org = 45;
constexpr int origin = 46;
constexpr int org_x = 47;
constexpr int trace_endpos = 48;
constexpr int p1 = 49;
constexpr int p2 = 50;
constexpr int o = 51;
constexpr int long_name = 52;
constexpr int long_callee = 53;
constexpr int parm_start = 60;
constexpr int t1 = 60;
constexpr int t2 = 61;
constexpr int t3 = 62;
}  // namespace ofs

const std::string kLongName(300, 'n');
const std::string kLongCallee(600, 'c');

struct Instruction {
  int op;  // the op word as the file holds it
  int a = 0;
  int b = 0;
  int c = 0;
};

// The fixture program with the body at instructions 1.. of function 1.
tests::ProgsBuilder program_with(const std::vector<Instruction>& body) {
  tests::ProgsBuilder program = tests::new_program();
  for (const Instruction& instruction : body) {
    program.add_statement(static_cast<uint16_t>(instruction.op), instruction.a, instruction.b,
                          instruction.c);
  }
  program.add_function(1, ofs::parm_start, 10, "test");
  const struct {
    uint16_t type;
    int offset;
    const char* name;
  } definitions[] = {
      {image::ev_float, ofs::x, "x"},
      {image::ev_float, ofs::y, "y"},
      {image::ev_function, ofs::f, "f"},
      {image::ev_function, ofs::g, "g"},
      {image::ev_float, ofs::one, "IMMEDIATE"},
      {image::ev_float, ofs::two, "IMMEDIATE"},
      {image::ev_float, ofs::ten, "IMMEDIATE"},
      {image::ev_entity, ofs::self, "self"},
      {image::ev_field, ofs::health, "health"},
      {image::ev_vector, ofs::v, "v"},
      {image::ev_function, ofs::think, "think"},
      {image::ev_function, ofs::write_coord, "WriteCoord"},
      {image::ev_function, ofs::write_byte, "WriteByte"},
      {image::ev_float, ofs::org, "org"},
      {image::ev_float, ofs::origin, "origin"},
      {image::ev_float, ofs::org_x, "org_x"},
      {image::ev_float, ofs::trace_endpos, "trace_endpos"},
      {image::ev_float, ofs::p1, "p1"},
      {image::ev_float, ofs::p2, "p2"},
      {image::ev_float, ofs::o, "o"},
  };
  for (const auto& definition : definitions) {
    program.add_globaldef(definition.type, static_cast<uint16_t>(definition.offset),
                          definition.name);
  }
  program.add_globaldef(image::ev_float, ofs::long_name, kLongName);
  program.add_globaldef(image::ev_function, ofs::long_callee, kLongCallee);
  program.set_float(ofs::one, 1);
  program.set_float(ofs::two, 2);
  program.set_float(ofs::ten, 10);
  return program;
}

const image::FunctionRecord& test_function() { return image::program.functions[1]; }

// Marks the body and translates it from instruction 1 up to the DONE, with the counter
// starting at 1.
Captured translate_body(const std::vector<Instruction>& body, int& indent) {
  tests::load_fixture(program_with(body));
  indent = 1;
  return capture([&] {
    classic::mark_blocks(test_function());
    for (int64_t p = 1;; ++p) {
      classic::translate_statement(test_function(), p, indent);
      if (classic::op_word_at(p) == 0) {
        break;
      }
    }
  });
}

// Translates only the instruction at the position, unmarked by any pass.
Captured translate_one(const std::vector<Instruction>& body, int64_t position, int& indent) {
  tests::load_fixture(program_with(body));
  return capture([&] { classic::translate_statement(test_function(), position, indent); });
}

using tests::expect_fatal;

struct BodyCase {
  const char* name;
  std::vector<Instruction> body;
  const char* want;
};

const BodyCase BodyCases[] = {
    {"if/else",
     {{OP_IFNOT, ofs::x, 3},
      {OP_STORE_F, ofs::one, ofs::y},
      {OP_GOTO, 2},
      {OP_STORE_F, ofs::two, ofs::y},
      {OP_DONE}},
     "\tif (x)\n\t{\n\t\ty = 1;\n\t}\n\telse\n\t{\n\t\ty = 2;\n\t}\n"},
    {"while with a computed condition",
     {{OP_LT, ofs::x, ofs::ten, ofs::t1},
      {OP_IFNOT, ofs::t1, 4},
      {OP_ADD_F, ofs::x, ofs::one, ofs::t2},
      {OP_STORE_F, ofs::t2, ofs::x},
      {OP_GOTO, -4},
      {OP_DONE}},
     "\twhile ((x < 10))\n\t{\n\t\tx = (x + 1);\n\t}\n"},
    {"while with a plain condition",
     {{OP_IFNOT, ofs::x, 3}, {OP_STORE_F, ofs::one, ofs::y}, {OP_GOTO, -2}, {OP_DONE}},
     "\twhile (x)\n\t{\n\t\ty = 1;\n\t}\n"},
    {"do-while",
     {{OP_ADD_F, ofs::x, ofs::one, ofs::t1},
      {OP_STORE_F, ofs::t1, ofs::x},
      {OP_LT, ofs::x, ofs::ten, ofs::t2},
      {OP_IF, ofs::t2, -3},
      {OP_DONE}},
     "\tdo\n\t{\n\t\tx = (x + 1);\n\n\t} while ((x < 10));\n"},
    {"if holding a while whose GOTO lands inside it",
     {{OP_IFNOT, ofs::x, 5},
      {OP_STORE_F, ofs::one, ofs::y},
      {OP_IFNOT, ofs::y, 3},
      {OP_STORE_F, ofs::two, ofs::y},
      {OP_GOTO, -2},
      {OP_STORE_F, ofs::one, ofs::x},
      {OP_DONE}},
     "\tif (x)\n\t{\n\t\ty = 1;\n\t\twhile (y)\n\t\t{\n\t\t\ty = 2;\n\t\t}\n\t}\n\tx = 1;\n"},
    {"call with two arguments as a statement, then return",
     {{OP_STORE_F, ofs::x, ofs::parm0},
      {OP_STORE_F, ofs::two, ofs::parm1},
      {OP_CALL2, ofs::f},
      {OP_RETURN},
      {OP_DONE}},
     "\tf (x, 2);\n\treturn;\n"},
    {"call result stored in a named global",
     {{OP_STORE_F, ofs::x, ofs::parm0},
      {OP_CALL1, ofs::f},
      {OP_STORE_F, ofs::ret, ofs::y},
      {OP_RETURN},
      {OP_DONE}},
     "\ty = f (x);\n\treturn;\n"},
    {"CALL then CALL0 then a read of the return value",
     {{OP_STORE_F, ofs::x, ofs::parm0},
      {OP_CALL1, ofs::f},
      {OP_CALL0, ofs::g},
      {OP_STORE_F, ofs::ret, ofs::y},
      {OP_DONE}},
     "\tf (x);\n\ty = g ();\n"},
    {"return of a named global", {{OP_RETURN, ofs::x}, {OP_DONE}}, "\treturn (x);\n"},
    {"NOT then IFNOT",
     {{OP_NOT_F, ofs::x, 0, ofs::t1},
      {OP_IFNOT, ofs::t1, 2},
      {OP_STORE_F, ofs::one, ofs::y},
      {OP_DONE}},
     "\tif (!x)\n\t{\n\t\ty = 1;\n\t}\n"},
    {"operator into a named global has no outer parentheses",
     {{OP_ADD_F, ofs::x, ofs::one, ofs::y}, {OP_DONE}},
     "\ty = x + 1;\n"},
    {"AND parks its parenthesised text",
     {{OP_AND, ofs::x, ofs::y, ofs::t1}, {OP_STORE_F, ofs::t1, ofs::x}, {OP_DONE}},
     "\tx = (x && y);\n"},
    {"INDIRECT parked and into a named global",
     {{OP_LOAD_F, ofs::self, ofs::health, ofs::t1},
      {OP_STORE_F, ofs::t1, ofs::y},
      {OP_LOAD_F, ofs::self, ofs::health, ofs::x},
      {OP_DONE}},
     "\ty = self.health;\n\tx = self.health;\n"},
    {"ADDRESS then STOREP",
     {{OP_ADDRESS, ofs::self, ofs::health, ofs::t1}, {OP_STOREP_F, ofs::x, ofs::t1}, {OP_DONE}},
     "\tself.health = x;\n"},
    // STOREP_F reads its value with the float type of operand b, so a vector gets "_x".
    {"STOREP reads both operands with type b",
     {{OP_ADDRESS, ofs::self, ofs::health, ofs::t1}, {OP_STOREP_F, ofs::v, ofs::t1}, {OP_DONE}},
     "\tself.health = v_x;\n"},
    {"state with a frame definition",
     {{OP_STATE, ofs::one, ofs::think}, {OP_DONE}},
     "\tstate [ 1, think ];\n"},
};

TEST(TranslateStatement, WritesBodiesTabExact) {
  for (const BodyCase& c : BodyCases) {
    SCOPED_TRACE(c.name);
    int indent = 0;
    Captured result = translate_body(c.body, indent);
    EXPECT_FALSE(result.fatal.has_value());
    EXPECT_EQ(c.want, result.output);
    EXPECT_EQ("", result.console);
    EXPECT_EQ(1, indent);
    for (size_t i = 0; i < c.body.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(c.body[i].op % 100, classic::op_word_at(static_cast<int64_t>(i) + 1));
    }
  }
}

struct SingleCase {
  const char* name;
  Instruction instruction;  // at position 1
  int indent_before;
  const char* want;
  int indent_after;
};

const SingleCase SingleCases[] = {
    {"close 2 and do 1 at counter 3",
     {10000 + 200 + OP_RETURN},
     3,
     "\t\t}\n\t}\n\tdo\n\t{\n\t\treturn;\n",
     2},
    {"DONE with closes prints only braces", {200 + OP_DONE}, 3, "\t\t}\n\t}\n", 1},
    {"DONE with a do mark prints only the do", {10000 + OP_DONE}, 1, "\tdo\n\t{\n", 2},
    {"counter 0 writes no tabs", {100 + OP_RETURN}, 0, "}\nreturn;\n", -1},
    {"counter below 0 writes no tabs", {10100 + OP_RETURN}, -1, "}\ndo\n{\nreturn;\n", -1},
    {"GOTO 0 prints only the brace", {OP_GOTO, 0}, 2, "\t}\n", 1},
    {"backward GOTO prints only the brace", {OP_GOTO, -3}, 2, "\t}\n", 1},
    {"forward GOTO opens the else", {OP_GOTO, 2}, 2, "\t}\n\telse\n\t{\n", 2},
    {"IF closes the do block", {OP_IF, ofs::x, -2}, 2, "\n\t} while (x);\n", 1},
    {"IF jumping forward is read the same", {OP_IF, ofs::x, 2}, 2, "\n\t} while (x);\n", 1},
};

TEST(TranslateStatement, PrintsMarksThenTheInstructionAndStripsTheMarks) {
  for (const SingleCase& c : SingleCases) {
    SCOPED_TRACE(c.name);
    int indent = c.indent_before;
    Captured result = translate_one({c.instruction, {OP_DONE}}, 1, indent);
    EXPECT_FALSE(result.fatal.has_value());
    EXPECT_EQ(c.want, result.output);
    EXPECT_EQ(c.indent_after, indent);
    EXPECT_EQ(c.instruction.op % 100, classic::op_word_at(1));
  }
}

TEST(TranslateStatement, UnknownOpcodeWarnsAndPrintsOnlyItsMarks) {
  // The operands are undefined temporaries: reading any of them would end the run.
  const int base_opcodes[] = {66, 70, 99};
  for (int base : base_opcodes) {
    SCOPED_TRACE(base);
    int indent = 2;
    Captured result =
        translate_one({{100 + base, ofs::t1, ofs::t2, ofs::t3}, {OP_DONE}}, 1, indent);
    EXPECT_FALSE(result.fatal.has_value());
    EXPECT_EQ("\t}\n", result.output);
    EXPECT_EQ("Warning: Unknown command\n", result.console);
    EXPECT_EQ(1, indent);
    EXPECT_EQ(base, classic::op_word_at(1));
  }
}

struct CallCase {
  const char* name;
  Instruction next;
  Instruction after_next;
  bool printed;
};

const CallCase CallCases[] = {
    {"neither next instruction reads offset 1",
     {OP_STORE_F, ofs::x, ofs::y},
     {OP_STORE_F, ofs::y, ofs::x},
     true},
    {"next reads it as a", {OP_STORE_F, ofs::ret, ofs::y}, {OP_DONE}, false},
    {"next has it as b", {OP_ADD_F, ofs::x, ofs::ret, ofs::y}, {OP_DONE}, false},
    {"the one after reads it as a",
     {OP_STORE_F, ofs::x, ofs::y},
     {OP_STORE_F, ofs::ret, ofs::y},
     false},
    {"the one after has it as b",
     {OP_STORE_F, ofs::x, ofs::y},
     {OP_ADD_F, ofs::x, ofs::ret, ofs::y},
     false},
    {"CALL0 next, the one after reads a", {OP_CALL0, ofs::g}, {OP_STORE_F, ofs::ret, ofs::y}, true},
    {"CALL0 next, the one after has b",
     {OP_CALL0, ofs::g},
     {OP_ADD_F, ofs::x, ofs::ret, ofs::y},
     true},
    {"CALL0 next, the one after has both",
     {OP_CALL0, ofs::g},
     {OP_ADD_F, ofs::ret, ofs::ret, ofs::y},
     false},
    {"marked CALL0 next is still a CALL0",
     {100 + OP_CALL0, ofs::g},
     {OP_STORE_F, ofs::ret, ofs::y},
     true},
    {"a CALL1 next is not a CALL0", {OP_CALL1, ofs::g}, {OP_STORE_F, ofs::ret, ofs::y}, false},
};

TEST(TranslateStatement, CallIsPrintedUnlessTheNextTwoReadItsResult) {
  for (const CallCase& c : CallCases) {
    SCOPED_TRACE(c.name);
    tests::load_fixture(program_with(
        {{OP_STORE_F, ofs::x, ofs::parm0}, {OP_CALL1, ofs::f}, c.next, c.after_next, {OP_DONE}}));
    int indent = 1;
    Captured result = capture([&] {
      classic::translate_statement(test_function(), 1, indent);
      classic::translate_statement(test_function(), 2, indent);
    });
    EXPECT_FALSE(result.fatal.has_value());
    EXPECT_EQ(c.printed ? "\tf (x);\n" : "", result.output);
    EXPECT_EQ("f (x)", classic::slot_fetch(test_function(), ofs::ret));
  }
}

struct CoordinateCase {
  const char* name;
  int callee;
  const char* want;
};

constexpr CoordinateCase CoordinateCases[] = {
    {"WriteCoord", ofs::write_coord,
     "\tWriteCoord (org_x, origin, org_x, trace_endpos_x, p1_x, p2_x, o_x);\n"},
    {"another callee", ofs::write_byte,
     "\tWriteByte (org, origin, org_x, trace_endpos, p1, p2, o);\n"},
};

TEST(TranslateStatement, WriteCoordArgumentsNamingAVectorGetX) {
  const int arguments[] = {ofs::org, ofs::origin, ofs::org_x, ofs::trace_endpos,
                           ofs::p1,  ofs::p2,     ofs::o};
  for (const CoordinateCase& c : CoordinateCases) {
    SCOPED_TRACE(c.name);
    std::vector<Instruction> body;
    for (int i = 0; i < 7; ++i) {
      body.push_back({OP_STORE_F, arguments[i], ofs::parm0 + 3 * i});
    }
    body.push_back({OP_CALL7, c.callee});
    body.push_back({OP_DONE});
    int indent = 0;
    Captured result = translate_body(body, indent);
    EXPECT_FALSE(result.fatal.has_value());
    EXPECT_EQ(c.want, result.output);
  }
}

TEST(TranslateStatement, StoreIntoUnnamedOffsetParksTheBareText) {
  int indent = 0;
  Captured result = translate_body({{OP_ADD_F, ofs::x, ofs::one, ofs::t1},
                                    {OP_STORE_F, ofs::t1, ofs::parm0},
                                    {OP_STORE_F, ofs::x, ofs::parm1},
                                    {OP_STORE_F, ofs::y, ofs::t2},
                                    {OP_DONE}},
                                   indent);
  EXPECT_FALSE(result.fatal.has_value());
  EXPECT_EQ("", result.output);
  EXPECT_EQ("(x + 1)", classic::slot_fetch(test_function(), ofs::parm0));
  EXPECT_EQ("x", classic::slot_fetch(test_function(), ofs::parm1));
  EXPECT_EQ("y", classic::slot_fetch(test_function(), ofs::t2));
}

struct IfnotFailureCase {
  const char* name;
  int condition;
  int distance;
  const char* message;
};

constexpr IfnotFailureCase IfnotFailureCases[] = {
    {"distance 0", ofs::x, 0, "Found a negative IFNOT jump.\n"},
    {"negative distance", ofs::x, -2, "Found a negative IFNOT jump.\n"},
    {"undefined condition reports its slot first", ofs::t1, 0, "Fatal Error - 28 not defined.\n"},
};

TEST(TranslateStatement, IfnotWithoutForwardDistanceEndsTheRun) {
  for (const IfnotFailureCase& c : IfnotFailureCases) {
    SCOPED_TRACE(c.name);
    int indent = 1;
    Captured result = translate_one({{OP_IFNOT, c.condition, c.distance}, {OP_DONE}}, 1, indent);
    expect_fatal(result, c.message);
    EXPECT_EQ("", result.output);
  }
}

struct ClassifyCase {
  const char* name;
  std::vector<Instruction> body;
  int64_t position;  // of the IFNOT
  const char* want;
};

const ClassifyCase ClassifyCases[] = {
    {"no GOTO before the target",
     {{OP_IFNOT, ofs::x, 2}, {OP_STORE_F, ofs::one, ofs::y}, {OP_DONE}},
     1,
     "\tif (x)\n\t{\n"},
    {"forward GOTO before the target",
     {{OP_IFNOT, ofs::x, 3}, {OP_STORE_F, ofs::one, ofs::y}, {OP_GOTO, 2}, {OP_DONE}},
     1,
     "\tif (x)\n\t{\n"},
    {"GOTO 0 before the target",
     {{OP_IFNOT, ofs::x, 3}, {OP_STORE_F, ofs::one, ofs::y}, {OP_GOTO, 0}, {OP_DONE}},
     1,
     "\tif (x)\n\t{\n"},
    {"GOTO back to the IFNOT",
     {{OP_IFNOT, ofs::x, 3}, {OP_STORE_F, ofs::one, ofs::y}, {OP_GOTO, -2}, {OP_DONE}},
     1,
     "\twhile (x)\n\t{\n"},
    {"GOTO back to just after the IFNOT",
     {{OP_IFNOT, ofs::x, 4},
      {OP_STORE_F, ofs::one, ofs::y},
      {OP_STORE_F, ofs::one, ofs::y},
      {OP_GOTO, -2},
      {OP_DONE}},
     1,
     "\tif (x)\n\t{\n"},
    {"GOTO back before the IFNOT, no jump in between",
     {{OP_STORE_F, ofs::one, ofs::y},
      {OP_STORE_F, ofs::one, ofs::y},
      {OP_IFNOT, ofs::x, 3},
      {OP_STORE_F, ofs::one, ofs::y},
      {OP_GOTO, -4},
      {OP_DONE}},
     3,
     "\twhile (x)\n\t{\n"},
    {"IF in between",
     {{OP_IF, ofs::x, 1},
      {OP_IFNOT, ofs::x, 3},
      {OP_STORE_F, ofs::one, ofs::y},
      {OP_GOTO, -3},
      {OP_DONE}},
     2,
     "\tif (x)\n\t{\n"},
    {"IFNOT in between",
     {{OP_IFNOT, ofs::x, 1},
      {OP_IFNOT, ofs::x, 3},
      {OP_STORE_F, ofs::one, ofs::y},
      {OP_GOTO, -3},
      {OP_DONE}},
     2,
     "\tif (x)\n\t{\n"},
    {"GOTO in between",
     {{OP_GOTO, 1},
      {OP_IFNOT, ofs::x, 3},
      {OP_STORE_F, ofs::one, ofs::y},
      {OP_GOTO, -3},
      {OP_DONE}},
     2,
     "\tif (x)\n\t{\n"},
    {"a jump before the landing point does not count",
     {{OP_IF, ofs::x, 1},
      {OP_STORE_F, ofs::one, ofs::y},
      {OP_IFNOT, ofs::x, 3},
      {OP_STORE_F, ofs::one, ofs::y},
      {OP_GOTO, -3},
      {OP_DONE}},
     3,
     "\twhile (x)\n\t{\n"},
};

TEST(TranslateStatement, IfnotHeadsWhileOnlyWhenItsLoopGoesBackCleanly) {
  for (const ClassifyCase& c : ClassifyCases) {
    SCOPED_TRACE(c.name);
    int indent = 1;
    Captured result = translate_one(c.body, c.position, indent);
    EXPECT_FALSE(result.fatal.has_value());
    EXPECT_EQ(c.want, result.output);
    EXPECT_EQ(2, indent);
  }
}

TEST(TranslateStatement, StateWithoutFrameDefinitionEndsTheRun) {
  int indent = 1;
  expect_fatal(translate_one({{OP_STATE, 55, ofs::think}, {OP_DONE}}, 1, indent),
               "Error - Can't determine frame number.\n");

  tests::ProgsBuilder program = program_with({{OP_STATE, 0, 0}, {OP_DONE}});
  program.globaldefs.clear();
  tests::load_fixture(program);
  Captured result = capture([&] { classic::translate_statement(test_function(), 1, indent); });
  expect_fatal(result, "Error - Can't determine frame number.\n");
  EXPECT_EQ("", result.output);
}

TEST(TranslateStatement, VeryLongExpressionsAreWrittenWhole) {
  std::string level1 = "(" + kLongName + " + " + kLongName + ")";
  std::string level2 = "(" + level1 + " + " + level1 + ")";
  std::string level3 = "(" + level2 + " + " + level2 + ")";
  int indent = 0;
  Captured result = translate_body({{OP_ADD_F, ofs::long_name, ofs::long_name, ofs::t1},
                                    {OP_ADD_F, ofs::t1, ofs::t1, ofs::t2},
                                    {OP_ADD_F, ofs::t2, ofs::t2, ofs::t3},
                                    {OP_STORE_F, ofs::t3, ofs::y},
                                    {OP_STORE_F, ofs::t3, ofs::parm0},
                                    {OP_CALL1, ofs::long_callee},
                                    {OP_DONE}},
                                   indent);
  EXPECT_FALSE(result.fatal.has_value());
  EXPECT_EQ("\ty = " + level3 + ";\n\t" + kLongCallee + " (" + level3 + ");\n", result.output);
}

}  // namespace
