// Lookups of definitions and functions by offset and name, indexed once per run so that a
// run costs in proportion to the program; each has a straight scan beside it that gives
// the same answers.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "image/program_image.h"

namespace image {

// Whether lookups scan the tables instead of using the indexes. Not reset between runs:
// the build sets the default, and tests switch it to compare the two. The engines' own
// lookups follow it too.
struct LookupMode {
  bool use_scans;
};
extern LookupMode lookup_mode;

struct ProgramIndex {
  std::vector<int32_t> first_globaldef_at;  // by offset 0..65535; -1 when none
  std::vector<uint64_t> defined_offsets;    // one bit per offset that has a definition
  std::unordered_map<std::string, int32_t> first_fielddef_named;  // from index 1
  std::unordered_map<std::string, int32_t> first_function_named;  // from index 1
  bool functions_named;  // first_function_named is up to date with the names
};
extern ProgramIndex program_index;
void reset_program_index();
// Builds every index from the freshly loaded image.
void build_program_index();

// Lookups by offset cover 0 .. 65535, every offset a 16-bit definition can hold; definitions
// at other offsets (from 32-bit records) are left out of them.
constexpr int64_t kOffsetLimit = 65536;

// The first global definition (from index 0) whose ofs equals the offset, or -1.
int32_t first_globaldef_index(int64_t offset);
// The same definition as loaded, or null. Points into the loaded table, which never grows.
const DefRecord* find_globaldef_by_offset(int64_t offset);
// The first offset at or after `offset` (from 0) that has a definition, or kOffsetLimit.
int64_t next_defined_offset(int64_t offset);
// The first field definition from index 1 with the name, or -1.
int32_t first_fielddef_index(const char* name);
// The same definition, or null. Points into the loaded table, which never grows.
const DefRecord* find_fielddef_by_name(const char* name);
// The first function record from 1 with the name, or numfunctions (0 at least).
int32_t first_function_index(const char* name);
// Called when a function is renamed, so that the next search by name sees the new name.
void forget_function_names();

}  // namespace image
