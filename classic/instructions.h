// The classic engine's table of instructions: each one's base opcode and the block marks
// that the marking pass adds and the translator prints and strips.
#pragma once

#include <cstdint>
#include <vector>

namespace classic {

// The engine reads an op word as base opcode + 100 x close count + 10000 x do count; the
// counts are kept apart here so that adding marks never wraps into another opcode.
struct Instruction {
  uint8_t base_opcode;  // op word mod 100
  int32_t close_count;  // closing braces printed before the instruction
  int32_t do_count;     // do-blocks opened before it
};

struct InstructionTable {
  std::vector<Instruction> rows;  // one per statement of the image, padding included
};
extern InstructionTable instruction_table;
void reset_instruction_table();

// One row per statement of the loaded image, seeded from its op word, so that marks a
// file already carries read as marks.
void load_instruction_table();

// Positions outside the table read as a zeroed DONE.
const Instruction& instruction_at(int64_t index);
// The op word as the file encodes it, with the marks the run has added.
int64_t op_word(const Instruction& instruction);
inline int64_t op_word_at(int64_t index) { return op_word(instruction_at(index)); }

// Marks go only on instructions inside the table.
void add_block_marks(int64_t index, int close_count, int do_count);
void strip_block_marks(int64_t index);

}  // namespace classic
