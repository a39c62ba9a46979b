// The loader: records as the file holds them, damaged files, strings, statements and globals.
#include "image/program_image.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "driver/run.h"
#include "image/opcodes.h"
#include "image/program_index.h"
#include "support/error.h"
#include "tests/compilers.h"
#include "tests/fixture.h"
#include "tests/progs_builder.h"
#include "tests/run_harness.h"

namespace {

using image::program;
using tests::ProgsBuilder;

const std::string kReadFailure = "************ ERROR ***********\nFile read failure\n";

// Loads the bytes as the run would, after resetting every table; a load failure propagates.
image::LoadResult load_bytes(const std::vector<uint8_t>& bytes,
                             image::Reading reading = image::Reading::kClassic) {
  driver::reset_run();
  char path[] = "/tmp/progs2qc-image-XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0) {
    ADD_FAILURE() << "cannot make a temporary file";
    return image::LoadResult{};
  }
  ::close(fd);
  tests::write_file(path, std::string(bytes.begin(), bytes.end()));
  try {
    const image::LoadResult result = image::load_program_image(path, reading);
    ::unlink(path);
    return result;
  } catch (...) {
    ::unlink(path);
    throw;
  }
}

int32_t header_field(const std::vector<uint8_t>& bytes, int field) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) {
    value = value << 8 | bytes[4 * field + i];
  }
  return static_cast<int32_t>(value);
}

void set_header_field(std::vector<uint8_t>& bytes, int field, int64_t value) {
  for (int i = 0; i < 4; ++i) {
    bytes[4 * field + i] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i));
  }
}

TEST(LoadProgramImage, AllZeroHeaderLoadsWithEmptyAreas) {
  ProgsBuilder builder;
  builder.version = 0;
  builder.crc = 0;
  builder.strings.clear();
  for (int field : {tests::kOfsStatements, tests::kOfsGlobaldefs, tests::kOfsFielddefs,
                    tests::kOfsFunctions, tests::kOfsStrings, tests::kOfsGlobals}) {
    builder.header_override[field] = 0;
  }
  const std::vector<uint8_t> bytes = builder.bytes();
  ASSERT_EQ(std::vector<uint8_t>(60, 0), bytes);

  const image::LoadResult loaded = load_bytes(bytes);
  EXPECT_EQ(0, loaded.version);
  EXPECT_EQ(0, loaded.crc);
  EXPECT_EQ(60, loaded.file_size);
  EXPECT_EQ(0, program.strofs);
  EXPECT_EQ(0, program.numstatements);
  EXPECT_EQ(0, program.numfunctions);
  EXPECT_EQ(0, program.numglobaldefs);
  EXPECT_EQ(0, program.numfielddefs);
  EXPECT_EQ(0, program.numpr_globals);
  EXPECT_TRUE(program.functions.empty());
  EXPECT_TRUE(program.globaldefs.empty());
  EXPECT_TRUE(program.fielddefs.empty());
  EXPECT_STREQ("", image::string_at(0));
  EXPECT_EQ(image::OP_DONE, image::statement_at(0).op);
  EXPECT_EQ(0u, image::global_cell(0));
}

// A few records of every kind, with values at the edges of their fields.
ProgsBuilder every_kind_of_record() {
  ProgsBuilder b = tests::new_program();  // strings "\0", statement 0, records 0, 28 globals
  b.version = -3;
  b.crc = 0x7fffffff;
  b.add_statement(image::OP_STORE_F, -1, -32768, 32767);
  b.add_statement(150, 28, 29, 30);
  b.add_statement(image::OP_RETURN, 0, 0, 0);
  b.add_function(-5, 0, 0, "sound", "defs.qc");
  const int main_index = b.add_function(1, 28, 4, "main", "world.qc", {3, 1});
  b.functions[main_index].profile = 77;
  b.add_globaldef(image::DEF_SAVEGLOBAL | image::ev_float, 0xffff, "top");
  b.add_globaldef(image::ev_vector, 40000, "origin");
  b.add_fielddef(image::ev_float, 0x8001, "health");
  b.set_float(28, 1.5f);
  b.set_int(29, -7);
  b.set_int(30, INT32_MIN);
  return b;
}

TEST(LoadProgramImage, ReadsEveryRecordAsTheFileHoldsIt) {
  const ProgsBuilder builder = every_kind_of_record();
  const image::LoadResult loaded = load_bytes(builder.bytes());
  // strings: "\0" "sound\0" "defs.qc\0" "main\0" "world.qc\0" "top\0" "origin\0" "health\0"
  const int64_t strings = 1 + 6 + 8 + 5 + 9 + 4 + 7 + 7;
  EXPECT_EQ(-3, loaded.version);
  EXPECT_EQ(0x7fffffff, loaded.crc);
  EXPECT_EQ(60 + strings + 4 * 8 + 3 * 36 + 3 * 8 + 2 * 8 + 31 * 4, loaded.file_size);

  EXPECT_EQ(strings, program.strofs);
  EXPECT_EQ(4, program.numstatements);
  EXPECT_EQ(3, program.numfunctions);
  EXPECT_EQ(3, program.numglobaldefs);
  EXPECT_EQ(2, program.numfielddefs);
  EXPECT_EQ(31, program.numpr_globals);

  const image::Statement& store = image::statement_at(1);
  EXPECT_EQ(image::OP_STORE_F, store.op);
  EXPECT_EQ(-1, store.a);
  EXPECT_EQ(-32768, store.b);
  EXPECT_EQ(32767, store.c);
  EXPECT_EQ(28, image::statement_at(2).a);
  EXPECT_EQ(30, image::statement_at(2).c);
  EXPECT_EQ(image::OP_RETURN, image::statement_at(3).op);

  const image::FunctionRecord& builtin = program.functions[1];
  EXPECT_EQ(-5, builtin.first_statement);
  EXPECT_STREQ("sound", image::string_at(builtin.s_name));
  EXPECT_STREQ("defs.qc", image::string_at(builtin.s_file));
  EXPECT_EQ(0, builtin.numparms);
  const image::FunctionRecord& main_function = program.functions[2];
  EXPECT_EQ(1, main_function.first_statement);
  EXPECT_EQ(28, main_function.parm_start);
  EXPECT_EQ(4, main_function.locals);
  EXPECT_EQ(77, main_function.profile);
  EXPECT_STREQ("main", image::string_at(main_function.s_name));
  EXPECT_STREQ("world.qc", image::string_at(main_function.s_file));
  EXPECT_EQ(2, main_function.numparms);
  const uint8_t sizes[8] = {3, 1, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(sizes, main_function.parm_size, 8));

  // type and ofs are unsigned 16-bit words, bit 15 of the type included.
  EXPECT_EQ(0x8002, program.globaldefs[1].type);
  EXPECT_EQ(0xffff, program.globaldefs[1].ofs);
  EXPECT_STREQ("top", image::string_at(program.globaldefs[1].s_name));
  EXPECT_EQ(image::ev_vector, program.globaldefs[2].type);
  EXPECT_EQ(40000, program.globaldefs[2].ofs);
  EXPECT_EQ(0x8001, program.fielddefs[1].ofs);
  EXPECT_STREQ("health", image::string_at(program.fielddefs[1].s_name));

  EXPECT_EQ(1.5f, image::global_float(28));
  EXPECT_EQ(-7, image::global_int(29));
  EXPECT_EQ(INT32_MIN, image::global_int(30));
  EXPECT_EQ(0x80000000u, image::global_cell(30));
}

