// The loaded progs.dat: string area, statements, function records, definitions, globals.
#include "image/program_image.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "image/opcodes.h"
#include "image/program_index.h"
#include "support/error.h"
#include "support/input_file.h"
#include "support/scratch.h"

namespace image {

ProgramImage program;

namespace {

constexpr int64_t kHeaderSize = 60;
constexpr int64_t kExtendedHeaderSize = 92;  // version 7: eight more fields
constexpr int64_t kStatementPadding = 2;     // a CALL at the end looks two instructions ahead
// s_name values from here on refer to given_names, out of reach of any file offset.
constexpr int64_t kGivenNameBase = int64_t{1} << 32;

constexpr uint32_t kSecondaryFte16 = 0x021B1461;    // "1FTE" ^ "PROG", read little-endian
constexpr uint32_t kSecondaryFte32 = 0x65167402;    // "1FTE" ^ "32B "
constexpr uint32_t kSecondaryUhexen2 = 0x37324855;  // "UH27"

int32_t read_i32(const unsigned char* bytes) {
  uint32_t value = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                   static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
  return static_cast<int32_t>(value);
}

uint32_t read_u32(const unsigned char* bytes) { return static_cast<uint32_t>(read_i32(bytes)); }

uint16_t read_u16(const unsigned char* bytes) {
  return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

// Operands that hold a signed jump distance instead of a global.
struct JumpOperandRow {
  uint32_t op;
  int32_t Statement::*operand;
};
constexpr JumpOperandRow JumpOperands[] = {
    {49, &Statement::b},   // IF
    {50, &Statement::b},   // IFNOT
    {61, &Statement::a},   // GOTO
    {98, &Statement::b},   // SWITCH_F
    {99, &Statement::b},   // SWITCH_V
    {100, &Statement::b},  // SWITCH_S
    {101, &Statement::b},  // SWITCH_E
    {102, &Statement::b},  // SWITCH_FNC
    {103, &Statement::b},  // CASE
    {104, &Statement::c},  // CASERANGE
    {136, &Statement::b},  // IFNOT_S
    {137, &Statement::b},  // IF_S
    {215, &Statement::b},  // SWITCH_I
    {217, &Statement::b},  // IF_F
    {218, &Statement::b},  // IFNOT_F
};

int32_t Statement::*jump_operand(uint32_t op) {
  for (const JumpOperandRow& row : JumpOperands) {
    if (row.op == op) {
      return row.operand;
    }
  }
  return nullptr;
}

Statement decode_statement16_signed(const unsigned char* bytes) {
  return Statement{read_u16(bytes), static_cast<int16_t>(read_u16(bytes + 2)),
                   static_cast<int16_t>(read_u16(bytes + 4)),
                   static_cast<int16_t>(read_u16(bytes + 6))};
}

// A 16-bit file can address globals up to 65535, so only jump distances have a sign.
Statement decode_statement16(const unsigned char* bytes) {
  Statement statement{read_u16(bytes), read_u16(bytes + 2), read_u16(bytes + 4),
                      read_u16(bytes + 6)};
  if (int32_t Statement::*jump = jump_operand(statement.op)) {
    statement.*jump = static_cast<int16_t>(statement.*jump);
  }
  return statement;
}

Statement decode_statement32(const unsigned char* bytes) {
  return Statement{read_u32(bytes), read_i32(bytes + 4), read_i32(bytes + 8), read_i32(bytes + 12)};
}

// uHexen2: a 16-bit pad, then the op in the upper half of the first word.
Statement decode_statement_padded(const unsigned char* bytes) {
  return Statement{read_u16(bytes + 2), read_i32(bytes + 4), read_i32(bytes + 8),
                   read_i32(bytes + 12)};
}

DefRecord decode_def16(const unsigned char* bytes) {
  return DefRecord{read_u16(bytes), read_u16(bytes + 2), read_i32(bytes + 4)};
}

DefRecord decode_def32(const unsigned char* bytes) {
  return DefRecord{read_i32(bytes), read_i32(bytes + 4), read_i32(bytes + 8)};
}

DefRecord decode_def_padded(const unsigned char* bytes) {
  return DefRecord{read_u16(bytes + 2), read_i32(bytes + 4), read_i32(bytes + 8)};
}

// Each flavour's name and record layout, in the order of Flavour.
struct FlavourRow {
  Flavour flavour;
  const char* text;
  int64_t statement_size;
  int64_t def_size;
  Statement (*decode_statement)(const unsigned char*);
  DefRecord (*decode_def)(const unsigned char*);
};
constexpr FlavourRow FlavourTable[] = {
    {Flavour::kVersion6, "version 6", 8, 8, decode_statement16, decode_def16},
    {Flavour::kHexen2, "Hexen II version 6", 8, 8, decode_statement16, decode_def16},
    {Flavour::kFte16, "FTE version 7, 16-bit records", 8, 8, decode_statement16, decode_def16},
    {Flavour::kFte32, "FTE version 7, 32-bit records", 16, 12, decode_statement32, decode_def32},
    {Flavour::kUhexen2, "uHexen2 version 7, 32-bit records", 16, 12, decode_statement_padded,
     decode_def_padded},
    {Flavour::kKk, "KK version 7, 32-bit statements, 16-bit definitions", 16, 8, decode_statement32,
     decode_def16},
    {Flavour::kOtherVersion, "read as version 6", 8, 8, decode_statement16, decode_def16},
};
constexpr bool rows_in_flavour_order() {
  for (size_t i = 0; i < std::size(FlavourTable); ++i) {
    if (static_cast<size_t>(FlavourTable[i].flavour) != i) {
      return false;
    }
  }
  return true;
}
static_assert(rows_in_flavour_order() &&
              std::size(FlavourTable) == static_cast<size_t>(Flavour::kOtherVersion) + 1);

const FlavourRow& flavour_row(Flavour flavour) {
  return FlavourTable[static_cast<size_t>(flavour)];
}

// Bits of blockscompressed, by the section they mark.
constexpr const char* CompressedSectionNames[] = {
    "statements",        "global definitions",
    "field definitions", "functions",
    "strings",           "globals",
    "line numbers",      "types",
};

// The flavour the header names; Hexen II code in a version-6 file shows only in its calls.
Flavour flavour_from_header(int32_t version, uint32_t secondaryversion) {
  if (version == 6) {
    return Flavour::kVersion6;
  }
  if (version != 7) {
    return Flavour::kOtherVersion;
  }
  switch (secondaryversion) {
    case kSecondaryFte16:
      return Flavour::kFte16;
    case kSecondaryFte32:
      return Flavour::kFte32;
    case kSecondaryUhexen2:
      return Flavour::kUhexen2;
    default:
      return Flavour::kKk;  // as FTE reads any other secondary version
  }
}

ExtendedHeader decode_extended_header(const unsigned char* bytes) {
  return ExtendedHeader{read_i32(bytes),      read_i32(bytes + 4),  read_i32(bytes + 8),
                        read_i32(bytes + 12), read_i32(bytes + 16), read_i32(bytes + 20),
                        read_i32(bytes + 24), read_u32(bytes + 28)};
}

// What the run cannot read ends it here, before any section is read.
void refuse_unreadable_extensions(const ExtendedHeader& header) {
  if (header.blockscompressed != 0) {
    std::string sections;
    for (size_t bit = 0; bit < 32; ++bit) {
      if ((static_cast<uint32_t>(header.blockscompressed) >> bit & 1) != 0) {
        sections += sections.empty() ? "" : ", ";
        sections += bit < std::size(CompressedSectionNames)
                        ? std::string(CompressedSectionNames[bit])
                        : "bit " + std::to_string(bit);
      }
    }
    support::error_exit("Compressed sections are not read (blockscompressed 0x%X: %s)",
                        static_cast<uint32_t>(header.blockscompressed), sections.c_str());
  }
  // With a type table, a definition's type is an index into it instead of a tag.
  if (header.ofs_types != 0 || header.numtypes != 0) {
    support::error_exit("Type tables are not read (numtypes %d at offset %d)", header.numtypes,
                        header.ofs_types);
  }
}

// The header's sections by position, for the check that a guessed layout fits.
struct SectionSpan {
  int32_t position;
  int64_t length;
};

// The KK layout is FTE's guess for a secondary version it does not know: no other section
// may start inside the 16-byte statements. Statements past the end of the file are left to
// the reading, which reports them.
void check_statements_fit(const SectionSpan& statements, const SectionSpan (&others)[5],
                          int64_t file_size, uint32_t secondaryversion) {
  const int64_t end = statements.position + statements.length;
  if (statements.length <= 0 || statements.position < 0 || end > file_size) {
    return;
  }
  for (const SectionSpan& other : others) {
    if (other.length > 0 && other.position > statements.position && other.position < end) {
      support::error_exit(
          "Version 7 with secondary version 0x%08X: its statements are not 16-byte records",
          secondaryversion);
    }
  }
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

// `count` names one after another, each ending in a zero byte inside the file.
void read_bodyless_functions(int fd, int64_t file_size, int32_t position, int32_t count) {
  if (count < 0) {
    support::error_exit("File read failure");
  }
  if (count == 0) {
    return;
  }
  if (position < 0 || position >= file_size) {
    support::error_exit("File read failure");
  }
  support::seek_to(fd, position);
  int64_t remaining = file_size - position;
  program.bodyless_functions.reserve(records_that_fit(count, remaining, 1));
  std::vector<char> chunk(4096);
  std::string name;
  while (static_cast<int64_t>(program.bodyless_functions.size()) < count) {
    if (remaining == 0) {
      support::error_exit("File read failure");
    }
    const size_t length = static_cast<size_t>(std::min<int64_t>(remaining, 4096));
    support::read_exact(fd, chunk.data(), length);
    remaining -= static_cast<int64_t>(length);
    for (size_t i = 0; i < length; ++i) {
      if (chunk[i] != '\0') {
        name += chunk[i];
        continue;
      }
      program.bodyless_functions.push_back(name);
      name.clear();
      if (static_cast<int64_t>(program.bodyless_functions.size()) == count) {
        break;
      }
    }
  }
}

bool has_hexen2_calls(const std::vector<Statement>& statements, int32_t numstatements) {
  for (int32_t i = 0; i < numstatements; ++i) {
    const Statement& statement = statements[static_cast<size_t>(i)];
    if (statement.op >= OP_CALL1 && statement.op <= OP_CALL8 && statement.b != 0) {
      return true;
    }
  }
  return false;
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

LoadResult load_program_image(const char* path, Reading reading) {
  reset_program_image();
  int fd = support::open_for_reading(path);
  unsigned char header[kExtendedHeaderSize];
  support::read_exact(fd, header, kHeaderSize);
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

  LoadResult result{version, crc, field[14], 0, Flavour::kVersion6, ExtendedHeader{}, false};
  if (reading == Reading::kDetected && version == 7) {
    support::read_exact(fd, header + kHeaderSize, kExtendedHeaderSize - kHeaderSize);
    result.extended = decode_extended_header(header + kHeaderSize);
  }
  const int64_t size = support::file_size(fd);
  result.file_size = size;
  if (reading == Reading::kDetected) {
    result.flavour = flavour_from_header(version, result.extended.secondaryversion);
    refuse_unreadable_extensions(result.extended);
  }
  const FlavourRow& layout = flavour_row(result.flavour);
  Statement (*decode_statement)(const unsigned char*) =
      reading == Reading::kClassic ? decode_statement16_signed : layout.decode_statement;
  DefRecord (*decode_def)(const unsigned char*) = layout.decode_def;
  if (result.flavour == Flavour::kKk) {
    const SectionSpan others[] = {{ofs_globaldefs, int64_t{numglobaldefs} * layout.def_size},
                                  {ofs_fielddefs, int64_t{numfielddefs} * layout.def_size},
                                  {ofs_functions, int64_t{numfunctions} * 36},
                                  {ofs_strings, numstrings},
                                  {ofs_globals, int64_t{numglobals} * 4}};
    check_statements_fit({ofs_statements, int64_t{numstatements} * layout.statement_size}, others,
                         size, result.extended.secondaryversion);
  }

  program.strofs = numstrings;
  if (seek_section(fd, size, ofs_strings, numstrings, 1)) {
    program.strings.assign(static_cast<size_t>(numstrings) + 1, '\0');
    support::read_exact(fd, program.strings.data(), static_cast<size_t>(numstrings));
  }

  program.numstatements = numstatements;
  program.statements.clear();
  program.statements.reserve(records_that_fit(numstatements, size, layout.statement_size) +
                             kStatementPadding);
  read_records(fd, size, ofs_statements, numstatements, layout.statement_size,
               [decode_statement](const unsigned char* record) {
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
  program.globaldefs.reserve(records_that_fit(numglobaldefs, size, layout.def_size));
  read_records(fd, size, ofs_globaldefs, numglobaldefs, layout.def_size,
               [decode_def](const unsigned char* record) {
                 program.globaldefs.push_back(decode_def(record));
               });

  program.numfielddefs = numfielddefs;
  program.fielddefs.reserve(records_that_fit(numfielddefs, size, layout.def_size));
  read_records(fd, size, ofs_fielddefs, numfielddefs, layout.def_size,
               [decode_def](const unsigned char* record) {
                 program.fielddefs.push_back(decode_def(record));
               });

  // Cells past the loaded ones read as 0 through global_cell, whatever the offset.
  program.numpr_globals = numglobals;
  program.globals.reserve(records_that_fit(numglobals, size, 4));
  read_records(fd, size, ofs_globals, numglobals, 4,
               [](const unsigned char* record) { program.globals.push_back(read_u32(record)); });

  if (result.extended.ofslinenums != 0) {
    program.linenums.reserve(records_that_fit(numstatements, size, 4));
    read_records(fd, size, result.extended.ofslinenums, numstatements, 4,
                 [](const unsigned char* record) { program.linenums.push_back(read_i32(record)); });
  }
  read_bodyless_functions(fd, size, result.extended.ofsbodylessfuncs,
                          result.extended.numbodylessfuncs);

  support::close_input();
  if (reading == Reading::kDetected) {
    result.hexen2_calls =
        result.flavour == Flavour::kUhexen2 || has_hexen2_calls(program.statements, numstatements);
    if (result.flavour == Flavour::kVersion6 && result.hexen2_calls) {
      result.flavour = Flavour::kHexen2;
    }
  }
  build_program_index();
  return result;
}

std::string flavour_text(const LoadResult& loaded) {
  std::string text = flavour_row(loaded.flavour).text;
  if (loaded.flavour == Flavour::kKk) {
    text +=
        support::scratch_printf(" (secondary version 0x%08X)", loaded.extended.secondaryversion);
  } else if (loaded.flavour == Flavour::kOtherVersion) {
    text = support::scratch_printf("version %d, unknown: ", loaded.version) + text;
  }
  if (loaded.hexen2_calls && loaded.flavour != Flavour::kHexen2 &&
      loaded.flavour != Flavour::kUhexen2) {
    text += "; calls with arguments in b and c, as in Hexen II";
  }
  return text;
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
