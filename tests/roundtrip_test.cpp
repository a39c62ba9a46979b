// Round trips of the Quake 1.01 source: compile, make source from the program, compile again,
// compare; and which fteqcc optimisations change the code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "compare/progs_compare.h"
#include "driver/run.h"
#include "image/program_image.h"
#include "support/console.h"
#include "tests/compilers.h"

namespace {

using tests::Compiler;

struct Build {
  const char* name;
  Compiler compiler;
  std::vector<std::string> options;
  // fteqcc shares one cell among equal constants and drops the names no code uses: the
  // names a rebuilt program's code uses may be others, so named constants may be missing.
  bool merges_constants = false;
  // Another target than the classic one: qcc does not read what fteqcc needs for it.
  bool other_target = false;
};

const std::vector<Build>& v101_builds() {
  static const std::vector<Build> builds = {
      {"qcc", Compiler::qcc, {}},
      {"fteqcc -O0", Compiler::fteqcc, {"-O0"}},
      {"fteqcc -O1", Compiler::fteqcc, {"-O1"}, true},
      {"fteqcc -O2", Compiler::fteqcc, {"-O2"}, true},
      {"fteqcc -O3", Compiler::fteqcc, {"-O3"}, true},
  };
  return builds;
}

// Writes into `directory` a project (progs.src and the files it lists) from which the same
// compiler should rebuild `progs_dat`. Decompiling progs_dat into directory goes here.
using MakeSource = std::function<void(const std::string& progs_dat, const std::string& directory)>;

struct RoundTrip {
  tests::CompileResult original;
  tests::CompileResult rebuilt;
  compare::Comparison comparison;
};

// Compiles v101 as the build says, has make_source write a project for the program, compiles
// that project the same way and compares the rebuilt program with the original.
RoundTrip round_trip_v101(const Build& build, const MakeSource& make_source,
                          const std::string& scratch) {
  RoundTrip trip{};
  const std::string source = tests::copy_source(tests::v101_source_dir(), scratch, "original");
  trip.original = tests::compile(build.compiler, source, build.options);
  if (trip.original.status != 0) {
    return trip;
  }
  const std::string rebuilt_source = scratch + "/rebuilt/src";
  make_source(trip.original.progs_path, rebuilt_source);
  trip.rebuilt = tests::compile(build.compiler, rebuilt_source, build.options);
  if (trip.rebuilt.status == 0) {
    trip.comparison =
        compare::compare_program_files(trip.original.progs_path, trip.rebuilt.progs_path);
  }
  return trip;
}

// Not a decompilation: the source the program was built from, to check the plumbing and that
// the compilers build the same program twice.
void copy_original_source(const std::string&, const std::string& directory) {
  const size_t slash = directory.find_last_of('/');
  tests::copy_source(tests::v101_source_dir(), directory.substr(0, slash),
                     directory.substr(slash + 1));
}

std::string share_line(const compare::FunctionCounts& counts) {
  const int equal = counts.identical + counts.renumbered;
  return std::to_string(equal) + " of " + std::to_string(counts.compared) +
         " functions have equal code (" + std::to_string(counts.identical) + " identical, " +
         std::to_string(counts.renumbered) + " up to renumbering)";
}

TEST(V101RoundTrip, ASecondBuildOfTheSameSourceIsTheSameFile) {
  if (tests::v101_source_dir().empty()) {
    GTEST_SKIP() << "../shared/qc/v101 is absent";
  }
  int trips = 0;
  for (const Build& build : v101_builds()) {
    SCOPED_TRACE(build.name);
    if (tests::compiler_path(build.compiler).empty()) {
      continue;
    }
    const tests::ScratchDirectory scratch = tests::make_scratch_directory();
    const RoundTrip trip = round_trip_v101(build, copy_original_source, scratch.path);
    ASSERT_EQ(0, trip.original.status) << trip.original.console;
    ASSERT_EQ(0, trip.rebuilt.status) << trip.rebuilt.console;
    const compare::Comparison& comparison = trip.comparison;
    std::printf("v101 %s, built twice: %s; %s\n  %s\n", build.name,
                comparison.bytes_identical ? "identical files" : "different files",
                share_line(comparison.counts).c_str(),
                compare::summary_line(comparison.counts).c_str());
    EXPECT_EQ(0, comparison.status) << comparison.report;
    EXPECT_EQ(2090, comparison.counts.compared);
    EXPECT_EQ(comparison.counts.compared, comparison.counts.identical);
    ++trips;
  }
  if (trips == 0) {
    GTEST_SKIP() << "neither qcc nor fteqcc is available";
  }
}

struct Decompiled {
  int status;
  std::string console;
};

// Writes the compilable engine's source for the program into `directory`, in-process.
Decompiled decompile_compilable(const std::string& progs_dat, const std::string& directory) {
  Decompiled result{0, std::string()};
  std::filesystem::create_directories(std::filesystem::path(directory).parent_path());
  support::console.capture = &result.console;
  const char* argv[] = {"progs2qc", "-c", "-o", directory.c_str(), progs_dat.c_str()};
  result.status = driver::run_decompiler(5, argv);
  support::console.capture = nullptr;
  return result;
}

// Each function record by name: its parameter count and sizes.
std::map<std::string, std::string> signatures_by_name(const std::string& progs_dat) {
  image::load_program_image(progs_dat.c_str(), image::Reading::kDetected);
  std::map<std::string, std::string> signatures;
  for (size_t f = 1; f < image::program.functions.size(); ++f) {
    const image::FunctionRecord& function = image::program.functions[f];
    std::string text = std::to_string(function.numparms) + ":";
    for (int k = 0; k < function.numparms && k < 8; ++k) {
      text += std::to_string(function.parm_size[k]);
    }
    signatures[image::string_at(function.s_name)] = text;
  }
  driver::reset_run();
  return signatures;
}

// Every build of v101 the round trips cover: the optimisation levels, and each single fteqcc
// optimisation that changes code.
std::vector<Build> compilable_builds() {
  std::vector<Build> builds = v101_builds();
  for (const tests::OptimisationRow& row : tests::FteqccCodeOptimisations) {
    builds.push_back(Build{row.name,
                           Compiler::fteqcc,
                           {"-O0", std::string("-O") + row.name},
                           std::string(row.name) == "dupconstdefs"});
  }
  // The other flavours: Hexen II's instructions and calls, KK's version 7 with 32-bit
  // statements, FTE's version 7 with its extended instructions.
  for (const char* target : {"hexen2", "version7", "fte"}) {
    const std::string option = std::string("-T") + target;
    builds.push_back(Build{target, Compiler::fteqcc, {option}, true, true});
    builds.push_back(Build{target, Compiler::fteqcc, {"-O0", option}, false, true});
  }
  return builds;
}

TEST(V101RoundTrip, CompilableSourceCompilesBackAndKeepsTheProgram) {
  if (tests::v101_source_dir().empty()) {
    GTEST_SKIP() << "../shared/qc/v101 is absent";
  }
  const bool have_qcc = !tests::compiler_path(Compiler::qcc).empty();
  int trips = 0;
  for (const Build& build : compilable_builds()) {
    SCOPED_TRACE(std::string(build.name) +
                 (build.options.empty() ? "" : " " + build.options.back()));
    if (tests::compiler_path(build.compiler).empty()) {
      continue;
    }
    const tests::ScratchDirectory scratch = tests::make_scratch_directory();
    Decompiled decompiled{};
    const RoundTrip trip = round_trip_v101(
        build,
        [&decompiled](const std::string& progs_dat, const std::string& directory) {
          decompiled = decompile_compilable(progs_dat, directory);
        },
        scratch.path);
    ASSERT_EQ(0, trip.original.status) << trip.original.console;
    ASSERT_EQ(0, decompiled.status) << decompiled.console;
    EXPECT_NE(std::string::npos, decompiled.console.find("2090 functions written in"))
        << decompiled.console;
    ASSERT_EQ(0, trip.rebuilt.status) << trip.rebuilt.console;
    // The same source compiles with qcc too, whichever compiler made the program.
    if (have_qcc && build.compiler != Compiler::qcc && !build.other_target) {
      const std::string copy =
          tests::copy_source(scratch.path + "/rebuilt/src", scratch.path, "by-qcc");
      const tests::CompileResult by_qcc = tests::compile(Compiler::qcc, copy);
      EXPECT_EQ(0, by_qcc.status) << by_qcc.console;
    }
    const compare::Comparison& comparison = trip.comparison;
    const compare::FunctionCounts& counts = comparison.counts;
    std::string options;
    for (const std::string& option : build.options) {
      options += " " + option;
    }
    std::printf("v101 %s%s, decompiled and compiled again: %s; %s\n  %s\n",
                tests::compiler_name(build.compiler), options.c_str(),
                comparison.bytes_identical ? "identical files" : "different files",
                share_line(counts).c_str(), compare::summary_line(counts).c_str());
    EXPECT_EQ(2090, counts.compared);
    EXPECT_EQ(0, counts.only_in_a);
    EXPECT_EQ(0, counts.only_in_b);
    EXPECT_EQ(0, comparison.field_differences) << comparison.report;
    if (!build.merges_constants) {
      EXPECT_EQ(0, comparison.global_differences) << comparison.report;
    }
    EXPECT_EQ(signatures_by_name(trip.original.progs_path),
              signatures_by_name(trip.rebuilt.progs_path));
    if (build.compiler == Compiler::qcc) {
      // id's compiler allocates in the order of the source: the same file, byte for byte.
      EXPECT_TRUE(comparison.bytes_identical) << comparison.report;
    }
    ++trips;
  }
  if (trips == 0) {
    GTEST_SKIP() << "neither qcc nor fteqcc is available";
  }
}

// Where fteqcc's -ONAME differs from the name of its optres_NAME line.
struct OptionSpelling {
  const char* result_name;
  const char* option_name;
};
constexpr OptionSpelling OptionSpellings[] = {
    {"shortenifnots", "shortenifs"},
    {"stripfunctions", "strip_functions"},
};

// The optimisations fteqcc applies at -O3, from its optres_NAME lines, as -O options.
std::vector<std::string> optimisations_used_at_o3(const std::string& console) {
  std::vector<std::string> names;
  std::istringstream lines(console);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("optres_", 0) == 0) {
      std::string name = line.substr(7, line.find(' ') - 7);
      for (const OptionSpelling& spelling : OptionSpellings) {
        if (name == spelling.result_name) {
          name = spelling.option_name;
        }
      }
      names.push_back(name);
    }
  }
  return names;
}

