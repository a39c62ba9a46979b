// Assembles progs.dat images in code, for tests, the example and the fuzzer's seeds.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tests {

// Operands and definition fields are written as wide as the format's records: cut to their
// low 16 bits in 16-bit records.
struct RawStatement {
  uint32_t op;
  int32_t a;
  int32_t b;
  int32_t c;
};

struct RawFunction {
  int32_t first_statement;
  int32_t parm_start;
  int32_t locals;
  int32_t profile;
  int32_t s_name;
  int32_t s_file;
  int32_t numparms;
  std::array<uint8_t, 8> parm_size;
};

struct RawDef {
  int32_t type;
  int32_t ofs;
  int32_t s_name;
};

// Header fields by their index: the classic 15, then the eight a 92-byte header adds.
enum HeaderField {
  kVersion,
  kCrc,
  kOfsStatements,
  kNumStatements,
  kOfsGlobaldefs,
  kNumGlobaldefs,
  kOfsFielddefs,
  kNumFielddefs,
  kOfsFunctions,
  kNumFunctions,
  kOfsStrings,
  kNumStrings,
  kOfsGlobals,
  kNumGlobals,
  kEntityfields,
  kOfsFiles,
  kOfsLinenums,
  kOfsBodylessFuncs,
  kNumBodylessFuncs,
  kOfsTypes,
  kNumTypes,
  kBlocksCompressed,
  kSecondaryVersion,
  kHeaderFieldCount,
};

// The header and record layout bytes() writes.
enum class Format {
  kVersion6,        // 60-byte header, 16-bit records
  kFteqccVersion6,  // version 6 in the 92-byte header FTEQCC writes: secondaryversion 0
  kFte16,           // version 7, secondaryversion 0x021B1461: 16-bit records
  kFte32,           // version 7, secondaryversion 0x65167402: 32-bit records
  kUhexen2,         // version 7, secondaryversion "UH27": 32-bit records after a 16-bit pad
  kKk,              // version 7, secondaryversion "KKQW": 32-bit statements, 16-bit definitions
};

struct ProgsBuilder {
  Format format = Format::kVersion6;
  std::optional<int32_t> version;  // unset: 6, or 7 for the version-7 formats
  int32_t crc = 5927;
  std::string strings = std::string(1, '\0');
  std::vector<RawStatement> statements;
  std::vector<RawFunction> functions;
  std::vector<RawDef> globaldefs;
  std::vector<RawDef> fielddefs;
  std::vector<uint32_t> globals;
  std::string banner;   // bytes between the header and the first section, as FTEQCC's text
  std::string trailer;  // bytes after the last section, as a zip trailer
  // Written after the globals when the header has room to point at them (92 bytes).
  std::vector<int32_t> linenums;
  std::vector<std::string> bodyless_functions;
  // Values that replace the computed header fields, for damaged files; the eight fields
  // past kEntityfields only where the header has them.
  std::array<std::optional<int32_t>, kHeaderFieldCount> header_override;

  // Appends the text with its zero byte and returns its offset ("" is offset 0).
  int32_t add_string(const std::string& text);
  int add_statement(uint32_t op, int a = 0, int b = 0, int c = 0);
  // Adds a function record with its name and file added as strings; returns its index.
  int add_function(int32_t first_statement, int32_t parm_start, int32_t locals,
                   const std::string& name, const std::string& file = "test.qc",
                   std::vector<uint8_t> parm_sizes = {});
  int add_globaldef(int32_t type, int32_t ofs, const std::string& name);
  int add_fielddef(int32_t type, int32_t ofs, const std::string& name);
  // A global of function type whose cell holds the function record's index.
  int add_function_global(int ofs, const std::string& name, int function_index);
  // Anonymous constants ("IMMEDIATE") with their values in their cells.
  int add_immediate_float(int ofs, float value);
  int add_immediate_string(int ofs, const std::string& text);
  void set_float(int ofs, float value);
  void set_vector(int ofs, float x, float y, float z);
  void set_int(int ofs, int32_t value);

  // The file: header, strings, statements, functions, global and field definitions, globals.
  std::vector<uint8_t> bytes() const;
  void write(const std::string& path) const;
};

// A program with the null records every compiler writes first: the empty string,
// statement 0, function 0, global definition 0 and field definition 0, and the 28
// reserved global cells (return value and parameters).
ProgsBuilder new_program();

}  // namespace tests
