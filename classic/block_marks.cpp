// The pre-pass that marks where blocks close and where do-loops open.
#include "classic/block_marks.h"

#include "image/opcodes.h"
#include "image/program_index.h"

namespace classic {

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
  return !image::jump_between(landing, position);
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

}  // namespace classic
