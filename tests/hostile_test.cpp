// Hostile inputs: damaged, inconsistent and crafted progs.dat files, one per fault class.
// Every run must complete or end with its message and status 1, write only into the
// current directory, never through a link, and leave its input as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "image/opcodes.h"
#include "image/program_index.h"
#include "tests/progs_builder.h"
#include "tests/run_harness.h"

namespace {

using tests::ProgsBuilder;
using tests::RunResult;
using Files = std::map<std::string, std::string>;

constexpr const char* kReadFailure = "************ ERROR ***********\nFile read failure\n";
constexpr const char* kListHeader = "./progs.dat\n\n";
constexpr const char* kIndentWarning = "Warning: Indentation structure corrupt\n";
constexpr int kX = 40;  // two float globals, x and y, beyond every walk of the globals
constexpr int kY = 41;

int32_t header_field(const std::vector<uint8_t>& bytes, int field) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    value |= static_cast<uint32_t>(bytes[4 * field + i]) << (8 * i);
  }
  return static_cast<int32_t>(value);
}

// The twelve summary lines for the file the builder writes.
std::string summary(const ProgsBuilder& program, const std::string& path = "progs.dat") {
  const std::vector<uint8_t> bytes = program.bytes();
  char text[2048];
  std::snprintf(text, sizeof text,
                "Decompiling...\nRead Data from %s:\nTotal Size is %6i\nVersion Code is %i\n"
                "CRC is %i\n%6i strofs\n%6i numstatements\n%6i numfunctions\n"
                "%6i numglobaldefs\n%6i numfielddefs\n%6i numpr_globals\n"
                "----------------------\n",
                path.c_str(), static_cast<int>(bytes.size()), header_field(bytes, tests::kVersion),
                header_field(bytes, tests::kCrc), header_field(bytes, tests::kNumStrings),
                header_field(bytes, tests::kNumStatements),
                header_field(bytes, tests::kNumFunctions),
                header_field(bytes, tests::kNumGlobaldefs),
                header_field(bytes, tests::kNumFielddefs), header_field(bytes, tests::kNumGlobals));
  return text;
}

// A whole run on the program as "progs.dat"; the input must come through unchanged.
RunResult run(const ProgsBuilder& program) {
  RunResult result = tests::run_program(program);
  EXPECT_EQ(0u, result.files.count("progs.dat")) << "the input was changed";
  return result;
}

// The files of a run made in "inner", a directory one level down, that changed outside it.
Files outside_inner(Files files) {
  for (auto entry = files.begin(); entry != files.end();) {
    entry = entry->first.rfind("inner/", 0) == 0 ? files.erase(entry) : std::next(entry);
  }
  return files;
}

// The same run one directory further down: what changed in the directory above it.
Files changed_one_level_up(const ProgsBuilder& program) {
  return outside_inner(tests::run_in_temp_dir({"progs2qc"}, [&program] {
                         ASSERT_EQ(0, ::mkdir("inner", 0755));
                         ASSERT_EQ(0, ::chdir("inner"));
                         program.write("progs.dat");
                       }).files);
}

// A run on raw bytes as "progs.dat".
RunResult run_bytes(const std::vector<uint8_t>& bytes) {
  const std::string text(bytes.begin(), bytes.end());
  RunResult result =
      tests::run_in_temp_dir({"progs2qc"}, [&text] { tests::write_file("progs.dat", text); });
  EXPECT_EQ(0u, result.files.count("progs.dat")) << "the input was changed";
  return result;
}

// The null records and the two globals x and y.
ProgsBuilder base_program() {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(image::ev_float, kX, "x");
  b.add_globaldef(image::ev_float, kY, "y");
  return b;
}

// A defined function as the emitter writes it when no local and no global comes first.
std::string function_text(const std::string& signature, const std::string& body) {
  return "\n" + signature + " =\n{\n" + body + "};\n";
}

Files project(const Files& sources, const std::vector<std::string>& listed) {
  Files files = sources;
  std::string list = kListHeader;
  for (const std::string& name : listed) {
    list += name + "\n";
  }
  files["progs.src"] = list;
  return files;
}

Files one_file(const std::string& name, const std::string& text) {
  return project({{name, text}}, {name});
}

// A program whose function 1 is the builtin makevectors named "f" in the given file.
ProgsBuilder builtin_in(const std::string& file) {
  ProgsBuilder b = tests::new_program();
  b.add_function(-1, 28, 0, "f", file);
  return b;
}

constexpr const char* kBuiltinLine = "void (vector ang) f = #1; \n";

std::string could_not_open(const std::string& name) {
  return "Fatal Error - Could not open \"" + name + "\" for output.\n";
}

struct Section {
  const char* name;
  tests::HeaderField position;
  tests::HeaderField count;
  int element_size;
};

constexpr Section kSections[] = {
    {"strings", tests::kOfsStrings, tests::kNumStrings, 1},
    {"statements", tests::kOfsStatements, tests::kNumStatements, 8},
    {"functions", tests::kOfsFunctions, tests::kNumFunctions, 36},
    {"global definitions", tests::kOfsGlobaldefs, tests::kNumGlobaldefs, 8},
    {"field definitions", tests::kOfsFielddefs, tests::kNumFielddefs, 8},
    {"globals", tests::kOfsGlobals, tests::kNumGlobals, 4},
};

TEST(HostileLoader, TruncatedHeaderIsAReadFailure) {
  const std::vector<uint8_t> whole = tests::new_program().bytes();
  for (size_t length : {size_t{0}, size_t{1}, size_t{59}}) {
    SCOPED_TRACE(length);
    RunResult result = run_bytes(std::vector<uint8_t>(whole.begin(), whole.begin() + length));
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(kReadFailure, result.console);
    EXPECT_TRUE(result.files.empty());
  }
}

