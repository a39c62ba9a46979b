// The loaded progs.dat: string area, statements, function records, definitions, globals.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace image {

// One instruction as the file holds it.
struct Statement {
  uint32_t op;  // the op word, whole: 16 bits in the file, room for a wider statement format
  int32_t a;    // the operands, sign-extended from their 16 bits
  int32_t b;
  int32_t c;
};

struct FunctionRecord {
  int32_t first_statement;  // 0 or less: builtin number -first_statement
  int32_t parm_start;
  int32_t locals;
  int32_t profile;
  int64_t s_name;  // may refer to a name given by rename_function
  int32_t s_file;
  int32_t numparms;
  uint8_t parm_size[8];
};

// Cells taken by the parameters: the first numparms sizes, at most the eight that exist.
int parameter_cells(const FunctionRecord& function);

struct DefRecord {
  uint16_t type;  // tag in bits 0..14, DEF_SAVEGLOBAL in bit 15
  uint16_t ofs;
  int32_t s_name;
};

struct ProgramImage {
  std::vector<char> strings;  // strofs loaded bytes, then zero bytes
  int32_t strofs;
  std::vector<Statement> statements;  // numstatements loaded, then zeroed DONE padding
  int32_t numstatements;
  std::vector<FunctionRecord> functions;
  int32_t numfunctions;
  std::vector<DefRecord> globaldefs;
  int32_t numglobaldefs;
  std::vector<DefRecord> fielddefs;
  int32_t numfielddefs;
  std::vector<uint32_t> globals;  // numpr_globals cells; global_cell reads 0 past them
  int32_t numpr_globals;
  std::deque<std::string> given_names;  // names from rename_function; a deque never moves them
};
// The process-wide image: filled by load_program_image and read-only after that, apart
// from the names rename_function gives. Engines read it as `const ProgramImage&`; what
// they change they keep in tables of their own.
extern ProgramImage program;
void reset_program_image();

struct LoadResult {
  int32_t version;
  int32_t crc;
  int64_t file_size;
};

// Reads the whole file; a missing, short or inconsistent file ends the run through
// support::error_exit before anything is printed.
LoadResult load_program_image(const char* path);

// The text at a string offset; an offset outside the string area reads as "".
// The text lives as long as the image.
const char* string_at(int64_t offset);
// Gives function `index` a name of its own (the run names unnamed functions this way); its
// s_name then refers to the text, while every offset into the string area reads as before.
void rename_function(int index, const std::string& text);

inline bool in_statement_array(int64_t index) {
  return index >= 0 && index < static_cast<int64_t>(program.statements.size());
}
// Instructions outside the statement array read as a zeroed DONE.
inline const Statement& statement_at(int64_t index) {
  static constexpr Statement done{};
  return in_statement_array(index) ? program.statements[index] : done;
}

// Global cells; offsets outside the area read as 0.
inline uint32_t global_cell(int64_t offset) {
  if (offset < 0 || offset >= static_cast<int64_t>(program.globals.size())) {
    return 0;
  }
  return program.globals[offset];
}
float global_float(int64_t offset);
int32_t global_int(int64_t offset);

}  // namespace image
