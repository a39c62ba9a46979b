// Facts about the whole program that every later step looks up: definitions by offset, which
// cells any instruction writes, where each function's code ends, and whose local area a cell is.
#include "compilable/program_facts.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "compilable/instructions.h"

namespace compilable {

const char* def_name(const image::DefRecord& def) { return image::string_at(def.s_name); }

bool has_real_name(const image::DefRecord& def) {
  const char* name = def_name(def);
  return name[0] != '\0' && std::strcmp(name, "IMMEDIATE") != 0;
}

bool has_immediate_def(const image::ProgramImage& program, const ProgramFacts& facts,
                       int64_t offset) {
  if (offset <= 0 || offset + 1 >= static_cast<int64_t>(facts.defs_start.size())) {
    return false;
  }
  for (int32_t i = facts.defs_start[offset]; i < facts.defs_start[offset + 1]; ++i) {
    if (!has_real_name(program.globaldefs[facts.defs_at[i]])) {
      return true;
    }
  }
  return false;
}

int covered_size(const ProgramFacts& facts, const image::DefRecord& def) {
  if (static_cast<size_t>(def.ofs) < facts.implied_vector.size() && facts.implied_vector[def.ofs]) {
    return 3;
  }
  return value_cells(value_tag(facts, def_tag(def)));
}

int parameter_count(const image::FunctionRecord& function) {
  return std::clamp(function.numparms, 0, kParameterCount);
}

int32_t any_def_at(const ProgramFacts& facts, int64_t offset) {
  if (offset < 0 || offset + 1 >= static_cast<int64_t>(facts.defs_start.size())) {
    return -1;
  }
  const int32_t first = facts.defs_start[offset];
  return first < facts.defs_start[offset + 1] ? facts.defs_at[first] : -1;
}

int32_t named_def_at(const image::ProgramImage& program, const ProgramFacts& facts,
                     int64_t offset) {
  if (offset < 0 || offset + 1 >= static_cast<int64_t>(facts.defs_start.size())) {
    return -1;
  }
  for (int32_t i = facts.defs_start[offset]; i < facts.defs_start[offset + 1]; ++i) {
    if (has_real_name(program.globaldefs[facts.defs_at[i]])) {
      return facts.defs_at[i];
    }
  }
  return -1;
}

namespace {

// Offsets a damaged 32-bit file may give its definitions are bounded: a global definition
// further past the loaded cells, or a field one further than this, names nothing the
// program can use, and is left out of the indexes.
constexpr int64_t kOffsetSlack = 65536;

bool indexed_offset(int64_t offset, int64_t limit) { return offset >= 0 && offset < limit; }

void index_definitions(const image::ProgramImage& program, ProgramFacts& facts) {
  // Definitions may name offsets past the loaded cells; the index covers those too.
  int64_t limit = facts.cell_count;
  const int64_t bound = int64_t{facts.cell_count} + kOffsetSlack;
  for (const image::DefRecord& def : program.globaldefs) {
    if (indexed_offset(def.ofs, bound)) {
      limit = std::max<int64_t>(limit, int64_t{def.ofs} + 1);
    }
  }
  facts.defs_start.assign(static_cast<size_t>(limit) + 1, 0);
  for (const image::DefRecord& def : program.globaldefs) {
    if (indexed_offset(def.ofs, limit)) {
      ++facts.defs_start[def.ofs + 1];
    }
  }
  for (int64_t o = 0; o < limit; ++o) {
    facts.defs_start[o + 1] += facts.defs_start[o];
  }
  facts.defs_at.assign(static_cast<size_t>(facts.defs_start[limit]), 0);
  std::vector<int32_t> fill(facts.defs_start.begin(), facts.defs_start.end() - 1);
  for (size_t i = 0; i < program.globaldefs.size(); ++i) {
    if (indexed_offset(program.globaldefs[i].ofs, limit)) {
      facts.defs_at[fill[program.globaldefs[i].ofs]++] = static_cast<int32_t>(i);
    }
  }
}

void find_written_cells(const image::ProgramImage& program, ProgramFacts& facts) {
  facts.written.assign(static_cast<size_t>(facts.cell_count), 0);
  for (int64_t p = 0; p < program.numstatements; ++p) {
    const CellRange write = static_access(program.statements[p], facts.hexen2_calls).write;
    for (int k = 0; k < write.size; ++k) {
      const int64_t cell = int64_t{write.offset} + k;
      if (cell >= 0 && cell < facts.cell_count) {
        facts.written[cell] = 1;
      }
    }
  }
}

void find_code_ends(const image::ProgramImage& program, ProgramFacts& facts) {
  const int32_t count = static_cast<int32_t>(program.functions.size());
  std::vector<int32_t> starts;
  for (const image::FunctionRecord& function : program.functions) {
    if (has_body(function)) {
      starts.push_back(function.first_statement);
    }
  }
  std::sort(starts.begin(), starts.end());
  facts.code_end.assign(count, 0);
  for (int32_t i = 0; i < count; ++i) {
    const image::FunctionRecord& function = program.functions[i];
    if (!has_body(function)) {
      continue;
    }
    // A later record may start past the statements: the code still ends with them.
    auto next = std::upper_bound(starts.begin(), starts.end(), function.first_statement);
    facts.code_end[i] =
        next == starts.end() ? program.numstatements : std::min(*next, program.numstatements);
    const int32_t last = facts.code_end[i] - 1;
    if (last >= function.first_statement && program.statements[last].op != image::OP_DONE) {
      facts.done_may_return = true;
    }
  }
}

// Each cell is given to the first function whose area covers it. Cells already given are
// skipped through `next_free` (path-halving), so crafted overlapping areas cost no more than
// the cells themselves.
void find_area_owners(const image::ProgramImage& program, ProgramFacts& facts) {
  const int64_t count = facts.cell_count;
  facts.area_owner.assign(static_cast<size_t>(count), -1);
  std::vector<int64_t> next_free(static_cast<size_t>(count) + 1);
  for (int64_t cell = 0; cell <= count; ++cell) {
    next_free[cell] = cell;
  }
  auto find_free = [&next_free](int64_t cell) {
    while (next_free[cell] != cell) {
      next_free[cell] = next_free[next_free[cell]];
      cell = next_free[cell];
    }
    return cell;
  };
  for (int32_t i = 1; i < static_cast<int32_t>(program.functions.size()); ++i) {
    const image::FunctionRecord& function = program.functions[i];
    if (!has_body(function)) {
      continue;
    }
    const int64_t size = std::max<int64_t>(function.locals, image::parameter_cells(function));
    const int64_t first = std::clamp<int64_t>(function.parm_start, 0, count);
    const int64_t last = std::clamp<int64_t>(int64_t{function.parm_start} + size, 0, count);
    for (int64_t cell = find_free(first); cell < last; cell = find_free(cell)) {
      facts.area_owner[cell] = i;
      next_free[cell] = cell + 1;
    }
  }
}

void index_fields(const image::ProgramImage& program, ProgramFacts& facts) {
  facts.field_limit = 0;
  for (const image::DefRecord& def : program.fielddefs) {
    if (indexed_offset(def.ofs, kOffsetSlack)) {
      facts.field_limit = std::max(facts.field_limit, def.ofs + cells_of(def_tag(def)));
    }
  }
  facts.field_at.assign(static_cast<size_t>(facts.field_limit), -1);
  for (size_t i = 1; i < program.fielddefs.size(); ++i) {
    const image::DefRecord& def = program.fielddefs[i];
    if (indexed_offset(def.ofs, kOffsetSlack) && facts.field_at[def.ofs] < 0) {
      facts.field_at[def.ofs] = static_cast<int32_t>(i);
    }
  }
  // Several fields may share an offset (fteqcc lets one field alias another): a field
  // global names the one of its own name.
  std::unordered_map<std::string, int32_t> by_name;  // offset and name -> first field
  for (size_t i = 1; i < program.fielddefs.size(); ++i) {
    const image::DefRecord& def = program.fielddefs[i];
    if (!indexed_offset(def.ofs, kOffsetSlack)) {
      continue;
    }
    by_name.emplace(std::to_string(def.ofs) + ":" + def_name(def), static_cast<int32_t>(i));
  }
  facts.field_of_global.assign(program.globaldefs.size(), -1);
  for (size_t d = 0; d < program.globaldefs.size(); ++d) {
    const image::DefRecord& def = program.globaldefs[d];
    if (def_tag(def) != image::ev_field || def.ofs >= facts.cell_count) {
      continue;
    }
    const int32_t offset = image::global_int(def.ofs);
    if (offset < 0 || offset >= facts.field_limit) {
      continue;
    }
    const auto found = by_name.find(std::to_string(offset) + ":" + def_name(def));
    facts.field_of_global[d] = found != by_name.end() ? found->second : facts.field_at[offset];
  }
}

void find_named_covers(const image::ProgramImage& program, ProgramFacts& facts) {
  facts.named_cover.assign(static_cast<size_t>(facts.cell_count), -1);
  // A vector's name covers its three cells, whatever names its components have.
  for (int64_t cell = 0; cell < facts.cell_count; ++cell) {
    const int32_t own = named_def_at(program, facts, cell);
    if (own < 0 || def_tag(program.globaldefs[own]) != image::ev_vector) {
      continue;
    }
    for (int64_t k = 0; k < 3 && cell + k < facts.cell_count; ++k) {
      if (facts.named_cover[cell + k] < 0) {
        facts.named_cover[cell + k] = own;
      }
    }
  }
  for (int64_t cell = 0; cell < facts.cell_count; ++cell) {
    if (facts.named_cover[cell] < 0) {
      facts.named_cover[cell] = named_def_at(program, facts, cell);
    }
  }
  // Components "v_x", "v_y", "v_z" in three cells with no vector over them.
  facts.implied_vector.assign(static_cast<size_t>(facts.cell_count), 0);
  auto named_like = [&](int64_t cell, const std::string& base, char axis) {
    const int32_t def = facts.named_cover[cell];
    if (def < 0 || program.globaldefs[def].ofs != cell ||
        def_tag(program.globaldefs[def]) != image::ev_float) {
      return false;
    }
    return def_name(program.globaldefs[def]) == base + "_" + axis;
  };
  for (int64_t cell = 0; cell + 2 < facts.cell_count; ++cell) {
    const int32_t def = facts.named_cover[cell];
    if (def < 0 || program.globaldefs[def].ofs != cell) {
      continue;
    }
    const std::string name = def_name(program.globaldefs[def]);
    if (name.size() < 3 || name.compare(name.size() - 2, 2, "_x") != 0) {
      continue;
    }
    const std::string base = name.substr(0, name.size() - 2);
    if (named_like(cell, base, 'x') && named_like(cell + 1, base, 'y') &&
        named_like(cell + 2, base, 'z')) {
      facts.implied_vector[cell] = 1;
      facts.named_cover[cell + 1] = def;
      facts.named_cover[cell + 2] = def;
    }
  }
}

// The element count of the array starting at `base`: its definitions "name[0]", "name[1]"
// ... one element apart; else Hexen II's bound (the largest index, in the cell before the
// array); else one.
int32_t array_length_at(const image::ProgramImage& program, const ProgramFacts& facts, int64_t base,
                        int width, bool bounded) {
  const int32_t first = named_def_at(program, facts, base);
  const std::string name = first >= 0 ? def_name(program.globaldefs[first]) : "";
  int32_t count = 0;
  if (name.size() > 3 && name.compare(name.size() - 3, 3, "[0]") == 0) {
    const std::string stem = name.substr(0, name.size() - 3);
    count = 1;
    for (int64_t cell = base + width; cell < facts.cell_count; cell += width) {
      bool found = false;
      const std::string wanted = stem + "[" + std::to_string(count) + "]";
      for (int32_t i = facts.defs_start[cell]; i < facts.defs_start[cell + 1] && !found; ++i) {
        found = wanted == def_name(program.globaldefs[facts.defs_at[i]]);
      }
      if (!found) {
        break;
      }
      ++count;
    }
    return count;
  }
  if (bounded && base > 0) {
    const int64_t largest = image::global_int(base - 1);
    if (largest >= 0 && base + (largest + 1) * width <= facts.cell_count) {
      return static_cast<int32_t>(largest + 1);
    }
  }
  return 1;
}

void find_arrays(const image::ProgramImage& program, ProgramFacts& facts) {
  facts.array_length.assign(static_cast<size_t>(facts.cell_count), 0);
  facts.array_width.assign(static_cast<size_t>(facts.cell_count), 0);
  facts.array_of.assign(static_cast<size_t>(facts.cell_count), -1);
  for (int64_t p = 0; p < program.numstatements; ++p) {
    const image::Statement& statement = program.statements[p];
    const InstructionRow& row = instruction_row(statement.op);
    const bool indexed = row.action == Action::kGlobalAddress || row.action == Action::kLoadArray ||
                         row.action == Action::kFetchGlobal;
    const int64_t base = statement.a;
    const bool itself = row.action == Action::kGlobalAddress && statement.b == 0;  // &global
    if (!indexed || itself || base <= 0 || base >= facts.cell_count ||
        facts.array_length[base] > 0) {
      continue;
    }
    int width = row.action == Action::kGlobalAddress ? 1 : value_cells(row.tag[2]);
    const int32_t def = named_def_at(program, facts, base);
    if (row.action == Action::kGlobalAddress && def >= 0) {
      width = cells_of(def_tag(program.globaldefs[def]));
    }
    const int32_t length =
        array_length_at(program, facts, base, width, row.action == Action::kFetchGlobal);
    facts.array_length[base] = length;
    facts.array_width[base] = static_cast<int8_t>(width);
    for (int64_t cell = base; cell < base + int64_t{length} * width && cell < facts.cell_count;
         ++cell) {
      facts.array_of[cell] = static_cast<int32_t>(base);
    }
  }
}

}  // namespace

ProgramFacts gather_program_facts(const image::ProgramImage& program) {
  ProgramFacts facts{};
  facts.cell_count = static_cast<int32_t>(program.globals.size());
  // Hexen II's compilers put the first two arguments of every call in b and c; a classic
  // call leaves them 0.
  for (int64_t p = 0; p < program.numstatements; ++p) {
    const image::Statement& statement = program.statements[p];
    facts.hexen2_calls =
        facts.hexen2_calls ||
        (statement.op > image::OP_CALL0 && statement.op <= image::OP_CALL8 && statement.b != 0);
    facts.extended_instructions =
        facts.extended_instructions || statement.op >= image::OPCODE_COUNT;
    facts.current_tags = facts.current_tags || (statement.op >= 225 && statement.op < 282);
  }
  index_definitions(program, facts);
  find_written_cells(program, facts);
  find_code_ends(program, facts);
  find_area_owners(program, facts);
  index_fields(program, facts);
  find_named_covers(program, facts);
  find_arrays(program, facts);
  return facts;
}

}  // namespace compilable
