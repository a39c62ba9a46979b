// Whole runs: the summary, naming of unnamed functions and the input-file failures.
#include "driver/run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "image/program_image.h"
#include "tests/example_programs.h"
#include "tests/fixture.h"
#include "tests/progs_builder.h"
#include "tests/run_harness.h"

namespace {

using tests::ProgsBuilder;

TEST(RunDecompiler, ExampleProgramRunsToTheEnd) {
  tests::RunResult result = tests::run_program(tests::example_program());
  EXPECT_EQ(0, result.status) << result.console;
  EXPECT_EQ(1u, result.files.count("progs.src"));
}

// The first twelve console lines of a run must be exactly these.
void expect_summary(const std::vector<std::string>& want, const tests::RunResult& result) {
  const std::vector<std::string> lines = tests::split_lines(result.console);
  ASSERT_GE(lines.size(), want.size()) << result.console;
  for (size_t i = 0; i < want.size(); ++i) {
    SCOPED_TRACE("line " + std::to_string(i + 1));
    EXPECT_EQ(want[i], lines[i]);
  }
}

TEST(Summary, ZeroCountFileShowsZeroCountsAndWritesOnlyTheProjectHeader) {
  const tests::RunResult result = tests::run_in_temp_dir(
      {"progs2qc"}, [] { tests::write_file("progs.dat", std::string(60, '\0')); });
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(
      "Decompiling...\n"
      "Read Data from progs.dat:\n"
      "Total Size is     60\n"
      "Version Code is 0\n"
      "CRC is 0\n"
      "     0 strofs\n"
      "     0 numstatements\n"
      "     0 numfunctions\n"
      "     0 numglobaldefs\n"
      "     0 numfielddefs\n"
      "     0 numpr_globals\n"
      "----------------------\n",
      result.console);
  ASSERT_EQ(1u, result.files.size());
  EXPECT_EQ("./progs.dat\n\n", result.files.at("progs.src"));
}

// new_program() and one builtin: strings "\0" "makevectors\0" "defs.qc\0" (21 bytes),
// 1 statement, 2 functions, 1 global and 1 field definition, 28 globals:
// 60 + 21 + 8 + 72 + 8 + 8 + 112 = 289 bytes.
ProgsBuilder one_builtin() {
  ProgsBuilder builder = tests::new_program();
  builder.version = 7;
  builder.crc = -5;
  builder.add_function(-1, 0, 0, "makevectors", "defs.qc");
  return builder;
}

TEST(Summary, BuiltFileShowsItsSizeHeaderAndCounts) {
  const tests::RunResult result = tests::run_program(one_builtin());
  EXPECT_EQ(0, result.status) << result.console;
  expect_summary(
      {
          "Decompiling...",
          "Read Data from progs.dat:",
          "Total Size is    289",
          "Version Code is 7",
          "CRC is -5",
          "    21 strofs",
          "     1 numstatements",
          "     2 numfunctions",
          "     1 numglobaldefs",
          "     1 numfielddefs",
          "    28 numpr_globals",
          "----------------------",
      },
      result);
}

TEST(Summary, NumbersWiderThanSixColumnsTakeMoreRoom) {
  ProgsBuilder builder = one_builtin();
  builder.strings.resize(1234567, '\0');
  builder.set_int(99999, 0);
  // 60 + 1234567 + 8 + 72 + 8 + 8 + 4 * 100000
  const tests::RunResult result = tests::run_program(builder);
  EXPECT_EQ(0, result.status) << result.console;
  expect_summary(
      {
          "Decompiling...",
          "Read Data from progs.dat:",
          "Total Size is 1634723",
          "Version Code is 7",
          "CRC is -5",
          "1234567 strofs",
          "     1 numstatements",
          "     2 numfunctions",
          "     1 numglobaldefs",
          "     1 numfielddefs",
          "100000 numpr_globals",
          "----------------------",
      },
      result);
}

ProgsBuilder with_version(int32_t version) {
  ProgsBuilder builder = one_builtin();
  builder.version = version;
  return builder;
}

TEST(Summary, InputPathIsTheFirstArgumentAsGivenOrProgsDat) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* path_line;
    const char* version_line;
  };
  const Case cases[] = {
      {"no argument", {"progs2qc"}, "Read Data from progs.dat:", "Version Code is 11"},
      {"further arguments ignored",
       {"progs2qc", "first.dat", "missing.dat", "progs.dat"},
       "Read Data from first.dat:",
       "Version Code is 21"},
      {"path printed unchanged",
       {"progs2qc", "./sub/../odd 100%s.dat"},
       "Read Data from ./sub/../odd 100%s.dat:",
       "Version Code is 31"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const tests::RunResult result = tests::run_in_temp_dir(c.args, [] {
      std::filesystem::create_directory("sub");
      with_version(11).write("progs.dat");
      with_version(21).write("first.dat");
      with_version(31).write("odd 100%s.dat");
    });
    EXPECT_EQ(0, result.status) << result.console;
    const std::vector<std::string> lines = tests::split_lines(result.console);
    ASSERT_GE(lines.size(), 12u) << result.console;
    EXPECT_EQ(c.path_line, lines[1]);
    EXPECT_EQ(c.version_line, lines[3]);
  }
}

