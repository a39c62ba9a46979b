// The compilable engine on the real programs of the corpus: every program, version 7 too, is
// written whole and compiles again with fteqcc (and with qcc where it fits qcc).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/compilable_runs.h"
#include "tests/compilers.h"
#include "tests/run_harness.h"

namespace {

namespace fs = std::filesystem;
using tests::Compiler;

struct CorpusCase {
  const char* file;
  bool qcc;  // the output compiles with qcc too
};

// qcc cannot read the rest: Slipgate's and copper's outputs overflow it, the ending fix
// keeps a function value in a local, which qcc cannot declare, and satcoop2 is FTE's
// version 7 (its first file asks fteqcc for that target).
const CorpusCase CorpusCases[] = {
    {"FortressOne__fo-progs__ssqc_qwprogs.dat", true},
    {"Naievil__nZP-qc__progs.dat", true},
    {"RobSis__quake-portal-gun__progs.dat", true},
    {"SatGNU__satcoop2__progs.dat", false},
    {"c0burn__Slipgate__progs.dat", false},
    {"danwdart__quake-nodogs__progs.dat", true},
    {"fabiolimamp__copper__progs.dat", false},
    {"mattbearman__quake-ending-fix__progs.dat", false},
};

fs::path corpus_dir() { return fs::absolute(PROGS2QC_CORPUS_DIR).lexically_normal(); }

// numfunctions from the file's header (the tenth field).
int32_t function_count(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  uint8_t header[40] = {};
  in.read(reinterpret_cast<char*>(header), sizeof header);
  return static_cast<int32_t>(header[36] | header[37] << 8 | header[38] << 16 |
                              static_cast<uint32_t>(header[39]) << 24);
}

TEST(CompilableCorpus, EveryProgramHasACase) {
  if (!fs::is_directory(corpus_dir())) {
    GTEST_SKIP() << "no corpus at " << corpus_dir();
  }
  std::set<std::string> present;
  for (const fs::directory_entry& entry : fs::directory_iterator(corpus_dir())) {
    if (entry.path().extension() == ".dat") {
      present.insert(entry.path().filename().string());
    }
  }
  std::set<std::string> listed;
  for (const CorpusCase& c : CorpusCases) {
    listed.insert(c.file);
  }
  EXPECT_EQ(present, listed);
}

class CompilableCorpusRun : public testing::TestWithParam<CorpusCase> {};

TEST_P(CompilableCorpusRun, IsWrittenWholeAndCompilesAgain) {
  const CorpusCase& c = GetParam();
  if (!fs::is_directory(corpus_dir())) {
    GTEST_SKIP() << "no corpus at " << corpus_dir();
  }
  const fs::path input = corpus_dir() / c.file;
  ASSERT_TRUE(fs::is_regular_file(input)) << input;
  const tests::RunResult run = tests::run_in_temp_dir({"progs2qc", "-c", input.string()}, nullptr);
  const std::vector<std::string> console = tests::split_lines(run.console);
  ASSERT_FALSE(console.empty());

  ASSERT_EQ(0, run.status) << run.console;
  EXPECT_EQ("", run.errors);

  // Every function record is written; the closing line counts them.
  const std::regex closing(
      R"((\d+) functions written in (\d+) files, \d+ as state loops, \d+ strings only fteqcc can read)");
  std::vector<std::string> announced;
  int closing_lines = 0;
  for (const std::string& line : console) {
    const std::string prefix = "writing ";
    if (line.rfind(prefix, 0) == 0 && line.size() > prefix.size() + 3) {
      announced.push_back(line.substr(prefix.size(), line.size() - prefix.size() - 3));
    }
    std::smatch counts;
    if (std::regex_match(line, counts, closing)) {
      EXPECT_EQ(std::to_string(function_count(input) - 1), counts[1].str());
      EXPECT_EQ(std::to_string(announced.size()), counts[2].str());
      ++closing_lines;
    }
  }
  EXPECT_EQ(1, closing_lines) << run.console;

  // progs.src names the output, then every file written, in the order written.
  auto list = run.files.find("progs.src");
  ASSERT_NE(list, run.files.end());
  const std::vector<std::string> lines = tests::split_lines(list->second);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ("./progs.dat", lines[0]);
  EXPECT_EQ(announced, std::vector<std::string>(lines.begin() + 2, lines.end()));
  EXPECT_EQ(announced.size() + 1, run.files.size());

  for (Compiler compiler : {Compiler::fteqcc, Compiler::qcc}) {
    if (tests::compiler_path(compiler).empty() || (compiler == Compiler::qcc && !c.qcc)) {
      continue;
    }
    SCOPED_TRACE(tests::compiler_name(compiler));
    const tests::ScratchDirectory scratch = tests::make_scratch_directory();
    const tests::CompileResult rebuilt = tests::compile_run(compiler, run, scratch.path, "src");
    EXPECT_EQ(0, rebuilt.status) << rebuilt.console;
  }
}

std::string case_name(const testing::TestParamInfo<CorpusCase>& info) {
  std::string name = info.param.file;
  for (char& ch : name) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) {
      ch = '_';
    }
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Programs, CompilableCorpusRun, testing::ValuesIn(CorpusCases), case_name);

}  // namespace
