// Tests for the program comparison on small built programs.
#include "compare/progs_compare.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/console.h"
#include "tests/compilers.h"
#include "tests/progs_builder.h"

namespace {

using compare::CodeVerdict;
using compare::Comparison;
using compare::FunctionVerdict;

// Opcode numbers of the format, spelled here so the programs read like the code they are.
constexpr uint16_t kDone = 0, kMulF = 1, kAddF = 6, kSubF = 8, kStoreF = 31, kStoreV = 32,
                   kStoreS = 33, kCall1 = 52;
constexpr uint16_t kFloat = 2, kVector = 3, kField = 5, kFunction = 6;

// Cells of the base program.
constexpr int kCounter = 28, kFactor = 29, kHello = 30, kTemp1 = 31, kTemp2 = 32, kHelper = 33,
              kHealth = 34;

// void() helper = {};
// void() main = { counter = counter * 3.5 + counter; helper("hello"); };
tests::ProgsBuilder base_program() {
  tests::ProgsBuilder b = tests::new_program();
  b.add_globaldef(kFloat, kCounter, "counter");
  b.set_float(kCounter, 2);
  b.add_immediate_float(kFactor, 3.5f);
  b.add_immediate_string(kHello, "hello");
  b.set_int(kTemp2, 0);
  b.add_globaldef(kFunction, kHelper, "helper");
  b.set_int(kHelper, 2);
  b.add_globaldef(kField, kHealth, "health");
  b.set_int(kHealth, 0);
  b.add_fielddef(kFloat, 0, "health");
  const int main_start = b.add_statement(kMulF, kCounter, kFactor, kTemp1);
  b.add_statement(kAddF, kTemp1, kCounter, kTemp2);
  b.add_statement(kStoreF, kTemp2, kCounter);
  b.add_statement(kStoreS, kHello, 4);
  b.add_statement(kCall1, kHelper);
  b.add_statement(kDone);
  b.add_function(main_start, 35, 0, "main");
  const int helper_start = b.add_statement(kDone);
  b.add_function(helper_start, 35, 0, "helper");
  return b;
}

Comparison compare_built(const tests::ProgsBuilder& a, const tests::ProgsBuilder& b) {
  const tests::ScratchDirectory directory = tests::make_scratch_directory();
  const std::string path_a = directory.path + "/a.dat", path_b = directory.path + "/b.dat";
  a.write(path_a);
  b.write(path_b);
  Comparison result = compare::compare_program_files(path_a, path_b);
  // The paths differ from run to run; the rest of the report does not.
  for (const std::string& path : {path_a, path_b}) {
    for (size_t at; (at = result.report.find(path)) != std::string::npos;) {
      result.report.replace(at, path.size(), path == path_a ? "a.dat" : "b.dat");
    }
  }
  return result;
}

const FunctionVerdict* find_verdict(const Comparison& result, const std::string& name) {
  for (const FunctionVerdict& verdict : result.functions) {
    if (verdict.name == name) {
      return &verdict;
    }
  }
  return nullptr;
}

void move_cell(tests::ProgsBuilder& b, int from, int to) {
  b.set_int(to, static_cast<int32_t>(b.globals[from]));
  b.set_int(from, 0);
  for (tests::RawDef& def : b.globaldefs) {
    if (def.ofs == from) {
      def.ofs = static_cast<uint16_t>(to);
    }
  }
  for (tests::RawStatement& statement : b.statements) {
    for (int32_t* operand : {&statement.a, &statement.b, &statement.c}) {
      if (*operand == from) {
        *operand = to;
      }
    }
  }
}

struct Case {
  const char* name;
  std::function<void(tests::ProgsBuilder&)> change;
  int status;
  CodeVerdict main_verdict;
  int first_difference;
  std::vector<std::string> report_lines;  // lines the report must contain
};

const std::vector<Case>& cases() {
  static const std::vector<Case> table = {
      {"the same program",
       [](tests::ProgsBuilder&) {},
       0,
       CodeVerdict::identical,
       -1,
       {"The files are identical byte for byte."}},
      {"one constant changed",
       [](tests::ProgsBuilder& b) { b.set_float(kFactor, 4.5f); },
       1,
       CodeVerdict::different,
       0,
       {"  main (record 1): different", "    first difference at instruction 0 of 6 / 6",
        "    A: MUL_F counter, 3.5, @31", "    B: MUL_F counter, 4.5, @31"}},
      {"one instruction changed",
       [](tests::ProgsBuilder& b) { b.statements[2].op = kSubF; },
       1,
       CodeVerdict::different,
       1,
       {"    A: ADD_F @31, counter, @32", "    B: SUB_F @31, counter, @32"}},
      {"one function added",
       [](tests::ProgsBuilder& b) { b.add_function(b.add_statement(kDone), 35, 0, "extra"); },
       1,
       CodeVerdict::identical,
       -1,
       {"  extra: only in B (record 3)", "header:", "  numstatements: 8 / 9",
        "  numfunctions: 3 / 4"}},
      {"temporaries at other offsets",
       [](tests::ProgsBuilder& b) {
         move_cell(b, kTemp1, 40);
         move_cell(b, kTemp2, 41);
       },
       1,
       CodeVerdict::renumbered,
       -1,
       {"  main (record 1): identical up to renumbering"}},
      {"an immediate constant at another offset",
       [](tests::ProgsBuilder& b) { move_cell(b, kFactor, 42); },
       1,
       CodeVerdict::renumbered,
       -1,
       {"  main (record 1): identical up to renumbering"}},
      {"an anonymous constant in the function's locals",
       [](tests::ProgsBuilder& b) {
         b.globaldefs.erase(b.globaldefs.begin() + 2);
         move_cell(b, kFactor, 36);
         b.functions[1].locals = 3;
       },
       1,
       CodeVerdict::renumbered,
       -1,
       {"    locals 0 / 3"}},
      {"the same text at another string offset",
       [](tests::ProgsBuilder& b) { b.set_int(kHello, b.add_string("hello")); },
       1,
       CodeVerdict::identical,
       -1,
       {"  numstrings: 84 / 90"}},
      {"another text",
       [](tests::ProgsBuilder& b) { b.set_int(kHello, b.add_string("bye")); },
       1,
       CodeVerdict::different,
       3,
       {"    A: STORE_S \"hello\", PARM0", "    B: STORE_S \"bye\", PARM0"}},
      {"two temporaries folded into one cell",
       [](tests::ProgsBuilder& b) {
         b.statements[2].c = kTemp1;
         b.statements[3].a = kTemp1;
       },
       1,
       CodeVerdict::different,
       1,
       {"    B: ADD_F @31, counter, @31"}},
      {"another named global read",
       [](tests::ProgsBuilder& b) {
         b.add_globaldef(kFloat, 43, "limit");
         b.statements[2].b = 43;
       },
       1,
       CodeVerdict::different,
       1,
       {"    B: ADD_F @31, limit, @32", "named globals:", "  limit: only in B"}},
      {"a named global's value",
       [](tests::ProgsBuilder& b) { b.set_float(kCounter, 7); },
       1,
       CodeVerdict::identical,
       -1,
       {"named globals:", "  counter: value 2 / 7"}},
      {"the called function renamed",
       [](tests::ProgsBuilder& b) { b.functions[2].s_name = b.add_string("assist"); },
       1,
       CodeVerdict::identical,
       -1,
       {"  helper: value helper / assist", "  helper: only in A (record 2)",
        "  assist: only in B (record 2)"}},
      {"a field at another offset",
       [](tests::ProgsBuilder& b) {
         b.fielddefs[1].ofs = 1;
         b.set_int(kHealth, 1);
       },
       1,
       CodeVerdict::identical,
       -1,
       {"fields:", "  health: offset 0 / 1"}},
      {"another crc",
       [](tests::ProgsBuilder& b) { b.crc = 1; },
       1,
       CodeVerdict::identical,
       -1,
       {"header:", "  crc: 5927 / 1"}},
      {"another source file name",
       [](tests::ProgsBuilder& b) { b.strings[b.functions[1].s_file + 1] = 'a'; },
       1,
       CodeVerdict::identical,
       -1,
       {"No difference in the sections compared: the bytes differ elsewhere (string area, "
        "order of definitions, or cells no code reads by name)."}},
      {"other locals",
       [](tests::ProgsBuilder& b) { b.functions[1].locals = 2; },
       1,
       CodeVerdict::identical,
       -1,
       {"  main (record 1): identical", "    locals 0 / 2"}},
      {"another parameter size",
       [](tests::ProgsBuilder& b) {
         b.functions[1].numparms = 1;
         b.functions[1].parm_size[0] = 3;
       },
       1,
       CodeVerdict::identical,
       -1,
       {"    numparms 0 / 1", "    parm_size 0 0 0 0 0 0 0 0 / 3 0 0 0 0 0 0 0"}},
  };
  return table;
}

bool contains_line(const std::string& text, const std::string& line) {
  return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

TEST(CompareProgramFiles, TellsHowEachChangeShowsInVerdictAndReport) {
  for (const Case& c : cases()) {
    SCOPED_TRACE(c.name);
    tests::ProgsBuilder changed = base_program();
    c.change(changed);
    const Comparison result = compare_built(base_program(), changed);
    EXPECT_EQ(c.status, result.status);
    EXPECT_EQ(c.status == 0, result.bytes_identical);
    const FunctionVerdict* main = find_verdict(result, "main");
    ASSERT_NE(nullptr, main);
    EXPECT_EQ(c.main_verdict, main->code) << compare::verdict_text(main->code);
    EXPECT_EQ(c.first_difference, main->first_difference);
    for (const std::string& line : c.report_lines) {
      EXPECT_TRUE(contains_line(result.report, line)) << line << "\nin:\n" << result.report;
    }
  }
}

TEST(CompareProgramFiles, ConstantsMatchByValueWhateverTheirNames) {
  constexpr uint16_t kSaved = 1 << 15;
  struct NameCase {
    const char* name;
    const char* name_a;
    const char* name_b;
    uint16_t type;  // of both definitions
    float value_b;
    CodeVerdict verdict;
  };
  constexpr NameCase NameCases[] = {
      {"a literal and a named constant", "IMMEDIATE", "factor", kFloat, 3.5f,
       CodeVerdict::identical},
      {"two names of one value", "factor", "scale", kFloat, 3.5f, CodeVerdict::identical},
      {"a name stripped", "factor", "", kFloat, 3.5f, CodeVerdict::identical},
      {"two names of other values", "factor", "scale", kFloat, 4.5f, CodeVerdict::different},
      {"saved globals of other names", "factor", "scale", kFloat | kSaved, 3.5f,
       CodeVerdict::identical},
      {"saved globals without a value", "factor", "scale", kFloat | kSaved, 0,
       CodeVerdict::different},
  };
  for (const NameCase& c : NameCases) {
    SCOPED_TRACE(c.name);
    tests::ProgsBuilder a = base_program(), b = base_program();
    a.globaldefs[2].s_name = a.add_string(c.name_a);
    a.globaldefs[2].type = c.type;
    b.globaldefs[2].s_name = b.add_string(c.name_b);
    b.globaldefs[2].type = c.type;
    b.set_float(kFactor, c.value_b);
    if (c.value_b == 0) {
      a.set_float(kFactor, 0);
    }
    const Comparison result = compare_built(a, b);
    const FunctionVerdict* main = find_verdict(result, "main");
    ASSERT_NE(nullptr, main);
    EXPECT_EQ(c.verdict, main->code) << compare::verdict_text(main->code);
  }
}

// void(float x) show = { print(x); print(x); };  with the argument copied by STORE_V.
tests::ProgsBuilder parameter_program(int second_read) {
  tests::ProgsBuilder b = tests::new_program();
  b.add_function(-1, 0, 0, "print", "test.qc", {1});
  b.add_function_global(28, "print", 1);
  b.set_float(29, 20);  // an anonymous constant, with another one after it
  b.set_float(30, 1);
  const int start = b.add_statement(kStoreV, 31, 4);
  b.add_statement(kCall1, 28);
  b.add_statement(kStoreV, second_read, 4);
  b.add_statement(kCall1, 28);
  b.add_statement(kStoreV, 29, 4);
  b.add_statement(kCall1, 28);
  b.add_statement(kDone);
  b.add_function(start, 31, 1, "show", "test.qc", {1});
  b.set_int(32, 0);
  return b;
}

TEST(CompareProgramFiles, ParametersAndConstantsKeepTheirRoles) {
  const tests::ProgsBuilder original = parameter_program(31);
  struct RoleCase {
    const char* name;
    std::function<void(tests::ProgsBuilder&)> change;
    CodeVerdict verdict;
  };
  const RoleCase RoleCases[] = {
      {"the parameter read again through another zero cell",
       [](tests::ProgsBuilder& b) { b.statements[3].a = 32; }, CodeVerdict::different},
      {"a one-cell argument copied by STORE_V, other cells after it",
       [](tests::ProgsBuilder& b) {
         b.set_float(40, 20);
         b.statements[5].a = 40;
       },
       CodeVerdict::renumbered},
      {"a number left in an operand the instruction does not use",
       [](tests::ProgsBuilder& b) { b.statements[2].b = 29; }, CodeVerdict::renumbered},
      {"an anonymous constant of another value",
       [](tests::ProgsBuilder& b) { b.set_float(29, 21); }, CodeVerdict::different},
  };
  for (const RoleCase& c : RoleCases) {
    SCOPED_TRACE(c.name);
    tests::ProgsBuilder changed = original;
    c.change(changed);
    const Comparison result = compare_built(original, changed);
    const FunctionVerdict* show = find_verdict(result, "show");
    ASSERT_NE(nullptr, show);
    EXPECT_EQ(c.verdict, show->code) << compare::verdict_text(show->code);
  }
}

TEST(CompareProgramFiles, AVectorNamedOnlyByItsComponentsKeepsItsName) {
  tests::ProgsBuilder with_vector = tests::new_program();
  with_vector.add_function(-1, 0, 0, "print", "test.qc", {3});
  with_vector.add_function_global(28, "print", 1);
  with_vector.add_globaldef(kVector, 29, "dir");
  with_vector.set_vector(29, 1, 2, 3);
  tests::ProgsBuilder components = with_vector;
  components.globaldefs.pop_back();
  for (const char* name : {"dir_x", "dir_y", "dir_z"}) {
    components.add_globaldef(kFloat, static_cast<uint16_t>(29 + (name[4] - 'x')), name);
  }
  for (tests::ProgsBuilder* b : {&with_vector, &components}) {
    const int start = b->add_statement(kStoreV, 29, 4);
    b->add_statement(kCall1, 28);
    b->add_statement(kDone);
    b->add_function(start, 32, 0, "show");
  }
  const Comparison result = compare_built(with_vector, components);
  const FunctionVerdict* show = find_verdict(result, "show");
  ASSERT_NE(nullptr, show);
  EXPECT_EQ(CodeVerdict::identical, show->code) << result.report;
  EXPECT_TRUE(contains_line(result.report, "  dir: only in A")) << result.report;
}

TEST(CompareProgramFiles, ReportsOneChangedConstantInFull) {
  tests::ProgsBuilder changed = base_program();
  changed.set_float(kFactor, 4.5f);
  const Comparison result = compare_built(base_program(), changed);
  EXPECT_EQ(
      "A: a.dat (520 bytes)\n"
      "B: b.dat (520 bytes)\n"
      "The files differ.\n"
      "functions:\n"
      "  main (record 1): different\n"
      "    first difference at instruction 0 of 6 / 6\n"
      "    A: MUL_F counter, 3.5, @31\n"
      "    B: MUL_F counter, 4.5, @31\n"
      "functions: 2 compared, 1 identical, 0 identical up to renumbering, 1 different, "
      "0 only in A, 0 only in B; 0 with other numparms, parm_size or locals\n",
      result.report);
}

TEST(CompareProgramFiles, CountsEveryFunctionInTheSummary) {
  tests::ProgsBuilder changed = base_program();
  move_cell(changed, kTemp1, 40);                                      // main renumbered
  changed.functions[2].s_name = changed.add_string("assist");          // helper only in A
  changed.add_function(changed.add_statement(kDone), 35, 0, "extra");  // only in B
  const Comparison result = compare_built(base_program(), changed);
  EXPECT_EQ(1, result.counts.compared);
  EXPECT_EQ(0, result.counts.identical);
  EXPECT_EQ(1, result.counts.renumbered);
  EXPECT_EQ(0, result.counts.different);
  EXPECT_EQ(1, result.counts.only_in_a);
  EXPECT_EQ(2, result.counts.only_in_b);
  ASSERT_EQ(4u, result.functions.size());
  EXPECT_EQ(CodeVerdict::only_in_a, result.functions[1].code);
  EXPECT_EQ(2, result.functions[1].index_a);
  EXPECT_EQ(-1, result.functions[1].index_b);
  EXPECT_TRUE(contains_line(result.report, compare::summary_line(result.counts)));
}

TEST(CompareProgramFiles, PairsFunctionsByNameWhateverTheirRecordOrder) {
  tests::ProgsBuilder swapped = base_program();
  std::swap(swapped.functions[1], swapped.functions[2]);
  swapped.set_int(kHelper, 1);
  const Comparison result = compare_built(base_program(), swapped);
  const FunctionVerdict* main = find_verdict(result, "main");
  ASSERT_NE(nullptr, main);
  EXPECT_EQ(1, main->index_a);
  EXPECT_EQ(2, main->index_b);
  EXPECT_EQ(CodeVerdict::identical, main->code);
  EXPECT_EQ(0, result.global_differences);  // helper still holds the function named helper
  EXPECT_EQ(2, result.counts.identical);
}

TEST(CompareProgramFiles, UnnamedBuiltinsPairByNumber) {
  tests::ProgsBuilder named = base_program();
  named.add_function(-5, 0, 0, "spawn");
  tests::ProgsBuilder stripped = base_program();
  stripped.add_function(-5, 0, 0, "");
  const Comparison result = compare_built(named, stripped);
  EXPECT_EQ(3, result.counts.compared);
  EXPECT_EQ(3, result.counts.identical);
  EXPECT_EQ(0, result.counts.only_in_a + result.counts.only_in_b);
}

TEST(CompareProgramFiles, AFileThatCannotBeReadGivesStatusTwo) {
  const tests::ScratchDirectory directory = tests::make_scratch_directory();
  const std::string good = directory.path + "/good.dat", missing = directory.path + "/none.dat";
  base_program().write(good);
  tests::ProgsBuilder damaged = base_program();
  damaged.header_override[tests::kNumStatements] = 1000;
  const std::string bad = directory.path + "/bad.dat";
  damaged.write(bad);
  for (const std::string& path : {missing, bad}) {
    SCOPED_TRACE(path);
    const Comparison result = compare::compare_program_files(good, path);
    EXPECT_EQ(2, result.status);
    EXPECT_EQ(0, result.report.find("cannot read " + path + ":\n************ ERROR"))
        << result.report;
  }
}

TEST(RunProgsCompare, PrintsTheReportAndReturnsItsStatus) {
  const tests::ScratchDirectory directory = tests::make_scratch_directory();
  const std::string a = directory.path + "/a.dat", b = directory.path + "/b.dat";
  base_program().write(a);
  tests::ProgsBuilder changed = base_program();
  changed.set_float(kFactor, 4.5f);
  changed.write(b);
  struct Run {
    std::vector<std::string> args;
    int status;
    std::string first_line;
  };
  const Run runs[] = {
      {{"progs_compare", a, a}, 0, "A: " + a + " (520 bytes)"},
      {{"progs_compare", a, b}, 1, "A: " + a + " (520 bytes)"},
      {{"progs_compare", a}, 2, "usage: progs_compare A.dat B.dat"},
      {{"progs_compare", a, b, b}, 2, "usage: progs_compare A.dat B.dat"},
  };
  for (const Run& run : runs) {
    SCOPED_TRACE(run.args.size());
    std::vector<const char*> argv;
    for (const std::string& arg : run.args) {
      argv.push_back(arg.c_str());
    }
    std::string console;
    support::console.capture = &console;
    const int status = compare::run_progs_compare(static_cast<int>(argv.size()), argv.data());
    support::console.capture = nullptr;
    EXPECT_EQ(run.status, status);
    EXPECT_EQ(0, console.find(run.first_line + "\n")) << console;
  }
}

}  // namespace
