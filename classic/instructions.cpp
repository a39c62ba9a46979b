// The classic engine's table of instructions: each one's base opcode and the block marks
// that the marking pass adds and the translator prints and strips.
#include "classic/instructions.h"

#include "classic/instruction_index.h"
#include "image/program_image.h"

namespace classic {

InstructionTable instruction_table;

void reset_instruction_table() { instruction_table = InstructionTable{}; }

void load_instruction_table() {
  std::vector<Instruction>& rows = instruction_table.rows;
  rows.clear();
  rows.reserve(image::program.statements.size());
  for (const image::Statement& statement : image::program.statements) {
    const uint32_t word = statement.op;
    rows.push_back(Instruction{static_cast<uint8_t>(word % 100),
                               static_cast<int32_t>((word % 10000) / 100),
                               static_cast<int32_t>(word / 10000)});
  }
}

const Instruction& instruction_at(int64_t index) {
  static constexpr Instruction done{};
  const bool inside = index >= 0 && index < static_cast<int64_t>(instruction_table.rows.size());
  return inside ? instruction_table.rows[index] : done;
}

int64_t op_word(const Instruction& instruction) {
  return instruction.base_opcode + int64_t{100} * instruction.close_count +
         int64_t{10000} * instruction.do_count;
}

static bool in_table(int64_t index) {
  return index >= 0 && index < static_cast<int64_t>(instruction_table.rows.size());
}

void add_block_marks(int64_t index, int close_count, int do_count) {
  if (!in_table(index)) {
    return;
  }
  Instruction& instruction = instruction_table.rows[index];
  const int64_t old_word = op_word(instruction);
  instruction.close_count += close_count;
  instruction.do_count += do_count;
  note_op_word_change(index, old_word, op_word(instruction));
}

void strip_block_marks(int64_t index) {
  if (!in_table(index)) {
    return;
  }
  Instruction& instruction = instruction_table.rows[index];
  const int64_t old_word = op_word(instruction);
  instruction.close_count = 0;
  instruction.do_count = 0;
  note_op_word_change(index, old_word, op_word(instruction));
}

}  // namespace classic
