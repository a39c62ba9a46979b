// Names for everything the source declares: the program's own where they are usable, else
// names that say what a thing is; never a keyword, and never two things with one name.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "compilable/program_facts.h"
#include "compilable/syntax.h"
#include "compilable/types.h"
#include "image/program_image.h"

namespace compilable {

struct Names {
  std::vector<std::string> cells;      // by global cell that starts a declared global, else ""
  std::vector<std::string> functions;  // by function record
  std::vector<std::string> fields;     // by field offset that starts a field, else ""
  std::vector<std::vector<std::string>> variables;  // by function code, then variable
  // Constants that share a cell with the one named there (fteqcc lets equal constants
  // share): global definition index and name, in table order.
  std::vector<std::pair<int32_t, std::string>> aliases;
  std::vector<std::vector<std::string>> views;  // by function record: ProgramTypes::views
  // Names that a typedef gives to results that are function values, which no other
  // declaration can return: by function record ("" when its result is not a function), and
  // for each of its views.
  std::vector<std::string> result_types;
  std::vector<std::vector<std::string>> view_result_types;
  int32_t renamed;  // program names that had to change
};

// The owners of global names: what declaring a name creates.
enum class NameOwner : uint8_t { kCell, kField, kFunction, kView, kResultType };

// Words neither compiler accepts as a name.
bool is_reserved_word(const std::string& word);

// Makes a usable identifier of a text: other characters become '_', never empty, never
// longer than the compilers accept.
std::string identifier_from(const std::string& text);

// Names of globals, fields and functions; the functions' variables are named once the order
// of declarations is known (choose_variable_names).
Names choose_names(const image::ProgramImage& program, const ProgramFacts& facts,
                   const std::vector<FunctionCode>& functions,
                   const std::vector<uint8_t>& shared_cells, const ProgramTypes& types);

// Names of one function's variables: unique among themselves and apart from `visible`, the
// global names declared before the function (to qcc a local that repeats one is that global).
std::vector<std::string> choose_variable_names(const image::ProgramImage& program,
                                               const FunctionCode& code,
                                               const std::unordered_set<std::string>& visible,
                                               int32_t& renamed);

}  // namespace compilable
