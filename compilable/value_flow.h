// Where the values of one function's unnamed cells come from and go: each write of such a
// cell starts a value, and the writes and reads that meet join into one web.
#pragma once

#include <cstdint>
#include <vector>

#include "compilable/flow_graph.h"
#include "compilable/instructions.h"
#include "compilable/program_facts.h"
#include "image/program_image.h"

namespace compilable {

// Read slots of an instruction: operand a, operand b, then the arguments of a call.
constexpr int kReadSlots = 2 + kParameterCount;
constexpr int kSlotA = 0;
constexpr int kSlotB = 1;
inline int argument_slot(int k) { return 2 + k; }
// The third operand of an instruction other than a call (a CASERANGE's upper bound, the
// value a.b = c stores, a word index): the slot of a call's first argument.
constexpr int kSlotC = 2;

// The cells an instruction reads and writes, with the sizes of what it actually moves: a
// STORE_V of a float temporary copies one value cell, whatever the opcode's width.
struct Access {
  CellRange reads[kReadSlots];  // by slot; size 0 when the slot reads nothing
  CellRange write;
};

// A web: the writes of a cell and the reads they reach, joined wherever they meet.
struct Web {
  int32_t cell;
  int8_t size;
  bool from_entry;      // a read may see the value from before the function started
  bool crosses_blocks;  // a read may see a write of another block (or of an earlier loop pass)
  bool pieces;          // read or written in parts of different shapes
  std::vector<int32_t> defs;  // the instructions writing it, in position order
  int32_t use_count;
};

struct ValueFlow {
  std::vector<Web> webs;
  std::vector<Access> access;      // by position - graph.first
  std::vector<int32_t> read_web;   // [(position - graph.first) * kReadSlots + slot], -1: untracked
  std::vector<int32_t> write_web;  // by position - graph.first, -1: untracked or none
};

// Which cells a function tracks as values: the return and parameter cells, and unnamed cells
// that some instruction writes, apart from the function's own parameters and the cells in
// `shared` (unnamed cells read before any write: they hold state shared between functions).
struct TrackedCells {
  const ProgramFacts* facts;
  const std::vector<uint8_t>* shared;
  // By function record: some caller reads its result as a vector, so its RETURN hands back
  // three cells (every RETURN copies three; what they are is told by the callers).
  const std::vector<uint8_t>* vector_results;
};
bool is_tracked(const TrackedCells& tracked, const image::FunctionRecord& function, int64_t cell);

// `dense_of` is working space of one entry per global cell, all -1, left as it was found, so
// that a run over every function costs in proportion to the code rather than to the cells.
ValueFlow find_value_flow(const image::ProgramImage& program, const FlowGraph& graph,
                          const TrackedCells& tracked, std::vector<int32_t>& dense_of);

// The tracked cells other than the reserved ones whose value may come from before the
// function started, added to `shared`.
void note_shared_cells(const ValueFlow& flow, std::vector<uint8_t>& shared);

// Marks in `vector_results` the functions this one calls by name and reads three cells of
// the result of.
void note_vector_results(const image::ProgramImage& program, const FlowGraph& graph,
                         const ValueFlow& flow, std::vector<uint8_t>& vector_results);

}  // namespace compilable
