// Whole runs with the command line's options: help, version, the output directory, "--",
// options after PATH and usage errors, each with its status, both streams and every file
// created or changed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "driver/options.h"
#include "image/opcodes.h"
#include "tests/progs_builder.h"
#include "tests/run_harness.h"

namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;
using tests::RunResult;

// One function "fa", an empty body, from source file world.qc: strings "\0" "fa\0"
// "world.qc\0" (13 bytes), 2 statements, 2 functions, 1 global and 1 field definition and
// 28 global cells make 60 + 13 + 16 + 72 + 8 + 8 + 112 = 289 bytes.
tests::ProgsBuilder tiny_program() {
  tests::ProgsBuilder b = tests::new_program();
  b.add_statement(image::OP_DONE);
  b.add_function(1, 28, 0, "fa", "world.qc");
  return b;
}

std::string summary(const std::string& path) {
  return "Decompiling...\n"
         "Read Data from " +
         path +
         ":\n"
         "Total Size is    289\n"
         "Version Code is 6\n"
         "CRC is 5927\n"
         "    13 strofs\n"
         "     2 numstatements\n"
         "     2 numfunctions\n"
         "     1 numglobaldefs\n"
         "     1 numfielddefs\n"
         "    28 numpr_globals\n"
         "----------------------\n";
}

constexpr const char* kWorld = "\nvoid () fa =\n{\n};\n";
constexpr const char* kListHeader = "./progs.dat\n\n";
constexpr const char* kTryHelp = "Try 'progs2qc --help'.\n";

// Runs with the arguments after the program name, the tiny program written as each of
// `inputs` first (directories made as needed), then `setup`.
RunResult run_with(const std::vector<std::string>& arguments,
                   const std::vector<std::string>& inputs = {"progs.dat"},
                   const std::function<void()>& setup = nullptr) {
  std::vector<std::string> args = {"progs2qc"};
  args.insert(args.end(), arguments.begin(), arguments.end());
  return tests::run_in_temp_dir(args, [&] {
    for (const std::string& input : inputs) {
      const fs::path parent = fs::path(input).parent_path();
      if (!parent.empty()) {
        fs::create_directories(parent);
      }
      tiny_program().write(input);
    }
    if (setup) {
      setup();
    }
  });
}

void expect_run(const RunResult& result, int status, const std::string& console,
                const std::string& errors, const Files& files) {
  EXPECT_EQ(status, result.status);
  EXPECT_EQ(console, result.console);
  EXPECT_EQ(errors, result.errors);
  EXPECT_EQ(files, result.files);
}

TEST(CommandLine, WithoutOptionsTheFilesGoToTheCurrentDirectory) {
  expect_run(run_with({}), 0, summary("progs.dat") + "decompiling world.qc...\n", "",
             {{"progs.src", std::string(kListHeader) + "world.qc\n"}, {"world.qc", kWorld}});
}

TEST(CommandLine, HelpPrintsTheUsageAndReadsNothing) {
  for (const char* option : {"-h", "--help"}) {
    SCOPED_TRACE(option);
    // A missing input shows that nothing is read: reading it would end with an error.
    const RunResult result = run_with({option, "missing.dat"});
    expect_run(result, 0, driver::usage_text(), "", {});
    EXPECT_EQ(0u, result.console.find("Usage: progs2qc [OPTIONS] [PATH]\n"));
    EXPECT_NE(std::string::npos, result.console.find("-o, --output-dir DIR"));
  }
}

TEST(CommandLine, VersionPrintsTheProjectVersionAndReadsNothing) {
  for (const char* option : {"-V", "--version"}) {
    SCOPED_TRACE(option);
    expect_run(run_with({"missing.dat", option}), 0,
               std::string("progs2qc ") + PROGS2QC_VERSION + "\n", "", {});
  }
}

struct OutputDirCase {
  const char* name;
  std::vector<std::string> arguments;
};

const OutputDirCase NewDirectoryCases[] = {
    {"-o DIR", {"-o", "out"}},
    {"-oDIR", {"-oout"}},
    {"--output-dir DIR", {"--output-dir", "out"}},
    {"--output-dir=DIR", {"--output-dir=out"}},
    {"DIR with a trailing slash", {"-o", "out/"}},
    {"after PATH", {"progs.dat", "-o", "out"}},
};

TEST(CommandLine, OutputDirIsCreatedAndReceivesEveryFile) {
  for (const OutputDirCase& c : NewDirectoryCases) {
    SCOPED_TRACE(c.name);
    expect_run(run_with(c.arguments), 0, summary("progs.dat") + "decompiling world.qc...\n", "",
               {{"out/", tests::kDirectory},
                {"out/progs.src", std::string(kListHeader) + "world.qc\n"},
                {"out/world.qc", kWorld}});
  }
}

