// The loaded progs.dat: string area, statements, function records, definitions, globals.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace image {

// One instruction as the file holds it.
struct Statement {
  uint32_t op;  // the op word, whole: 16 or 32 bits in the file
  int32_t a;    // the operands: 32-bit ones as they are, 16-bit ones as the Reading says
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

// type and ofs are unsigned 16-bit words in most layouts; 32-bit ones are kept as they are,
// like the operands, so that a value from 2^31 on reads as negative.
struct DefRecord {
  int32_t type;  // tag in bits 0..14, DEF_SAVEGLOBAL in bit 15
  int32_t ofs;
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
  // Sections only a version-7 file has, read under Reading::kDetected; empty otherwise.
  std::vector<int32_t> linenums;                // the source line of each loaded statement
  std::vector<std::string> bodyless_functions;  // functions the engine imports from other progs
};
// The process-wide image: filled by load_program_image and read-only after that, apart
// from the names rename_function gives. Engines read it as `const ProgramImage&`; what
// they change they keep in tables of their own.
extern ProgramImage program;
void reset_program_image();

// What a file's bytes say it is: how its records are laid out and, for Hexen II, how its
// code calls.
enum class Flavour {
  kVersion6,      // version 6: 16-bit records
  kHexen2,        // version 6 records whose CALL1..CALL8 carry their first two arguments in b, c
  kFte16,         // version 7, secondaryversion 0x021B1461: version-6 records
  kFte32,         // version 7, secondaryversion 0x65167402: 32-bit statements and definitions
  kUhexen2,       // version 7, secondaryversion "UH27": 32-bit records behind a 16-bit pad;
                  // Hexen II code
  kKk,            // version 7, any other secondaryversion: 32-bit statements, 16-bit definitions
  kOtherVersion,  // neither 6 nor 7: read as version 6
};

// How to read a file.
enum class Reading {
  // Version-6 records whatever the header says, 16-bit operands sign-extended, nothing
  // beyond the 60-byte header: the classic engine's reading.
  kClassic,
  // The flavour the bytes show. 16-bit operands are unsigned, apart from the jump distances
  // (a of GOTO; b of IF, IFNOT, IF_S, IFNOT_S, IF_F, IFNOT_F, the SWITCH family and CASE; c
  // of CASERANGE), which are sign-extended. A version-7 file has its 92-byte header read,
  // its line numbers and imported function names loaded; compressed sections and a type
  // table end the run.
  kDetected,
};

// Bytes 60..91 of a version-7 file; all zero for other files and under Reading::kClassic.
struct ExtendedHeader {
  int32_t ofsfiles;  // an embedded file list, not read: nothing here uses it
  int32_t ofslinenums;
  int32_t ofsbodylessfuncs;
  int32_t numbodylessfuncs;
  int32_t ofs_types;
  int32_t numtypes;
  int32_t blockscompressed;
  uint32_t secondaryversion;
};

struct LoadResult {
  int32_t version;
  int32_t crc;
  int32_t entityfields;
  int64_t file_size;
  Flavour flavour;  // how the records were read: always kVersion6 under Reading::kClassic
  ExtendedHeader extended;
  // Some CALL1..CALL8 has b != 0, so those calls carry their first two arguments in b and c
  // (always for kHexen2 and kUhexen2). Found under Reading::kDetected only.
  bool hexen2_calls;
};

// Reads the whole file; a missing, short or inconsistent file, or one that cannot be read
// as asked, ends the run through support::error_exit before anything is printed.
LoadResult load_program_image(const char* path, Reading reading);

// The flavour as the summary names it, e.g. "FTE version 7, 32-bit records".
std::string flavour_text(const LoadResult& loaded);

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