TEST(HostileLoader, FileEndingOneByteShortOfASectionIsAReadFailure) {
  const std::vector<uint8_t> whole = tests::new_program().bytes();
  for (const Section& section : kSections) {
    SCOPED_TRACE(section.name);
    const int64_t end = int64_t{header_field(whole, section.position)} +
                        int64_t{header_field(whole, section.count)} * section.element_size;
    RunResult result = run_bytes(std::vector<uint8_t>(whole.begin(), whole.begin() + end - 1));
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(kReadFailure, result.console);
    EXPECT_TRUE(result.files.empty());
  }
}

TEST(HostileLoader, BadCountsAndPositionsAreReadFailures) {
  const int32_t size = static_cast<int32_t>(tests::new_program().bytes().size());
  struct Case {
    const char* name;
    bool set_count;  // else the position
    int32_t value;
  };
  const Case cases[] = {
      {"count -1", true, -1},
      {"count INT_MIN", true, INT_MIN},
      {"count INT_MAX", true, INT_MAX},
      {"count 2^30, beyond the file once multiplied", true, 1 << 30},
      {"position -1", false, -1},
      {"position INT_MIN", false, INT_MIN},
      {"position at the end of the file", false, size},
      {"position INT_MAX", false, INT_MAX},
  };
  for (const Section& section : kSections) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(section.name) + ", " + c.name);
      ProgsBuilder b = tests::new_program();
      b.header_override[c.set_count ? section.count : section.position] = c.value;
      RunResult result = run(b);
      EXPECT_EQ(1, result.status);
      EXPECT_EQ(kReadFailure, result.console);
      EXPECT_TRUE(result.files.empty());
    }
  }
}

TEST(HostileLoader, SectionReachingOneBytePastTheEndIsAReadFailure) {
  for (const Section& section : kSections) {
    SCOPED_TRACE(section.name);
    ProgsBuilder b = tests::new_program();
    const std::vector<uint8_t> whole = b.bytes();
    const int64_t length = int64_t{header_field(whole, section.count)} * section.element_size;
    b.header_override[section.position] = static_cast<int32_t>(whole.size() - length + 1);
    RunResult result = run(b);
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(kReadFailure, result.console);
  }
}

TEST(HostileLoader, EmptySectionIsAcceptedWhereverItLies) {
  for (const Section& section : kSections) {
    for (int32_t position : {-1, INT_MIN, INT_MAX}) {
      SCOPED_TRACE(std::string(section.name) + " at " + std::to_string(position));
      ProgsBuilder b = tests::new_program();
      b.header_override[section.count] = 0;
      b.header_override[section.position] = position;
      RunResult result = run(b);
      EXPECT_EQ(0, result.status);
      EXPECT_EQ(summary(b), result.console);
      EXPECT_EQ(project({}, {}), result.files);
    }
  }
}

constexpr int32_t kBadOffsets[] = {-1, INT_MIN, INT_MAX, 1000000};

TEST(HostileStrings, FunctionNameOutsideTheStringsIsEmptyAndGetsAGeneratedName) {
  for (int32_t offset : kBadOffsets) {
    SCOPED_TRACE(offset);
    ProgsBuilder b = builtin_in("f.qc");
    b.functions[1].s_name = offset;
    RunResult result = run(b);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(one_file("f.qc", "void (vector ang) function1 = #1; \n"), result.files);
  }
}

TEST(HostileStrings, SourceFileOutsideTheStringsGoesToTheFallbackFile) {
  ProgsBuilder probe = builtin_in("f.qc");
  const int32_t strofs = static_cast<int32_t>(probe.strings.size());
  for (int32_t offset : {-1, INT_MIN, INT_MAX, strofs, strofs + 1}) {
    SCOPED_TRACE(offset);
    ProgsBuilder b = builtin_in("f.qc");
    b.functions[1].s_file = offset;
    RunResult result = run(b);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(summary(b) + "decompiling vorn1.qc...\n", result.console);
    EXPECT_EQ(one_file("vorn1.qc", kBuiltinLine), result.files);
  }
}

// A constant and a field whose names lie outside the strings, and an anonymous string
// constant whose value does: each reads as "".
TEST(HostileStrings, DefinitionNamesAndStringValuesOutsideTheStringsAreEmpty) {
  for (int32_t offset : kBadOffsets) {
    SCOPED_TRACE(offset);
    ProgsBuilder b = tests::new_program();
    b.globaldefs.push_back({image::ev_float, 25, offset});
    b.globaldefs.push_back({image::ev_field, 26, offset});
    b.fielddefs.push_back({image::ev_float, 0, offset});
    b.add_globaldef(image::ev_string, kX, "IMMEDIATE");
    b.set_int(kX, offset);
    const int first = b.add_statement(image::OP_RETURN, kX);
    b.add_statement(image::OP_DONE);
    b.add_function(first, 31, 0, "f", "f.qc");
    RunResult result = run(b);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(one_file("f.qc", "float     = 0;\n.float ;\n" +
                                   function_text("string () f", "\treturn (\"\");\n")),
              result.files);
  }
}

TEST(HostileStrings, StringGlobalOutsideTheStringsIsAnEmptyLiteral) {
  for (int32_t offset : kBadOffsets) {
    SCOPED_TRACE(offset);
    ProgsBuilder b = tests::new_program();
    b.add_globaldef(image::ev_string, 27, "s");
    b.globals[27] = static_cast<uint32_t>(offset);
    b.add_function(-1, 28, 0, "f", "f.qc");
    RunResult result = run(b);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(one_file("f.qc", std::string("string s    = \"\";\n") + kBuiltinLine), result.files);
  }
}

TEST(HostileTexts, SourceFileOf600CharactersCannotBeOpened) {
  const std::string name(600, 'a');
  ProgsBuilder b = builtin_in(name);
  RunResult result = run(b);
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(summary(b) + "decompiling " + name + "...\n" + could_not_open(name), result.console);
  EXPECT_EQ(project({}, {name}), result.files);
}

