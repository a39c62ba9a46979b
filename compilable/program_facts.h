// Facts about the whole program that every later step looks up: definitions by offset, which
// cells any instruction writes, where each function's code ends, and whose local area a cell is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/opcodes.h"
#include "image/program_image.h"

namespace compilable {

struct ProgramFacts {
  int32_t cell_count;          // global cells loaded
  bool hexen2_calls;           // CALL1..CALL8 carry their first two arguments in b and c
  bool extended_instructions;  // some instruction is past the classic set
  // Some instruction is one fteqcc has written only since it renumbered the type tags
  // (opcode 225 or later): tags 9 to 12 are unsigned, 64-bit integers and double.
  bool current_tags;
  // The global definitions at each offset, in table order: defs_at[defs_start[o] .. defs_start[o +
  // 1]).
  std::vector<int32_t> defs_start;
  std::vector<int32_t> defs_at;
  std::vector<uint8_t> written;  // some instruction of the program writes the cell
  // One past the last instruction of each function's code: the next function's first
  // instruction, or the end of the statements.
  std::vector<int32_t> code_end;
  // Some function's code ends in another instruction than DONE: its compiler leaves the DONE
  // out after a return (fteqcc's return_only), and writes "return;" as a DONE too.
  bool done_may_return;
  // The function whose parameter and local area holds the cell, or -1. Where areas overlap,
  // the first function that reaches the cell.
  std::vector<int32_t> area_owner;
  std::vector<int32_t> field_at;  // by field offset: the first field definition there, or -1
  int32_t field_limit;            // one past the highest field offset
  // By global definition of field type: the field definition it names, the one at its
  // offset with its name, else the first one there; -1 for other definitions.
  std::vector<int32_t> field_of_global;
  // The definition with a real name that covers the cell, itself or as a component of a
  // vector defined one or two cells before; -1 when none does.
  std::vector<int32_t> named_cover;
  // A vector known only by its components' names "v_x", "v_y", "v_z" starts at the cell;
  // named_cover gives its "v_x" for all three cells.
  std::vector<uint8_t> implied_vector;
  // Arrays that the extended instructions index, by global cell: at an array's first cell
  // its element count and element width in cells (0 elsewhere); for every cell of an array
  // the array's first cell (-1 elsewhere).
  std::vector<int32_t> array_length;
  std::vector<int8_t> array_width;
  std::vector<int32_t> array_of;
};

ProgramFacts gather_program_facts(const image::ProgramImage& program);

// A definition's name, unless it names nothing: "" and "IMMEDIATE" mark anonymous constants.
bool has_real_name(const image::DefRecord& def);
const char* def_name(const image::DefRecord& def);
inline int def_tag(const image::DefRecord& def) { return def.type & ~image::DEF_SAVEGLOBAL; }
// The value tag a definition's tag stands for: the classic eight, and integer (8, the same
// in every numbering fteqcc has used) where the program has the instructions that compute
// with integers; the numbering of the others changed over time, and they are read as float,
// as the classic instructions read every one-cell number.
inline int value_tag(const ProgramFacts& facts, int tag) {
  const bool integer = tag == 8 && facts.extended_instructions;
  const bool numeric = tag >= 9 && tag <= 12 && facts.current_tags;
  return (tag >= 0 && tag <= image::ev_pointer) || integer || numeric ? tag : image::ev_float;
}

// The first definition at the offset with a real name, or -1.
int32_t named_def_at(const image::ProgramImage& program, const ProgramFacts& facts, int64_t offset);
// The first definition at the offset of any name, or -1.
int32_t any_def_at(const ProgramFacts& facts, int64_t offset);

// Whether some definition marks the cell as an anonymous constant; a name given to the same
// cell is a constant's, never a local's.
bool has_immediate_def(const image::ProgramImage& program, const ProgramFacts& facts,
                       int64_t offset);

// Cells a named definition covers: 3 for a vector, also one known by its components.
int covered_size(const ProgramFacts& facts, const image::DefRecord& def);

int parameter_count(const image::FunctionRecord& function);

inline bool has_body(const image::FunctionRecord& function) { return function.first_statement > 0; }

}  // namespace compilable