TEST(LoadProgramImage, SectionsAreReadAtTheirPositionsInAnyOrder) {
  std::vector<uint8_t> bytes = every_kind_of_record().bytes();
  const int64_t old_size = static_cast<int64_t>(bytes.size());
  const std::string moved("\0moved", 6);  // unterminated: ends at the end of the file
  bytes.insert(bytes.end(), moved.begin(), moved.end());
  set_header_field(bytes, tests::kOfsStrings, old_size);
  set_header_field(bytes, tests::kNumStrings, 6);
  // The globals may even overlap the header: cells 0 and 1 are then version and crc.
  set_header_field(bytes, tests::kOfsGlobals, 0);
  set_header_field(bytes, tests::kNumGlobals, 2);

  load_bytes(bytes);
  EXPECT_EQ(6, program.strofs);
  EXPECT_STREQ("moved", image::string_at(1));
  EXPECT_EQ(-3, image::global_int(0));
  EXPECT_EQ(0x7fffffff, image::global_int(1));
  EXPECT_EQ(0u, image::global_cell(2));
  EXPECT_EQ(-32768, image::statement_at(1).b);
}

struct Section {
  const char* name;
  int ofs_field;
  int num_field;
  int64_t element_size;
  int32_t image::ProgramImage::*count;
};
constexpr Section Sections[] = {
    {"strings", tests::kOfsStrings, tests::kNumStrings, 1, &image::ProgramImage::strofs},
    {"statements", tests::kOfsStatements, tests::kNumStatements, 8,
     &image::ProgramImage::numstatements},
    {"functions", tests::kOfsFunctions, tests::kNumFunctions, 36,
     &image::ProgramImage::numfunctions},
    {"global definitions", tests::kOfsGlobaldefs, tests::kNumGlobaldefs, 8,
     &image::ProgramImage::numglobaldefs},
    {"field definitions", tests::kOfsFielddefs, tests::kNumFielddefs, 8,
     &image::ProgramImage::numfielddefs},
    {"globals", tests::kOfsGlobals, tests::kNumGlobals, 4, &image::ProgramImage::numpr_globals},
};

TEST(LoadProgramImage, EmptySectionIsAcceptedWhateverItsPosition) {
  const std::vector<uint8_t> good = every_kind_of_record().bytes();
  const int64_t size = static_cast<int64_t>(good.size());
  for (const Section& section : Sections) {
    for (int64_t position :
         {int64_t{-1}, int64_t{INT32_MIN}, size, size + 1000, int64_t{INT32_MAX}}) {
      SCOPED_TRACE(std::string(section.name) + " at " + std::to_string(position));
      std::vector<uint8_t> bytes = good;
      set_header_field(bytes, section.num_field, 0);
      set_header_field(bytes, section.ofs_field, position);
      EXPECT_NO_THROW(load_bytes(bytes));
      EXPECT_EQ(0, program.*section.count);
    }
  }
}

TEST(LoadProgramImage, SectionEndingExactlyAtTheEndOfTheFileIsAccepted) {
  const std::vector<uint8_t> good = every_kind_of_record().bytes();
  const int64_t size = static_cast<int64_t>(good.size());
  for (const Section& section : Sections) {
    SCOPED_TRACE(section.name);
    std::vector<uint8_t> bytes = good;
    const int32_t count = header_field(bytes, section.num_field);
    set_header_field(bytes, section.ofs_field, size - count * section.element_size);
    EXPECT_NO_THROW(load_bytes(bytes));
    EXPECT_EQ(count, program.*section.count);
  }
}

// A whole run on a damaged progs.dat: the banner and the reason, status 1, no summary, no files.
void expect_read_failure(const std::vector<uint8_t>& bytes) {
  const tests::RunResult result = tests::run_in_temp_dir({"progs2qc"}, [&bytes] {
    tests::write_file("progs.dat", std::string(bytes.begin(), bytes.end()));
  });
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(kReadFailure, result.console);
  EXPECT_TRUE(result.files.empty());
}

TEST(LoadProgramImage, ShortHeaderIsAReadFailure) {
  const std::vector<uint8_t> good = every_kind_of_record().bytes();
  for (size_t length : {size_t{0}, size_t{1}, size_t{59}}) {
    SCOPED_TRACE(length);
    expect_read_failure(std::vector<uint8_t>(good.begin(), good.begin() + length));
  }
}

