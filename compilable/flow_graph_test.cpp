// A function's reachable instructions cut into blocks, and the code it cannot read.
#include "compilable/flow_graph.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compilable/program_facts.h"
#include "image/opcodes.h"
#include "image/program_image.h"
#include "tests/expect_fatal.h"
#include "tests/fixture.h"
#include "tests/progs_builder.h"

namespace {

using namespace image;
using tests::ProgsBuilder;

constexpr int kC = 28;  // a float global the tests test
constexpr int kX = 29;  // a float global they write

struct Op {
  uint16_t op;
  int a, b, c;
};

// A program whose function 1 ("f") has the instructions given, then a function 2 ("g")
// that only returns, so that f's code ends where g's starts.
ProgsBuilder program_with(const std::vector<Op>& code) {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(ev_float, kC, "c");
  b.add_globaldef(ev_float, kX, "x");
  b.set_int(31, 0);
  int first = -1;
  for (const Op& op : code) {
    const int at = b.add_statement(op.op, op.a, op.b, op.c);
    first = first < 0 ? at : first;
  }
  const int g = b.add_statement(OP_DONE);
  b.add_function(first, 30, 0, "f", "a.qc");
  b.add_function(g, 30, 0, "g", "a.qc");
  return b;
}

const char* exit_name(compilable::BlockExit exit) {
  switch (exit) {
    case compilable::BlockExit::kFall:
      return "fall";
    case compilable::BlockExit::kGoto:
      return "goto";
    case compilable::BlockExit::kBranch:
      return "branch";
    case compilable::BlockExit::kReturn:
      return "return";
  }
  return "?";
}

// "first-last exit successors [predecessors]" for each block, on one line each.
std::string describe(const compilable::FlowGraph& graph) {
  std::string text;
  for (const compilable::Block& block : graph.blocks) {
    text += std::to_string(block.first) + "-" + std::to_string(block.last) + " " +
            exit_name(block.exit);
    for (int32_t successor : block.successors) {
      if (successor >= 0) {
        text += " " + std::to_string(successor);
      }
    }
    text += " [";
    for (size_t k = 0; k < block.predecessors.size(); ++k) {
      text += (k > 0 ? " " : "") + std::to_string(block.predecessors[k]);
    }
    text += "]\n";
  }
  return text;
}

TEST(BuildFlowGraph, CutsTheCodeIntoBlocks) {
  struct Case {
    const char* name;
    std::vector<Op> code;  // starts at instruction 1
    const char* want;
  };
  const Case cases[] = {
      {"straight code", {{OP_STORE_F, kC, kX, 0}, {OP_DONE, 0, 0, 0}}, "1-2 return []\n"},
      {"if and else",
       {{OP_IFNOT, kC, 3, 0},
        {OP_STORE_F, kC, kX, 0},
        {OP_GOTO, 2, 0, 0},
        {OP_STORE_F, kX, kC, 0},
        {OP_DONE, 0, 0, 0}},
       "1-1 branch 1 2 []\n2-3 goto 3 [0]\n4-4 fall 3 [0]\n5-5 return [1 2]\n"},
      {"a loop tested at its end",
       {{OP_STORE_F, kC, kX, 0}, {OP_IF, kC, -1, 0}, {OP_DONE, 0, 0, 0}},
       "1-2 branch 1 0 [0]\n3-3 return [0]\n"},
      {"a done in the middle of the body",
       {{OP_IFNOT, kC, 2, 0}, {OP_DONE, 0, 0, 0}, {OP_STORE_F, kC, kX, 0}, {OP_RETURN, 0, 0, 0}},
       "1-1 branch 1 2 []\n2-2 return [0]\n3-4 return [0]\n"},
      {"no done: the last instruction returns",
       {{OP_STORE_F, kC, kX, 0}, {OP_RETURN, kX, 0, 0}},
       "1-2 return []\n"},
      {"code after a return is left out",
       {{OP_RETURN, 0, 0, 0}, {OP_STORE_F, kC, kX, 0}, {OP_DONE, 0, 0, 0}},
       "1-1 return []\n"},
      // A GOTO nothing reaches still ends the code it jumps over: a block starts at its target.
      {"the target of an unreached jump starts a block",
       {{OP_IFNOT, kC, 3, 0},
        {OP_RETURN, kC, 0, 0},
        {OP_GOTO, 3, 0, 0},
        {OP_STORE_F, kC, kX, 0},
        {OP_STORE_F, kX, kC, 0},
        {OP_DONE, 0, 0, 0}},
       "1-1 branch 1 2 []\n2-2 return [0]\n4-5 fall 3 [0]\n6-6 return [2]\n"},
      {"a test whose two ways meet",
       {{OP_IF, kC, 1, 0}, {OP_DONE, 0, 0, 0}},
       "1-1 branch 1 1 []\n2-2 return [0]\n"},
      {"a block placed out of line, reached by a backward jump",
       {{OP_GOTO, 3, 0, 0},
        {OP_STORE_F, kC, kX, 0},
        {OP_RETURN, 0, 0, 0},
        {OP_STORE_F, kX, kC, 0},
        {OP_GOTO, -3, 0, 0}},
       "1-1 goto 2 []\n2-3 return [2]\n4-5 goto 1 [0]\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tests::load_fixture(program_with(c.code));
    const compilable::ProgramFacts facts = compilable::gather_program_facts(program);
    const compilable::FlowGraph graph = compilable::build_flow_graph(program, facts, 1);
    EXPECT_EQ(1, graph.first);
    EXPECT_EQ(1 + static_cast<int>(c.code.size()), graph.end);
    EXPECT_EQ(c.want, describe(graph));
    for (int32_t position = graph.first; position < graph.end; ++position) {
      const int32_t block = compilable::block_of(graph, position);
      if (block >= 0) {
        EXPECT_LE(graph.blocks[block].first, position);
        EXPECT_GE(graph.blocks[block].last, position);
      }
    }
  }
}

TEST(BuildFlowGraph, EndsTheRunOnCodeItCannotRead) {
  struct Case {
    const char* name;
    std::vector<Op> code;
    const char* message;
  };
  const Case cases[] = {
      {"a jump out of the function",
       {{OP_IFNOT, kC, 5, 0}, {OP_DONE, 0, 0, 0}},
       "Fatal Error - f: the jump at instruction 1 leaves the function.\n"},
      {"a jump before the function",
       {{OP_GOTO, -1, 0, 0}, {OP_DONE, 0, 0, 0}},
       "Fatal Error - f: the jump at instruction 1 leaves the function.\n"},
      {"code that runs on into the next function",
       {{OP_STORE_F, kC, kX, 0}},
       "Fatal Error - f: instruction 1 runs past the end of the function.\n"},
      {"an operand past the globals",
       {{OP_STORE_F, kC, 500, 0}, {OP_DONE, 0, 0, 0}},
       "Fatal Error - f: instruction 1 names cell 500, outside the 32 global cells.\n"},
      {"a negative operand",
       {{OP_ADD_F, -2, kC, kX}, {OP_DONE, 0, 0, 0}},
       "Fatal Error - f: instruction 1 names cell -2, outside the 32 global cells.\n"},
      {"an opcode past the table",
       {{300, 0, 0, 0}, {OP_DONE, 0, 0, 0}},
       "Fatal Error - f: unknown opcode 300 at instruction 1.\n"},
      {"an opcode no interpreter runs",
       {{204, 0, 0, 0}, {OP_DONE, 0, 0, 0}},
       "Fatal Error - f: unknown opcode 204 at instruction 1.\n"},
      {"a switch whose case table is outside the function",
       {{98, kC, 5, 0}, {OP_DONE, 0, 0, 0}},
       "Fatal Error - f: the jump at instruction 1 leaves the function.\n"},
      {"a case that jumps outside the function",
       {{98, kC, 2, 0}, {OP_DONE, 0, 0, 0}, {103, kC, -9, 0}, {OP_DONE, 0, 0, 0}},
       "Fatal Error - f: the jump at instruction 3 leaves the function.\n"},
      {"a Hexen II call whose argument in b is past the globals",
       {{OP_CALL2, kC, 500, kC}, {OP_DONE, 0, 0, 0}},
       "Fatal Error - f: instruction 1 names cell 500, outside the 32 global cells.\n"},
      {"a case row with no switch before it",
       {{103, kC, 1, 0}, {OP_DONE, 0, 0, 0}},
       "Fatal Error - f: the case at instruction 1 follows no switch.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tests::load_fixture(program_with(c.code));
    const compilable::ProgramFacts facts = compilable::gather_program_facts(program);
    tests::expect_fatal(
        tests::capture([&facts] { compilable::build_flow_graph(program, facts, 1); }), c.message);
  }
}

TEST(BuildFlowGraph, UnreachedCodeIsNotChecked) {
  // An unknown opcode and a wild operand after the return: nothing reaches them.
  tests::load_fixture(
      program_with({{OP_RETURN, 0, 0, 0}, {300, 0, 0, 0}, {OP_STORE_F, 900, 0, 0}}));
  const compilable::ProgramFacts facts = compilable::gather_program_facts(program);
  const compilable::FlowGraph graph = compilable::build_flow_graph(program, facts, 1);
  EXPECT_EQ("1-1 return []\n", describe(graph));
  EXPECT_EQ(-1, compilable::block_of(graph, 2));
}

}  // namespace