TEST(HostileTexts, NamesOf300CharactersAreWrittenWhole) {
  std::string long_name;
  for (int i = 0; i < 30; ++i) {
    long_name += "abcdefghij";
  }
  const std::string long_text(300, 'q');
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(image::ev_string, 27, long_name + "_s");
  b.set_int(27, b.add_string(long_text));
  b.add_globaldef(image::ev_float, kX, long_name);
  b.add_globaldef(image::ev_float, kY, "y");
  const int first = b.add_statement(image::OP_STORE_F, kX, kY);
  b.add_statement(image::OP_DONE);
  b.add_function(first, 28, 0, long_name + "_f", "f.qc");
  RunResult result = run(b);
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(
      one_file("f.qc",
               "string " + long_name + "_s    = \"" + std::string(245, 'q') + "...\";\n" +
                   function_text("void () " + long_name + "_f", "\ty = " + long_name + ";\n")),
      result.files);
}

// Every ADD_F of a temporary with itself nests its parked text twice. Twelve steps give
// 49147 bytes, written whole; a thirteenth would give 98299, beyond the 65536 a parked
// text may hold, and ends the run instead of doubling on.
TEST(HostileTexts, ExpressionDoubledByEveryInstructionEndsTheRunPastTheLimit) {
  for (int doublings : {12, 13, 40}) {
    SCOPED_TRACE(doublings);
    ProgsBuilder b = base_program();
    b.add_statement(image::OP_ADD_F, kX, kX, 42);  // x + x into a temporary
    for (int i = 0; i < doublings; ++i) {
      b.add_statement(image::OP_ADD_F, 42, 42, 42);
    }
    b.add_statement(image::OP_STORE_F, 42, kY);
    b.add_statement(image::OP_DONE);
    b.add_function(1, 29, 0, "f", "f.qc");
    RunResult result = run(b);
    if (doublings == 12) {
      std::string text = "(x + x)";
      for (int i = 0; i < doublings; ++i) {
        text = "(" + text + " + " + text + ")";
      }
      ASSERT_EQ(49147u, text.size());
      EXPECT_EQ(0, result.status);
      EXPECT_EQ(one_file("f.qc", function_text("void () f", "\ty = " + text + ";\n")),
                result.files);
    } else {
      EXPECT_EQ(1, result.status);
      EXPECT_EQ(summary(b) + "decompiling f.qc...\nFatal Error - Expression too long.\n",
                result.console);
      EXPECT_EQ(one_file("f.qc", "\nvoid () f =\n{\n"), result.files);
    }
  }
}

struct JumpCase {
  const char* name;
  std::vector<tests::RawStatement> body;  // from statement 1; no DONE is added
  std::string text;                       // the function's body lines
  bool corrupt;                           // the indentation warning is printed
};

TEST(HostileJumps, JumpsLeavingTheFunctionKeepTheRunGoing) {
  const JumpCase cases[] = {
      {"IFNOT beyond the statement array",
       {{image::OP_IFNOT, kX, 1000, 0}, {image::OP_DONE, 0, 0, 0}},
       "\tif (x)\n\t{\n",
       true},
      {"IFNOT to the last possible distance",
       {{image::OP_IFNOT, kX, 32767, 0}, {image::OP_DONE, 0, 0, 0}},
       "\tif (x)\n\t{\n",
       true},
      {"GOTO beyond the statement array",
       {{image::OP_GOTO, 1000, 0, 0}, {image::OP_DONE, 0, 0, 0}},
       "}\nelse\n{\n",
       false},
      {"GOTO back past the function's start",
       {{image::OP_GOTO, -5, 0, 0}, {image::OP_DONE, 0, 0, 0}},
       "}\n",
       true},
      {"GOTO to the lowest distance",
       {{image::OP_GOTO, -32768, 0, 0}, {image::OP_DONE, 0, 0, 0}},
       "}\n",
       true},
      {"IF back to the null statement",
       {{image::OP_IF, kX, -1, 0}, {image::OP_DONE, 0, 0, 0}},
       "\n} while (x);\n",
       true},
      {"IF beyond the statement array",
       {{image::OP_IF, kX, 5000, 0}, {image::OP_DONE, 0, 0, 0}},
       "\n} while (x);\n",
       true},
      {"no DONE before the end of the array",
       {{image::OP_STORE_F, kX, kY, 0}},
       "\ty = x;\n",
       false},
      {"a CALL as the last statement of the array",
       {{image::OP_STORE_F, kX, kY, 0}, {image::OP_CALL0, kX, 0, 0}},
       "\ty = x;\n\tx ();\n",
       false},
  };
  for (const JumpCase& c : cases) {
    SCOPED_TRACE(c.name);
    ProgsBuilder b = base_program();
    for (const tests::RawStatement& s : c.body) {
      b.add_statement(s.op, s.a, s.b, s.c);
    }
    b.add_function(1, 29, 0, "f", "f.qc");
    RunResult result = run(b);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(summary(b) + "decompiling f.qc...\n" + (c.corrupt ? kIndentWarning : ""),
              result.console);
    EXPECT_EQ(one_file("f.qc", function_text("void () f", c.text)), result.files);
  }
}

// The pass marks the target like any other, so an IFNOT of distance 0 closes a block
// in front of itself before the translator refuses it.
TEST(HostileJumps, IfnotJumpingBackOrInPlaceEndsTheRun) {
  struct Case {
    int distance;
    const char* body;
  };
  const Case cases[] = {{0, "}\n"}, {-1, ""}, {-32768, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.distance);
    ProgsBuilder b = base_program();
    b.add_statement(image::OP_IFNOT, kX, c.distance);
    b.add_statement(image::OP_DONE);
    b.add_function(1, 29, 0, "f", "f.qc");
    RunResult result = run(b);
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(summary(b) + "decompiling f.qc...\nFound a negative IFNOT jump.\n", result.console);
    EXPECT_EQ(one_file("f.qc", std::string("\nvoid () f =\n{\n") + c.body), result.files);
  }
}