// The compilable engine reads the flavour the bytes show and names it after the twelve
// lines, and has fteqcc write that flavour again; the classic engine's console stays as it
// was.
TEST(Summary, CompilableRunNamesTheFormatItRead) {
  struct Case {
    const char* name;
    tests::Format format;
    const char* format_line;
    const char* first_line;  // of the first source file
  };
  const Case cases[] = {
      {"version 6", tests::Format::kVersion6, "Format: version 6",
       "void(vector p0) makevectors = #1;"},
      {"FTEQCC's version 6", tests::Format::kFteqccVersion6, "Format: version 6",
       "void(vector p0) makevectors = #1;"},
      {"FTE 16-bit", tests::Format::kFte16, "Format: FTE version 7, 16-bit records",
       "#pragma target fte"},
      {"FTE 32-bit", tests::Format::kFte32, "Format: FTE version 7, 32-bit records",
       "#pragma target fte"},
      {"uHexen2", tests::Format::kUhexen2, "Format: uHexen2 version 7, 32-bit records",
       "#pragma target hexen2"},
      {"KK", tests::Format::kKk,
       "Format: KK version 7, 32-bit statements, 16-bit definitions (secondary version "
       "0x57514B4B)",
       "#pragma target kk7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgsBuilder builder = tests::new_program();
    builder.format = c.format;
    builder.add_function(-1, 0, 0, "makevectors", "defs.qc");
    const auto setup = [&builder] { builder.write("progs.dat"); };
    const tests::RunResult classic = tests::run_in_temp_dir({"progs2qc"}, setup);
    const tests::RunResult compilable = tests::run_in_temp_dir({"progs2qc", "-c"}, setup);
    const std::vector<std::string> classic_lines = tests::split_lines(classic.console);
    const std::vector<std::string> lines = tests::split_lines(compilable.console);
    ASSERT_GE(classic_lines.size(), 12u) << classic.console;
    ASSERT_GE(lines.size(), 14u) << compilable.console;
    EXPECT_EQ(0, classic.status);
    EXPECT_EQ(std::vector<std::string>(classic_lines.begin(), classic_lines.begin() + 12),
              std::vector<std::string>(lines.begin(), lines.begin() + 12));
    EXPECT_EQ(c.format_line, lines[12]);
    EXPECT_EQ(std::string::npos, classic.console.find("Format:")) << classic.console;
    EXPECT_EQ(0, compilable.status) << compilable.console;
    const auto file = compilable.files.find("defs.qc");
    ASSERT_NE(compilable.files.end(), file) << compilable.console;
    EXPECT_EQ(c.first_line, tests::split_lines(file->second).front());
  }
}

// Builtins 1..8; 4 and 7 have empty names, 2 and 3 share one, 8 names an offset outside
// the string area.
ProgsBuilder unnamed_functions() {
  ProgsBuilder builder = tests::new_program();
  builder.add_function(-1, 0, 0, "alpha");
  builder.add_function(-2, 0, 0, "dup");
  builder.add_function(-3, 0, 0, "dup");
  builder.add_function(-4, 0, 0, "");
  builder.add_function(-6, 0, 0, "five");
  builder.add_function(-6, 0, 0, "six");
  builder.add_function(-7, 0, 0, "");
  const int outside = builder.add_function(-6, 0, 0, "");
  builder.functions[outside].s_name = 99999;
  return builder;
}

TEST(NameAnonymousFunctions, EmptyNamesBecomeFunctionIndexAndOthersStay) {
  tests::load_fixture(unnamed_functions());
  const int64_t first_dup = image::program.functions[2].s_name;
  const int64_t second_dup = image::program.functions[3].s_name;
  const tests::Captured captured = tests::capture(driver::name_anonymous_functions);
  EXPECT_EQ("", captured.console);
  EXPECT_FALSE(captured.fatal.has_value());
  constexpr const char* want[] = {
      "", "alpha", "dup", "dup", "function4", "five", "six", "function7", "function8",
  };
  ASSERT_EQ(static_cast<int32_t>(std::size(want)), image::program.numfunctions);
  for (int i = 0; i < image::program.numfunctions; ++i) {
    SCOPED_TRACE(i);
    EXPECT_STREQ(want[i], image::string_at(image::program.functions[i].s_name));
  }
  EXPECT_EQ(first_dup, image::program.functions[2].s_name);
  EXPECT_EQ(second_dup, image::program.functions[3].s_name);
}

TEST(NameAnonymousFunctions, GeneratedNameIsUsedInTheOutput) {
  const tests::RunResult result = tests::run_program(unnamed_functions());
  EXPECT_EQ(0, result.status) << result.console;
  ASSERT_EQ(1u, result.files.count("test.qc")) << result.console;
  const std::string& text = result.files.at("test.qc");
  EXPECT_NE(std::string::npos, text.find("float () function7 = #7; \n")) << text;
  EXPECT_NE(std::string::npos, text.find("void (entity e, vector o) dup = #2; \n")) << text;
  EXPECT_NE(std::string::npos, text.find("void (entity e, string m) dup = #3; \n")) << text;
  EXPECT_EQ(std::string::npos, text.find("function2")) << text;
  EXPECT_EQ(std::string::npos, text.find("function3")) << text;
}

TEST(RunDecompiler, RepeatedRunsInOneProcessGiveTheSameResult) {
  const tests::RunResult first = tests::run_program(unnamed_functions());
  const tests::RunResult second = tests::run_program(unnamed_functions());
  ProgsBuilder damaged = unnamed_functions();
  damaged.header_override[tests::kNumGlobals] = -1;
  const tests::RunResult failed = tests::run_program(damaged);
  ASSERT_EQ(1, failed.status);
  const tests::RunResult after_failure = tests::run_program(unnamed_functions());
  EXPECT_EQ(0, first.status);
  EXPECT_FALSE(first.files.empty());
  for (const tests::RunResult* again : {&second, &after_failure}) {
    EXPECT_EQ(first.status, again->status);
    EXPECT_EQ(first.console, again->console);
    EXPECT_EQ(first.files, again->files);
  }
}

}  // namespace
