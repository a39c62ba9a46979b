// The pre-pass that marks where blocks close and where do-loops open.
#include "core/block_marks.h"

#include <algorithm>

#include "image/opcodes.h"

namespace core {

BlockMarks block_marks;

void reset_block_marks() { block_marks = BlockMarks{}; }

namespace {

bool is_jump(int base_opcode) {
  return base_opcode == image::OP_IF || base_opcode == image::OP_IFNOT ||
         base_opcode == image::OP_GOTO;
}

// Whether any instruction in [from, to) is a jump; positions outside the array read as DONE.
bool jump_between(int64_t from, int64_t to) {
  const auto& statements = image::program.statements;
  const int64_t size = static_cast<int64_t>(statements.size());
  if (block_marks.jumps_before.size() != statements.size() + 1) {
    block_marks.jumps_before.assign(statements.size() + 1, 0);
    for (int64_t i = 0; i < size; ++i) {
      block_marks.jumps_before[i + 1] = block_marks.jumps_before[i] + is_jump(statements[i].op);
    }
  }
  from = std::clamp<int64_t>(from, 0, size);
  to = std::clamp<int64_t>(to, 0, size);
  return from < to && block_marks.jumps_before[to] - block_marks.jumps_before[from] > 0;
}

}  // namespace

bool ifnot_opens_while(int64_t position) {
  const int64_t distance = image::statement_at(position).b;
  const int64_t last_skipped = position + distance - 1;
  const image::Statement& skipped = image::statement_at(last_skipped);
  if (skipped.op != image::OP_GOTO) {
    return false;
  }
  const int64_t back = skipped.a;
  if (back > 0 || distance + back >= 2) {
    return false;
  }
  const int64_t landing = last_skipped + back;
  if (landing == position) {
    return true;
  }
  return !jump_between(landing, position);
}

bool ifnot_target_gets_close_mark(int64_t position) {
  const int64_t distance = image::statement_at(position).b;
  const image::Statement& skipped = image::statement_at(position + distance - 1);
  if (skipped.op == image::OP_GOTO && skipped.a >= 0) {
    return false;
  }
  return !ifnot_opens_while(position);
}

void mark_blocks(const image::FunctionRecord& function) {
  for (int64_t p = function.first_statement;; ++p) {
    const image::Statement& statement = image::statement_at(p);
    switch (statement.op) {
      case image::OP_DONE:
        return;
      case image::OP_IF:
        image::add_block_marks(p + statement.b, 0, 1);
        break;
      case image::OP_GOTO:
        if (statement.a > 0) {
          image::add_block_marks(p + statement.a, 1, 0);
        }
        break;
      case image::OP_IFNOT:
        if (ifnot_target_gets_close_mark(p)) {
          image::add_block_marks(p + statement.b, 1, 0);
        }
        break;
      default:
        break;
    }
  }
}

}  // namespace core