// An IFNOT of f whose target is g's first statement: the close mark stays on g's
// statement, which f never reaches, and g prints the extra brace.
TEST(HostileJumps, JumpIntoAnotherFunctionClosesABlockThere) {
  ProgsBuilder b = base_program();
  b.add_statement(image::OP_IFNOT, kX, 3);
  b.add_statement(image::OP_STORE_F, kX, kY);
  b.add_statement(image::OP_DONE);
  b.add_statement(image::OP_RETURN);
  b.add_statement(image::OP_DONE);
  b.add_function(1, 29, 0, "f", "f.qc");
  b.add_function(4, 29, 0, "g", "f.qc");
  RunResult result = run(b);
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(summary(b) + "decompiling f.qc...\n" + kIndentWarning + kIndentWarning, result.console);
  EXPECT_EQ(one_file("f.qc", function_text("void () f", "\tif (x)\n\t{\n\t\ty = x;\n") +
                                 function_text("void () g", "}\nreturn;\n")),
            result.files);
}

// 150 IFNOTs that all end at the DONE give it 150 close marks, more than the op word's
// hundreds could hold.
TEST(HostileJumps, InstructionTargetedByMoreThanAHundredJumpsClosesEveryBlock) {
  constexpr int kJumps = 150;
  ProgsBuilder b = base_program();
  std::string body;
  for (int p = 1; p <= kJumps; ++p) {
    b.add_statement(image::OP_IFNOT, kX, kJumps + 1 - p);
    body += std::string(p, '\t') + "if (x)\n" + std::string(p, '\t') + "{\n";
  }
  b.add_statement(image::OP_DONE);
  for (int level = kJumps; level >= 1; --level) {
    body += std::string(level, '\t') + "}\n";
  }
  b.add_function(1, 29, 0, "f", "f.qc");
  RunResult result = run(b);
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(summary(b) + "decompiling f.qc...\n", result.console);
  EXPECT_EQ(one_file("f.qc", function_text("void () f", body)), result.files);
}

// Ten IFs back to the first statement: ten do marks, beyond the six a 16-bit word holds.
TEST(HostileJumps, InstructionOpeningTenDoLoopsOpensThemAll) {
  constexpr int kLoops = 10;
  ProgsBuilder b = base_program();
  b.add_statement(image::OP_STORE_F, kX, kY);
  std::string body;
  for (int level = 1; level <= kLoops; ++level) {
    body += std::string(level, '\t') + "do\n" + std::string(level, '\t') + "{\n";
  }
  body += std::string(kLoops + 1, '\t') + "y = x;\n";
  for (int p = 2; p <= kLoops + 1; ++p) {
    b.add_statement(image::OP_IF, kX, 1 - p);
    body += "\n" + std::string(kLoops + 2 - p, '\t') + "} while (x);\n";
  }
  b.add_statement(image::OP_DONE);
  b.add_function(1, 29, 0, "f", "f.qc");
  RunResult result = run(b);
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(summary(b) + "decompiling f.qc...\n", result.console);
  EXPECT_EQ(one_file("f.qc", function_text("void () f", body)), result.files);
}

TEST(HostileOpWords, UnknownOpcodesWarnAndWriteNothing) {
  for (uint16_t op : {66, 80, 99}) {
    SCOPED_TRACE(op);
    ProgsBuilder b = base_program();
    b.add_statement(op, kX, kY, kX);
    b.add_statement(image::OP_STORE_F, kX, kY);
    b.add_statement(image::OP_DONE);
    b.add_function(1, 29, 0, "f", "f.qc");
    RunResult result = run(b);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(summary(b) + "decompiling f.qc...\nWarning: Unknown command\n", result.console);
    EXPECT_EQ(one_file("f.qc", function_text("void () f", "\ty = x;\n")), result.files);
  }
}

// An op word above 99 reads as a base opcode with block marks: 199 is opcode 99 with one
// close mark, 65535 is STORE_FLD (35) with 55 close marks and 6 do marks.
TEST(HostileOpWords, OpWordsAbove99ReadAsMarkedOpcodes) {
  {
    ProgsBuilder b = base_program();
    b.add_statement(199);
    b.add_statement(image::OP_DONE);
    b.add_function(1, 29, 0, "f", "f.qc");
    RunResult result = run(b);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(summary(b) + "decompiling f.qc...\nWarning: Unknown command\n" + kIndentWarning,
              result.console);
    EXPECT_EQ(one_file("f.qc", function_text("void () f", "}\n")), result.files);
  }
  {
    ProgsBuilder b = base_program();
    b.add_statement(65535, kX, kY);
    b.add_statement(image::OP_DONE);
    b.add_function(1, 29, 0, "f", "f.qc");
    std::string body;
    for (int i = 0; i < 55; ++i) {
      body += "}\n";
    }
    for (int i = 0; i < 6; ++i) {
      body += "do\n{\n";
    }
    body += "y = x;\n";
    RunResult result = run(b);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(summary(b) + "decompiling f.qc...\n" + kIndentWarning, result.console);
    EXPECT_EQ(one_file("f.qc", function_text("void () f", body)), result.files);
  }
}

TEST(HostileRecords, NumparmsAbove8CountsEightAndNegativeCountsNone) {
  std::string eight_warnings;
  std::string eight_parameters;
  for (int k = 0; k < 8; ++k) {
    eight_warnings += "No parameter names with offset " + std::to_string(29 + k) + "\n";
    eight_parameters += "float par" + std::to_string(k) + (k < 7 ? ", " : "");
  }
  struct Case {
    int32_t numparms;
    std::string warnings;
    std::string signature;
  };
  const Case cases[] = {
      {9, eight_warnings, "void (" + eight_parameters + ") f"},
      {100, eight_warnings, "void (" + eight_parameters + ") f"},
      {INT_MAX, eight_warnings, "void (" + eight_parameters + ") f"},
      {-1, "", "void () f"},
      {INT_MIN, "", "void () f"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.numparms);
    ProgsBuilder b = tests::new_program();
    b.add_statement(image::OP_DONE);
    b.add_function(1, 29, 0, "f", "f.qc", {1, 1, 1, 1, 1, 1, 1, 1});
    b.functions[1].numparms = c.numparms;
    RunResult result = run(b);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(summary(b) + c.warnings + "decompiling f.qc...\n", result.console);
    EXPECT_EQ(one_file("f.qc", function_text(c.signature, "")), result.files);
  }
}