TEST(LoadProgramImage, FileCutShortIsAReadFailure) {
  std::vector<uint8_t> bytes = every_kind_of_record().bytes();
  bytes.pop_back();  // the last cell of the globals, the last section in the file
  expect_read_failure(bytes);
}

struct Damage {
  const char* name;
  bool on_count;  // else on the position
  int64_t (*value)(int64_t size, int64_t length);
};
const Damage Damages[] = {
    {"ends one byte past the end", false,
     [](int64_t size, int64_t length) { return size - length + 1; }},
    {"starts at the end", false, [](int64_t size, int64_t) { return size; }},
    {"starts far past the end", false, [](int64_t, int64_t) { return int64_t{INT32_MAX}; }},
    {"position -1", false, [](int64_t, int64_t) { return int64_t{-1}; }},
    {"most negative position", false, [](int64_t, int64_t) { return int64_t{INT32_MIN}; }},
    {"count -1", true, [](int64_t, int64_t) { return int64_t{-1}; }},
    {"most negative count", true, [](int64_t, int64_t) { return int64_t{INT32_MIN}; }},
    {"count far past the end", true, [](int64_t, int64_t) { return int64_t{INT32_MAX}; }},
    {"count one past the end", true,
     [](int64_t size, int64_t) { return size; }},  // at least one element more than the file
};

TEST(LoadProgramImage, DamagedSectionIsAReadFailure) {
  const std::vector<uint8_t> good = every_kind_of_record().bytes();
  const int64_t size = static_cast<int64_t>(good.size());
  for (const Section& section : Sections) {
    for (const Damage& damage : Damages) {
      SCOPED_TRACE(std::string(section.name) + ": " + damage.name);
      std::vector<uint8_t> bytes = good;
      const int64_t length = header_field(bytes, section.num_field) * section.element_size;
      set_header_field(bytes, damage.on_count ? section.num_field : section.ofs_field,
                       damage.value(size, length));
      expect_read_failure(bytes);
    }
  }
}

TEST(LoadProgramImage, UnreadablePathEndsTheRunBeforeTheSummary) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* want;
  };
  const Case cases[] = {
      {"missing default",
       {"progs2qc"},
       "************ ERROR ***********\nError opening progs.dat: No such file or directory\n"},
      {"missing path",
       {"progs2qc", "sub/none.dat"},
       "************ ERROR ***********\nError opening sub/none.dat: No such file or directory\n"},
      {"directory", {"progs2qc", "sub"}, "************ ERROR ***********\nFile read failure\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const tests::RunResult result =
        tests::run_in_temp_dir(c.args, [] { std::filesystem::create_directory("sub"); });
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(c.want, result.console);
    EXPECT_TRUE(result.files.empty());
  }
}

