// The loaded progs.dat: string area, statements, function records, definitions, globals.
#include "image/program_image.h"

#include <cstring>

#include "image/program_index.h"
#include "support/error.h"
#include "support/input_file.h"

namespace image {

ProgramImage program;

namespace {

constexpr int64_t kHeaderSize = 60;
constexpr int64_t kStatementPadding = 2;  // a CALL at the end looks two instructions ahead
constexpr int64_t kGlobalsMinimum = 65536 + 2;
// s_name values from here on refer to given_names, out of reach of any file offset.
constexpr int64_t kGivenNameBase = int64_t{1} << 32;

int32_t read_i32(const unsigned char* bytes) {
  uint32_t value = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                   static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
  return static_cast<int32_t>(value);
}

uint16_t read_u16(const unsigned char* bytes) {
  return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

// Reads one section's bytes after checking that the file holds them all.
std::vector<unsigned char> read_section(int fd, int64_t file_size, int32_t position, int32_t count,
                                        int64_t element_size) {
  if (count < 0) {
    support::error_exit("File read failure");
  }
  std::vector<unsigned char> bytes;
  if (count == 0) {
    return bytes;
  }
  int64_t length = count * element_size;
  if (position < 0 || position + length > file_size) {
    support::error_exit("File read failure");
  }
  bytes.resize(static_cast<size_t>(length));
  support::seek_to(fd, position);
  support::read_exact(fd, bytes.data(), bytes.size());
  return bytes;
}

DefRecord decode_def(const unsigned char* bytes) {
  return DefRecord{read_u16(bytes), read_u16(bytes + 2), read_i32(bytes + 4)};
}

Statement decode_statement(const unsigned char* bytes) {
  uint16_t word = read_u16(bytes);
  return Statement{static_cast<uint8_t>(word % 100),
                   (word % 10000) / 100,
                   word / 10000,
                   static_cast<int16_t>(read_u16(bytes + 2)),
                   static_cast<int16_t>(read_u16(bytes + 4)),
                   static_cast<int16_t>(read_u16(bytes + 6))};
}

}  // namespace

void reset_program_image() {
  program = ProgramImage{};
  reset_program_index();
  program.strings.assign(1, '\0');
  program.statements.assign(kStatementPadding, Statement{});
  program.globals.assign(kGlobalsMinimum, 0);
}

LoadResult load_program_image(const char* path) {
  reset_program_image();
  int fd = support::open_for_reading(path);
  unsigned char header[kHeaderSize];
  support::read_exact(fd, header, sizeof header);
  int32_t field[15];
  for (int i = 0; i < 15; ++i) {
    field[i] = read_i32(header + 4 * i);
  }
  const int32_t version = field[0], crc = field[1];
  const int32_t ofs_statements = field[2], numstatements = field[3];
  const int32_t ofs_globaldefs = field[4], numglobaldefs = field[5];
  const int32_t ofs_fielddefs = field[6], numfielddefs = field[7];
  const int32_t ofs_functions = field[8], numfunctions = field[9];
  const int32_t ofs_strings = field[10], numstrings = field[11];
  const int32_t ofs_globals = field[12], numglobals = field[13];
  const int64_t size = support::file_size(fd);

  std::vector<unsigned char> bytes = read_section(fd, size, ofs_strings, numstrings, 1);
  program.strofs = numstrings;
  program.strings.assign(bytes.begin(), bytes.end());
  program.strings.push_back('\0');

  bytes = read_section(fd, size, ofs_statements, numstatements, 8);
  program.numstatements = numstatements;
  program.statements.clear();
  program.statements.reserve(static_cast<size_t>(numstatements) + kStatementPadding);
  for (int64_t i = 0; i < numstatements; ++i) {
    program.statements.push_back(decode_statement(&bytes[i * 8]));
  }
  program.statements.resize(program.statements.size() + kStatementPadding, Statement{});

  bytes = read_section(fd, size, ofs_functions, numfunctions, 36);
  program.numfunctions = numfunctions;
  program.functions.reserve(static_cast<size_t>(numfunctions));
  for (int64_t i = 0; i < numfunctions; ++i) {
    const unsigned char* record = &bytes[i * 36];
    FunctionRecord function{};
    function.first_statement = read_i32(record);
    function.parm_start = read_i32(record + 4);
    function.locals = read_i32(record + 8);
    function.profile = read_i32(record + 12);
    function.s_name = read_i32(record + 16);
    function.s_file = read_i32(record + 20);
    function.numparms = read_i32(record + 24);
    std::memcpy(function.parm_size, record + 28, 8);
    program.functions.push_back(function);
  }

  bytes = read_section(fd, size, ofs_globaldefs, numglobaldefs, 8);
  program.numglobaldefs = numglobaldefs;
  program.globaldefs.reserve(static_cast<size_t>(numglobaldefs));
  for (int64_t i = 0; i < numglobaldefs; ++i) {
    program.globaldefs.push_back(decode_def(&bytes[i * 8]));
  }

  bytes = read_section(fd, size, ofs_fielddefs, numfielddefs, 8);
  program.numfielddefs = numfielddefs;
  program.fielddefs.reserve(static_cast<size_t>(numfielddefs));
  for (int64_t i = 0; i < numfielddefs; ++i) {
    program.fielddefs.push_back(decode_def(&bytes[i * 8]));
  }

  bytes = read_section(fd, size, ofs_globals, numglobals, 4);
  program.numpr_globals = numglobals;
  if (numglobals > kGlobalsMinimum) {
    program.globals.assign(static_cast<size_t>(numglobals), 0);
  }
  for (int64_t i = 0; i < numglobals; ++i) {
    program.globals[i] = static_cast<uint32_t>(read_i32(&bytes[i * 4]));
  }

  support::close_input();
  build_program_index();
  return LoadResult{version, crc, size};
}

const char* string_at(int64_t offset) {
  if (offset >= kGivenNameBase) {
    uint64_t index = static_cast<uint64_t>(offset - kGivenNameBase);
    return index < program.given_names.size() ? program.given_names[index].c_str() : "";
  }
  if (offset < 0 || offset >= static_cast<int64_t>(program.strings.size())) {
    return "";
  }
  return &program.strings[offset];
}

void rename_function(int index, const std::string& text) {
  program.given_names.push_back(text);
  program.functions[index].s_name =
      kGivenNameBase + static_cast<int64_t>(program.given_names.size()) - 1;
  forget_function_names();
}

void add_block_marks(int64_t index, int close_count, int do_count) {
  if (!in_statement_array(index)) {
    return;
  }
  Statement& statement = program.statements[index];
  const int64_t old_word = op_word(statement);
  statement.close_count += close_count;
  statement.do_count += do_count;
  note_op_word_change(index, old_word, op_word(statement));
}

void strip_block_marks(int64_t index) {
  if (!in_statement_array(index)) {
    return;
  }
  Statement& statement = program.statements[index];
  const int64_t old_word = op_word(statement);
  statement.close_count = 0;
  statement.do_count = 0;
  note_op_word_change(index, old_word, op_word(statement));
}

float global_float(int64_t offset) {
  uint32_t bits = global_cell(offset);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

int32_t global_int(int64_t offset) { return static_cast<int32_t>(global_cell(offset)); }

}  // namespace image
