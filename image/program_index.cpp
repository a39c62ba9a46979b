// Lookups over the loaded image, indexed once per run so a run costs in proportion to
// the program; each has a straightforward scan beside it that gives the same answers.
#include "image/program_index.h"

#include <algorithm>
#include <cstring>

#include "image/opcodes.h"
#include "image/program_image.h"

#ifndef PROGS2QC_USE_SCANS
#define PROGS2QC_USE_SCANS 0
#endif

namespace image {

LookupMode lookup_mode{PROGS2QC_USE_SCANS != 0};
ProgramIndex program_index;

namespace {

constexpr int64_t kOperandLimit = 32768;  // operands are signed 16-bit

// Whether the opcode has a row of the kind; op words above the table have none.
bool has_kind(int64_t opcode, OpcodeKind kind) {
  return opcode >= 0 && opcode < OPCODE_COUNT && OpcodeTable[opcode].kind == kind;
}

bool is_jump(int base_opcode) {
  return has_kind(base_opcode, kIf) || has_kind(base_opcode, kIfNot) ||
         has_kind(base_opcode, kGoto);
}

bool is_call(int64_t word) { return has_kind(word, kCall); }

// The store test's rule: an op word of at most 36 on a right-associative row.
bool counts_as_store(int64_t word) {
  return word >= 0 && word <= OP_STORE_FNC && OpcodeTable[word].right_associative;
}

// Whether a call-site look-ahead stops at the instruction: it gives a type, or it is a
// DONE or a call (only calls of other functions end the look-ahead, decided by the caller).
bool stops_look_ahead(const Statement& statement) {
  const int64_t word = op_word(statement);
  if (word == OP_DONE || is_call(word)) {
    return true;
  }
  if (word >= OPCODE_COUNT) {
    return false;
  }
  const OpcodeRow& row = OpcodeTable[word];
  return (statement.a == OFS_RETURN && row.type_a != ev_void) ||
         (statement.b == OFS_RETURN && row.type_b != ev_void);
}

void index_definitions() {
  ProgramIndex& index = program_index;
  index.first_globaldef_at.assign(kOffsetLimit, -1);
  for (int32_t i = static_cast<int32_t>(program.globaldefs.size()) - 1; i >= 0; --i) {
    index.first_globaldef_at[program.globaldefs[i].ofs] = i;
  }
  index.defined_offsets.assign(kOffsetLimit / 64, 0);
  for (const DefRecord& def : program.globaldefs) {
    index.defined_offsets[def.ofs / 64] |= uint64_t{1} << (def.ofs % 64);
  }
  for (int32_t i = 1; i < static_cast<int32_t>(program.fielddefs.size()); ++i) {
    index.first_fielddef_named.emplace(string_at(program.fielddefs[i].s_name), i);
  }
}

void index_statements() {
  ProgramIndex& index = program_index;
  const int64_t loaded = program.numstatements;
  const int64_t size = static_cast<int64_t>(program.statements.size());

  index.jumps_before.assign(size + 1, 0);
  for (int64_t i = 0; i < size; ++i) {
    index.jumps_before[i + 1] = index.jumps_before[i] + is_jump(program.statements[i].op);
  }

  index.stores_into.assign(kOperandLimit, 0);
  for (int64_t p = 1; p < loaded; ++p) {
    const Statement& statement = program.statements[p];
    if (statement.b >= 0 && counts_as_store(op_word(statement))) {
      ++index.stores_into[statement.b];
    }
  }

  // Instructions naming each offset, in ascending order: counted, then placed.
  index.operand_start.assign(kOperandLimit + 1, 0);
  auto for_each_named_offset = [](const Statement& statement, auto&& visit) {
    const int16_t operands[3] = {statement.a, statement.b, statement.c};
    for (int k = 0; k < 3; ++k) {
      const int16_t value = operands[k];
      if (value >= 0 && (k == 0 || value != operands[0]) && (k < 2 || value != operands[1])) {
        visit(value);
      }
    }
  };
  for (int64_t p = 1; p < loaded; ++p) {
    const Statement& statement = program.statements[p];
    if (op_word(statement) < OPCODE_COUNT) {
      for_each_named_offset(statement, [](int value) { ++program_index.operand_start[value + 1]; });
    }
  }
  for (int64_t o = 0; o < kOperandLimit; ++o) {
    index.operand_start[o + 1] += index.operand_start[o];
  }
  index.operand_users.assign(index.operand_start[kOperandLimit], 0);
  std::vector<int32_t> fill(index.operand_start.begin(), index.operand_start.end() - 1);
  for (int64_t p = 1; p < loaded; ++p) {
    const Statement& statement = program.statements[p];
    if (op_word(statement) < OPCODE_COUNT) {
      for_each_named_offset(statement, [&](int value) {
        index.operand_users[fill[value]++] = static_cast<int32_t>(p);
      });
    }
  }

  index.next_stop.assign(loaded + 1, static_cast<int32_t>(loaded));
  for (int64_t p = loaded - 1; p >= 0; --p) {
    const Statement& statement = program.statements[p];
    index.next_stop[p] =
        stops_look_ahead(statement) ? static_cast<int32_t>(p) : index.next_stop[p + 1];
    if (is_call(op_word(statement))) {
      index.calls.emplace_back(global_int(statement.a), static_cast<int32_t>(p));
    }
  }
  std::sort(index.calls.begin(), index.calls.end());

  index.next_done.assign(size + 1, static_cast<int32_t>(size));
  index.next_return.assign(size + 1, static_cast<int32_t>(size));
  index.next_named_return.assign(size + 1, static_cast<int32_t>(size));
  for (int64_t p = size - 1; p >= 0; --p) {
    const Statement& statement = program.statements[p];
    const bool is_return = statement.op == OP_RETURN;
    index.next_done[p] = statement.op == OP_DONE ? static_cast<int32_t>(p) : index.next_done[p + 1];
    index.next_return[p] = is_return ? static_cast<int32_t>(p) : index.next_return[p + 1];
    index.next_named_return[p] =
        is_return && statement.a > 0 && index.first_globaldef_at[statement.a] >= 0
            ? static_cast<int32_t>(p)
            : index.next_named_return[p + 1];
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

void reset_program_index() { program_index = ProgramIndex{}; }

void build_program_index() {
  reset_program_index();
  index_definitions();
  index_statements();
}

int32_t first_globaldef_index(int64_t offset) {
  if (lookup_mode.use_scans) {
    for (size_t i = 0; i < program.globaldefs.size(); ++i) {
      if (program.globaldefs[i].ofs == offset) {
        return static_cast<int32_t>(i);
      }
    }
    return -1;
  }
  if (offset < 0 || offset >= kOffsetLimit || program_index.first_globaldef_at.empty()) {
    return -1;
  }
  return program_index.first_globaldef_at[offset];
}

int64_t next_defined_offset(int64_t offset) {
  offset = std::max<int64_t>(offset, 0);
  if (offset >= kOffsetLimit) {
    return kOffsetLimit;
  }
  if (lookup_mode.use_scans) {
    while (offset < kOffsetLimit && first_globaldef_index(offset) < 0) {
      ++offset;
    }
    return offset;
  }
  const std::vector<uint64_t>& bits = program_index.defined_offsets;
  if (bits.empty()) {
    return kOffsetLimit;
  }
  size_t word = static_cast<size_t>(offset / 64);
  uint64_t pending = bits[word] & (~uint64_t{0} << (offset % 64));
  while (pending == 0) {
    if (++word == bits.size()) {
      return kOffsetLimit;
    }
    pending = bits[word];
  }
  return static_cast<int64_t>(word * 64) + __builtin_ctzll(pending);
}

int32_t first_fielddef_index(const char* name) {
  if (lookup_mode.use_scans) {
    for (size_t i = 1; i < program.fielddefs.size(); ++i) {
      if (std::strcmp(string_at(program.fielddefs[i].s_name), name) == 0) {
        return static_cast<int32_t>(i);
      }
    }
    return -1;
  }
  auto found = program_index.first_fielddef_named.find(name);
  return found == program_index.first_fielddef_named.end() ? -1 : found->second;
}

int32_t first_function_index(const char* name) {
  const int32_t none = std::max(program.numfunctions, 0);
  if (lookup_mode.use_scans) {
    for (int32_t i = 1; i < program.numfunctions; ++i) {
      if (std::strcmp(string_at(program.functions[i].s_name), name) == 0) {
        return i;
      }
    }
    return none;
  }
  if (!program_index.functions_named) {
    program_index.first_function_named.clear();
    for (int32_t i = 1; i < program.numfunctions; ++i) {
      program_index.first_function_named.emplace(string_at(program.functions[i].s_name), i);
    }
    program_index.functions_named = true;
  }
  auto found = program_index.first_function_named.find(name);
  return found == program_index.first_function_named.end() ? none : found->second;
}

void forget_function_names() { program_index.functions_named = false; }

bool jump_between(int64_t from, int64_t to) {
  const int64_t size = static_cast<int64_t>(program.statements.size());
  from = std::clamp<int64_t>(from, 0, size);
  to = std::clamp<int64_t>(to, 0, size);
  if (lookup_mode.use_scans) {
    for (int64_t p = from; p < to; ++p) {
      if (is_jump(program.statements[p].op)) {
        return true;
      }
    }
    return false;
  }
  return from < to && program_index.jumps_before[to] - program_index.jumps_before[from] > 0;
}

bool stored_into(int64_t offset) {
  if (lookup_mode.use_scans) {
    for (int64_t p = 1; p < program.numstatements; ++p) {
      const Statement& statement = program.statements[p];
      if (counts_as_store(op_word(statement)) && statement.b == offset) {
        return true;
      }
    }
    return false;
  }
  if (offset < 0 || offset >= kOperandLimit) {
    return false;
  }
  return program_index.stores_into[offset] > 0;
}

void note_op_word_change(int64_t index, int64_t old_word, int64_t new_word) {
  if (index < 1 || index >= program.numstatements || program_index.stores_into.empty()) {
    return;
  }
  const int16_t b = program.statements[index].b;
  if (b >= 0) {
    program_index.stores_into[b] += counts_as_store(new_word) - counts_as_store(old_word);
  }
}

int64_t last_user_before(uint16_t offset, int64_t before) {
  if (lookup_mode.use_scans) {
    for (int64_t p = std::min<int64_t>(before, program.numstatements) - 1; p >= 1; --p) {
      const Statement& statement = program.statements[p];
      if (op_word(statement) < OPCODE_COUNT &&
          (statement.a == offset || statement.b == offset || statement.c == offset)) {
        return p;
      }
    }
    return -1;
  }
  if (offset >= kOperandLimit) {
    return -1;  // no signed 16-bit operand names it
  }
  const auto first = program_index.operand_users.begin() + program_index.operand_start[offset];
  const auto last = program_index.operand_users.begin() + program_index.operand_start[offset + 1];
  auto found = std::lower_bound(first, last, before);
  return found == first ? -1 : *(found - 1);
}

int64_t done_from(int64_t first) {
  if (lookup_mode.use_scans) {
    while (statement_at(first).op != OP_DONE) {
      ++first;
    }
    return first;
  }
  return from_table(program_index.next_done, first);
}

int64_t return_from(int64_t first) {
  if (lookup_mode.use_scans) {
    while (in_statement_array(first) && statement_at(first).op != OP_RETURN) {
      ++first;
    }
    return first;  // the end of the array, or a start outside it, as the tables give
  }
  return from_table(program_index.next_return, first);
}

int64_t named_return_from(int64_t first) {
  if (lookup_mode.use_scans) {
    for (; in_statement_array(first); ++first) {
      const Statement& statement = statement_at(first);
      if (statement.op == OP_RETURN && statement.a != 0 &&
          first_globaldef_index(statement.a) >= 0) {
        return first;
      }
    }
    return first;
  }
  return from_table(program_index.next_named_return, first);
}

}  // namespace image