// Definitions at the last offsets, with a function's parameters beyond every offset:
// the walk ends at the last definition, and the vector's further cells read as 0 beyond
// the loaded globals.
TEST(HostileOffsets, VectorAtOffset65535ReadsTwoCellsBeyond) {
  for (bool loaded : {false, true}) {
    SCOPED_TRACE(loaded ? "globals loaded up to 65535" : "28 globals loaded");
    ProgsBuilder b = tests::new_program();
    b.add_globaldef(image::ev_float, 65533, "g");
    b.add_globaldef(image::ev_vector, 65535, "v");
    if (loaded) {
      b.set_float(65533, 2.5f);
      b.set_float(65535, 1.5f);
    }
    b.add_statement(image::OP_DONE);
    b.add_function(1, 70000, 0, "f", "f.qc");
    RunResult result = run(b);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(one_file("f.qc", loaded ? "float g    = 2.5;\nvector v    = '1.5 0 0';\n" +
                                            function_text("void () f", "")
                                      : "float g    = 0;\nvector v    = '0 0 0';\n" +
                                            function_text("void () f", "")),
              result.files);
  }
}

TEST(HostileOffsets, LocalAreaReachingBeyondTheLastOffsetEndsThere) {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(image::ev_vector, 65535, "v");
  b.add_statement(image::OP_DONE);
  b.add_function(1, 65530, 100, "f", "f.qc");
  RunResult result = run(b);
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(one_file("f.qc", "\nvoid () f =\n{\n\tlocal vector v;\n\n};\n"), result.files);
}

// Records 1 .. count - 1, every one the builtin makevectors named "f" in "test.qc".
ProgsBuilder builtins(int count) {
  ProgsBuilder b = tests::new_program();
  const int32_t name = b.add_string("f");
  const int32_t file = b.add_string("test.qc");
  for (int i = 1; i < count; ++i) {
    tests::RawFunction function{};
    function.first_statement = -1;
    function.s_name = name;
    function.s_file = file;
    b.functions.push_back(function);
  }
  return b;
}

TEST(HostileCounts, MoreThan8192FunctionsEndTheRunBeforeAnyOutput) {
  ProgsBuilder b = builtins(8193);
  RunResult result = run(b);
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(summary(b) + "Fatal Error - too many functions.\n", result.console);
  EXPECT_TRUE(result.files.empty());
}

TEST(HostileCounts, Exactly8192FunctionsAreAllWritten) {
  ProgsBuilder b = builtins(8192);
  RunResult result = run(b);
  EXPECT_EQ(0, result.status);
  std::string text;
  for (int i = 1; i < 8192; ++i) {
    text += kBuiltinLine;
  }
  EXPECT_EQ(one_file("test.qc", text), result.files);
}

// 1001 files made, then a 1002nd name (here one already made) ends the run.
TEST(HostileCounts, MoreThan1001SourceFileNamesEndTheRun) {
  ProgsBuilder b = tests::new_program();
  std::string console;
  Files sources;
  std::vector<std::string> listed;
  for (int i = 1; i <= 1001; ++i) {
    const std::string name = "f" + std::to_string(i) + ".qc";
    b.add_function(-1, 28, 0, "f", name);
    console += "decompiling " + name + "...\n";
    sources[name] = kBuiltinLine;
    listed.push_back(name);
  }
  b.add_function(-1, 28, 0, "f", "f1.qc");
  RunResult result = run(b);
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(summary(b) + console + "Fatal Error - too many source files.\n", result.console);
  EXPECT_EQ(project(sources, listed), result.files);
}

// An unusable name counts toward the limit though no file is made for it.
TEST(HostileCounts, UnusableNamesCountTowardTheSourceFileLimit) {
  ProgsBuilder b = tests::new_program();
  std::string console;
  Files sources;
  std::vector<std::string> listed;
  for (int i = 1; i <= 1000; ++i) {
    const std::string name = "f" + std::to_string(i) + ".qc";
    b.add_function(-1, 28, 0, "f", name);
    console += "decompiling " + name + "...\n";
    sources[name] = kBuiltinLine;
    listed.push_back(name);
  }
  b.add_function(-1, 28, 0, "f", "bad-name.qc");
  RunResult result = run(b);
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(summary(b) + console + "Fatal Error - too many source files.\n", result.console);
  EXPECT_EQ(project(sources, listed), result.files);
}

struct NameCase {
  const char* s_file;
  const char* written;  // the file the function goes to
  bool opens;           // else the run ends with the open message
};

constexpr NameCase kNameCases[] = {
    {".", ".", false},
    {"..", "..", false},
    {"/", ".", false},
    {"./", "..", false},
    {"\\\\", "..", false},
    {"progs.src", "vorn1.qc", true},
    {"progs/src", "vorn1.qc", true},
    {"progs.dat", "vorn1.qc", true},
    {"progs\\dat", "vorn1.qc", true},
    {"../x.qc", "...x.qc", true},
    {"..\\x.qc", "...x.qc", true},
    {"../../etc/passwd", "......etc.passwd", true},
    {"/tmp/x.qc", ".tmp.x.qc", true},
    {"..//..//x.qc", "........x.qc", true},
};

TEST(HostileNames, SourceFileNamesStayInTheCurrentDirectory) {
  for (const NameCase& c : kNameCases) {
    SCOPED_TRACE(c.s_file);
    ProgsBuilder b = builtin_in(c.s_file);
    RunResult result = run(b);
    const std::string announced = std::string("decompiling ") + c.written + "...\n";
    if (c.opens) {
      EXPECT_EQ(0, result.status);
      EXPECT_EQ(summary(b) + announced, result.console);
      EXPECT_EQ(one_file(c.written, kBuiltinLine), result.files);
    } else {
      EXPECT_EQ(1, result.status);
      EXPECT_EQ(summary(b) + announced + could_not_open(c.written), result.console);
      EXPECT_EQ(project({}, {c.written}), result.files);
    }
    EXPECT_TRUE(changed_one_level_up(b).empty());
  }
}

