// Turns one function's instructions into statements and nested expressions, block by block:
// a value used once right where it was made is written in place; any other value is kept in
// a variable, so that everything is evaluated once and in the original order.
#pragma once

#include <cstdint>
#include <vector>

#include "compilable/flow_graph.h"
#include "compilable/program_facts.h"
#include "compilable/syntax.h"
#include "compilable/value_flow.h"
#include "image/program_image.h"

namespace compilable {

FunctionCode build_function_code(const image::ProgramImage& program, const ProgramFacts& facts,
                                 const FlowGraph& graph, const ValueFlow& flow,
                                 const TrackedCells& tracked);

// Whether a definition in a function's area can be one of its locals: functions and fields
// are always global, wherever a forward reference placed them.
bool is_local_kind(const image::DefRecord& def);

// Whether the cell lies in the function's parameter and local area.
bool in_local_area(const image::FunctionRecord& function, int64_t cell);

}  // namespace compilable
