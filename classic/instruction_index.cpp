// Lookups over the instructions that the classic engine's rules make: jumps between two
// positions, the store test, and the searches of return-type inference. Indexed once per
// run so that a run costs in proportion to the program; each has a straight scan beside it
// (image::lookup_mode) that gives the same answers.
#include "classic/instruction_index.h"

#include <algorithm>

#include "classic/instructions.h"
#include "image/opcodes.h"
#include "image/program_image.h"
#include "image/program_index.h"

namespace classic {

InstructionIndex instruction_index;

namespace {

constexpr int64_t kOperandLimit = 32768;  // operands are signed 16-bit

bool has_kind(int64_t opcode, image::OpcodeKind kind) {
  return opcode >= 0 && opcode < image::OPCODE_COUNT && image::OpcodeTable[opcode].kind == kind;
}

bool is_jump(int base_opcode) {
  return has_kind(base_opcode, image::kIf) || has_kind(base_opcode, image::kIfNot) ||
         has_kind(base_opcode, image::kGoto);
}

// The store test's rule: an op word of at most 36 on a right-associative row.
bool counts_as_store(int64_t word) {
  return word >= 0 && word <= image::OP_STORE_FNC && image::OpcodeTable[word].right_associative;
}

bool is_return(int64_t index) { return instruction_at(index).base_opcode == image::OP_RETURN; }

bool is_named_return(int64_t index) {
  const int32_t a = image::statement_at(index).a;
  return is_return(index) && a != 0 && image::first_globaldef_index(a) >= 0;
}

// Whether a call-site look-ahead stops at the instruction: it gives a type, or it is a
// DONE or a call (only calls of other functions end the look-ahead, decided by the caller).
bool stops_look_ahead(int64_t index) {
  const int64_t word = op_word_at(index);
  if (word == image::OP_DONE || has_kind(word, image::kCall)) {
    return true;
  }
  if (word >= image::OPCODE_COUNT) {
    return false;
  }
  const image::Statement& statement = image::statement_at(index);
  const image::OpcodeRow& row = image::OpcodeTable[word];
  return (statement.a == image::OFS_RETURN && row.type_a != image::ev_void) ||
         (statement.b == image::OFS_RETURN && row.type_b != image::ev_void);
}

// The straight scans, kept to check the indexes against.

bool scan_jump_between(int64_t from, int64_t to) {
  const int64_t size = static_cast<int64_t>(image::program.statements.size());
  to = std::clamp<int64_t>(to, 0, size);
  for (int64_t p = std::clamp<int64_t>(from, 0, size); p < to; ++p) {
    if (is_jump(instruction_at(p).base_opcode)) {
      return true;
    }
  }
  return false;
}

bool scan_stored_into(int64_t offset) {
  for (int64_t p = 1; p < image::program.numstatements; ++p) {
    if (counts_as_store(op_word_at(p)) && image::statement_at(p).b == offset) {
      return true;
    }
  }
  return false;
}

int64_t scan_last_user_before(uint16_t offset, int64_t before) {
  for (int64_t p = std::min<int64_t>(before, image::program.numstatements) - 1; p >= 1; --p) {
    const image::Statement& statement = image::statement_at(p);
    if (op_word_at(p) < image::OPCODE_COUNT &&
        (statement.a == offset || statement.b == offset || statement.c == offset)) {
      return p;
    }
  }
  return -1;
}

int64_t scan_done_from(int64_t first) {
  while (instruction_at(first).base_opcode != image::OP_DONE) {
    ++first;
  }
  return first;
}

// Both stop at the end of the table, or at once for a start outside it, as the indexes do.
int64_t scan_return_from(int64_t first) {
  while (image::in_statement_array(first) && !is_return(first)) {
    ++first;
  }
  return first;
}

int64_t scan_named_return_from(int64_t first) {
  while (image::in_statement_array(first) && !is_named_return(first)) {
    ++first;
  }
  return first;
}

// The indexes.

void index_statements() {
  InstructionIndex& index = instruction_index;
  const int64_t loaded = image::program.numstatements;
  const int64_t size = static_cast<int64_t>(image::program.statements.size());

  index.jumps_before.assign(size + 1, 0);
  for (int64_t i = 0; i < size; ++i) {
    index.jumps_before[i + 1] = index.jumps_before[i] + is_jump(instruction_at(i).base_opcode);
  }

  index.stores_into.assign(kOperandLimit, 0);
  for (int64_t p = 1; p < loaded; ++p) {
    const int32_t b = image::statement_at(p).b;
    if (b >= 0 && counts_as_store(op_word_at(p))) {
      ++index.stores_into[b];
    }
  }

  // Instructions naming each offset, in ascending order: counted, then placed.
  index.operand_start.assign(kOperandLimit + 1, 0);
  auto for_each_named_offset = [](const image::Statement& statement, auto&& visit) {
    const int32_t operands[3] = {statement.a, statement.b, statement.c};
    for (int k = 0; k < 3; ++k) {
      const int32_t value = operands[k];
      if (value >= 0 && (k == 0 || value != operands[0]) && (k < 2 || value != operands[1])) {
        visit(value);
      }
    }
  };
  for (int64_t p = 1; p < loaded; ++p) {
    if (op_word_at(p) < image::OPCODE_COUNT) {
      for_each_named_offset(image::statement_at(p),
                            [](int32_t value) { ++instruction_index.operand_start[value + 1]; });
    }
  }
  for (int64_t o = 0; o < kOperandLimit; ++o) {
    index.operand_start[o + 1] += index.operand_start[o];
  }
  index.operand_users.assign(index.operand_start[kOperandLimit], 0);
  std::vector<int32_t> fill(index.operand_start.begin(), index.operand_start.end() - 1);
  for (int64_t p = 1; p < loaded; ++p) {
    if (op_word_at(p) < image::OPCODE_COUNT) {
      for_each_named_offset(image::statement_at(p), [&](int32_t value) {
        index.operand_users[fill[value]++] = static_cast<int32_t>(p);
      });
    }
  }

  index.next_stop.assign(loaded + 1, static_cast<int32_t>(loaded));
  for (int64_t p = loaded - 1; p >= 0; --p) {
    index.next_stop[p] = stops_look_ahead(p) ? static_cast<int32_t>(p) : index.next_stop[p + 1];
    if (has_kind(op_word_at(p), image::kCall)) {
      index.calls.emplace_back(image::global_int(image::statement_at(p).a),
                               static_cast<int32_t>(p));
    }
  }
  std::sort(index.calls.begin(), index.calls.end());

  index.next_done.assign(size + 1, static_cast<int32_t>(size));
  index.next_return.assign(size + 1, static_cast<int32_t>(size));
  index.next_named_return.assign(size + 1, static_cast<int32_t>(size));
  for (int64_t p = size - 1; p >= 0; --p) {
    const int32_t here = static_cast<int32_t>(p);
    index.next_done[p] =
        instruction_at(p).base_opcode == image::OP_DONE ? here : index.next_done[p + 1];
    index.next_return[p] = is_return(p) ? here : index.next_return[p + 1];
    index.next_named_return[p] = is_named_return(p) ? here : index.next_named_return[p + 1];
  }
}

// The answer of a "from `first`" table; positions outside the array hold a DONE.
int64_t from_table(const std::vector<int32_t>& table, int64_t first) {
  if (first < 0 || first >= static_cast<int64_t>(table.size()) - 1) {
    return first;
  }
  return table[first];
}

}  // namespace

void reset_instruction_index() { instruction_index = InstructionIndex{}; }

void build_instruction_index() {
  reset_instruction_index();
  index_statements();
}

bool jump_between(int64_t from, int64_t to) {
  if (image::lookup_mode.use_scans) {
    return scan_jump_between(from, to);
  }
  const int64_t size = static_cast<int64_t>(image::program.statements.size());
  from = std::clamp<int64_t>(from, 0, size);
  to = std::clamp<int64_t>(to, 0, size);
  const std::vector<int32_t>& jumps = instruction_index.jumps_before;
  return from < to && jumps[to] - jumps[from] > 0;
}

bool stored_into(int64_t offset) {
  if (image::lookup_mode.use_scans) {
    return scan_stored_into(offset);
  }
  if (offset < 0 || offset >= kOperandLimit) {
    return false;
  }
  return instruction_index.stores_into[offset] > 0;
}

void note_op_word_change(int64_t index, int64_t old_word, int64_t new_word) {
  if (index < 1 || index >= image::program.numstatements || instruction_index.stores_into.empty()) {
    return;
  }
  const int32_t b = image::statement_at(index).b;
  if (b >= 0) {
    instruction_index.stores_into[b] += counts_as_store(new_word) - counts_as_store(old_word);
  }
}

int64_t last_user_before(uint16_t offset, int64_t before) {
  if (image::lookup_mode.use_scans) {
    return scan_last_user_before(offset, before);
  }
  if (offset >= kOperandLimit) {
    return -1;  // no signed 16-bit operand names it
  }
  const InstructionIndex& index = instruction_index;
  const auto first = index.operand_users.begin() + index.operand_start[offset];
  const auto last = index.operand_users.begin() + index.operand_start[offset + 1];
  auto found = std::lower_bound(first, last, before);
  return found == first ? -1 : *(found - 1);
}

int64_t done_from(int64_t first) {
  if (image::lookup_mode.use_scans) {
    return scan_done_from(first);
  }
  return from_table(instruction_index.next_done, first);
}

int64_t return_from(int64_t first) {
  if (image::lookup_mode.use_scans) {
    return scan_return_from(first);
  }
  return from_table(instruction_index.next_return, first);
}

int64_t named_return_from(int64_t first) {
  if (image::lookup_mode.use_scans) {
    return scan_named_return_from(first);
  }
  return from_table(instruction_index.next_named_return, first);
}

}  // namespace classic
