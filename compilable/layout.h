// The order of everything the source declares. Where the program was laid out in the order
// of its source (a definition table and function areas in the order of their cells, as qcc
// allocates them), that order is kept, so that compiling again allocates everything where it
// was; otherwise fields and globals come first, then every prototype, then the code.
#pragma once

#include <cstdint>
#include <vector>

#include "compilable/names.h"
#include "compilable/program_facts.h"
#include "compilable/syntax.h"
#include "image/program_image.h"

namespace compilable {

enum class ItemKind : uint8_t {
  kGlobal,      // the global starting at a cell: ref is the cell
  kField,       // a field no global definition declares: ref is the field offset
  kPrototype,   // ref is the function record
  kDefinition,  // a function's code or builtin number: ref is the function record
  kAlias,       // a constant sharing the cell of the global before it: ref indexes Names::aliases
};

struct Item {
  ItemKind kind;
  int32_t ref;
};

struct Layout {
  std::vector<Item> items;
  bool allocation_order;  // items follow the program's own order of allocation
};

// Fills names.variables: each function's variables are named apart from the global names
// declared before it.
void name_variables(const image::ProgramImage& program, const ProgramFacts& facts,
                    const std::vector<FunctionCode>& codes, const std::vector<int32_t>& code_of,
                    const Layout& layout, Names& names);

Layout lay_out_program(const image::ProgramImage& program, const ProgramFacts& facts,
                       const Names& names, const std::vector<uint8_t>& shared_cells,
                       const std::vector<FunctionCode>& codes, const std::vector<int32_t>& code_of);

}  // namespace compilable