TEST(FteqccOptimisations, TheTableNamesEveryOptionThatChangesTheCodeOfV101) {
  if (tests::v101_source_dir().empty() || tests::compiler_path(Compiler::fteqcc).empty()) {
    GTEST_SKIP() << "needs ../shared/qc/v101 and fteqcc";
  }
  const tests::ScratchDirectory scratch = tests::make_scratch_directory();
  auto build = [&scratch](const std::string& name, const std::vector<std::string>& options) {
    const std::string source =
        tests::copy_source(tests::v101_source_dir(), scratch.path + "/" + name, "src");
    return tests::compile(Compiler::fteqcc, source, options);
  };
  const tests::CompileResult baseline = build("O0", {"-O0"});
  ASSERT_EQ(0, baseline.status) << baseline.console;
  const tests::CompileResult o3 = build("O3", {"-O3"});
  ASSERT_EQ(0, o3.status) << o3.console;
  const std::vector<std::string> used = optimisations_used_at_o3(o3.console);
  EXPECT_GE(used.size(), 10u) << o3.console;

  std::set<std::string> changing_code;
  for (const std::string& name : used) {
    SCOPED_TRACE(name);
    const tests::CompileResult single = build(name, {"-O0", "-O" + name});
    ASSERT_EQ(0, single.status) << single.console;
    EXPECT_EQ(std::string::npos, single.console.find("Unrecognised optimisation"));
    const compare::Comparison comparison =
        compare::compare_program_files(baseline.progs_path, single.progs_path);
    ASSERT_NE(2, comparison.status) << comparison.report;
    const compare::FunctionCounts& counts = comparison.counts;
    const int changed = counts.renumbered + counts.different + counts.only_in_a + counts.only_in_b;
    std::printf("fteqcc -O0 -O%s against -O0: %s; %d functions with other code\n  %s\n",
                name.c_str(), comparison.bytes_identical ? "identical files" : "different files",
                changed, compare::summary_line(counts).c_str());
    if (changed > 0) {
      changing_code.insert(name);
    }
  }
  std::set<std::string> listed;
  for (const tests::OptimisationRow& row : tests::FteqccCodeOptimisations) {
    listed.insert(row.name);
    EXPECT_NE(used.end(), std::find(used.begin(), used.end(), row.name)) << row.name;
  }
  EXPECT_EQ(changing_code, listed);
}

}  // namespace