// The input under another name, reached by the name itself, a hard link or a symbolic
// link: never opened for output.
TEST(HostileNames, NameOfTheInputFileGoesToTheFallbackFile) {
  struct Case {
    const char* name;
    const char* s_file;
    std::function<void()> extra_setup;
  };
  const Case cases[] = {
      {"the input's own name", "game.dat", [] {}},
      {"a hard link to the input", "copy.qc", [] { ASSERT_EQ(0, ::link("game.dat", "copy.qc")); }},
      {"a symbolic link to the input", "alias.qc",
       [] { ASSERT_EQ(0, ::symlink("game.dat", "alias.qc")); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgsBuilder b = builtin_in(c.s_file);
    RunResult result = tests::run_in_temp_dir({"progs2qc", "game.dat"}, [&] {
      b.write("game.dat");
      c.extra_setup();
    });
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(summary(b, "game.dat") + "decompiling vorn1.qc...\n", result.console);
    EXPECT_EQ(one_file("vorn1.qc", kBuiltinLine), result.files);
  }
}

// The input in another directory: the outputs still go to the current one, also one
// with the input's own file name, which is then another file.
TEST(HostileNames, InputElsewhereLeavesOutputsInTheCurrentDirectory) {
  ProgsBuilder b = builtin_in("game.dat");
  RunResult result = tests::run_in_temp_dir({"progs2qc", "in/game.dat"}, [&b] {
    ASSERT_EQ(0, ::mkdir("in", 0755));
    b.write("in/game.dat");
  });
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(summary(b, "in/game.dat") + "decompiling game.dat...\n", result.console);
  EXPECT_EQ(one_file("game.dat", kBuiltinLine), result.files);
}

TEST(HostileNames, InputNamedProgsSrcIsNeverOverwritten) {
  ProgsBuilder b = builtin_in("f.qc");
  RunResult result =
      tests::run_in_temp_dir({"progs2qc", "progs.src"}, [&b] { b.write("progs.src"); });
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(summary(b, "progs.src") + could_not_open("progs.src"), result.console);
  EXPECT_TRUE(result.files.empty());
}

// What already stands under an output name and cannot take a file: the run ends with the
// open message and the thing is left as it was.
TEST(HostileNames, OutputNameTakenByALinkFifoOrDirectoryIsNotOpened) {
  struct Case {
    const char* name;
    const char* taken;  // the output name that is taken
    std::function<void()> make;
  };
  const Case cases[] = {
      {"symbolic link to a file", "a.qc",
       [] {
         tests::write_file("target.txt", "keep");
         ASSERT_EQ(0, ::symlink("target.txt", "a.qc"));
       }},
      {"dangling symbolic link", "a.qc", [] { ASSERT_EQ(0, ::symlink("made.txt", "a.qc")); }},
      {"fifo", "a.qc", [] { ASSERT_EQ(0, ::mkfifo("a.qc", 0644)); }},
      {"directory", "a.qc", [] { ASSERT_EQ(0, ::mkdir("a.qc", 0755)); }},
      {"symbolic link as the project list", "progs.src",
       [] {
         tests::write_file("target.txt", "keep");
         ASSERT_EQ(0, ::symlink("target.txt", "progs.src"));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgsBuilder b = builtin_in("a.qc");
    RunResult result = tests::run_in_temp_dir({"progs2qc"}, [&] {
      b.write("progs.dat");
      c.make();
    });
    EXPECT_EQ(1, result.status);
    if (std::string(c.taken) == "progs.src") {
      EXPECT_EQ(summary(b) + could_not_open("progs.src"), result.console);
      EXPECT_TRUE(result.files.empty());
    } else {
      EXPECT_EQ(summary(b) + "decompiling a.qc...\n" + could_not_open("a.qc"), result.console);
      EXPECT_EQ(project({}, {"a.qc"}), result.files);
    }
  }
}

// A dangling link that points out of the directory: its target is not created.
TEST(HostileNames, DanglingLinkOutOfTheDirectoryCreatesNothingThere) {
  ProgsBuilder b = builtin_in("a.qc");
  RunResult result = tests::run_in_temp_dir({"progs2qc"}, [&b] {
    ASSERT_EQ(0, ::mkdir("inner", 0755));
    ASSERT_EQ(0, ::chdir("inner"));
    b.write("progs.dat");
    ASSERT_EQ(0, ::symlink("../made.txt", "a.qc"));
  });
  EXPECT_EQ(1, result.status);
  EXPECT_TRUE(outside_inner(result.files).empty());
}

TEST(HostileRecords, FirstStatementBeyondTheArrayIsAnEmptyBody) {
  for (bool scans : {false, true}) {
    for (int32_t first : {3, 1000, INT_MAX}) {
      SCOPED_TRACE(std::string(scans ? "scans, " : "indexes, ") + std::to_string(first));
      const bool previous = image::lookup_mode.use_scans;
      image::lookup_mode.use_scans = scans;
      ProgsBuilder b = base_program();
      // A definition at offset 0, the operand of everything read beyond the array.
      b.globaldefs[0].type = image::ev_entity;
      b.add_statement(image::OP_RETURN, kX);
      b.add_statement(image::OP_DONE);
      b.add_function(first, 29, 0, "f", "f.qc");
      RunResult result = run(b);
      image::lookup_mode.use_scans = previous;
      EXPECT_EQ(0, result.status);
      EXPECT_EQ(summary(b) + "decompiling f.qc...\n", result.console);
      EXPECT_EQ(one_file("f.qc", function_text("void () f", "")), result.files);
    }
  }
}

TEST(HostileRecords, BuiltinNumberFromIntMinIsUnknown) {
  ProgsBuilder b = tests::new_program();
  b.add_function(INT_MIN, 28, 0, "f", "f.qc");
  RunResult result = run(b);
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(summary(b) + "Warning: unknown builtin f\ndecompiling f.qc...\n", result.console);
  EXPECT_EQ(one_file("f.qc", "void () f = #2147483648; \n"), result.files);
}

// A temporary re-based on a parameter area at either end of the int range gives a slot
// index far out of bounds, computed without overflow.
TEST(HostileRecords, ParameterAreaAtTheIntLimitsGivesAnOutOfBoundsSlot) {
  struct Case {
    int32_t parm_start;
    int32_t locals;
    std::string globals;  // the walk in front of the function
    std::string locals_text;
    std::string index;
  };
  const Case cases[] = {
      {INT_MAX, INT_MAX, "float x    = 0;\nfloat y    = 0;\n", "\n",
       std::to_string(int64_t{42} - INT_MAX + 28)},
      {INT_MIN, INT_MIN, "", "", std::to_string(int64_t{42} - INT_MIN + 28)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.parm_start);
    ProgsBuilder b = base_program();
    b.add_statement(image::OP_ADD_F, kX, kX, 42);  // into a temporary
    b.add_statement(image::OP_DONE);
    b.add_function(1, c.parm_start, c.locals, "f", "f.qc");
    RunResult result = run(b);
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(
        summary(b) + "decompiling f.qc...\nFatal Error - Index (" + c.index + ") out of bounds.\n",
        result.console);
    EXPECT_EQ(one_file("f.qc", c.globals + "\nvoid () f =\n{\n" + c.locals_text), result.files);
  }
}

// After a record whose area ends at INT_MIN + INT_MIN the walk starts below 0 and meets
// the null definition at offset 0; after INT_MAX + INT_MAX it starts beyond everything.
TEST(HostileRecords, WalkAfterAnAreaAtTheIntLimits) {
  struct Case {
    int32_t value;
    std::string globals;
  };
  const Case cases[] = {
      {INT_MIN, "void ;\n"},
      {INT_MAX, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    ProgsBuilder b = base_program();
    b.add_statement(image::OP_DONE);
    b.add_function(1, c.value, c.value, "f", "f.qc");
    b.add_function(-1, 29, 0, "g", "f.qc");
    RunResult result = run(b);
    EXPECT_EQ(0, result.status);
    const std::string first = c.value == INT_MAX ? "float x    = 0;\nfloat y    = 0;\n" : "";
    const std::string locals = c.value == INT_MAX ? "\n" : "";
    EXPECT_EQ(one_file("f.qc", first + "\nvoid () f =\n{\n" + locals + "};\n" + c.globals +
                                   "void (vector ang) g = #1; \n"),
              result.files);
  }
}

// The readers of the other flavours, under -c: a damaged file is a read failure before
// anything is printed; one that loads gets its summary and the name of its format.

RunResult run_compilable_bytes(const std::vector<uint8_t>& bytes) {
  const std::string text(bytes.begin(), bytes.end());
  RunResult result =
      tests::run_in_temp_dir({"progs2qc", "-c"}, [&text] { tests::write_file("progs.dat", text); });
  EXPECT_EQ(0u, result.files.count("progs.dat")) << "the input was changed";
  return result;
}

void expect_compilable_read_failure(const std::vector<uint8_t>& bytes) {
  const RunResult result = run_compilable_bytes(bytes);
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(kReadFailure, result.console);
  EXPECT_TRUE(result.files.empty());
}

// The run got past the loader: the twelve lines, then the format's name.
void expect_compilable_load(const std::vector<uint8_t>& bytes, const ProgsBuilder& program,
                            const std::string& format) {
  const RunResult result = run_compilable_bytes(bytes);
  const std::string head = summary(program) + "Format: " + format + "\n";
  EXPECT_EQ(head, result.console.substr(0, head.size()));
  EXPECT_EQ(std::string::npos, result.console.find("ERROR")) << result.console;
}

struct WideFormat {
  const char* name;
  tests::Format format;
  int statement_size;
  int def_size;
  const char* text;
};
constexpr WideFormat kWideFormats[] = {
    {"FTE 32-bit", tests::Format::kFte32, 16, 12, "FTE version 7, 32-bit records"},
    {"uHexen2", tests::Format::kUhexen2, 16, 12, "uHexen2 version 7, 32-bit records"},
    {"KK", tests::Format::kKk, 16, 8,
     "KK version 7, 32-bit statements, 16-bit definitions (secondary version 0x57514B4B)"},
};

int section_element_size(const WideFormat& format, const Section& section) {
  if (section.count == tests::kNumStatements) {
    return format.statement_size;
  }
  if (section.count == tests::kNumGlobaldefs || section.count == tests::kNumFielddefs) {
    return format.def_size;
  }
  return section.element_size;
}

ProgsBuilder wide_program(tests::Format format) {
  ProgsBuilder b = base_program();
  b.format = format;
  b.add_statement(image::OP_STORE_F, kX, kY, 0);
  b.add_statement(image::OP_DONE);
  b.add_function(1, 29, 0, "f", "f.qc");
  return b;
}

TEST(HostileFormats, SectionsOf32BitRecordsAtTheirLimits) {
  for (const WideFormat& format : kWideFormats) {
    for (const Section& section : kSections) {
      SCOPED_TRACE(std::string(format.name) + ", " + section.name);
      const ProgsBuilder good = wide_program(format.format);
      const std::vector<uint8_t> whole = good.bytes();
      const int64_t size = static_cast<int64_t>(whole.size());
      const int64_t length =
          int64_t{header_field(whole, section.count)} * section_element_size(format, section);

      ProgsBuilder at_end = good;  // the section moved to end exactly at the end of the file
      at_end.header_override[section.position] = static_cast<int32_t>(size - length);
      expect_compilable_load(at_end.bytes(), at_end, format.text);

      ProgsBuilder past_end = good;
      past_end.header_override[section.position] = static_cast<int32_t>(size - length + 1);
      expect_compilable_read_failure(past_end.bytes());

      const int64_t end = int64_t{header_field(whole, section.position)} + length;
      expect_compilable_read_failure(std::vector<uint8_t>(whole.begin(), whole.begin() + end - 1));

      // 2^28 16-byte records are 2^32 bytes: a count that wraps in 32-bit arithmetic.
      for (int32_t count : {-1, INT_MIN, INT_MAX, 1 << 28, 1 << 27}) {
        SCOPED_TRACE("count " + std::to_string(count));
        ProgsBuilder b = good;
        b.header_override[section.count] = count;
        expect_compilable_read_failure(b.bytes());
      }
      for (int32_t position : {-1, INT_MIN, INT_MAX, static_cast<int32_t>(size)}) {
        SCOPED_TRACE("position " + std::to_string(position));
        ProgsBuilder b = good;
        b.header_override[section.position] = position;
        expect_compilable_read_failure(b.bytes());
      }
    }
  }
}

// Operands, offsets and type words at the ends of their 32 bits load as they are.
TEST(HostileFormats, WideValuesAtTheirLimitsLoad) {
  for (const WideFormat& format : kWideFormats) {
    SCOPED_TRACE(format.name);
    ProgsBuilder b = wide_program(format.format);
    b.statements[1] = tests::RawStatement{0xffffffffu, INT_MIN, INT_MAX, -1};
    b.add_statement(image::OP_GOTO, INT_MIN);
    b.add_statement(image::OP_IFNOT, kX, INT_MAX);
    b.add_globaldef(-1, INT_MIN, "lowest");
    b.add_globaldef(INT_MAX, INT_MAX, "highest");
    b.add_globaldef(image::ev_float, -1, "minus one");
    b.add_fielddef(image::ev_vector, INT_MIN, "field");
    b.add_function(INT_MIN, INT_MAX, INT_MAX, "g", "f.qc", {255, 255, 255});
    expect_compilable_load(b.bytes(), b, format.text);
    EXPECT_EQ(0, run(b).status);  // the classic engine reads the bytes as 16-bit records
  }
}

TEST(HostileFormats, Version7HeaderCutShortIsAReadFailure) {
  ProgsBuilder b = tests::new_program();
  b.format = tests::Format::kFte16;
  const std::vector<uint8_t> whole = b.bytes();
  for (size_t length : {size_t{60}, size_t{61}, size_t{88}, size_t{91}}) {
    SCOPED_TRACE(length);
    std::vector<uint8_t> cut(whole.begin(), whole.begin() + length);
    for (int field = tests::kOfsStatements; field <= tests::kNumGlobals; ++field) {
      cut[4 * field] = cut[4 * field + 1] = cut[4 * field + 2] = cut[4 * field + 3] = 0;
    }
    expect_compilable_read_failure(cut);
    EXPECT_EQ(0, run_bytes(cut).status);  // the classic engine reads 60 bytes of header
  }

  ProgsBuilder header_only;  // no section at all: exactly the 92 bytes
  header_only.format = tests::Format::kFte16;
  header_only.strings.clear();
  ASSERT_EQ(92u, header_only.bytes().size());
  expect_compilable_load(header_only.bytes(), header_only, "FTE version 7, 16-bit records");
}

TEST(HostileFormats, EveryCompressedSectionIsNamed) {
  constexpr const char* names[] = {
      "statements",        "global definitions",
      "field definitions", "functions",
      "strings",           "globals",
      "line numbers",      "types",
  };
  for (int bit = 0; bit < 8; ++bit) {
    SCOPED_TRACE(names[bit]);
    ProgsBuilder b = wide_program(tests::Format::kFte32);
    b.header_override[tests::kBlocksCompressed] = 1 << bit;
    const RunResult result = run_compilable_bytes(b.bytes());
    EXPECT_EQ(1, result.status);
    char want[200];
    std::snprintf(want, sizeof want,
                  "************ ERROR ***********\nCompressed sections are not read "
                  "(blockscompressed 0x%X: %s)\n",
                  1u << bit, names[bit]);
    EXPECT_EQ(want, result.console);
    EXPECT_TRUE(result.files.empty());
  }
}

TEST(HostileFormats, DamagedLineNumbersAndImportedNamesAreReadFailures) {
  struct Case {
    const char* name;
    std::function<void(ProgsBuilder&)> damage;
  };
  const Case cases[] = {
      {"line numbers past the end",
       [](ProgsBuilder& b) {
         b.header_override[tests::kOfsLinenums] = static_cast<int32_t>(b.bytes().size()) - 4;
       }},
      {"line numbers at -1", [](ProgsBuilder& b) { b.header_override[tests::kOfsLinenums] = -1; }},
      {"line numbers at INT_MAX",
       [](ProgsBuilder& b) { b.header_override[tests::kOfsLinenums] = INT_MAX; }},
      {"more names than there are",
       [](ProgsBuilder& b) { b.header_override[tests::kNumBodylessFuncs] = 3; }},
      {"INT_MAX names",
       [](ProgsBuilder& b) { b.header_override[tests::kNumBodylessFuncs] = INT_MAX; }},
      {"-1 names", [](ProgsBuilder& b) { b.header_override[tests::kNumBodylessFuncs] = -1; }},
      {"names at -1", [](ProgsBuilder& b) { b.header_override[tests::kOfsBodylessFuncs] = -1; }},
      {"names past the end",
       [](ProgsBuilder& b) {
         b.header_override[tests::kOfsBodylessFuncs] = static_cast<int32_t>(b.bytes().size());
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgsBuilder b = wide_program(tests::Format::kFte16);
    b.linenums = {0, 10, 11};
    b.bodyless_functions = {"imported", "other"};
    c.damage(b);
    expect_compilable_read_failure(b.bytes());
  }

  // The last name's zero byte is the last byte of the file; without it the name is cut.
  ProgsBuilder named = wide_program(tests::Format::kFte16);
  named.bodyless_functions = {"imported"};
  std::vector<uint8_t> bytes = named.bytes();
  expect_compilable_load(bytes, named, "FTE version 7, 16-bit records");
  bytes.pop_back();
  expect_compilable_read_failure(bytes);
}

}  // namespace