TEST(StringAt, ReadsUpToTheZeroByteAndGivesEmptyTextOutsideTheArea) {
  ProgsBuilder builder = tests::new_program();
  builder.strings.assign("\0main\0tail", 10);  // the last string has no zero byte
  tests::load_fixture(builder);
  ASSERT_EQ(10, program.strofs);
  struct Case {
    const char* name;
    int64_t offset;
    const char* want;
  };
  constexpr Case cases[] = {
      {"offset 0", 0, ""},
      {"first string", 1, "main"},
      {"inside a string", 3, "in"},
      {"at a zero byte", 5, ""},
      {"unterminated last string", 6, "tail"},
      {"last byte", 9, "l"},
      {"offset at strofs", 10, ""},
      {"just past strofs", 11, ""},
      {"far past the area", 1000000, ""},
      {"largest 32-bit offset", INT32_MAX, ""},
      {"negative", -1, ""},
      {"most negative 32-bit", INT32_MIN, ""},
      {"beyond 32 bits", int64_t{1} << 32, ""},
      {"far beyond 32 bits", int64_t{1} << 40, ""},
      {"far negative", -(int64_t{1} << 40), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_STREQ(c.want, image::string_at(c.offset));
  }
}

TEST(RenameFunction, GivesTheNewNameAndLeavesEveryStringOffsetAlone) {
  ProgsBuilder builder = tests::new_program();
  builder.add_function(-1, 0, 0, "first", "a.qc");
  builder.add_function(-2, 0, 0, "", "a.qc");
  tests::load_fixture(builder);
  const int64_t first_name = program.functions[1].s_name;
  const std::vector<char> strings_before = program.strings;
  std::map<int64_t, std::string> before;
  for (int64_t offset = -2; offset <= program.strofs + 2; ++offset) {
    before[offset] = image::string_at(offset);
  }

  image::rename_function(2, "function2");
  EXPECT_STREQ("function2", image::string_at(program.functions[2].s_name));
  EXPECT_EQ(first_name, program.functions[1].s_name);
  EXPECT_STREQ("first", image::string_at(first_name));
  EXPECT_EQ(strings_before, program.strings);
  for (const auto& [offset, text] : before) {
    SCOPED_TRACE(offset);
    EXPECT_EQ(text, image::string_at(offset));
  }

  // A given name stays readable while more names are given.
  const char* kept = image::string_at(program.functions[2].s_name);
  for (int i = 0; i < 1000; ++i) {
    image::rename_function(1, "other" + std::to_string(i));
  }
  EXPECT_STREQ("function2", kept);
  EXPECT_STREQ("other999", image::string_at(program.functions[1].s_name));
}

TEST(Statements, OpWordIsKeptWholeAndOperandsSignExtended) {
  constexpr uint16_t words[] = {0, 65, 99, 150, 261, 10049, 12345, 65535};
  ProgsBuilder builder = tests::new_program();
  for (uint16_t word : words) {
    builder.add_statement(word, 1, -2, 3);
  }
  tests::load_fixture(builder);
  for (size_t i = 0; i < std::size(words); ++i) {
    SCOPED_TRACE(words[i]);
    const image::Statement& statement = image::statement_at(static_cast<int64_t>(i) + 1);
    EXPECT_EQ(words[i], statement.op);
    EXPECT_EQ(1, statement.a);
    EXPECT_EQ(-2, statement.b);
    EXPECT_EQ(3, statement.c);
  }
}

TEST(Statements, EveryIndexPastTheLoadedOnesReadsAsDone) {
  ProgsBuilder builder = tests::new_program();
  builder.add_statement(image::OP_CALL0, 7, 8, 9);  // a CALL at the end looks two ahead
  tests::load_fixture(builder);
  ASSERT_EQ(2, program.numstatements);
  for (int64_t index :
       {int64_t{2}, int64_t{3}, int64_t{4}, int64_t{-1}, int64_t{INT32_MIN}, int64_t{INT64_MAX}}) {
    SCOPED_TRACE(index);
    const image::Statement& statement = image::statement_at(index);
    EXPECT_EQ(image::OP_DONE, statement.op);
    EXPECT_EQ(0, statement.a);
    EXPECT_EQ(0, statement.b);
    EXPECT_EQ(0, statement.c);
  }
  EXPECT_TRUE(image::in_statement_array(2));  // the padding: a CALL at the end looks ahead
  EXPECT_TRUE(image::in_statement_array(3));
}

TEST(Globals, CellsOutsideTheAreaReadAsZero) {
  ProgsBuilder builder = tests::new_program();
  builder.set_int(27, -1);
  tests::load_fixture(builder);
  EXPECT_EQ(-1, image::global_int(27));
  EXPECT_EQ(0xffffffffu, image::global_cell(27));
  const int64_t size = static_cast<int64_t>(program.globals.size());
  for (int64_t offset :
       {int64_t{28}, int64_t{65537}, size, int64_t{-1}, int64_t{INT32_MIN}, int64_t{1} << 40}) {
    SCOPED_TRACE(offset);
    EXPECT_EQ(0u, image::global_cell(offset));
    EXPECT_EQ(0, image::global_int(offset));
    EXPECT_EQ(0.0f, image::global_float(offset));
  }
}

TEST(Globals, AreaGrowsWithTheHeaderCount) {
  ProgsBuilder builder = tests::new_program();
  builder.set_int(69999, 12345);
  tests::load_fixture(builder);
  EXPECT_EQ(70000, program.numpr_globals);
  EXPECT_EQ(12345, image::global_int(69999));
  EXPECT_EQ(0, image::global_int(70000));
}

using image::Flavour;
using tests::Format;

struct FlavourCase {
  const char* name;
  Format format;
  std::optional<int32_t> version;
  std::optional<int32_t> secondaryversion;
  uint32_t call_op;  // a call whose b names a global, or 0 for none
  Flavour want;
  bool want_hexen2_calls;
  uint32_t want_secondaryversion;
  const char* want_text;
};
const FlavourCase FlavourCases[] = {
    {"60-byte header", Format::kVersion6, {}, {}, 0, Flavour::kVersion6, false, 0, "version 6"},
    {"version 6 in FTEQCC's 92-byte header",
     Format::kFteqccVersion6,
     {},
     {},
     0,
     Flavour::kVersion6,
     false,
     0,
     "version 6"},
    {"version 6 with a CALL2 that has b",
     Format::kVersion6,
     {},
     {},
     image::OP_CALL2,
     Flavour::kHexen2,
     true,
     0,
     "Hexen II version 6"},
    {"version 6 with a CALL8 that has b",
     Format::kFteqccVersion6,
     {},
     {},
     image::OP_CALL8,
     Flavour::kHexen2,
     true,
     0,
     "Hexen II version 6"},
    {"a CALL0 with b is no Hexen II call",
     Format::kVersion6,
     {},
     {},
     image::OP_CALL0,
     Flavour::kVersion6,
     false,
     0,
     "version 6"},
    {"a CALL1H is no Hexen II call",
     Format::kVersion6,
     {},
     {},
     105,
     Flavour::kVersion6,
     false,
     0,
     "version 6"},
    {"FTE 16-bit",
     Format::kFte16,
     {},
     {},
     105,
     Flavour::kFte16,
     false,
     0x021B1461,
     "FTE version 7, 16-bit records"},
    {"FTE 16-bit with a CALL1 that has b",
     Format::kFte16,
     {},
     {},
     image::OP_CALL1,
     Flavour::kFte16,
     true,
     0x021B1461,
     "FTE version 7, 16-bit records; calls with arguments in b and c, as in Hexen II"},
    {"FTE 32-bit",
     Format::kFte32,
     {},
     {},
     0,
     Flavour::kFte32,
     false,
     0x65167402,
     "FTE version 7, 32-bit records"},
    {"uHexen2 calls as Hexen II always",
     Format::kUhexen2,
     {},
     {},
     0,
     Flavour::kUhexen2,
     true,
     0x37324855,
     "uHexen2 version 7, 32-bit records"},
    {"KKQW",
     Format::kKk,
     {},
     {},
     0,
     Flavour::kKk,
     false,
     0x57514B4B,
     "KK version 7, 32-bit statements, 16-bit definitions (secondary version 0x57514B4B)"},
    {"secondary version 0 reads as KK",
     Format::kKk,
     {},
     0,
     0,
     Flavour::kKk,
     false,
     0,
     "KK version 7, 32-bit statements, 16-bit definitions (secondary version 0x00000000)"},
    {"version 6 ignores the bytes after its 60-byte header",
     Format::kFte16,
     6,
     {},
     0,
     Flavour::kVersion6,
     false,
     0,
     "version 6"},
    {"version 3",
     Format::kVersion6,
     3,
     {},
     0,
     Flavour::kOtherVersion,
     false,
     0,
     "version 3, unknown: read as version 6"},
    {"version -1 with a Hexen II call",
     Format::kVersion6,
     -1,
     {},
     image::OP_CALL2,
     Flavour::kOtherVersion,
     true,
     0,
     "version -1, unknown: read as version 6; calls with arguments in b and c, as in Hexen II"},
};

TEST(Flavours, DetectedFromTheHeaderAndTheCalls) {
  for (const FlavourCase& c : FlavourCases) {
    SCOPED_TRACE(c.name);
    ProgsBuilder builder = tests::new_program();
    builder.format = c.format;
    builder.version = c.version;
    builder.header_override[tests::kSecondaryVersion] = c.secondaryversion;
    if (c.call_op != 0) {
      builder.add_statement(c.call_op, 30, 31, 0);
    }
    builder.add_statement(image::OP_DONE);
    const std::vector<uint8_t> bytes = builder.bytes();

    const image::LoadResult detected = load_bytes(bytes, image::Reading::kDetected);
    EXPECT_EQ(c.want, detected.flavour);
    EXPECT_EQ(c.want_hexen2_calls, detected.hexen2_calls);
    EXPECT_EQ(c.want_secondaryversion, detected.extended.secondaryversion);
    EXPECT_EQ(c.want_text, image::flavour_text(detected));
    EXPECT_EQ(builder.version.value_or(
                  c.format == Format::kVersion6 || c.format == Format::kFteqccVersion6 ? 6 : 7),
              detected.version);

    const image::LoadResult classic = load_bytes(bytes, image::Reading::kClassic);
    EXPECT_EQ(Flavour::kVersion6, classic.flavour);
    EXPECT_FALSE(classic.hexen2_calls);
    EXPECT_EQ(0u, classic.extended.secondaryversion);
    EXPECT_EQ(detected.version, classic.version);
  }
}

// Which fields of a layout are 32 bits wide.
struct LayoutCase {
  const char* name;
  Format format;
  bool wide_op;
  bool wide_operands;
  bool wide_type;
  bool wide_ofs;
};
constexpr LayoutCase LayoutCases[] = {
    {"version 6", Format::kVersion6, false, false, false, false},
    {"FTEQCC's version 6", Format::kFteqccVersion6, false, false, false, false},
    {"FTE 16-bit", Format::kFte16, false, false, false, false},
    {"FTE 32-bit", Format::kFte32, true, true, true, true},
    {"uHexen2", Format::kUhexen2, false, true, false, true},
    {"KK", Format::kKk, true, true, false, false},
};

// A statement as written and as a 16-bit layout reads it back under Reading::kDetected.
struct OperandCase {
  const char* name;
  tests::RawStatement written;
  image::Statement narrow;
};
const OperandCase OperandCases[] = {
    {"globals above 32767 are unsigned",
     {image::OP_STORE_F, 40000, 65535, 0},
     {31, 40000, 65535, 0}},
    {"GOTO jumps back by a", {image::OP_GOTO, -3, 40000, 0}, {61, -3, 40000, 0}},
    {"IF jumps back by b", {image::OP_IF, 40000, -2, 0}, {49, 40000, -2, 0}},
    {"IFNOT's lowest distance", {image::OP_IFNOT, 28, -32768, 32768}, {50, 28, -32768, 32768}},
    {"SWITCH_F", {98, 50000, -9, 0}, {98, 50000, -9, 0}},
    {"SWITCH_S", {100, 28, 3, 0}, {100, 28, 3, 0}},
    {"CASE jumps by b", {103, 40000, -4, 0}, {103, 40000, -4, 0}},
    {"CASERANGE jumps by c", {104, 40000, 40001, -1}, {104, 40000, 40001, -1}},
    {"IFNOT_S", {136, 28, -7, 0}, {136, 28, -7, 0}},
    {"IF_S", {137, 28, -8, 0}, {137, 28, -8, 0}},
    {"SWITCH_I", {215, 60000, -5, 0}, {215, 60000, -5, 0}},
    {"IF_F", {217, 28, -10, 0}, {217, 28, -10, 0}},
    {"IFNOT_F", {218, 40000, -6, 0}, {218, 40000, -6, 0}},
    {"BOUNDCHECK's bounds are unsigned", {211, 28, 40000, 65535}, {211, 28, 40000, 65535}},
    {"CALL2H's arguments", {106, 29, 50000, 65535}, {106, 29, 50000, 65535}},
    {"values past 16 bits keep their low half",
     {image::OP_STORE_F, 100000, 70000, -5},
     {31, 34464, 4464, 65531}},
    {"the widest values", {281, INT32_MAX, INT32_MIN, -1}, {281, 65535, 0, 65535}},
    {"a jump past 16 bits", {image::OP_GOTO, -100000, 0, 0}, {61, 31072, 0, 0}},
    {"an op word past 16 bits", {0x12345, 1, 2, 3}, {0x2345, 1, 2, 3}},
};

struct DefCase {
  const char* name;
  tests::RawDef written;  // s_name is replaced by the name's offset
  bool field;
};
const DefCase DefCases[] = {
    {"saved float above 32767", {image::DEF_SAVEGLOBAL | image::ev_float, 40000, 0}, false},
    {"shared integer past 16 bits", {0x4000 | 8, 70000, 0}, false},
    {"type word past 16 bits", {0x18002, 0x12345, 0}, false},
    {"offset from 2^31", {image::ev_float, INT32_MIN, 0}, false},
    {"field at 65535", {image::ev_vector, 65535, 0}, true},
    {"widest field offset", {image::ev_float, -1, 0}, true},
};

ProgsBuilder every_operand_and_def(Format format) {
  ProgsBuilder b = tests::new_program();
  b.format = format;
  for (const OperandCase& c : OperandCases) {
    b.statements.push_back(c.written);
  }
  b.add_function(1, 28, 3, "main", "main.qc", {1});
  for (const DefCase& c : DefCases) {
    (c.field ? b.fielddefs : b.globaldefs).push_back(c.written);
    (c.field ? b.fielddefs : b.globaldefs).back().s_name = b.add_string(c.name);
  }
  b.set_int(30, -123);
  return b;
}

TEST(Flavours, EveryLayoutDecodesItsRecordsIntoTheSameImage) {
  for (const LayoutCase& layout : LayoutCases) {
    SCOPED_TRACE(layout.name);
    const ProgsBuilder builder = every_operand_and_def(layout.format);
    const image::LoadResult loaded = load_bytes(builder.bytes(), image::Reading::kDetected);
    ASSERT_EQ(static_cast<int32_t>(std::size(OperandCases)) + 1, program.numstatements);
    for (size_t i = 0; i < std::size(OperandCases); ++i) {
      const OperandCase& c = OperandCases[i];
      SCOPED_TRACE(c.name);
      const image::Statement& got = image::statement_at(static_cast<int64_t>(i) + 1);
      EXPECT_EQ(layout.wide_op ? c.written.op : c.written.op & 0xffff, got.op);
      EXPECT_EQ(layout.wide_operands ? c.written.a : c.narrow.a, got.a);
      EXPECT_EQ(layout.wide_operands ? c.written.b : c.narrow.b, got.b);
      EXPECT_EQ(layout.wide_operands ? c.written.c : c.narrow.c, got.c);
    }
    ASSERT_EQ(5, program.numglobaldefs);
    ASSERT_EQ(3, program.numfielddefs);
    size_t global = 1, field = 1;
    for (const DefCase& c : DefCases) {
      SCOPED_TRACE(c.name);
      const image::DefRecord& got =
          c.field ? program.fielddefs[field++] : program.globaldefs[global++];
      EXPECT_EQ(layout.wide_type ? c.written.type : c.written.type & 0xffff, got.type);
      EXPECT_EQ(layout.wide_ofs ? c.written.ofs : c.written.ofs & 0xffff, got.ofs);
      EXPECT_STREQ(c.name, image::string_at(got.s_name));
    }
    ASSERT_EQ(2, program.numfunctions);
    EXPECT_EQ(1, program.functions[1].first_statement);
    EXPECT_EQ(28, program.functions[1].parm_start);
    EXPECT_EQ(3, program.functions[1].locals);
    EXPECT_STREQ("main", image::string_at(program.functions[1].s_name));
    EXPECT_STREQ("main.qc", image::string_at(program.functions[1].s_file));
    EXPECT_EQ(31, program.numpr_globals);
    EXPECT_EQ(-123, image::global_int(30));
    EXPECT_EQ(static_cast<int64_t>(builder.bytes().size()), loaded.file_size);
  }
}

TEST(Flavours, LookupsByOffsetLeaveOutOffsetsPast16Bits) {
  load_bytes(every_operand_and_def(Format::kFte32).bytes(), image::Reading::kDetected);
  const bool saved = image::lookup_mode.use_scans;
  for (bool scans : {false, true}) {
    SCOPED_TRACE(scans ? "scans" : "indexes");
    image::lookup_mode.use_scans = scans;
    EXPECT_EQ(1, image::first_globaldef_index(40000));
    EXPECT_EQ(-1, image::first_globaldef_index(70000));
    EXPECT_EQ(-1, image::first_globaldef_index(0x12345));
    EXPECT_EQ(-1, image::first_globaldef_index(INT32_MIN));
    EXPECT_EQ(40000, image::next_defined_offset(1));
    EXPECT_EQ(image::kOffsetLimit, image::next_defined_offset(40001));
  }
  image::lookup_mode.use_scans = saved;
}

TEST(Flavours, ClassicReadingTakesVersion6RecordsWhateverTheHeaderSays) {
  load_bytes(every_operand_and_def(Format::kFte16).bytes(), image::Reading::kClassic);
  EXPECT_EQ(-25536, image::statement_at(1).a);  // 40000, sign-extended
  EXPECT_EQ(-1, image::statement_at(1).b);
  EXPECT_EQ(-32768, image::statement_at(4).b);
  EXPECT_EQ(-32768, image::statement_at(4).c);

  // Each 16-byte statement reads as two: the op word's halves and a's, then b's and c's.
  load_bytes(every_operand_and_def(Format::kFte32).bytes(), image::Reading::kClassic);
  const image::Statement& store = image::statement_at(2);
  EXPECT_EQ(image::OP_STORE_F, store.op);
  EXPECT_EQ(0, store.a);
  EXPECT_EQ(-25536, store.b);
  EXPECT_EQ(0, store.c);
  EXPECT_EQ(0xffffu, image::statement_at(3).op);
  EXPECT_EQ(0, image::statement_at(3).b);
}

TEST(Flavours, Version7SectionsAreReadAndTheirAbsenceTolerated) {
  ProgsBuilder builder = tests::new_program();
  builder.format = Format::kFte16;
  builder.add_statement(image::OP_RETURN);
  builder.add_statement(image::OP_DONE);
  builder.banner = std::string("\r\n\r\nCompiled by a test\0\r\n\r\n", 26);
  builder.trailer = std::string("PK\5\6", 4) + std::string(18, '\0');
  builder.linenums = {0, 12, -1};
  builder.bodyless_functions = {"imported", "", "other"};
  builder.header_override[tests::kOfsFiles] = 1234;  // not read
  const std::vector<uint8_t> bytes = builder.bytes();

  const image::LoadResult loaded = load_bytes(bytes, image::Reading::kDetected);
  EXPECT_EQ(Flavour::kFte16, loaded.flavour);
  EXPECT_EQ(1234, loaded.extended.ofsfiles);
  EXPECT_EQ(header_field(bytes, tests::kOfsLinenums), loaded.extended.ofslinenums);
  EXPECT_EQ(header_field(bytes, tests::kOfsBodylessFuncs), loaded.extended.ofsbodylessfuncs);
  EXPECT_EQ(3, loaded.extended.numbodylessfuncs);
  EXPECT_EQ(0, loaded.extended.ofs_types);
  EXPECT_EQ(0, loaded.extended.numtypes);
  EXPECT_EQ(0, loaded.extended.blockscompressed);
  EXPECT_EQ(std::vector<int32_t>({0, 12, -1}), program.linenums);
  EXPECT_EQ(std::vector<std::string>({"imported", "", "other"}), program.bodyless_functions);
  EXPECT_EQ(image::OP_RETURN, image::statement_at(1).op);

  load_bytes(bytes, image::Reading::kClassic);
  EXPECT_TRUE(program.linenums.empty());
  EXPECT_TRUE(program.bodyless_functions.empty());

  builder.linenums.clear();
  builder.bodyless_functions.clear();
  const image::LoadResult bare = load_bytes(builder.bytes(), image::Reading::kDetected);
  EXPECT_EQ(0, bare.extended.ofslinenums);
  EXPECT_EQ(0, bare.extended.numbodylessfuncs);
  EXPECT_TRUE(program.linenums.empty());
  EXPECT_TRUE(program.bodyless_functions.empty());
}

// What -c cannot read ends the run before the summary; the classic engine reads on.
struct RefusalCase {
  const char* name;
  Format format;
  tests::HeaderField field;
  int32_t value;
  const char* message;
};
const RefusalCase RefusalCases[] = {
    {"compressed statements", Format::kFte16, tests::kBlocksCompressed, 1,
     "Compressed sections are not read (blockscompressed 0x1: statements)"},
    {"compressed statements and globals", Format::kFte32, tests::kBlocksCompressed, 0x21,
     "Compressed sections are not read (blockscompressed 0x21: statements, globals)"},
    {"compressed types and an unknown section", Format::kFte16, tests::kBlocksCompressed, 0x180,
     "Compressed sections are not read (blockscompressed 0x180: types, bit 8)"},
    {"the highest bit", Format::kKk, tests::kBlocksCompressed, INT32_MIN,
     "Compressed sections are not read (blockscompressed 0x80000000: bit 31)"},
    {"a type table", Format::kFte16, tests::kNumTypes, 3,
     "Type tables are not read (numtypes 3 at offset 0)"},
    {"a type table's offset alone", Format::kUhexen2, tests::kOfsTypes, 92,
     "Type tables are not read (numtypes 0 at offset 92)"},
    {"16-bit statements under a secondary version FTE does not know", Format::kFte16,
     tests::kSecondaryVersion, 0,
     "Version 7 with secondary version 0x00000000: its statements are not 16-byte records"},
};

TEST(Flavours, UnreadableVersion7FilesEndTheCompilableRunWithTheirReason) {
  for (const RefusalCase& c : RefusalCases) {
    SCOPED_TRACE(c.name);
    ProgsBuilder builder = tests::new_program();
    builder.format = c.format;
    builder.add_statement(image::OP_DONE);
    builder.header_override[c.field] = c.value;
    const tests::RunResult refused =
        tests::run_in_temp_dir({"progs2qc", "-c"}, [&builder] { builder.write("progs.dat"); });
    EXPECT_EQ(1, refused.status);
    EXPECT_EQ(std::string("************ ERROR ***********\n") + c.message + "\n", refused.console);
    EXPECT_TRUE(refused.files.empty());

    const tests::RunResult classic =
        tests::run_in_temp_dir({"progs2qc"}, [&builder] { builder.write("progs.dat"); });
    EXPECT_EQ(0, classic.status) << classic.console;
    EXPECT_EQ(1u, classic.files.count("progs.src"));
  }
}

// The figures SOURCES.md gives for each corpus file, read from its header and sections.
struct CorpusFile {
  const char* name;
  int64_t size;
  int32_t version;
  int32_t crc;
  int32_t strofs;
  int32_t numstatements;
  int32_t numfunctions;
  int32_t numglobaldefs;
  int32_t numfielddefs;
  int32_t numpr_globals;
};
constexpr CorpusFile CorpusFiles[] = {
    {"danwdart__quake-nodogs__progs.dat", 413116, 6, 5927, 88336, 20940, 2091, 4287, 218, 11471},
    {"mattbearman__quake-ending-fix__progs.dat", 334350, 6, 5927, 45780, 20503, 2100, 3827, 217,
     4094},
    {"RobSis__quake-portal-gun__progs.dat", 408204, 6, 5927, 92592, 22619, 2151, 4589, 235, 4611},
    {"c0burn__Slipgate__progs.dat", 389558, 6, 5927, 50412, 25036, 2154, 4586, 491, 5143},
    {"SatGNU__satcoop2__progs.dat", 452126, 7, 5927, 63980, 27114, 2956, 5017, 391, 5337},
    {"fabiolimamp__copper__progs.dat", 1062598, 6, 5927, 149716, 75840, 4381, 11654, 388, 12976},
    {"FortressOne__fo-progs__ssqc_qwprogs.dat", 170302, 6, 54730, 26552, 11119, 793, 1989, 300,
     1943},
    {"Naievil__nZP-qc__progs.dat", 17106, 6, 5927, 4348, 296, 100, 409, 216, 396},
};

image::LoadResult load_path(const std::string& path,
                            image::Reading reading = image::Reading::kClassic) {
  driver::reset_run();
  return image::load_program_image(path.c_str(), reading);
}

// Operands that hold a jump distance, as the format describes them.
bool is_jump_operand(uint32_t op, int operand) {
  switch (op) {
    case image::OP_GOTO:
      return operand == 0;
    case 104:  // CASERANGE
      return operand == 2;
    case image::OP_IF:
    case image::OP_IFNOT:
    case 98:   // SWITCH_F
    case 99:   // SWITCH_V
    case 100:  // SWITCH_S
    case 101:  // SWITCH_E
    case 102:  // SWITCH_FNC
    case 103:  // CASE
    case 136:  // IFNOT_S
    case 137:  // IF_S
    case 215:  // SWITCH_I
    case 217:  // IF_F
    case 218:  // IFNOT_F
      return operand == 1;
    default:
      return false;
  }
}

// The loaded program makes sense: every opcode is one a file can hold (0 .. 281), every jump
// lands inside the statements, every other operand and every definition names a global or
// a field that exists.
void expect_records_inside_their_tables(const image::LoadResult& loaded) {
  int64_t bad_ops = 0, bad_jumps = 0, bad_operands = 0, bad_defs = 0, bad_fields = 0;
  for (int32_t i = 0; i < program.numstatements; ++i) {
    const image::Statement& statement = program.statements[static_cast<size_t>(i)];
    if (statement.op > 281) {
      ++bad_ops;
      continue;
    }
    const int32_t operands[] = {statement.a, statement.b, statement.c};
    for (int k = 0; k < 3; ++k) {
      if (is_jump_operand(statement.op, k)) {
        const int64_t target = int64_t{i} + operands[k];
        bad_jumps += target < 0 || target >= program.numstatements;
      } else if (statement.op != 211 || k == 0) {  // BOUNDCHECK's b and c are bounds
        bad_operands += operands[k] < 0 || operands[k] >= program.numpr_globals;
      }
    }
  }
  for (const image::DefRecord& def : program.globaldefs) {
    bad_defs += def.ofs < 0 || def.ofs >= program.numpr_globals;
  }
  for (const image::DefRecord& def : program.fielddefs) {
    bad_fields += def.ofs < 0 || def.ofs >= loaded.entityfields;
  }
  EXPECT_EQ(0, bad_ops);
  EXPECT_EQ(0, bad_jumps);
  EXPECT_EQ(0, bad_operands);
  EXPECT_EQ(0, bad_defs);
  EXPECT_EQ(0, bad_fields);
}

TEST(Corpus, FlavoursOfTheRealPrograms) {
  const std::filesystem::path directory = PROGS2QC_CORPUS_DIR;
  if (!std::filesystem::is_directory(directory)) {
    GTEST_SKIP() << "no corpus at " << directory;
  }
  for (const CorpusFile& want : CorpusFiles) {
    SCOPED_TRACE(want.name);
    const std::string path = (directory / want.name).string();
    const image::LoadResult loaded = load_path(path, image::Reading::kDetected);
    const bool sat = std::string(want.name) == "SatGNU__satcoop2__progs.dat";
    EXPECT_EQ(sat ? Flavour::kFte16 : Flavour::kVersion6, loaded.flavour);
    EXPECT_FALSE(loaded.hexen2_calls);
    EXPECT_EQ(want.numstatements, program.numstatements);
    EXPECT_EQ(want.numglobaldefs, program.numglobaldefs);
    EXPECT_EQ(want.numpr_globals, program.numpr_globals);
    if (sat) {
      expect_records_inside_their_tables(loaded);
      EXPECT_TRUE(program.linenums.empty());
      EXPECT_TRUE(program.bodyless_functions.empty());
      EXPECT_EQ(0, loaded.extended.blockscompressed);
    }
  }
}

// v101 built by the Debian fteqcc for three targets: each is read as the flavour it is.
TEST(FteqccBuilds, EachTargetIsDetectedAndDecodesInsideItsTables) {
  if (tests::compiler_path(tests::Compiler::fteqcc).empty()) {
    GTEST_SKIP() << "fteqcc is not installed";
  }
  if (tests::v101_source_dir().empty()) {
    GTEST_SKIP() << "../shared/qc/v101 is absent";
  }
  struct Case {
    const char* target;
    Flavour want;
    bool want_hexen2_calls;
  };
  constexpr Case cases[] = {
      {"-Thexen2", Flavour::kHexen2, true},
      {"-Tversion7", Flavour::kKk, false},  // secondaryversion 0, 16-byte statements
      {"-Tfte", Flavour::kFte16, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target);
    const tests::ScratchDirectory scratch = tests::make_scratch_directory();
    const std::string source = tests::copy_source(tests::v101_source_dir(), scratch.path, "v101");
    const tests::CompileResult built = tests::compile(tests::Compiler::fteqcc, source, {c.target});
    ASSERT_EQ(0, built.status) << built.console;
    const image::LoadResult loaded = load_path(built.progs_path, image::Reading::kDetected);
    EXPECT_EQ(c.want, loaded.flavour);
    EXPECT_EQ(c.want_hexen2_calls, loaded.hexen2_calls);
    EXPECT_GT(program.numstatements, 10000);
    EXPECT_GT(program.numfunctions, 500);
    expect_records_inside_their_tables(loaded);
  }
}

TEST(Corpus, EveryFileLoads) {
  const std::filesystem::path directory = PROGS2QC_CORPUS_DIR;
  if (!std::filesystem::is_directory(directory)) {
    GTEST_SKIP() << "no corpus at " << directory;
  }
  int loaded = 0;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    if (entry.path().extension() != ".dat") {
      continue;
    }
    SCOPED_TRACE(entry.path().filename().string());
    EXPECT_NO_THROW(load_path(entry.path().string()));
    EXPECT_GT(program.numfunctions, 0);
    ++loaded;
  }
  EXPECT_GE(loaded, static_cast<int>(std::size(CorpusFiles)));
}

TEST(Corpus, CountsMatchTheFiguresOfEachFile) {
  const std::filesystem::path directory = PROGS2QC_CORPUS_DIR;
  if (!std::filesystem::is_directory(directory)) {
    GTEST_SKIP() << "no corpus at " << directory;
  }
  for (const CorpusFile& want : CorpusFiles) {
    SCOPED_TRACE(want.name);
    const image::LoadResult loaded = load_path((directory / want.name).string());
    EXPECT_EQ(want.size, loaded.file_size);
    EXPECT_EQ(want.version, loaded.version);
    EXPECT_EQ(want.crc, loaded.crc);
    EXPECT_EQ(want.strofs, program.strofs);
    EXPECT_EQ(want.numstatements, program.numstatements);
    EXPECT_EQ(want.numfunctions, program.numfunctions);
    EXPECT_EQ(want.numglobaldefs, program.numglobaldefs);
    EXPECT_EQ(want.numfielddefs, program.numfielddefs);
    EXPECT_EQ(want.numpr_globals, program.numpr_globals);
  }
}

}  // namespace
