// Webs of the unnamed cells: which writes and reads of a temporary belong together.
#include "compilable/value_flow.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compilable/flow_graph.h"
#include "compilable/program_facts.h"
#include "image/opcodes.h"
#include "image/program_image.h"
#include "tests/compilable_runs.h"
#include "tests/fixture.h"
#include "tests/progs_builder.h"

namespace {

using namespace image;
using tests::ProgsBuilder;

// Cells of the programs below: named globals first, then function f's parameters, then
// unnamed cells some instruction writes.
constexpr int kActive = 28;  // float active
constexpr int kTrue = 29;    // float TRUE = 1
constexpr int kFalse = 30;   // float FALSE = 0
constexpr int kCall = 31;    // the function global of g, a function of no arguments
constexpr int kVlen = 32;    // the builtin vlen
constexpr int kParms = 40;   // f's parameters: float c at 40, vectors a at 41..43, b at 44..46
constexpr int kT = 50;       // unnamed cells: outside every function's area
constexpr int kU = 51;
constexpr int kV = 52;

struct Op {
  uint16_t op;
  int a, b, c;
};

// A program with vlen (record 1), f(float c, vector a, vector b) holding the code (record 2),
// with no locals of its own, and g (record 3), a function of no arguments f may call.
ProgsBuilder program_with(const std::vector<Op>& code) {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(ev_float, kActive, "active");
  b.add_globaldef(ev_float, kTrue, "TRUE");
  b.set_float(kTrue, 1);
  b.add_globaldef(ev_float, kFalse, "FALSE");
  b.add_function_global(kCall, "g", 3);
  tests::add_builtin(b, kVlen, "vlen", 12, {3});
  b.set_int(60, 0);
  int first = -1;
  for (const Op& op : code) {
    const int at = b.add_statement(op.op, op.a, op.b, op.c);
    first = first < 0 ? at : first;
  }
  b.add_function(first, kParms, 7, "f", "a.qc", {1, 3, 3});
  b.add_function(b.add_statement(OP_RETURN, kTrue), 47, 0, "g", "a.qc");
  b.add_statement(OP_DONE);
  return b;
}

std::string describe(const compilable::ValueFlow& flow) {
  std::string text;
  for (const compilable::Web& web : flow.webs) {
    text += std::to_string(web.cell) + ":" + std::to_string(web.size) + " defs";
    for (int32_t def : web.defs) {
      text += " " + std::to_string(def);
    }
    text += " uses " + std::to_string(web.use_count);
    text += web.from_entry ? " entry" : "";
    text += web.crosses_blocks ? " crosses" : "";
    text += web.pieces ? " pieces" : "";
    text += "\n";
  }
  return text;
}

struct Analysis {
  compilable::ProgramFacts facts;
  compilable::FlowGraph graph;
  compilable::ValueFlow flow;
  std::vector<uint8_t> shared;
};

Analysis analyse(const ProgsBuilder& b, int function = 2) {
  tests::load_fixture(b);
  Analysis analysis{};
  analysis.facts = compilable::gather_program_facts(program);
  analysis.shared.assign(static_cast<size_t>(analysis.facts.cell_count), 0);
  const std::vector<uint8_t> vector_results(program.functions.size(), 0);
  const compilable::TrackedCells tracked{&analysis.facts, &analysis.shared, &vector_results};
  analysis.graph = compilable::build_flow_graph(program, analysis.facts, function);
  std::vector<int32_t> dense_of;
  analysis.flow = compilable::find_value_flow(program, analysis.graph, tracked, dense_of);
  for (int32_t d : dense_of) {
    EXPECT_EQ(-1, d);  // the working space is left as it was found
  }
  return analysis;
}

TEST(FindValueFlow, JoinsTheWritesAndReadsThatMeet) {
  struct Case {
    const char* name;
    std::vector<Op> code;  // starts at instruction 1
    const char* want;
  };
  const Case cases[] = {
      // MUL_F a,b->T; MUL_F a+1,b+1->U; ADD_F T,U->T; ...: one cell, a value per write.
      {"one temporary rewritten many times",
       {{OP_MUL_F, 41, 44, kT},
        {OP_MUL_F, 42, 45, kU},
        {OP_ADD_F, kT, kU, kT},
        {OP_MUL_F, 43, 46, kU},
        {OP_ADD_F, kT, kU, kT},
        {OP_RETURN, kT, 0, 0},
        {OP_DONE, 0, 0, 0}},
       "50:1 defs 1 uses 1\n51:1 defs 2 uses 1\n50:1 defs 3 uses 1\n51:1 defs 4 uses 1\n"
       "50:1 defs 5 uses 1\n"},
      // IFNOT c,+3; STORE_F TRUE->T; GOTO +2; STORE_F FALSE->T; STORE_F T->active.
      {"a temporary with two reaching writes",
       {{OP_IFNOT, 40, 3, 0},
        {OP_STORE_F, kTrue, kT, 0},
        {OP_GOTO, 2, 0, 0},
        {OP_STORE_F, kFalse, kT, 0},
        {OP_STORE_F, kT, kActive, 0},
        {OP_DONE, 0, 0, 0}},
       "50:1 defs 2 4 uses 1 crosses\n"},
      // A switch: the value is kept, a GOTO leads to the chain of compares that reads it.
      {"a value read after a jump",
       {{OP_STORE_F, 40, kT, 0},
        {OP_GOTO, 2, 0, 0},
        {OP_RETURN, 0, 0, 0},
        {OP_EQ_F, kT, kTrue, kU},
        {OP_IF, kU, -2, 0},
        {OP_EQ_F, kT, kFalse, kU},
        {OP_IF, kU, -4, 0},
        {OP_DONE, 0, 0, 0}},
       "50:1 defs 1 uses 2 crosses\n51:1 defs 4 uses 1\n51:1 defs 6 uses 1\n"},
      // CALL0 g; STORE_F RETURN->T; CALL0 g; ADD_F T,RETURN->active.
      {"a call's result copied to a temporary and read later",
       {{OP_CALL0, kCall, 0, 0},
        {OP_STORE_F, OFS_RETURN, kT, 0},
        {OP_CALL0, kCall, 0, 0},
        {OP_ADD_F, kT, OFS_RETURN, kActive},
        {OP_DONE, 0, 0, 0}},
       "1:1 defs 1 uses 1\n50:1 defs 2 uses 1\n1:1 defs 3 uses 1\n"},
      // SUB_V b,a->PARM0; CALL1 vlen: the argument is made in its parameter cell.
      {"an argument computed straight into its parameter cell",
       {{OP_SUB_V, 44, 41, OFS_PARM0},
        {OP_CALL1, kVlen, 0, 0},
        {OP_STORE_F, OFS_RETURN, kActive, 0},
        {OP_DONE, 0, 0, 0}},
       "4:3 defs 1 uses 1\n1:1 defs 2 uses 1\n"},
      // STORE_F c->PARM0 before the call of g, which takes no arguments, and a call that
      // reads the cell after it.
      {"a parameter cell set before a nested call",
       {{OP_STORE_F, 40, OFS_PARM0, 0},
        {OP_CALL0, kCall, 0, 0},
        {OP_STORE_F, OFS_RETURN, OFS_PARM0 + 3, 0},
        {OP_CALL2, kCall, 0, 0},
        {OP_DONE, 0, 0, 0}},
       "4:1 defs 1 uses 1\n1:1 defs 2 uses 1\n7:1 defs 3 uses 1\n1:1 defs 4 uses 0\n"},
      // Three one-cell writes read as one vector: the parts of a value made in pieces.
      {"a vector made of three components",
       {{OP_STORE_F, 40, kT, 0},
        {OP_STORE_F, kTrue, kU, 0},
        {OP_STORE_F, kFalse, kV, 0},
        {OP_STORE_V, kT, OFS_PARM0, 0},
        {OP_CALL1, kVlen, 0, 0},
        {OP_DONE, 0, 0, 0}},
       "50:3 defs 1 2 3 uses 1 pieces\n4:3 defs 4 uses 1\n1:1 defs 5 uses 0\n"},
      // fteqcc keeps the first result across the second call and copies it back into the
      // return cell, then copies the return cell as a vector: the call wrote three cells
      // there, the copy back only the first, and only that one is the value.
      {"a value copied back over the first cell of a call's result",
       {{OP_CALL0, kCall, 0, 0},
        {OP_STORE_F, OFS_RETURN, kT, 0},
        {OP_CALL0, kCall, 0, 0},
        {OP_STORE_F, OFS_RETURN, kU, 0},
        {OP_STORE_F, kT, OFS_RETURN, 0},
        {OP_STORE_V, OFS_RETURN, OFS_PARM0, 0},
        {OP_STORE_V, kU, OFS_PARM0 + 3, 0},
        {OP_CALL2, kCall, 0, 0},
        {OP_DONE, 0, 0, 0}},
       "1:1 defs 1 uses 1\n50:1 defs 2 uses 1\n1:1 defs 3 uses 1\n51:1 defs 4 uses 1\n"
       "1:1 defs 5 uses 1\n4:1 defs 6 uses 1\n7:1 defs 7 uses 1\n1:1 defs 8 uses 0\n"},
      // v = a; v_x = v_y + TRUE; vlen (v): the vector with its first cell written again.
      {"a vector written whole and then in part",
       {{OP_STORE_V, 41, kT, 0},
        {OP_ADD_F, kU, kTrue, kT},
        {OP_STORE_V, kT, OFS_PARM0, 0},
        {OP_CALL1, kVlen, 0, 0},
        {OP_DONE, 0, 0, 0}},
       "50:3 defs 1 2 uses 2 pieces\n4:3 defs 3 uses 1\n1:1 defs 4 uses 0\n"},
      {"a value that is never read",
       {{OP_ADD_F, 40, 40, kT}, {OP_DONE, 0, 0, 0}},
       "50:1 defs 1 uses 0\n"},
      {"a temporary read before any write comes from before the function",
       {{OP_STORE_F, kT, kActive, 0}, {OP_ADD_F, 40, 40, kT}, {OP_DONE, 0, 0, 0}},
       "50:1 defs 2 uses 0\n50:1 defs uses 1 entry crosses\n"},
      {"a value carried round a loop",
       {{OP_STORE_F, 40, kT, 0},
        {OP_ADD_F, kT, kTrue, kT},
        {OP_LT, kT, kActive, kU},
        {OP_IF, kU, -2, 0},
        {OP_STORE_F, kT, kActive, 0},
        {OP_DONE, 0, 0, 0}},
       "50:1 defs 1 2 uses 3 crosses\n51:1 defs 3 uses 1\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Analysis analysis = analyse(program_with(c.code));
    EXPECT_EQ(c.want, describe(analysis.flow));
  }
}

TEST(IsTracked, UnnamedWrittenCellsAndTheReservedOnes) {
  tests::load_fixture(program_with({{OP_STORE_F, 40, kT, 0},
                                    {OP_STORE_F, kT, 48, 0},
                                    {OP_STORE_F, kT, kActive, 0},
                                    {OP_DONE, 0, 0, 0}}));
  const compilable::ProgramFacts facts = compilable::gather_program_facts(program);
  std::vector<uint8_t> shared(static_cast<size_t>(facts.cell_count), 0);
  const std::vector<uint8_t> vector_results(program.functions.size(), 0);
  const compilable::TrackedCells tracked{&facts, &shared, &vector_results};
  const image::FunctionRecord& f = program.functions[2];
  struct Case {
    const char* name;
    int cell;
    bool tracked;
  };
  const Case cases[] = {
      {"the return cells", OFS_RETURN + 2, true},
      {"a parameter cell", OFS_PARM0 + 20, true},
      {"an unnamed written cell", kT, true},
      {"an unnamed cell in another function's area", 48, true},
      {"a named global", kActive, false},
      {"a cell nothing writes", kU, false},
      {"the function's own parameter", 40, false},
      {"the null cell", 0, false},
      {"past the globals", 1000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.tracked, compilable::is_tracked(tracked, f, c.cell));
  }
  shared[kT] = 1;
  EXPECT_FALSE(compilable::is_tracked(tracked, f, kT));  // state shared between functions
}

TEST(NoteSharedCells, MarksTheCellsReadBeforeAnyWrite) {
  const Analysis analysis = analyse(program_with({{OP_STORE_F, kT, kActive, 0},
                                                  {OP_ADD_F, 40, 40, kT},
                                                  {OP_ADD_F, 40, 40, kU},
                                                  {OP_STORE_F, kU, kActive, 0},
                                                  {OP_DONE, 0, 0, 0}}));
  std::vector<uint8_t> shared(static_cast<size_t>(analysis.facts.cell_count), 0);
  compilable::note_shared_cells(analysis.flow, shared);
  for (int cell = 0; cell < analysis.facts.cell_count; ++cell) {
    EXPECT_EQ(cell == kT, shared[cell] != 0) << cell;
  }
}

}  // namespace
