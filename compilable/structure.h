// Turns a function's flow graph into nested if/else, while, do-while, break and continue,
// with && and || where conditions short-circuit; code that has no such shape is written as
// a loop over a state variable.
#pragma once

#include <cstdint>
#include <vector>

#include "compilable/flow_graph.h"
#include "compilable/program_facts.h"
#include "compilable/syntax.h"
#include "image/program_image.h"

namespace compilable {

enum class NodeKind : uint8_t {
  kStatement,  // ref: statement
  kIf,         // ref: condition; body, otherwise (may be empty)
  kWhile,      // ref: condition; body
  kDoWhile,    // ref: condition; body
  kBreak,
  kContinue,
  kSwitch,  // ref: the value switched on; body: its kCase nodes
  kCase,    // ref: the case's test of the value (its label), -1 for default; body
};

struct Node {
  NodeKind kind;
  int32_t ref;
  std::vector<int32_t> body;
  std::vector<int32_t> otherwise;
};

struct StructuredBody {
  std::vector<Node> nodes;
  std::vector<int32_t> top;  // the body's nodes in order
};

// Adds the conditions and statements it needs to `code`. A function whose flow has no
// structured shape is written as a state loop, and `code.state_loop` is set.
StructuredBody structure_function(const image::ProgramImage& program, const ProgramFacts& facts,
                                  const FlowGraph& graph, FunctionCode& code);

}  // namespace compilable
