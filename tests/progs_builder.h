// Assembles progs.dat images in code, for tests, the example and the fuzzer's seeds.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tests {

struct RawStatement {
  uint16_t op;
  int16_t a;
  int16_t b;
  int16_t c;
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
  uint16_t type;
  uint16_t ofs;
  int32_t s_name;
};

// Header fields by their index in the 15-field header.
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
};

struct ProgsBuilder {
  int32_t version = 6;
  int32_t crc = 5927;
  std::string strings = std::string(1, '\0');
  std::vector<RawStatement> statements;
  std::vector<RawFunction> functions;
  std::vector<RawDef> globaldefs;
  std::vector<RawDef> fielddefs;
  std::vector<uint32_t> globals;
  // Values that replace the computed header fields, for damaged files.
  std::array<std::optional<int32_t>, 15> header_override;

  // Appends the text with its zero byte and returns its offset ("" is offset 0).
  int32_t add_string(const std::string& text);
  int add_statement(uint16_t op, int a = 0, int b = 0, int c = 0);
  // Adds a function record with its name and file added as strings; returns its index.
  int add_function(int32_t first_statement, int32_t parm_start, int32_t locals,
                   const std::string& name, const std::string& file = "test.qc",
                   std::vector<uint8_t> parm_sizes = {});
  int add_globaldef(uint16_t type, uint16_t ofs, const std::string& name);
  int add_fielddef(uint16_t type, uint16_t ofs, const std::string& name);
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
