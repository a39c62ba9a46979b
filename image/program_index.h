// Lookups over the loaded image, indexed once per run so a run costs in proportion to
// the program; each has a straightforward scan beside it that gives the same answers.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace image {

// Whether lookups scan the tables instead of using the indexes. Not reset between runs:
// the build sets the default, and tests switch it to compare the two.
struct LookupMode {
  bool use_scans;
};
extern LookupMode lookup_mode;

struct ProgramIndex {
  std::vector<int32_t> first_globaldef_at;  // by offset 0..65535; -1 when none
  std::vector<uint64_t> defined_offsets;    // one bit per offset that has a definition
  std::unordered_map<std::string, int32_t> first_fielddef_named;  // from index 1
  std::unordered_map<std::string, int32_t> first_function_named;  // from index 1
  bool functions_named;               // first_function_named is up to date with the names
  std::vector<int32_t> jumps_before;  // IF, IFNOT and GOTO among instructions 0 .. i - 1
  // Instructions 1 .. numstatements - 1 that store into each b operand from 0 to 32767
  // while their op word is at most 36: the STORE instructions of the store test. (A
  // negative b never equals a definition's unsigned offset.)
  std::vector<int32_t> stores_into;
  // Signature-time tables, while no instruction carries marks:
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
extern ProgramIndex program_index;
void reset_program_index();
// Builds every index from the freshly loaded image.
void build_program_index();

constexpr int64_t kOffsetLimit = 65536;  // definitions lie at offsets 0 .. 65535

int32_t first_globaldef_index(int64_t offset);
// The first offset at or after `offset` (from 0) that has a definition, or kOffsetLimit.
int64_t next_defined_offset(int64_t offset);
int32_t first_fielddef_index(const char* name);
// The first function record from 1 with the name, or numfunctions (0 at least).
int32_t first_function_index(const char* name);
void forget_function_names();
bool jump_between(int64_t from, int64_t to);
bool stored_into(int64_t offset);
// Keeps stores_into right when an instruction's op word changes.
void note_op_word_change(int64_t index, int64_t old_word, int64_t new_word);

// For return-type inference, valid while no instruction carries marks:
// the last instruction before `before` (from 1, op word at most 65) naming the offset.
int64_t last_user_before(uint16_t offset, int64_t before);
// Where the body starting at `first` has its DONE, first RETURN and first named RETURN.
int64_t done_from(int64_t first);
int64_t return_from(int64_t first);
int64_t named_return_from(int64_t first);

}  // namespace image
