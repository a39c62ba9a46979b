// The QuakeC text of types, expressions, statements and whole functions, written so that
// qcc and fteqcc read it the same way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "compilable/names.h"
#include "compilable/program_facts.h"
#include "compilable/structure.h"
#include "compilable/syntax.h"
#include "compilable/types.h"
#include "image/program_image.h"

namespace compilable {

struct SourceContext {
  const image::ProgramImage& program;
  const ProgramFacts& facts;
  const Names& names;
  const ProgramTypes& types;
  std::vector<int32_t> code_of;  // by function record: its FunctionCode index, -1 for builtins
  // Counted while writing:
  int32_t fteqcc_strings;          // string literals only fteqcc can read
  int32_t unspellable;             // float values no literal spells, written as 0
  int32_t unspelled_instructions;  // instructions no source spells, written as "__name (...)"
  bool needs_null_function;        // a null function value was written by the name below
};

constexpr const char* kNullFunctionName = "null_function";

// "float", ".vector", "void(entity e)" ...; a function type is written with its signature
// when one is known.
std::string type_text(const SourceContext& context, const Type& type, int depth = 0);

// The declaration head of a function: "float(entity e, float d) name".
std::string function_head(const SourceContext& context, int32_t function_index,
                          const std::vector<std::string>& parameter_names);

// The text of a constant value read with the given type.
std::string constant_text(SourceContext& context, int64_t cell, const Type& type);

// The declaration of the global starting at the cell: "float x;", "float X = 5;", ".vector
// origin;" ...; "" for what has no declaration of its own.
std::string global_declaration(SourceContext& context, int64_t cell);
// A constant sharing its cell with the global declared before it: Names::aliases[index].
std::string alias_declaration(SourceContext& context, int32_t index);
// A field that no global definition declares.
std::string field_declaration(SourceContext& context, int32_t offset);
// "float(float a) name;" or "void(vector v) name = #1;".
std::string function_declaration(SourceContext& context, int32_t function,
                                 const std::vector<std::string>& parameter_names, bool prototype);

// The views of a function's result (ProgramTypes::views): their prototypes, or their
// definitions, which return what the function returns.
std::string view_declarations(const SourceContext& context, int32_t function,
                              const std::vector<std::string>& parameter_names, bool prototype);

// "typedef void(float a) name_result;" for each result of the function (its own and its
// views') that is a function value; `count` counts them.
std::string result_type_declarations(const SourceContext& context, int32_t function,
                                     int32_t& count);

// The whole definition of a function that has code, from the head to "};".
// With `allocation_order`, each local is declared where qcc allocated it.
std::string function_text(SourceContext& context, const FunctionCode& code,
                          const StructuredBody& body, int32_t code_index, bool allocation_order);

}  // namespace compilable
