// The indexed lookups against the straight scans they replace: the same answers, and
// whole runs that write the same bytes.
#include "image/program_index.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>

#include "image/opcodes.h"
#include "image/program_image.h"
#include "tests/example_programs.h"
#include "tests/fixture.h"
#include "tests/large_programs.h"
#include "tests/run_harness.h"

namespace {

using image::lookup_mode;

// Restores the build's lookup mode when a test ends, however it ends.
struct LookupModeGuard {
  bool saved = lookup_mode.use_scans;
  ~LookupModeGuard() { lookup_mode.use_scans = saved; }
};

tests::RunResult run_with(bool scans, const std::vector<std::string>& args,
                          const std::function<void()>& setup) {
  LookupModeGuard guard;
  lookup_mode.use_scans = scans;
  return tests::run_in_temp_dir(args, setup);
}

void expect_same_runs(const std::vector<std::string>& args, const std::function<void()>& setup) {
  const tests::RunResult indexed = run_with(false, args, setup);
  const tests::RunResult scanned = run_with(true, args, setup);
  EXPECT_EQ(scanned.status, indexed.status);
  EXPECT_EQ(scanned.console, indexed.console);
  EXPECT_TRUE(scanned.files == indexed.files) << "the files written differ";
}

void expect_same_runs(const tests::ProgsBuilder& program) {
  expect_same_runs({"progs2qc"}, [&program] { program.write("progs.dat"); });
}

TEST(ProgramIndex, WholeRunsMatchTheScansOnBuiltAndGeneratedPrograms) {
  {
    SCOPED_TRACE("example");
    expect_same_runs(tests::example_program());
  }
  for (int eighths : {1, 2}) {
    SCOPED_TRACE(eighths);
    const tests::ProgsBuilder program = tests::large_program(eighths);
    const tests::RunResult indexed =
        run_with(false, {"progs2qc"}, [&program] { program.write("progs.dat"); });
    EXPECT_EQ(0, indexed.status);
    expect_same_runs(program);
  }
}

// Small programs of random instructions over a few offsets, so that definitions, stores,
// jumps, calls and returns collide in every way; most runs end early, all must agree.
TEST(ProgramIndex, WholeRunsMatchTheScansOnRandomPrograms) {
  std::mt19937 random(20261210);
  auto pick = [&random](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  for (int round = 0; round < 150; ++round) {
    SCOPED_TRACE(round);
    tests::ProgsBuilder b = tests::new_program();
    const int cells = 48;
    for (int i = 0; i < 24; ++i) {
      const char* names[] = {"IMMEDIATE", "x", "y", "f", "g", "h", "th_pain", "fld"};
      b.add_globaldef(static_cast<uint16_t>(pick(0, 8) | (pick(0, 3) == 0 ? 0x8000 : 0)),
                      static_cast<uint16_t>(pick(0, cells)), names[pick(0, 7)]);
    }
    b.add_fielddef(image::ev_float, 0, "fld");
    b.add_fielddef(image::ev_vector, 1, "x");
    for (int i = 0; i <= cells + 2; ++i) {
      b.set_int(i, pick(0, 3) == 0 ? pick(0, 6) : pick(-5, 40));
    }
    const int statements = pick(4, 60);
    for (int i = 0; i < statements; ++i) {
      const int op = pick(0, 9) == 0 ? pick(0, 250) : pick(0, 65);
      b.add_statement(static_cast<uint16_t>(op), pick(-3, cells), pick(-6, cells), pick(0, cells));
    }
    const char* function_names[] = {"f", "g", "h", "", "main"};
    const int functions = pick(1, 7);
    for (int i = 0; i < functions; ++i) {
      std::vector<uint8_t> sizes(static_cast<size_t>(pick(0, 3)), static_cast<uint8_t>(pick(1, 3)));
      const int first = pick(0, 3) == 0 ? -pick(0, 90) : pick(1, statements);
      b.add_function(first, pick(0, cells), pick(0, 8), function_names[pick(0, 4)],
                     pick(0, 1) ? "a.qc" : "b.qc", sizes);
    }
    expect_same_runs(b);
    if (HasFailure()) {
      break;
    }
  }
}

TEST(ProgramIndex, WholeRunsMatchTheScansOnTheCorpus) {
  const std::filesystem::path corpus = PROGS2QC_CORPUS_DIR;
  if (!std::filesystem::is_directory(corpus)) {
    GTEST_SKIP() << "no corpus at " << corpus;
  }
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    if (entry.path().extension() != ".dat") {
      continue;
    }
    SCOPED_TRACE(entry.path().filename().string());
    expect_same_runs({"progs2qc", entry.path().string()}, nullptr);
  }
}

TEST(ProgramIndex, DefinitionAndNameLookupsMatchTheScans) {
  tests::ProgsBuilder b = tests::new_program();
  b.add_globaldef(image::ev_float, 30, "a");
  b.add_globaldef(image::ev_vector, 30, "b");
  b.add_globaldef(image::ev_float, 65535, "top");
  b.add_fielddef(image::ev_float, 0, "a");
  b.add_fielddef(image::ev_vector, 0, "a");
  b.add_function(-1, 40, 0, "f");
  b.add_function(-2, 40, 0, "f");
  b.add_function(-3, 40, 0, "");
  tests::load_fixture(b);
  image::rename_function(3, "function3");
  LookupModeGuard guard;
  std::vector<int64_t> offsets;
  for (int64_t offset = -2; offset <= 65537; offset += offset < 64 || offset > 65500 ? 1 : 997) {
    offsets.push_back(offset);
  }
  for (int64_t offset : offsets) {
    lookup_mode.use_scans = true;
    const int32_t def = image::first_globaldef_index(offset);
    const int64_t next = image::next_defined_offset(offset);
    lookup_mode.use_scans = false;
    ASSERT_EQ(def, image::first_globaldef_index(offset)) << offset;
    ASSERT_EQ(next, image::next_defined_offset(offset)) << offset;
  }
  for (const char* name : {"a", "b", "f", "function3", "", "top"}) {
    lookup_mode.use_scans = true;
    const int32_t field = image::first_fielddef_index(name);
    const int32_t function = image::first_function_index(name);
    lookup_mode.use_scans = false;
    EXPECT_EQ(field, image::first_fielddef_index(name)) << name;
    EXPECT_EQ(function, image::first_function_index(name)) << name;
  }
  EXPECT_EQ(1, image::first_fielddef_index("a"));
  EXPECT_EQ(1, image::first_function_index("f"));
  EXPECT_EQ(3, image::first_function_index("function3"));
}

// Global definitions sharing an offset and at the highest one, and field definitions
// whose index 0 has a name that must never be found.
tests::ProgsBuilder definitions_program() {
  tests::ProgsBuilder program = tests::new_program();
  program.fielddefs[0].s_name = program.add_string("hidden");
  program.add_fielddef(image::ev_float, 0, "power");
  program.add_fielddef(image::ev_vector, 1, "velocity");
  program.add_fielddef(image::ev_function, 4, "think");
  program.add_fielddef(image::ev_string, 6, "power");  // a later namesake is never reached
  program.add_globaldef(image::ev_float, 60, "first");
  program.add_globaldef(image::ev_float, 60, "second");
  program.add_globaldef(image::ev_float, 65535, "top");
  return program;
}

TEST(FindGlobaldefByOffset, FirstDefinitionInTableOrderWins) {
  struct Case {
    const char* name;
    int64_t offset;
    const char* want;  // null: none
  };
  constexpr Case cases[] = {
      {"two definitions share the offset", 60, "first"},
      {"record 0 takes part", 0, ""},
      {"highest unsigned offset", 65535, "top"},
      {"negative offset is no unsigned ofs", -1, nullptr},
      {"offset nobody has", 100, nullptr},
  };
  tests::load_fixture(definitions_program());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const image::DefRecord* def = image::find_globaldef_by_offset(c.offset);
    if (c.want == nullptr) {
      EXPECT_EQ(nullptr, def);
    } else {
      ASSERT_NE(nullptr, def);
      EXPECT_STREQ(c.want, image::string_at(def->s_name));
    }
  }
  EXPECT_EQ(&image::program.globaldefs[0], image::find_globaldef_by_offset(0));
}

TEST(FindFielddefByName, SearchesFromIndexOne) {
  tests::load_fixture(definitions_program());
  EXPECT_EQ(&image::program.fielddefs[1], image::find_fielddef_by_name("power"));
  EXPECT_EQ(&image::program.fielddefs[3], image::find_fielddef_by_name("think"));
  EXPECT_EQ(nullptr, image::find_fielddef_by_name("hidden"));
  EXPECT_EQ(nullptr, image::find_fielddef_by_name("pow"));
}

TEST(FindFielddefByName, FewerThanTwoFieldDefinitionsFindNothing) {
  tests::ProgsBuilder one = tests::new_program();
  one.fielddefs[0].s_name = one.add_string("solo");
  tests::load_fixture(one);
  EXPECT_EQ(nullptr, image::find_fielddef_by_name("solo"));

  tests::ProgsBuilder none = tests::new_program();
  none.fielddefs.clear();
  tests::load_fixture(none);
  EXPECT_EQ(nullptr, image::find_fielddef_by_name(""));
}

}  // namespace
