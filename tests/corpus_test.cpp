// Whole runs over the real programs of the corpus: each ends the way it is recorded to end.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/run_harness.h"

namespace {

namespace fs = std::filesystem;

struct CorpusCase {
  const char* file;
  int status;
  const char* last_line;  // the last console line of the run
};

// Programs from compilers that keep temporaries in cells outside a function's own area
// end at the first read of such a cell.
const CorpusCase CorpusCases[] = {
    {"FortressOne__fo-progs__ssqc_qwprogs.dat", 1, "Fatal Error - 32 not defined."},
    {"Naievil__nZP-qc__progs.dat", 0, "Warning: Indentation structure corrupt"},
    {"RobSis__quake-portal-gun__progs.dat", 1, "Fatal Error - Index (-15) out of bounds."},
    {"SatGNU__satcoop2__progs.dat", 1, "Fatal Error - 1 not defined."},
    {"c0burn__Slipgate__progs.dat", 1, "Fatal Error - 30 not defined."},
    // id's own compiler: the whole program is written.
    {"danwdart__quake-nodogs__progs.dat", 0, "decompiling oldone.qc..."},
    {"fabiolimamp__copper__progs.dat", 1, "Fatal Error - 29 not defined."},
    {"mattbearman__quake-ending-fix__progs.dat", 1, "Fatal Error - Index (4107) out of bounds."},
};

// Every message with which a run may end (status 1), as its last console line.
const char* const FatalLinePatterns[] = {
    R"(Fatal Error - -?\d+ not defined\.)",
    R"(Fatal Error - Index \(-?\d+\) out of bounds\.)",
    R"(Found a negative IFNOT jump\.)",
    R"(Error - Can't determine frame number\.)",
    R"(Fatal Error - Can't determine frame number\.)",
    R"(Fatal Error: Could not locate a field named ".*")",
    R"(Fatal Error - too many functions\.)",
    R"(Fatal Error - too many source files\.)",
    R"(Fatal Error - Could not open ".*" for output\.)",
    R"(Fatal Error - Could not close ".*" properly\.)",
    R"(File read failure)",
};

bool is_fatal_line(const std::string& line) {
  for (const char* pattern : FatalLinePatterns) {
    if (std::regex_match(line, std::regex(pattern))) {
      return true;
    }
  }
  return false;
}

fs::path corpus_dir() { return fs::absolute(PROGS2QC_CORPUS_DIR).lexically_normal(); }

TEST(Corpus, EveryProgramHasARecordedOutcome) {
  if (!fs::is_directory(corpus_dir())) {
    GTEST_SKIP() << "no corpus at " << corpus_dir();
  }
  std::set<std::string> present;
  for (const fs::directory_entry& entry : fs::directory_iterator(corpus_dir())) {
    const std::string name = entry.path().filename().string();
    if (name != "SOURCES.md") {
      present.insert(name);
    }
  }
  std::set<std::string> recorded;
  for (const CorpusCase& c : CorpusCases) {
    recorded.insert(c.file);
  }
  EXPECT_EQ(present, recorded);
}

class CorpusRun : public testing::TestWithParam<CorpusCase> {};

TEST_P(CorpusRun, EndsWithItsRecordedOutcome) {
  const CorpusCase& c = GetParam();
  const fs::path input = corpus_dir() / c.file;
  if (!fs::is_directory(corpus_dir())) {
    GTEST_SKIP() << "no corpus at " << corpus_dir();
  }
  ASSERT_TRUE(fs::is_regular_file(input)) << input;

  const tests::RunResult result = tests::run_in_temp_dir({"progs2qc", input.string()}, nullptr);
  const std::vector<std::string> console = tests::split_lines(result.console);
  ASSERT_FALSE(console.empty());
  EXPECT_EQ(c.status, result.status);
  EXPECT_EQ(c.last_line, console.back());
  EXPECT_EQ(result.status == 1, is_fatal_line(console.back())) << console.back();

  // The project list names every created .qc file once, in the order announced.
  auto list = result.files.find("progs.src");
  ASSERT_NE(list, result.files.end());
  const std::vector<std::string> lines = tests::split_lines(list->second);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ("./progs.dat", lines[0]);
  EXPECT_EQ("", lines[1]);
  const std::vector<std::string> listed(lines.begin() + 2, lines.end());
  std::vector<std::string> announced;
  for (const std::string& line : console) {
    const std::string prefix = "decompiling ";
    const std::string suffix = "...";
    if (line.size() > prefix.size() + suffix.size() &&
        line.compare(0, prefix.size(), prefix) == 0 &&
        line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0) {
      announced.push_back(line.substr(prefix.size(), line.size() - prefix.size() - suffix.size()));
    }
  }
  EXPECT_EQ(listed, announced);
  std::set<std::string> written;
  for (const auto& [name, bytes] : result.files) {
    if (name != "progs.src") {
      written.insert(name);
    }
  }
  EXPECT_EQ(listed.size(), written.size());
  EXPECT_EQ(written, std::set<std::string>(listed.begin(), listed.end()));
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

INSTANTIATE_TEST_SUITE_P(Programs, CorpusRun, testing::ValuesIn(CorpusCases), case_name);

}  // namespace
