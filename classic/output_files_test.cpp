// Tests for the choice of output files and the project list, through whole runs.
#include "classic/output_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/progs_builder.h"
#include "tests/run_harness.h"

namespace {

using tests::RunResult;

const std::string kProjectHeader = "./progs.dat\n\n";

// Where a function's s_file points.
enum FileReference { kText, kNegative, kAtStrofs, kPastStrofs };

struct FunctionSpec {
  const char* name;  // "" leaves the function unnamed
  std::string file;
  FileReference reference = kText;
};

// Every function is an empty body (instruction 1 is its DONE) and no global lies in front
// of it, so each writes exactly function_text of its name.
tests::ProgsBuilder program_with(const std::vector<FunctionSpec>& functions) {
  tests::ProgsBuilder program = tests::new_program();
  program.add_statement(0);
  for (const FunctionSpec& function : functions) {
    program.add_function(1, 28, 0, function.name, function.file);
  }
  const int32_t strofs = static_cast<int32_t>(program.strings.size());
  for (size_t i = 0; i < functions.size(); ++i) {
    int32_t& s_file = program.functions[i + 1].s_file;
    switch (functions[i].reference) {
      case kText:
        break;
      case kNegative:
        s_file = -1;
        break;
      case kAtStrofs:
        s_file = strofs;
        break;
      case kPastStrofs:
        s_file = strofs + 1;
        break;
    }
  }
  return program;
}

std::string function_text(const std::string& name) { return "\nvoid () " + name + " =\n{\n};\n"; }

// The console after the twelve-line run summary.
std::string after_summary(const std::string& console) {
  const std::string rule = "----------------------\n";
  size_t at = console.find(rule);
  return at == std::string::npos ? "<no summary>" : console.substr(at + rule.size());
}

struct RunCase {
  const char* label;
  std::vector<FunctionSpec> functions;
  std::vector<std::string> want;  // the file each function goes to
};

const RunCase RunCases[] = {
    {"plain names in order of first use, appended after",
     {{"fa", "weapons.qc"}, {"fb", "world.qc"}, {"fc", "weapons.qc"}, {"fd", "weapons.qc"}},
     {"weapons.qc", "world.qc", "weapons.qc", "weapons.qc"}},
    {"a usable name is taken even when the function has a known file",
     {{"main", "Weird!_9.QC"}},
     {"Weird!_9.QC"}},
    {"names differing in case are different files",
     {{"fa", "A.qc"}, {"fb", "a.qc"}},
     {"A.qc", "a.qc"}},
    {"slash flattened to a dot", {{"fa", "dir/name.qc"}}, {"dir.name.qc"}},
    {"backslash flattened to a dot", {{"fa", "dir\\name.qc"}}, {"dir.name.qc"}},
    {"both separators in one name", {{"fa", "a/b\\c.qc"}}, {"a.b.c.qc"}},
    {"minus sign", {{"fa", "bad-name.qc"}}, {"vorn1.qc"}},
    {"space", {{"fa", "has space.qc"}}, {"vorn1.qc"}},
    {"byte 200", {{"fa", "\xC8.qc"}}, {"vorn1.qc"}},
    {"other punctuation", {{"fa", "a#b:c~d'e.qc"}}, {"vorn1.qc"}},
    {"empty s_file", {{"fa", ""}}, {"vorn1.qc"}},
    {"negative s_file", {{"fa", "x.qc", kNegative}}, {"vorn1.qc"}},
    {"s_file at strofs reads as empty", {{"fa", "x.qc", kAtStrofs}}, {"vorn1.qc"}},
    {"s_file past strofs", {{"fa", "x.qc", kPastStrofs}}, {"vorn1.qc"}},
    {"unusable name of a known function", {{"W_Precache", "bad-name"}}, {"weapons.qc"}},
    {"generated name matches no row", {{"", "bad-name"}}, {"vorn1.qc"}},
    {"same unusable name after SUB_Null",
     {{"SUB_Null", "b-1"}, {"fb", "b-1"}},
     {"subs.qc", "subs.qc"}},
    {"a known name met again is not looked up",
     {{"fa", "b-1"}, {"W_Precache", "b-1"}},
     {"vorn1.qc", "vorn1.qc"}},
    {"X, Y, X",
     {{"fa", "x-1"}, {"fb", "y-1"}, {"fc", "x-1"}},
     {"vorn1.qc", "vorn2.qc", "vorn2.qc"}},
    {"empty and out of range are one candidate",
     {{"fa", ""}, {"fb", "y-1"}, {"fc", "x.qc", kNegative}, {"fd", "x.qc", kPastStrofs}},
     {"vorn1.qc", "vorn2.qc", "vorn2.qc", "vorn2.qc"}},
    {"replacements before the bad character stay",
     {{"fa", "a/x-1"}, {"fb", "a.x-1"}},
     {"vorn1.qc", "vorn1.qc"}},
    {"no replacement after the bad character",
     {{"fa", "x-/a"}, {"fb", "x-.a"}},
     {"vorn1.qc", "vorn2.qc"}},
    {"plain names leave the counter at 0",
     {{"fa", "a.qc"}, {"fb", "b.qc"}, {"fc", "c-1"}},
     {"a.qc", "b.qc", "vorn1.qc"}},
    {"progs.src is refused",
     {{"W_Precache", "progs.src"}, {"fb", "progs.src"}},
     {"weapons.qc", "weapons.qc"}},
    {"the input's own name is refused", {{"fa", "progs.dat"}}, {"vorn1.qc"}},
};

TEST(DecompileAllFunctions, SendsEachFunctionToItsFile) {
  for (const RunCase& c : RunCases) {
    SCOPED_TRACE(c.label);
    RunResult result = tests::run_program(program_with(c.functions));
    std::string console;
    std::string project = kProjectHeader;
    std::map<std::string, std::string> files;
    for (size_t i = 0; i < c.functions.size(); ++i) {
      const std::string& file = c.want[i];
      if (files.count(file) == 0) {
        console += "decompiling " + file + "...\n";
        project += file + "\n";
      }
      std::string name = c.functions[i].name;
      files[file] += function_text(name.empty() ? "function" + std::to_string(i + 1) : name);
    }
    files["progs.src"] = project;
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(console, after_summary(result.console));
    EXPECT_EQ(files, result.files);
  }
}

TEST(DecompileAllFunctions, WithoutFunctionsTheProjectListIsOnlyItsHeader) {
  for (size_t count : {0, 1}) {
    SCOPED_TRACE(count);
    tests::ProgsBuilder program = tests::new_program();
    program.functions.resize(count);
    RunResult result = tests::run_program(program);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ("", after_summary(result.console));
    EXPECT_EQ((std::map<std::string, std::string>{{"progs.src", kProjectHeader}}), result.files);
  }
}

TEST(DecompileAllFunctions, ReplacesFilesOfAnEarlierRun) {
  const tests::ProgsBuilder program = program_with({{"fa", "weapons.qc"}, {"fb", "weapons.qc"}});
  RunResult result = tests::run_in_temp_dir({"progs2qc"}, [&] {
    program.write("progs.dat");
    tests::write_file("weapons.qc", "old text\n");
    tests::write_file("progs.src", "old list\nold.qc\nmore\n");
  });
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(function_text("fa") + function_text("fb"), result.files["weapons.qc"]);
  EXPECT_EQ(kProjectHeader + "weapons.qc\n", result.files["progs.src"]);
}

TEST(DecompileAllFunctions, DotNamesAreAnnouncedListedAndCannotBeOpened) {
  for (const char* name : {".", ".."}) {
    SCOPED_TRACE(name);
    RunResult result = tests::run_program(program_with({{"fa", name}}));
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(std::string("decompiling ") + name + "...\nFatal Error - Could not open \"" + name +
                  "\" for output.\n",
              after_summary(result.console));
    EXPECT_EQ((std::map<std::string, std::string>{{"progs.src", kProjectHeader + name + "\n"}}),
              result.files);
  }
}

struct LinkCase {
  const char* label;
  const char* link;
  const char* target;
  const char* console;  // after the summary
  const char* project;  // "progs.src" as written, or null when it is the link
};

constexpr LinkCase LinkCases[] = {
    {"link to a file", "weapons.qc", "target.txt",
     "decompiling weapons.qc...\nFatal Error - Could not open \"weapons.qc\" for output.\n",
     "./progs.dat\n\nweapons.qc\n"},
    {"dangling link", "weapons.qc", "missing.qc",
     "decompiling weapons.qc...\nFatal Error - Could not open \"weapons.qc\" for output.\n",
     "./progs.dat\n\nweapons.qc\n"},
    {"progs.src as a link", "progs.src", "target.txt",
     "Fatal Error - Could not open \"progs.src\" for output.\n", nullptr},
};

TEST(DecompileAllFunctions, NeverWritesThroughASymbolicLink) {
  const tests::ProgsBuilder program = program_with({{"fa", "weapons.qc"}});
  for (const LinkCase& c : LinkCases) {
    SCOPED_TRACE(c.label);
    RunResult result = tests::run_in_temp_dir({"progs2qc"}, [&] {
      program.write("progs.dat");
      tests::write_file("target.txt", "keep\n");
      ASSERT_EQ(0, ::symlink(c.target, c.link));
    });
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(c.console, after_summary(result.console));
    std::map<std::string, std::string> files;
    if (c.project != nullptr) {
      files["progs.src"] = c.project;
    }
    EXPECT_EQ(files, result.files);  // link and target unchanged, nothing else created
  }
}

TEST(DecompileAllFunctions, AnotherNameOfTheInputIsRefused) {
  const tests::ProgsBuilder program =
      program_with({{"fa", "game.dat"}, {"fb", "linked.qc"}, {"fc", "ok.qc"}});
  RunResult result = tests::run_in_temp_dir({"progs2qc", "game.dat"}, [&] {
    program.write("game.dat");
    ASSERT_EQ(0, ::link("game.dat", "linked.qc"));
  });
  EXPECT_EQ(0, result.status);
  EXPECT_EQ("decompiling vorn1.qc...\ndecompiling vorn2.qc...\ndecompiling ok.qc...\n",
            after_summary(result.console));
  EXPECT_EQ((std::map<std::string, std::string>{
                {"progs.src", kProjectHeader + "vorn1.qc\nvorn2.qc\nok.qc\n"},
                {"vorn1.qc", function_text("fa")},
                {"vorn2.qc", function_text("fb")},
                {"ok.qc", function_text("fc")},
            }),
            result.files);
}

TEST(DecompileAllFunctions, KnownFileThatIsTheInputCannotBeOpened) {
  const tests::ProgsBuilder program = program_with({{"W_Precache", "bad-name"}});
  RunResult result =
      tests::run_in_temp_dir({"progs2qc", "weapons.qc"}, [&] { program.write("weapons.qc"); });
  EXPECT_EQ(1, result.status);
  EXPECT_EQ("decompiling weapons.qc...\nFatal Error - Could not open \"weapons.qc\" for output.\n",
            after_summary(result.console));
  EXPECT_EQ((std::map<std::string, std::string>{{"progs.src", kProjectHeader + "weapons.qc\n"}}),
            result.files);
}

TEST(DecompileAllFunctions, InputNamedProgsSrcIsNotOverwritten) {
  const tests::ProgsBuilder program = program_with({{"fa", "a.qc"}});
  RunResult result =
      tests::run_in_temp_dir({"progs2qc", "progs.src"}, [&] { program.write("progs.src"); });
  EXPECT_EQ(1, result.status);
  EXPECT_EQ("Fatal Error - Could not open \"progs.src\" for output.\n",
            after_summary(result.console));
  EXPECT_TRUE(result.files.empty());
}

// Each function has its own plain name.
tests::ProgsBuilder many_files(int count, const std::string& prefix) {
  std::vector<FunctionSpec> functions;
  for (int i = 1; i <= count; ++i) {
    functions.push_back({"fa", prefix + std::to_string(i) + ".qc"});
  }
  return program_with(functions);
}

TEST(DecompileAllFunctions, AtMost1001SourceFileNames) {
  RunResult full = tests::run_program(many_files(1001, "f"));
  EXPECT_EQ(0, full.status);
  EXPECT_EQ(1002u, full.files.size());

  RunResult over = tests::run_program(many_files(1002, "f"));
  EXPECT_EQ(1, over.status);
  EXPECT_EQ(1002u, over.files.size());
  EXPECT_EQ(0u, over.files.count("f1002.qc"));
  const std::string console = after_summary(over.console);
  const std::string tail = "decompiling f1001.qc...\nFatal Error - too many source files.\n";
  ASSERT_GE(console.size(), tail.size());
  EXPECT_EQ(tail, console.substr(console.size() - tail.size()));

  // The list is full: even a name already in it is refused.
  tests::ProgsBuilder again = many_files(1001, "f");
  again.add_function(1, 28, 0, "fb", "f1.qc");
  RunResult full_again = tests::run_program(again);
  EXPECT_EQ(1, full_again.status);
  EXPECT_EQ(1002u, full_again.files.size());
  EXPECT_EQ(function_text("fa"), full_again.files["f1.qc"]);
  const std::string last = after_summary(full_again.console);
  const std::string last_tail = "decompiling f1001.qc...\nFatal Error - too many source files.\n";
  ASSERT_GE(last.size(), last_tail.size());
  EXPECT_EQ(last_tail, last.substr(last.size() - last_tail.size()));
}

TEST(DecompileAllFunctions, UnusableCandidatesCountTowardTheLimitAndAreNeverListed) {
  // Each function brings a new unusable candidate and a new fallback name: 500 functions
  // fill 1000 entries; the 501st candidate is the 1001st, and its fallback name is refused.
  RunResult result = tests::run_program(many_files(501, "bad-"));
  EXPECT_EQ(1, result.status);
  std::string console;
  std::string project = kProjectHeader;
  for (int i = 1; i <= 500; ++i) {
    console += "decompiling vorn" + std::to_string(i) + ".qc...\n";
    project += "vorn" + std::to_string(i) + ".qc\n";
  }
  EXPECT_EQ(console + "Fatal Error - too many source files.\n", after_summary(result.console));
  EXPECT_EQ(project, result.files["progs.src"]);
  EXPECT_EQ(501u, result.files.size());
}

}  // namespace
