// One function's reachable instructions cut into blocks, with the jumps between them.
#pragma once

#include <cstdint>
#include <vector>

#include "compilable/program_facts.h"
#include "image/program_image.h"

namespace compilable {

enum class BlockExit : uint8_t {
  kFall,    // runs on into the next instruction
  kGoto,    // GOTO, or SWITCH to its case table
  kBranch,  // IF, IFNOT or CASE: successors[0] when not taken, successors[1] when taken
  kReturn,  // RETURN or DONE
};

struct Block {
  int32_t first;  // instruction positions, the last one included
  int32_t last;
  BlockExit exit;
  int32_t successors[2];  // block indices, -1 when absent
  std::vector<int32_t> predecessors;
};

struct FlowGraph {
  int32_t function;
  int32_t first;  // the function's code: [first, end)
  int32_t end;
  std::vector<Block> blocks;      // in the order of their first instruction; blocks[0] is the entry
  std::vector<int32_t> block_at;  // for each instruction of [first, end): its block, or -1
  // For each CASE and CASERANGE of [first, end): the SWITCH whose table holds it, or -1.
  std::vector<int32_t> switch_of;
};

// Ends the run with a message when the reachable code leaves the function, runs past its
// end, names a cell past the globals or holds an opcode this engine does not know, or when
// a parameter's size is neither 1 nor 3.
FlowGraph build_flow_graph(const image::ProgramImage& program, const ProgramFacts& facts,
                           int32_t function_index);

inline int32_t block_of(const FlowGraph& graph, int64_t position) {
  return graph.block_at[position - graph.first];
}

}  // namespace compilable
