// Types of everything the source declares, from the program's definitions where it has them
// and from how values are used otherwise: parameters, returns, variables and each expression.
#pragma once

#include <cstdint>
#include <vector>

#include "compilable/program_facts.h"
#include "compilable/syntax.h"
#include "image/program_image.h"

namespace compilable {

// Signatures are numbered: first the function records, then one for each field offset (the
// functions a field of function type holds), then one for each global cell (the functions a
// variable of function type holds).
inline int32_t field_signature(const image::ProgramImage& program, int64_t field_offset) {
  return static_cast<int32_t>(program.functions.size() + field_offset);
}
inline int32_t cell_signature(const image::ProgramImage& program, const ProgramFacts& facts,
                              int64_t cell) {
  return static_cast<int32_t>(program.functions.size() + facts.field_limit + cell);
}

struct ProgramTypes {
  std::vector<Type> returns;                  // by signature
  std::vector<std::vector<Type>> parameters;  // by signature
  std::vector<uint8_t> variadic;              // by signature: called with differing counts
  std::vector<Type> cells;                    // by global cell: the type it is used with
  // By function record: for a function whose returns differ in type (fteqcc's generated
  // array accessors), the types its calls take the result as, other than its declared one.
  // No type of the compilers at hand declares such a result; each of these types is read
  // through a function of that type that returns the function's result.
  std::vector<std::vector<Type>> views;
  int32_t conflicts;  // uses that disagree with a type already known
};

// The type a global definition (an entry of program.globaldefs) declares; a field's value type
// comes from its field definition, a function constant's signature from the record it holds.
Type def_type(const image::ProgramImage& program, const ProgramFacts& facts,
              const image::DefRecord& def);

// The function record a function-typed cell holds, or -1.
int32_t function_in_cell(const image::ProgramImage& program, int64_t cell);

// The function a definition names as a constant, or -1 when it is a variable of function
// type: no instruction writes its cell, and it carries the function's own name or no save
// flag (fteqcc sets the flag on functions too).
int32_t function_constant(const image::ProgramImage& program, const ProgramFacts& facts,
                          const image::DefRecord& def);

// Fills in Expr::type and Variable::type of every function.
ProgramTypes infer_types(const image::ProgramImage& program, const ProgramFacts& facts,
                         std::vector<FunctionCode>& functions);

}  // namespace compilable
