// The loader: records as the file holds them, damaged files, strings, statements and globals.
#include "image/program_image.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "driver/run.h"
#include "image/opcodes.h"
#include "support/error.h"
#include "tests/fixture.h"
#include "tests/progs_builder.h"
#include "tests/run_harness.h"

namespace {

using image::program;
using tests::ProgsBuilder;

const std::string kReadFailure = "************ ERROR ***********\nFile read failure\n";

// Loads the bytes as the run would, after resetting every table; a load failure propagates.
image::LoadResult load_bytes(const std::vector<uint8_t>& bytes) {
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
    const image::LoadResult result = image::load_program_image(path);
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

image::LoadResult load_path(const std::string& path) {
  driver::reset_run();
  return image::load_program_image(path.c_str());
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
