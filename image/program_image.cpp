// The loaded progs.dat: string area, statements, function records, definitions, globals.
#include "image/program_image.h"

#include <algorithm>
#include <cstring>

#include "image/program_index.h"
#include "support/error.h"
#include "support/input_file.h"

namespace image {

ProgramImage program;

namespace {

constexpr int64_t kHeaderSize = 60;
constexpr int64_t kStatementPadding = 2;  // a CALL at the end looks two instructions ahead
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

// Room to reserve for a section: its count, but never more than the file could hold, since
// the count is checked against the file only when the section is read.
size_t records_that_fit(int32_t count, int64_t file_size, int64_t element_size) {
  return static_cast<size_t>(std::clamp<int64_t>(count, 0, file_size / element_size));
}

// Checks that the file holds the whole section and moves to it; false for an empty one.
bool seek_section(int fd, int64_t file_size, int32_t position, int32_t count,
                  int64_t element_size) {
  if (count < 0) {
    support::error_exit("File read failure");
  }
  if (count == 0) {
    return false;
  }
  if (position < 0 || position + count * element_size > file_size) {
    support::error_exit("File read failure");
  }
  support::seek_to(fd, position);
  return true;
}

// Reads a section's records in pieces and hands each one to `decode`, so that no copy of
// the whole section is held (fresh memory is dear: every page is a fault).
template <typename Decode>
void read_records(int fd, int64_t file_size, int32_t position, int32_t count, int64_t element_size,
                  Decode decode) {
  if (!seek_section(fd, file_size, position, count, element_size)) {
    return;
  }
  constexpr int64_t kChunkRecords = 4096;
  std::vector<unsigned char> chunk(static_cast<size_t>(kChunkRecords * element_size));
  for (int64_t done = 0; done < count;) {
    const int64_t records = std::min<int64_t>(kChunkRecords, count - done);
    support::read_exact(fd, chunk.data(), static_cast<size_t>(records * element_size));
    for (int64_t i = 0; i < records; ++i) {
      decode(&chunk[static_cast<size_t>(i * element_size)]);
    }
    done += records;
  }
}

DefRecord decode_def(const unsigned char* bytes) {
  return DefRecord{read_u16(bytes), read_u16(bytes + 2), read_i32(bytes + 4)};
}

Statement decode_statement(const unsigned char* bytes) {
  return Statement{read_u16(bytes), static_cast<int16_t>(read_u16(bytes + 2)),
                   static_cast<int16_t>(read_u16(bytes + 4)),
                   static_cast<int16_t>(read_u16(bytes + 6))};
}

}  // namespace

int parameter_cells(const FunctionRecord& function) {
  int total = 0;
  for (int k = 0; k < function.numparms && k < 8; ++k) {
    total += function.parm_size[k];
  }
  return total;
}

void reset_program_image() {
  program = ProgramImage{};
  reset_program_index();
  program.strings.assign(1, '\0');
  program.statements.assign(kStatementPadding, Statement{});
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

  program.strofs = numstrings;
  if (seek_section(fd, size, ofs_strings, numstrings, 1)) {
    program.strings.assign(static_cast<size_t>(numstrings) + 1, '\0');
    support::read_exact(fd, program.strings.data(), static_cast<size_t>(numstrings));
  }

  program.numstatements = numstatements;
  program.statements.clear();
  program.statements.reserve(records_that_fit(numstatements, size, 8) + kStatementPadding);
  read_records(fd, size, ofs_statements, numstatements, 8, [](const unsigned char* record) {
    program.statements.push_back(decode_statement(record));
  });
  program.statements.resize(program.statements.size() + kStatementPadding, Statement{});

  program.numfunctions = numfunctions;
  program.functions.reserve(records_that_fit(numfunctions, size, 36));
  read_records(fd, size, ofs_functions, numfunctions, 36, [](const unsigned char* record) {
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
  });

  program.numglobaldefs = numglobaldefs;
  program.globaldefs.reserve(records_that_fit(numglobaldefs, size, 8));
  read_records(fd, size, ofs_globaldefs, numglobaldefs, 8, [](const unsigned char* record) {
    program.globaldefs.push_back(decode_def(record));
  });

  program.numfielddefs = numfielddefs;
  program.fielddefs.reserve(records_that_fit(numfielddefs, size, 8));
  read_records(fd, size, ofs_fielddefs, numfielddefs, 8, [](const unsigned char* record) {
    program.fielddefs.push_back(decode_def(record));
  });

  // Cells past the loaded ones read as 0 through global_cell, whatever the offset.
  program.numpr_globals = numglobals;
  program.globals.reserve(records_that_fit(numglobals, size, 4));
  read_records(fd, size, ofs_globals, numglobals, 4, [](const unsigned char* record) {
    program.globals.push_back(static_cast<uint32_t>(read_i32(record)));
  });

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

float global_float(int64_t offset) {
  uint32_t bits = global_cell(offset);
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

int32_t global_int(int64_t offset) { return static_cast<int32_t>(global_cell(offset)); }

}  // namespace image
