// Lookups of definitions and functions by offset and name, indexed once per run so that a
// run costs in proportion to the program; each has a straight scan beside it that gives
// the same answers.
#include "image/program_index.h"

#include <algorithm>
#include <cstring>

#ifndef PROGS2QC_USE_SCANS
#define PROGS2QC_USE_SCANS 0
#endif

namespace image {

LookupMode lookup_mode{PROGS2QC_USE_SCANS != 0};
ProgramIndex program_index;

namespace {

// The straight scans, kept to check the indexes against.

int32_t scan_first_globaldef_index(int64_t offset) {
  for (size_t i = 0; i < program.globaldefs.size(); ++i) {
    if (program.globaldefs[i].ofs == offset) {
      return static_cast<int32_t>(i);
    }
  }
  return -1;
}

int64_t scan_next_defined_offset(int64_t offset) {
  offset = std::clamp<int64_t>(offset, 0, kOffsetLimit);
  while (offset < kOffsetLimit && scan_first_globaldef_index(offset) < 0) {
    ++offset;
  }
  return offset;
}

int32_t scan_first_fielddef_index(const char* name) {
  for (size_t i = 1; i < program.fielddefs.size(); ++i) {
    if (std::strcmp(string_at(program.fielddefs[i].s_name), name) == 0) {
      return static_cast<int32_t>(i);
    }
  }
  return -1;
}

int32_t scan_first_function_index(const char* name) {
  for (int32_t i = 1; i < program.numfunctions; ++i) {
    if (std::strcmp(string_at(program.functions[i].s_name), name) == 0) {
      return i;
    }
  }
  return std::max(program.numfunctions, 0);
}

}  // namespace

void reset_program_index() { program_index = ProgramIndex{}; }

void build_program_index() {
  reset_program_index();
  ProgramIndex& index = program_index;
  index.first_globaldef_at.assign(kOffsetLimit, -1);
  for (int32_t i = static_cast<int32_t>(program.globaldefs.size()) - 1; i >= 0; --i) {
    if (program.globaldefs[i].ofs >= 0 && program.globaldefs[i].ofs < kOffsetLimit) {
      index.first_globaldef_at[program.globaldefs[i].ofs] = i;
    }
  }
  index.defined_offsets.assign(kOffsetLimit / 64, 0);
  for (const DefRecord& def : program.globaldefs) {
    if (def.ofs >= 0 && def.ofs < kOffsetLimit) {
      index.defined_offsets[def.ofs / 64] |= uint64_t{1} << (def.ofs % 64);
    }
  }
  for (int32_t i = 1; i < static_cast<int32_t>(program.fielddefs.size()); ++i) {
    index.first_fielddef_named.emplace(string_at(program.fielddefs[i].s_name), i);
  }
}

int32_t first_globaldef_index(int64_t offset) {
  if (offset < 0 || offset >= kOffsetLimit) {
    return -1;
  }
  if (lookup_mode.use_scans) {
    return scan_first_globaldef_index(offset);
  }
  if (program_index.first_globaldef_at.empty()) {
    return -1;
  }
  return program_index.first_globaldef_at[offset];
}

const DefRecord* find_globaldef_by_offset(int64_t offset) {
  const int32_t index = first_globaldef_index(offset);
  return index < 0 ? nullptr : &program.globaldefs[index];
}

int64_t next_defined_offset(int64_t offset) {
  if (lookup_mode.use_scans) {
    return scan_next_defined_offset(offset);
  }
  offset = std::max<int64_t>(offset, 0);
  const std::vector<uint64_t>& bits = program_index.defined_offsets;
  if (offset >= kOffsetLimit || bits.empty()) {
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
    return scan_first_fielddef_index(name);
  }
  auto found = program_index.first_fielddef_named.find(name);
  return found == program_index.first_fielddef_named.end() ? -1 : found->second;
}

const DefRecord* find_fielddef_by_name(const char* name) {
  const int32_t index = first_fielddef_index(name);
  return index < 0 ? nullptr : &program.fielddefs[index];
}

int32_t first_function_index(const char* name) {
  if (lookup_mode.use_scans) {
    return scan_first_function_index(name);
  }
  if (!program_index.functions_named) {
    program_index.first_function_named.clear();
    for (int32_t i = 1; i < program.numfunctions; ++i) {
      program_index.first_function_named.emplace(string_at(program.functions[i].s_name), i);
    }
    program_index.functions_named = true;
  }
  auto found = program_index.first_function_named.find(name);
  return found == program_index.first_function_named.end() ? std::max(program.numfunctions, 0)
                                                           : found->second;
}

void forget_function_names() { program_index.functions_named = false; }

}  // namespace image