TEST(CommandLine, ExistingOutputDirKeepsOtherFilesAndGetsOldOutputsReplaced) {
  const RunResult result = run_with({"-o", "out"}, {"progs.dat"}, [] {
    fs::create_directory("out");
    tests::write_file("out/world.qc", "old text\n");
    tests::write_file("out/progs.src", "old list\n");
    tests::write_file("out/notes.txt", "keep\n");
  });
  expect_run(
      result, 0, summary("progs.dat") + "decompiling world.qc...\n", "",
      {{"out/progs.src", std::string(kListHeader) + "world.qc\n"}, {"out/world.qc", kWorld}});
}

TEST(CommandLine, OutputDirThatCannotBeUsedIsRefusedBeforeAnythingIsRead) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    std::function<void()> setup;
    const char* errors;
  };
  const Case cases[] = {
      {"a regular file",
       {"-o", "out"},
       [] { tests::write_file("out", "keep\n"); },
       "progs2qc: output directory 'out': Not a directory\n"},
      {"a symbolic link to a directory",
       {"-o", "out"},
       [] {
         fs::create_directory("real");
         fs::create_directory_symlink("real", "out");
       },
       "progs2qc: output directory 'out': is a symbolic link\n"},
      {"the link with a trailing slash",
       {"--output-dir=out/"},
       [] {
         fs::create_directory("real");
         fs::create_directory_symlink("real", "out");
       },
       "progs2qc: output directory 'out/': is a symbolic link\n"},
      {"a missing parent",
       {"-o", "none/out"},
       nullptr,
       "progs2qc: output directory 'none/out': No such file or directory\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The input is missing too: had it been read first, that error would show instead.
    std::vector<std::string> arguments = c.arguments;
    arguments.push_back("missing.dat");
    expect_run(run_with(arguments, {}, c.setup), 2, "", c.errors, {});
  }
}

TEST(CommandLine, InputInsideOutputDirUnderAnOutputsNameIsNeverWritten) {
  // The function's own file is the input: it goes to the fallback file instead.
  expect_run(
      run_with({"-o", "out", "out/world.qc"}, {"out/world.qc"}), 0,
      summary("out/world.qc") + "decompiling vorn1.qc...\n", "",
      {{"out/progs.src", std::string(kListHeader) + "vorn1.qc\n"}, {"out/vorn1.qc", kWorld}});
  // The project list would be the input: the run ends before writing anything.
  expect_run(run_with({"out/progs.src", "-o", "out"}, {"out/progs.src"}), 1,
             summary("out/progs.src") + "Fatal Error - Could not open \"progs.src\" for output.\n",
             "", {});
}

TEST(CommandLine, DoubleDashEndsTheOptionsForAPathBeginningWithMinus) {
  expect_run(run_with({"--", "-game.dat"}, {"-game.dat"}), 0,
             summary("-game.dat") + "decompiling world.qc...\n", "",
             {{"progs.src", std::string(kListHeader) + "world.qc\n"}, {"world.qc", kWorld}});
  expect_run(run_with({"-o", "out", "--", "-game.dat", "-x"}, {"-game.dat"}), 0,
             summary("-game.dat") + "decompiling world.qc...\n", "",
             {{"out/", tests::kDirectory},
              {"out/progs.src", std::string(kListHeader) + "world.qc\n"},
              {"out/world.qc", kWorld}});
}

TEST(CommandLine, UsageErrorsReadAndWriteNothing) {
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    std::string errors;
  };
  const Case cases[] = {
      {"unknown short option", {"-x"}, "progs2qc: unknown option '-x'\n" + std::string(kTryHelp)},
      {"unknown long option",
       {"--bogus"},
       "progs2qc: unknown option '--bogus'\n" + std::string(kTryHelp)},
      {"unknown option after PATH",
       {"progs.dat", "-x"},
       "progs2qc: unknown option '-x'\n" + std::string(kTryHelp)},
      {"a path beginning with - without --",
       {"-game.dat"},
       "progs2qc: unknown option '-g'\n" + std::string(kTryHelp)},
      {"missing directory",
       {"-o"},
       "progs2qc: option '-o' needs a directory\n" + std::string(kTryHelp)},
      {"missing directory after PATH",
       {"progs.dat", "--output-dir"},
       "progs2qc: option '--output-dir' needs a directory\n" + std::string(kTryHelp)},
      {"a value for help",
       {"--help=all"},
       "progs2qc: option '--help' takes no value\n" + std::string(kTryHelp)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expect_run(run_with(c.arguments), 2, "", c.errors, {});
  }
}

TEST(CommandLine, OptionsAfterPathWorkAsBeforeIt) {
  const RunResult before = run_with({"-o", "out", "game.dat"}, {"game.dat"});
  const RunResult after = run_with({"game.dat", "-o", "out"}, {"game.dat"});
  const RunResult after_ignored = run_with({"game.dat", "other.dat", "-o", "out"}, {"game.dat"});
  const Files files = {{"out/", tests::kDirectory},
                       {"out/progs.src", std::string(kListHeader) + "world.qc\n"},
                       {"out/world.qc", kWorld}};
  for (const RunResult* result : {&before, &after, &after_ignored}) {
    expect_run(*result, 0, summary("game.dat") + "decompiling world.qc...\n", "", files);
  }
}

}  // namespace
