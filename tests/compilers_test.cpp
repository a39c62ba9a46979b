// Tests for running the QuakeC compilers on written projects and on a copy of v101.
#include "tests/compilers.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "compare/progs_compare.h"

namespace {

namespace fs = std::filesystem;
using tests::Compiler;

constexpr Compiler Compilers[] = {Compiler::qcc, Compiler::fteqcc};

const std::vector<tests::SourceFile> kTinyProgram = {
    {"defs.qc", "float counter;\n"},
    {"main.qc", "void() main =\n{\n\tcounter = counter + 1;\n};\n"},
};

TEST(CompileProject, BuildsAWrittenProjectWithEachCompiler) {
  int compiled = 0;
  for (Compiler compiler : Compilers) {
    SCOPED_TRACE(tests::compiler_name(compiler));
    if (tests::compiler_path(compiler).empty()) {
      continue;
    }
    const tests::ScratchDirectory scratch = tests::make_scratch_directory();
    const std::string directory = scratch.path + "/project";
    const tests::CompileResult result =
        tests::compile_project(compiler, directory, kTinyProgram, {});
    EXPECT_EQ(0, result.status) << result.console;
    EXPECT_NE(std::string::npos, result.console.find("compiling main.qc")) << result.console;
    EXPECT_EQ(directory + "/progs.dat", result.progs_path);
    const compare::Comparison self =
        compare::compare_program_files(result.progs_path, result.progs_path);
    EXPECT_EQ(0, self.status) << self.report;
    ASSERT_EQ(1u, self.functions.size());
    EXPECT_EQ("main", self.functions[0].name);
    ++compiled;
  }
  if (compiled == 0) {
    GTEST_SKIP() << "neither qcc nor fteqcc is available";
  }
}

TEST(CompileProject, GivesTheCompilersStatusAndMessagesOnAnError) {
  const std::vector<tests::SourceFile> broken = {
      {"main.qc", "void() main =\n{\n\tcounter = ;\n};\n"},
  };
  int compiled = 0;
  for (Compiler compiler : Compilers) {
    SCOPED_TRACE(tests::compiler_name(compiler));
    if (tests::compiler_path(compiler).empty()) {
      continue;
    }
    const tests::ScratchDirectory scratch = tests::make_scratch_directory();
    const tests::CompileResult result = tests::compile_project(compiler, scratch.path, broken);
    EXPECT_EQ(1, result.status);
    EXPECT_NE(std::string::npos, result.console.find("main.qc:3:")) << result.console;
    EXPECT_FALSE(fs::exists(result.progs_path));
    ++compiled;
  }
  if (compiled == 0) {
    GTEST_SKIP() << "neither qcc nor fteqcc is available";
  }
}

TEST(CompileProject, AMissingCompilerIsReportedAndNotRun) {
  const char* path = std::getenv("PATH");
  const std::string saved = path != nullptr ? path : "";
  ::setenv("PATH", "", 1);
  const std::string found = tests::compiler_path(Compiler::fteqcc);
  const tests::ScratchDirectory scratch = tests::make_scratch_directory();
  const tests::CompileResult result =
      tests::compile_project(Compiler::fteqcc, scratch.path, kTinyProgram);
  ::setenv("PATH", saved.c_str(), 1);
  EXPECT_EQ("", found);
  EXPECT_EQ(-1, result.status);
  EXPECT_EQ("fteqcc is not available", result.console);
  EXPECT_FALSE(fs::exists(scratch.path + "/progs.dat"));
}

TEST(CopySource, GivesAWritableCopyWhoseOutputLandsBesideIt) {
  const std::string v101 = tests::v101_source_dir();
  if (v101.empty()) {
    GTEST_SKIP() << "../shared/qc/v101 is absent";
  }
  const tests::ScratchDirectory scratch = tests::make_scratch_directory();
  const std::string source = tests::copy_source(v101, scratch.path, "src");
  EXPECT_EQ(scratch.path + "/src", source);
  int files = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(v101)) {
    SCOPED_TRACE(entry.path().filename().string());
    const std::string copy = source + "/" + entry.path().filename().string();
    EXPECT_EQ(fs::file_size(entry.path()), fs::file_size(copy));
    EXPECT_EQ(0, ::access(copy.c_str(), W_OK));
    ++files;
  }
  EXPECT_GT(files, 30);
  if (tests::compiler_path(Compiler::qcc).empty()) {
    return;
  }
  // v101's progs.src names ../progs.dat.
  const tests::CompileResult result = tests::compile(Compiler::qcc, source);
  EXPECT_EQ(0, result.status) << result.console;
  EXPECT_EQ(scratch.path + "/progs.dat", result.progs_path);
  EXPECT_TRUE(fs::is_regular_file(result.progs_path));
}

}  // namespace
