// The pre-pass that marks where blocks close and where do-loops open.
#include "classic/block_marks.h"

#include "classic/instruction_index.h"
#include "classic/instructions.h"
#include "image/opcodes.h"
#include "image/program_image.h"

namespace classic {

bool ifnot_opens_while(int64_t position) {
  const int64_t distance = image::statement_at(position).b;
  const int64_t last_skipped = position + distance - 1;
  if (instruction_at(last_skipped).base_opcode != image::OP_GOTO) {
    return false;
  }
  const int64_t back = image::statement_at(last_skipped).a;
  if (back > 0 || distance + back >= 2) {
    return false;
  }
  const int64_t landing = last_skipped + back;
  if (landing == position) {
    return true;
  }
  return !jump_between(landing, position);
}

// Whether the marking pass puts a close mark at the IFNOT's target: an if block that the
// instruction before the target does not close itself.
static bool ifnot_target_gets_close_mark(int64_t position) {
  const int64_t distance = image::statement_at(position).b;
  const int64_t last_skipped = position + distance - 1;
  if (instruction_at(last_skipped).base_opcode == image::OP_GOTO &&
      image::statement_at(last_skipped).a >= 0) {
    return false;
  }
  return !ifnot_opens_while(position);
}

void mark_blocks(const image::FunctionRecord& function) {
  for (int64_t p = function.first_statement;; ++p) {
    const image::Statement& statement = image::statement_at(p);
    switch (instruction_at(p).base_opcode) {
      case image::OP_DONE:
        return;
      case image::OP_IF:
        add_block_marks(p + statement.b, 0, 1);
        break;
      case image::OP_GOTO:
        if (statement.a > 0) {
          add_block_marks(p + statement.a, 1, 0);
        }
        break;
      case image::OP_IFNOT:
        if (ifnot_target_gets_close_mark(p)) {
          add_block_marks(p + statement.b, 1, 0);
        }
        break;
      default:
        break;
    }
  }
}

}  // namespace classic
