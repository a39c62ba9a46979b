// Lookups over the instructions that the classic engine's rules make: jumps between two
// positions, the store test, and the searches of return-type inference. Indexed once per
// run so that a run costs in proportion to the program; each has a straight scan beside it
// (image::lookup_mode) that gives the same answers.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace classic {

struct InstructionIndex {
  std::vector<int32_t> jumps_before;  // IF, IFNOT and GOTO among instructions 0 .. i - 1
  // Instructions 1 .. numstatements - 1 that store into each b operand from 0 to 32767
  // while their op word is at most 36: the STORE instructions of the store test. (A
  // negative b never equals a definition's unsigned offset.)
  std::vector<int32_t> stores_into;
  // Signature-time tables, while no instruction carries marks the run has added:
  std::vector<int32_t> operand_start;  // by offset 0..32767 into operand_users
  std::vector<int32_t> operand_users;  // instructions 1.. whose a, b or c names the offset
  // Every call instruction as (the function index its operand a holds, its position),
  // sorted; the calls of one function are a run in position order.
  std::vector<std::pair<int32_t, int32_t>> calls;
  std::vector<int32_t> next_stop;  // where a call-site look-ahead from i stops or decides
  std::vector<int32_t> next_done;  // first base opcode DONE at or after i
  std::vector<int32_t> next_return;
  std::vector<int32_t> next_named_return;  // a RETURN of a non-zero offset with a definition
};
extern InstructionIndex instruction_index;
void reset_instruction_index();
// Builds every index from the instruction table as loaded, before any marks are added.
void build_instruction_index();

// Whether an IF, IFNOT or GOTO lies at a position from `from` up to, not including, `to`.
bool jump_between(int64_t from, int64_t to);
// The store test: whether an instruction from 1 whose op word is at most 36 on a
// right-associative row (STORE_F .. STORE_FNC) has b equal to the offset.
bool stored_into(int64_t offset);
// Keeps the store test right when an instruction's op word changes.
void note_op_word_change(int64_t index, int64_t old_word, int64_t new_word);

// For return-type inference, valid while no instruction carries marks the run has added:
// the last instruction before `before` (from 1, op word at most 65) naming the offset.
int64_t last_user_before(uint16_t offset, int64_t before);
// Where the body starting at `first` has its DONE, first RETURN and first named RETURN.
int64_t done_from(int64_t first);
int64_t return_from(int64_t first);
int64_t named_return_from(int64_t first);

}  // namespace classic
