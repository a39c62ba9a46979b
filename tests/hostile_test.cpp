// Hostile inputs: damaged, inconsistent and crafted progs.dat files, one per fault class,
// each run with both engines. Every run must complete or end with its message and status 1,
// write only into its own directory, never through a link, and leave its input as it was.
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

enum class Engine { kClassic, kCompilable };
constexpr Engine kEngines[] = {Engine::kClassic, Engine::kCompilable};

const char* engine_name(Engine engine) {
  return engine == Engine::kClassic ? "classic engine" : "compilable engine";
}

// Every run is made in "inner", one directory down, beside a dangling link "trap.qc" to a
// name in the directory above: a run that wrote through it would make that file there.
constexpr const char* kInner = "inner/";
constexpr const char* kTrapName = "trap.qc";

// A whole run of the engine in "inner" with the arguments after the engine's option;
// `setup` places the input there. What every run must keep to is checked here: the input
// unchanged, nothing made or changed outside "inner", no link made or replaced. Returns the
// run with the files named within "inner".
RunResult run_engine(Engine engine, const std::vector<std::string>& arguments,
                     const std::string& input, const std::function<void()>& setup) {
  std::vector<std::string> command = {"progs2qc"};
  if (engine == Engine::kCompilable) {
    command.push_back("-c");
  }
  command.insert(command.end(), arguments.begin(), arguments.end());
  RunResult result = tests::run_in_temp_dir(command, [&setup] {
    ASSERT_EQ(0, ::mkdir("inner", 0755));
    ASSERT_EQ(0, ::chdir("inner"));
    ASSERT_EQ(0, ::symlink("../made-through-a-link", kTrapName));
    setup();
  });
  Files inside;
  for (const auto& [name, bytes] : result.files) {
    if (name.rfind(kInner, 0) != 0) {
      ADD_FAILURE() << "written outside the run's directory: " << name;
    } else if (name != kInner) {
      inside[name.substr(std::string(kInner).size())] = bytes;
    }
  }
  for (const auto& [name, bytes] : inside) {
    EXPECT_NE(0u, bytes.rfind("-> ", 0)) << "a link was made or replaced: " << name;
  }
  EXPECT_EQ(0u, inside.count(input)) << "the input was changed";
  result.files = inside;
  return result;
}

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

// The compilable engine's summary: the same, then the format it read.
std::string compilable_summary(const ProgsBuilder& program, const std::string& path = "progs.dat") {
  return summary(program, path) + "Format: version 6\n";
}

std::string summary_of(Engine engine, const ProgsBuilder& program,
                       const std::string& path = "progs.dat") {
  return engine == Engine::kClassic ? summary(program, path) : compilable_summary(program, path);
}

// The compilable engine's console after the summary of a complete run: a line per file
// written, then the closing line of counts.
std::string written(const std::vector<std::string>& files, int functions, int state_loops = 0) {
  std::string text;
  for (const std::string& name : files) {
    text += "writing " + name + "...\n";
  }
  return text + std::to_string(functions) + " functions written in " +
         std::to_string(files.size()) + " files, " + std::to_string(state_loops) +
         " as state loops, 0 strings only fteqcc can read\n";
}

// A whole run on the program as "progs.dat".
RunResult run(Engine engine, const ProgsBuilder& program) {
  return run_engine(engine, {}, "progs.dat", [&program] { program.write("progs.dat"); });
}

// A run on raw bytes as "progs.dat".
RunResult run_bytes(Engine engine, const std::vector<uint8_t>& bytes) {
  const std::string text(bytes.begin(), bytes.end());
  return run_engine(engine, {}, "progs.dat", [&text] { tests::write_file("progs.dat", text); });
}

// The null records and the two globals x and y.
ProgsBuilder base_program() {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(image::ev_float, kX, "x");
  b.add_globaldef(image::ev_float, kY, "y");
  return b;
}

// The compilable engine reads every operand, so its runs of programs that use x and y
// load the globals up to y; the classic engine's cases leave them past the loaded globals,
// where its walk of the globals does not reach.
ProgsBuilder with_x_and_y(ProgsBuilder b) {
  b.set_float(kY, 0);
  return b;
}

// A function of `b` names cell 42, one past the globals x and y load: the compilable
// engine ends the run before writing anything. Gives `b` with the cell among the globals.
ProgsBuilder expect_cell_42_past_the_globals(const ProgsBuilder& b) {
  const RunResult beyond = run(Engine::kCompilable, with_x_and_y(b));
  EXPECT_EQ(1, beyond.status);
  EXPECT_EQ(compilable_summary(with_x_and_y(b)) +
                "Fatal Error - f: instruction 1 names cell 42, outside the 42 global cells.\n",
            beyond.console);
  EXPECT_TRUE(beyond.files.empty());
  ProgsBuilder within = b;
  within.set_float(42, 0);
  return within;
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
// The same builtin as the compilable engine writes it.
constexpr const char* kCompilableBuiltinLine = "void(vector p0) f = #1;\n";

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
  for (Engine engine : kEngines) {
    for (size_t length : {size_t{0}, size_t{1}, size_t{59}}) {
      SCOPED_TRACE(std::string(engine_name(engine)) + ", " + std::to_string(length));
      RunResult result =
          run_bytes(engine, std::vector<uint8_t>(whole.begin(), whole.begin() + length));
      EXPECT_EQ(1, result.status);
      EXPECT_EQ(kReadFailure, result.console);
      EXPECT_TRUE(result.files.empty());
    }
  }
}

TEST(HostileLoader, FileEndingOneByteShortOfASectionIsAReadFailure) {
  const std::vector<uint8_t> whole = tests::new_program().bytes();
  for (Engine engine : kEngines) {
    for (const Section& section : kSections) {
      SCOPED_TRACE(std::string(engine_name(engine)) + ", " + section.name);
      const int64_t end = int64_t{header_field(whole, section.position)} +
                          int64_t{header_field(whole, section.count)} * section.element_size;
      RunResult result =
          run_bytes(engine, std::vector<uint8_t>(whole.begin(), whole.begin() + end - 1));
      EXPECT_EQ(1, result.status);
      EXPECT_EQ(kReadFailure, result.console);
      EXPECT_TRUE(result.files.empty());
    }
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
  for (Engine engine : kEngines) {
    for (const Section& section : kSections) {
      for (const Case& c : cases) {
        SCOPED_TRACE(std::string(engine_name(engine)) + ", " + section.name + ", " + c.name);
        ProgsBuilder b = tests::new_program();
        b.header_override[c.set_count ? section.count : section.position] = c.value;
        RunResult result = run(engine, b);
        EXPECT_EQ(1, result.status);
        EXPECT_EQ(kReadFailure, result.console);
        EXPECT_TRUE(result.files.empty());
      }
    }
  }
}

TEST(HostileLoader, SectionReachingOneBytePastTheEndIsAReadFailure) {
  for (Engine engine : kEngines) {
    for (const Section& section : kSections) {
      SCOPED_TRACE(std::string(engine_name(engine)) + ", " + section.name);
      ProgsBuilder b = tests::new_program();
      const std::vector<uint8_t> whole = b.bytes();
      const int64_t length = int64_t{header_field(whole, section.count)} * section.element_size;
      b.header_override[section.position] = static_cast<int32_t>(whole.size() - length + 1);
      RunResult result = run(engine, b);
      EXPECT_EQ(1, result.status);
      EXPECT_EQ(kReadFailure, result.console);
      EXPECT_TRUE(result.files.empty());
    }
  }
}

// The compilable engine writes "functions.qc" when nothing else is there to write.
TEST(HostileLoader, EmptySectionIsAcceptedWhereverItLies) {
  for (Engine engine : kEngines) {
    for (const Section& section : kSections) {
      for (int32_t position : {-1, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(std::string(engine_name(engine)) + ", " + section.name + " at " +
                     std::to_string(position));
        ProgsBuilder b = tests::new_program();
        b.header_override[section.count] = 0;
        b.header_override[section.position] = position;
        RunResult result = run(engine, b);
        EXPECT_EQ(0, result.status);
        if (engine == Engine::kClassic) {
          EXPECT_EQ(summary(b), result.console);
          EXPECT_EQ(project({}, {}), result.files);
        } else {
          EXPECT_EQ(compilable_summary(b) + written({"functions.qc"}, 0), result.console);
          EXPECT_EQ(one_file("functions.qc", ""), result.files);
        }
      }
    }
  }
}

constexpr int32_t kBadOffsets[] = {-1, INT_MIN, INT_MAX, 1000000};

// The compilable engine names an unnamed builtin it knows by its number.
TEST(HostileStrings, FunctionNameOutsideTheStringsIsEmptyAndGetsAGeneratedName) {
  for (Engine engine : kEngines) {
    for (int32_t offset : kBadOffsets) {
      SCOPED_TRACE(std::string(engine_name(engine)) + ", " + std::to_string(offset));
      ProgsBuilder b = builtin_in("f.qc");
      b.functions[1].s_name = offset;
      RunResult result = run(engine, b);
      EXPECT_EQ(0, result.status);
      EXPECT_EQ(
          one_file("f.qc", engine == Engine::kClassic ? "void (vector ang) function1 = #1; \n"
                                                      : "void(vector p0) makevectors = #1;\n"),
          result.files);
    }
  }
}

TEST(HostileStrings, SourceFileOutsideTheStringsGoesToTheFallbackFile) {
  ProgsBuilder probe = builtin_in("f.qc");
  const int32_t strofs = static_cast<int32_t>(probe.strings.size());
  for (Engine engine : kEngines) {
    for (int32_t offset : {-1, INT_MIN, INT_MAX, strofs, strofs + 1}) {
      SCOPED_TRACE(std::string(engine_name(engine)) + ", " + std::to_string(offset));
      ProgsBuilder b = builtin_in("f.qc");
      b.functions[1].s_file = offset;
      RunResult result = run(engine, b);
      EXPECT_EQ(0, result.status);
      if (engine == Engine::kClassic) {
        EXPECT_EQ(summary(b) + "decompiling vorn1.qc...\n", result.console);
        EXPECT_EQ(one_file("vorn1.qc", kBuiltinLine), result.files);
      } else {
        EXPECT_EQ(compilable_summary(b) + written({"functions.qc"}, 1), result.console);
        EXPECT_EQ(one_file("functions.qc", kCompilableBuiltinLine), result.files);
      }
    }
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
    for (Engine engine : kEngines) {
      SCOPED_TRACE(engine_name(engine));
      RunResult result = run(engine, b);
      EXPECT_EQ(0, result.status);
      if (engine == Engine::kClassic) {
        EXPECT_EQ(one_file("f.qc", "float     = 0;\n.float ;\n" +
                                       function_text("string () f", "\treturn (\"\");\n")),
                  result.files);
      } else {
        // Unnamed definitions declare nothing; the field gets a name of its own, and the
        // function that no definition names a prototype.
        EXPECT_EQ(one_file("f.qc",
                           ".float field0;\nstring() f;\n\nstring() f =\n{\n\treturn "
                           "\"\";\n};\n"),
                  result.files);
      }
    }
  }
}

TEST(HostileStrings, StringGlobalOutsideTheStringsIsAnEmptyLiteral) {
  for (int32_t offset : kBadOffsets) {
    SCOPED_TRACE(offset);
    ProgsBuilder b = tests::new_program();
    b.add_globaldef(image::ev_string, 27, "s");
    b.globals[27] = static_cast<uint32_t>(offset);
    b.add_function(-1, 28, 0, "f", "f.qc");
    for (Engine engine : kEngines) {
      SCOPED_TRACE(engine_name(engine));
      RunResult result = run(engine, b);
      EXPECT_EQ(0, result.status);
      EXPECT_EQ(one_file("f.qc", engine == Engine::kClassic
                                     ? std::string("string s    = \"\";\n") + kBuiltinLine
                                     : std::string("string s = \"\";\n") + kCompilableBuiltinLine),
                result.files);
    }
  }
}

// The classic engine cannot open a file of that name; the compilable engine shortens it.
TEST(HostileTexts, SourceFileOf600CharactersCannotBeOpenedOrIsShortened) {
  const std::string name(600, 'a');
  ProgsBuilder b = builtin_in(name);
  for (Engine engine : kEngines) {
    SCOPED_TRACE(engine_name(engine));
    RunResult result = run(engine, b);
    if (engine == Engine::kClassic) {
      EXPECT_EQ(1, result.status);
      EXPECT_EQ(summary(b) + "decompiling " + name + "...\n" + could_not_open(name),
                result.console);
      EXPECT_EQ(project({}, {name}), result.files);
    } else {
      const std::string shortened(64, 'a');
      EXPECT_EQ(0, result.status);
      EXPECT_EQ(compilable_summary(b) + written({shortened}, 1), result.console);
      EXPECT_EQ(one_file(shortened, kCompilableBuiltinLine), result.files);
    }
  }
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
  // The compilable engine writes the text whole, and names as long as qcc reads them (62
  // characters), told apart where the shortened names meet.
  RunResult compilable = run(Engine::kCompilable, with_x_and_y(b));
  EXPECT_EQ(0, compilable.status);
  const std::string name = long_name.substr(0, 62);
  const std::string other = long_name.substr(0, 56);
  EXPECT_EQ(one_file("f.qc", "string " + name + " = \"" + long_text + "\";\nfloat " + other +
                                 "_1 = 0;\nfloat y;\n\nvoid() " + other +
                                 "_2 =\n{\n\ty = " + other + "_1;\n};\n"),
            compilable.files);
  RunResult result = run(Engine::kClassic, b);
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
    // The compilable engine keeps each value read twice in a variable, so nothing doubles.
    // The temporary must be one of the globals; beyond them it ends the run.
    const ProgsBuilder within = expect_cell_42_past_the_globals(b);
    RunResult compilable = run(Engine::kCompilable, within);
    EXPECT_EQ(0, compilable.status);
    std::string kept = "float x = 0;\nfloat y;\n\nvoid() f =\n{\n";
    for (int i = 1; i <= doublings; ++i) {
      kept += "\tlocal float local" + std::to_string(i) + ";\n";
    }
    kept += "\tlocal1 = x + x;\n";
    for (int i = 2; i <= doublings; ++i) {
      const std::string last = "local" + std::to_string(i - 1);
      kept += "\tlocal" + std::to_string(i) + " = " + last + " + " + last + ";\n";
    }
    const std::string last = "local" + std::to_string(doublings);
    kept += "\ty = " + last + " + " + last + ";\n};\n";
    EXPECT_EQ(one_file("f.qc", kept), compilable.files);
    RunResult result = run(Engine::kClassic, b);
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
  std::string text;                       // the function's body lines (classic engine)
  bool corrupt;                           // the indentation warning is printed (classic engine)
  const char* compilable;                 // the compilable engine's message
};

constexpr const char* kJumpLeaves =
    "Fatal Error - f: the jump at instruction 1 leaves the function.\n";

// The classic engine writes what it can; to the compilable engine the program is malformed,
// and the run ends before any file is written.
TEST(HostileJumps, JumpsLeavingTheFunctionKeepTheClassicRunGoingAndEndTheCompilableOne) {
  const JumpCase cases[] = {
      {"IFNOT beyond the statement array",
       {{image::OP_IFNOT, kX, 1000, 0}, {image::OP_DONE, 0, 0, 0}},
       "\tif (x)\n\t{\n",
       true,
       kJumpLeaves},
      {"IFNOT to the last possible distance",
       {{image::OP_IFNOT, kX, 32767, 0}, {image::OP_DONE, 0, 0, 0}},
       "\tif (x)\n\t{\n",
       true,
       kJumpLeaves},
      {"GOTO beyond the statement array",
       {{image::OP_GOTO, 1000, 0, 0}, {image::OP_DONE, 0, 0, 0}},
       "}\nelse\n{\n",
       false,
       kJumpLeaves},
      {"GOTO back past the function's start",
       {{image::OP_GOTO, -5, 0, 0}, {image::OP_DONE, 0, 0, 0}},
       "}\n",
       true,
       kJumpLeaves},
      {"GOTO to the lowest distance",
       {{image::OP_GOTO, -32768, 0, 0}, {image::OP_DONE, 0, 0, 0}},
       "}\n",
       true,
       kJumpLeaves},
      {"IF back to the null statement",
       {{image::OP_IF, kX, -1, 0}, {image::OP_DONE, 0, 0, 0}},
       "\n} while (x);\n",
       true,
       kJumpLeaves},
      {"IF beyond the statement array",
       {{image::OP_IF, kX, 5000, 0}, {image::OP_DONE, 0, 0, 0}},
       "\n} while (x);\n",
       true,
       kJumpLeaves},
      {"no DONE before the end of the array",
       {{image::OP_STORE_F, kX, kY, 0}},
       "\ty = x;\n",
       false,
       "Fatal Error - f: instruction 1 runs past the end of the function.\n"},
      {"a CALL as the last statement of the array",
       {{image::OP_STORE_F, kX, kY, 0}, {image::OP_CALL0, kX, 0, 0}},
       "\ty = x;\n\tx ();\n",
       false,
       "Fatal Error - f: instruction 2 runs past the end of the function.\n"},
  };
  for (const JumpCase& c : cases) {
    SCOPED_TRACE(c.name);
    ProgsBuilder b = base_program();
    for (const tests::RawStatement& s : c.body) {
      b.add_statement(s.op, s.a, s.b, s.c);
    }
    b.add_function(1, 29, 0, "f", "f.qc");
    RunResult result = run(Engine::kClassic, b);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(summary(b) + "decompiling f.qc...\n" + (c.corrupt ? kIndentWarning : ""),
              result.console);
    EXPECT_EQ(one_file("f.qc", function_text("void () f", c.text)), result.files);
    result = run(Engine::kCompilable, with_x_and_y(b));
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(compilable_summary(with_x_and_y(b)) + c.compilable, result.console);
    EXPECT_TRUE(result.files.empty());
  }
}

// The pass marks the target like any other, so an IFNOT of distance 0 closes a block
// in front of itself before the translator refuses it.
// To the compilable engine an IFNOT in place is a loop that waits for x, and one back
// out of the function is malformed.
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
    RunResult result = run(Engine::kClassic, b);
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(summary(b) + "decompiling f.qc...\nFound a negative IFNOT jump.\n", result.console);
    EXPECT_EQ(one_file("f.qc", std::string("\nvoid () f =\n{\n") + c.body), result.files);
    result = run(Engine::kCompilable, with_x_and_y(b));
    if (c.distance == 0) {
      EXPECT_EQ(0, result.status);
      EXPECT_EQ(compilable_summary(with_x_and_y(b)) + written({"f.qc"}, 1), result.console);
      EXPECT_EQ(
          one_file(
              "f.qc",
              "float x = 0;\nfloat y = 0;\n\nvoid() f =\n{\n\twhile (!x)\n\t{\n\t\t0;\n\t}\n};\n"),
          result.files);
    } else {
      EXPECT_EQ(1, result.status);
      EXPECT_EQ(compilable_summary(with_x_and_y(b)) + kJumpLeaves, result.console);
      EXPECT_TRUE(result.files.empty());
    }
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
  RunResult compilable = run(Engine::kCompilable, with_x_and_y(b));
  EXPECT_EQ(1, compilable.status);
  EXPECT_EQ(compilable_summary(with_x_and_y(b)) + kJumpLeaves, compilable.console);
  EXPECT_TRUE(compilable.files.empty());
  RunResult result = run(Engine::kClassic, b);
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
  // The compilable engine nests the tests; the last one guards nothing, and its condition
  // is still computed.
  std::string nested;
  for (int level = 1; level < kJumps; ++level) {
    nested += std::string(level, '\t') + "if (x)\n" + std::string(level, '\t') + "{\n";
  }
  nested += std::string(kJumps, '\t') + "x;\n";
  for (int level = kJumps - 1; level >= 1; --level) {
    nested += std::string(level, '\t') + "}\n";
  }
  RunResult compilable = run(Engine::kCompilable, with_x_and_y(b));
  EXPECT_EQ(0, compilable.status);
  EXPECT_EQ(compilable_summary(with_x_and_y(b)) + written({"f.qc"}, 1), compilable.console);
  EXPECT_EQ(one_file("f.qc", "float x = 0;\nfloat y = 0;\n\nvoid() f =\n{\n" + nested + "};\n"),
            compilable.files);
  RunResult result = run(Engine::kClassic, b);
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
  // To the compilable engine it is one loop that goes on while any of the tests holds.
  std::string tests = "x";
  for (int p = 2; p <= kLoops; ++p) {
    tests += " || x";
  }
  RunResult compilable = run(Engine::kCompilable, with_x_and_y(b));
  EXPECT_EQ(0, compilable.status);
  EXPECT_EQ(compilable_summary(with_x_and_y(b)) + written({"f.qc"}, 1), compilable.console);
  EXPECT_EQ(one_file("f.qc",
                     "float x = 0;\nfloat y;\n\nvoid() f =\n{\n\tdo\n\t{\n\t\ty = x;\n\t}\n"
                     "\twhile (" +
                         tests + ");\n};\n"),
            compilable.files);
  RunResult result = run(Engine::kClassic, b);
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(summary(b) + "decompiling f.qc...\n", result.console);
  EXPECT_EQ(one_file("f.qc", function_text("void () f", body)), result.files);
}

std::string unknown_opcode(int op) {
  return "Fatal Error - f: unknown opcode " + std::to_string(op) + " at instruction 1.\n";
}

// The classic engine warns and writes nothing for them; to the compilable engine they are
// extended instructions (99 reads a vector, here past the globals).
TEST(HostileOpWords, UnknownOpcodesWarnAndWriteNothing) {
  for (uint16_t op : {66, 80, 99}) {
    SCOPED_TRACE(op);
    ProgsBuilder b = base_program();
    b.add_statement(op, kX, kY, kX);
    b.add_statement(image::OP_STORE_F, kX, kY);
    b.add_statement(image::OP_DONE);
    b.add_function(1, 29, 0, "f", "f.qc");
    RunResult result = run(Engine::kClassic, b);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(summary(b) + "decompiling f.qc...\nWarning: Unknown command\n", result.console);
    EXPECT_EQ(one_file("f.qc", function_text("void () f", "\ty = x;\n")), result.files);
    result = run(Engine::kCompilable, with_x_and_y(b));
    if (op == 99) {
      EXPECT_EQ(1, result.status);
      EXPECT_EQ(compilable_summary(with_x_and_y(b)) +
                    "Fatal Error - f: instruction 1 names cells 40 to 42, outside the 42 global "
                    "cells.\n",
                result.console);
      EXPECT_TRUE(result.files.empty());
    } else {
      EXPECT_EQ(0, result.status);
      EXPECT_EQ(compilable_summary(with_x_and_y(b)) + written({"f.qc"}, 1), result.console);
    }
  }
}

// Opcodes no interpreter runs end the compilable run; the classic engine reads them as a
// smaller opcode with block marks.
TEST(HostileOpWords, OpcodesNoInterpreterRunsEndTheCompilableRun) {
  for (uint16_t op : {282, 1000, 65535}) {
    SCOPED_TRACE(op);
    ProgsBuilder b = base_program();
    b.add_statement(op, kX, kY, kX);
    b.add_statement(image::OP_DONE);
    b.add_function(1, 29, 0, "f", "f.qc");
    EXPECT_EQ(0, run(Engine::kClassic, b).status);
    RunResult result = run(Engine::kCompilable, with_x_and_y(b));
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(compilable_summary(with_x_and_y(b)) + unknown_opcode(op), result.console);
    EXPECT_TRUE(result.files.empty());
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
    // To the compilable engine 199 is an extended instruction of no operands.
    RunResult compilable = run(Engine::kCompilable, with_x_and_y(b));
    EXPECT_EQ(0, compilable.status);
    EXPECT_EQ(compilable_summary(with_x_and_y(b)) + written({"f.qc"}, 1) +
                  "Warning: 1 instructions no source spells were written as calls of their "
                  "names (__name): no compiler reads them\n",
              compilable.console);
    RunResult result = run(Engine::kClassic, b);
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
    RunResult compilable = run(Engine::kCompilable, with_x_and_y(b));
    EXPECT_EQ(1, compilable.status);
    EXPECT_EQ(compilable_summary(with_x_and_y(b)) + unknown_opcode(65535), compilable.console);
    EXPECT_TRUE(compilable.files.empty());
    RunResult result = run(Engine::kClassic, b);
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
  std::string compilable_parameters;
  for (int k = 0; k < 8; ++k) {
    compilable_parameters += "float param" + std::to_string(k) + (k < 7 ? ", " : "");
  }
  struct Case {
    int32_t numparms;
    std::string warnings;
    std::string signature;
    std::string compilable_signature;  // a negative count: a list of any length
  };
  const Case cases[] = {
      {9, eight_warnings, "void (" + eight_parameters + ") f",
       "void(" + compilable_parameters + ") f"},
      {100, eight_warnings, "void (" + eight_parameters + ") f",
       "void(" + compilable_parameters + ") f"},
      {INT_MAX, eight_warnings, "void (" + eight_parameters + ") f",
       "void(" + compilable_parameters + ") f"},
      {-1, "", "void () f", "void(...) f"},
      {INT_MIN, "", "void () f", "void(...) f"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.numparms);
    ProgsBuilder b = tests::new_program();
    b.add_statement(image::OP_DONE);
    b.add_function(1, 29, 0, "f", "f.qc", {1, 1, 1, 1, 1, 1, 1, 1});
    b.functions[1].numparms = c.numparms;
    RunResult result = run(Engine::kClassic, b);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(summary(b) + c.warnings + "decompiling f.qc...\n", result.console);
    EXPECT_EQ(one_file("f.qc", function_text(c.signature, "")), result.files);
    result = run(Engine::kCompilable, b);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(compilable_summary(b) + written({"f.qc"}, 1), result.console);
    // A function no definition names is declared first.
    EXPECT_EQ(
        one_file("f.qc", c.compilable_signature + ";\n\n" + c.compilable_signature + " =\n{\n};\n"),
        result.files);
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
    // The compilable engine declares only what lies in the loaded globals.
    RunResult compilable = run(Engine::kCompilable, b);
    EXPECT_EQ(0, compilable.status);
    EXPECT_EQ(
        one_file("f.qc", "void() f;\n" +
                             std::string(loaded ? "float g = 2.5;\nvector v = '1.5 0 0';\n" : "") +
                             "\nvoid() f =\n{\n};\n"),
        compilable.files);
    RunResult result = run(Engine::kClassic, b);
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
  RunResult result = run(Engine::kClassic, b);
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(one_file("f.qc", "\nvoid () f =\n{\n\tlocal vector v;\n\n};\n"), result.files);
  // The compilable engine declares no local beyond the loaded globals.
  result = run(Engine::kCompilable, b);
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(one_file("f.qc", "void() f;\n\nvoid() f =\n{\n};\n"), result.files);
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

// The compilable engine's text for builtins(count): one name, told apart by a number.
std::string compilable_builtins(int count) {
  std::string text;
  for (int i = 1; i < count; ++i) {
    text +=
        std::string("void(vector p0) f") + (i > 1 ? "_" + std::to_string(i - 1) : "") + " = #1;\n";
  }
  return text;
}

// The classic engine stops at its limit; the compilable engine has none.
TEST(HostileCounts, MoreThan8192FunctionsEndTheRunBeforeAnyOutput) {
  ProgsBuilder b = builtins(8193);
  RunResult result = run(Engine::kClassic, b);
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(summary(b) + "Fatal Error - too many functions.\n", result.console);
  EXPECT_TRUE(result.files.empty());
  result = run(Engine::kCompilable, b);
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(compilable_summary(b) + written({"test.qc"}, 8192), result.console);
  EXPECT_EQ(one_file("test.qc", compilable_builtins(8193)), result.files);
}

TEST(HostileCounts, Exactly8192FunctionsAreAllWritten) {
  ProgsBuilder b = builtins(8192);
  RunResult result = run(Engine::kClassic, b);
  EXPECT_EQ(0, result.status);
  std::string text;
  for (int i = 1; i < 8192; ++i) {
    text += kBuiltinLine;
  }
  EXPECT_EQ(one_file("test.qc", text), result.files);
  result = run(Engine::kCompilable, b);
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(compilable_summary(b) + written({"test.qc"}, 8191), result.console);
  EXPECT_EQ(one_file("test.qc", compilable_builtins(8192)), result.files);
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
  RunResult result = run(Engine::kClassic, b);
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(summary(b) + console + "Fatal Error - too many source files.\n", result.console);
  EXPECT_EQ(project(sources, listed), result.files);
  // The compilable engine writes them all; the last function joins the first file.
  result = run(Engine::kCompilable, b);
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(compilable_summary(b) + written(listed, 1002), result.console);
  Files compilable;
  for (int i = 1; i <= 1001; ++i) {
    compilable["f" + std::to_string(i) + ".qc"] =
        std::string("void(vector p0) f") + (i > 1 ? "_" + std::to_string(i - 1) : "") + " = #1;\n";
  }
  compilable["f1.qc"] += "void(vector p0) f_1001 = #1;\n";
  EXPECT_EQ(project(compilable, listed), result.files);
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
  RunResult result = run(Engine::kClassic, b);
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(summary(b) + console + "Fatal Error - too many source files.\n", result.console);
  EXPECT_EQ(project(sources, listed), result.files);
  // To the compilable engine the name is usable, and there is no limit.
  result = run(Engine::kCompilable, b);
  listed.push_back("bad-name.qc");
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(compilable_summary(b) + written(listed, 1001), result.console);
  Files compilable;
  for (size_t i = 0; i < listed.size(); ++i) {
    compilable[listed[i]] =
        std::string("void(vector p0) f") + (i > 0 ? "_" + std::to_string(i) : "") + " = #1;\n";
  }
  EXPECT_EQ(project(compilable, listed), result.files);
}

struct NameCase {
  const char* s_file;
  const char* written;     // the file the function goes to
  bool opens;              // else the run ends with the open message
  const char* compilable;  // the file the compilable engine writes it to
};

// The compilable engine keeps letters, digits, '_', '-' and '.', makes anything else '_',
// and puts what starts with '.' or names the project list into "functions.qc"; the input's
// own name gets a '_' in front.
constexpr NameCase kNameCases[] = {
    {".", ".", false, "functions.qc"},
    {"..", "..", false, "functions.qc"},
    {"/", ".", false, "_"},
    {"./", "..", false, "functions.qc"},
    {"\\\\", "..", false, "__"},
    {"progs.src", "vorn1.qc", true, "functions.qc"},
    {"progs/src", "vorn1.qc", true, "progs_src"},
    {"progs.dat", "vorn1.qc", true, "_progs.dat"},
    {"progs\\dat", "vorn1.qc", true, "progs_dat"},
    {"../x.qc", "...x.qc", true, "functions.qc"},
    {"..\\x.qc", "...x.qc", true, "functions.qc"},
    {"../../etc/passwd", "......etc.passwd", true, "functions.qc"},
    {"/tmp/x.qc", ".tmp.x.qc", true, "_tmp_x.qc"},
    {"..//..//x.qc", "........x.qc", true, "functions.qc"},
};

TEST(HostileNames, SourceFileNamesStayInTheCurrentDirectory) {
  for (const NameCase& c : kNameCases) {
    SCOPED_TRACE(c.s_file);
    ProgsBuilder b = builtin_in(c.s_file);
    RunResult result = run(Engine::kClassic, b);
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
    result = run(Engine::kCompilable, b);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(compilable_summary(b) + written({c.compilable}, 1), result.console);
    EXPECT_EQ(one_file(c.compilable, kCompilableBuiltinLine), result.files);
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
    for (Engine engine : kEngines) {
      SCOPED_TRACE(std::string(engine_name(engine)) + ", " + c.name);
      ProgsBuilder b = builtin_in(c.s_file);
      RunResult result = run_engine(engine, {"game.dat"}, "game.dat", [&] {
        b.write("game.dat");
        c.extra_setup();
      });
      EXPECT_EQ(0, result.status);
      if (engine == Engine::kClassic) {
        EXPECT_EQ(summary(b, "game.dat") + "decompiling vorn1.qc...\n", result.console);
        EXPECT_EQ(one_file("vorn1.qc", kBuiltinLine), result.files);
      } else {
        // The compilable engine writes it under the name with a '_' in front.
        const std::string name = std::string("_") + c.s_file;
        EXPECT_EQ(compilable_summary(b, "game.dat") + written({name}, 1), result.console);
        EXPECT_EQ(one_file(name, kCompilableBuiltinLine), result.files);
      }
    }
  }
}

// The input in another directory: the outputs still go to the current one, also one
// with the input's own file name, which is then another file.
TEST(HostileNames, InputElsewhereLeavesOutputsInTheCurrentDirectory) {
  ProgsBuilder b = builtin_in("game.dat");
  for (Engine engine : kEngines) {
    SCOPED_TRACE(engine_name(engine));
    RunResult result = run_engine(engine, {"in/game.dat"}, "in/game.dat", [&b] {
      ASSERT_EQ(0, ::mkdir("in", 0755));
      b.write("in/game.dat");
    });
    EXPECT_EQ(0, result.status);
    if (engine == Engine::kClassic) {
      EXPECT_EQ(summary(b, "in/game.dat") + "decompiling game.dat...\n", result.console);
      EXPECT_EQ(one_file("game.dat", kBuiltinLine), result.files);
    } else {
      EXPECT_EQ(compilable_summary(b, "in/game.dat") + written({"game.dat"}, 1), result.console);
      EXPECT_EQ(one_file("game.dat", kCompilableBuiltinLine), result.files);
    }
  }
}

TEST(HostileNames, InputNamedProgsSrcIsNeverOverwritten) {
  ProgsBuilder b = builtin_in("f.qc");
  for (Engine engine : kEngines) {
    SCOPED_TRACE(engine_name(engine));
    RunResult result =
        run_engine(engine, {"progs.src"}, "progs.src", [&b] { b.write("progs.src"); });
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(summary_of(engine, b, "progs.src") + could_not_open("progs.src"), result.console);
    EXPECT_TRUE(result.files.empty());
  }
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
    for (Engine engine : kEngines) {
      SCOPED_TRACE(std::string(engine_name(engine)) + ", " + c.name);
      ProgsBuilder b = builtin_in("a.qc");
      RunResult result = run_engine(engine, {}, "progs.dat", [&] {
        b.write("progs.dat");
        c.make();
      });
      EXPECT_EQ(1, result.status);
      const std::string announced =
          engine == Engine::kClassic ? "decompiling a.qc...\n" : "writing a.qc...\n";
      if (std::string(c.taken) == "progs.src") {
        EXPECT_EQ(summary_of(engine, b) + could_not_open("progs.src"), result.console);
        EXPECT_TRUE(result.files.empty());
      } else {
        EXPECT_EQ(summary_of(engine, b) + announced + could_not_open("a.qc"), result.console);
        EXPECT_EQ(project({}, {"a.qc"}), result.files);
      }
    }
  }
}

// A dangling link that points out of the directory, under the name of the output and
// under the name the run's directory is checked with: its target is not created.
TEST(HostileNames, DanglingLinkOutOfTheDirectoryCreatesNothingThere) {
  for (const char* file : {"a.qc", kTrapName}) {
    for (Engine engine : kEngines) {
      SCOPED_TRACE(std::string(engine_name(engine)) + ", " + file);
      ProgsBuilder b = builtin_in(file);
      RunResult result = run_engine(engine, {}, "progs.dat", [&b, file] {
        b.write("progs.dat");
        if (std::string(file) != kTrapName) {
          ASSERT_EQ(0, ::symlink("../made.txt", file));
        }
      });
      const std::string announced = engine == Engine::kClassic ? "decompiling " : "writing ";
      EXPECT_EQ(1, result.status);
      EXPECT_EQ(summary_of(engine, b) + announced + file + "...\n" + could_not_open(file),
                result.console);
      EXPECT_EQ(project({}, {file}), result.files);
    }
  }
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
      RunResult result = run(Engine::kClassic, b);
      image::lookup_mode.use_scans = previous;
      EXPECT_EQ(0, result.status);
      EXPECT_EQ(summary(b) + "decompiling f.qc...\n", result.console);
      EXPECT_EQ(one_file("f.qc", function_text("void () f", "")), result.files);
    }
  }
}

// To the compilable engine the record is malformed.
TEST(HostileRecords, FirstStatementBeyondTheArrayEndsTheCompilableRun) {
  for (int32_t first : {3, 1000, INT_MAX}) {
    SCOPED_TRACE(first);
    ProgsBuilder b = base_program();
    b.add_statement(image::OP_RETURN, kX);
    b.add_statement(image::OP_DONE);
    b.add_function(first, 29, 0, "f", "f.qc");
    RunResult result = run(Engine::kCompilable, b);
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(
        compilable_summary(b) + "Fatal Error - f: its code starts past the last instruction.\n",
        result.console);
    EXPECT_TRUE(result.files.empty());
  }
}

TEST(HostileRecords, BuiltinNumberFromIntMinIsUnknown) {
  ProgsBuilder b = tests::new_program();
  b.add_function(INT_MIN, 28, 0, "f", "f.qc");
  RunResult result = run(Engine::kClassic, b);
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(summary(b) + "Warning: unknown builtin f\ndecompiling f.qc...\n", result.console);
  EXPECT_EQ(one_file("f.qc", "void () f = #2147483648; \n"), result.files);
  result = run(Engine::kCompilable, b);
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(compilable_summary(b) + written({"f.qc"}, 1), result.console);
  EXPECT_EQ(one_file("f.qc", "void() f = #2147483648;\n"), result.files);
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
    const char* prototype;  // the compilable engine's: the area after the globals
  };
  const Case cases[] = {
      {INT_MAX, INT_MAX, "float x    = 0;\nfloat y    = 0;\n", "\n",
       std::to_string(int64_t{42} - INT_MAX + 28), "void() f;\n"},
      {INT_MIN, INT_MIN, "", "", std::to_string(int64_t{42} - INT_MIN + 28), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.parm_start);
    ProgsBuilder b = base_program();
    b.add_statement(image::OP_ADD_F, kX, kX, 42);  // into a temporary
    b.add_statement(image::OP_DONE);
    b.add_function(1, c.parm_start, c.locals, "f", "f.qc");
    RunResult result = run(Engine::kClassic, b);
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(
        summary(b) + "decompiling f.qc...\nFatal Error - Index (" + c.index + ") out of bounds.\n",
        result.console);
    EXPECT_EQ(one_file("f.qc", c.globals + "\nvoid () f =\n{\n" + c.locals_text), result.files);
    // The temporary lies past the globals: to the compilable engine the program is
    // malformed. With it among the globals, the area is no hindrance.
    const ProgsBuilder within = expect_cell_42_past_the_globals(b);
    result = run(Engine::kCompilable, within);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(compilable_summary(within) + written({"f.qc"}, 1), result.console);
    // The sum nothing reads is still computed.
    EXPECT_EQ(one_file("f.qc", c.prototype + std::string("float x = 0;\nfloat y = 0;\n\nvoid() f "
                                                         "=\n{\n\tx + x;\n};\n")),
              result.files);
  }
}

// After a record whose area ends at INT_MIN + INT_MIN the walk starts below 0 and meets
// the null definition at offset 0; after INT_MAX + INT_MAX it starts beyond everything.
TEST(HostileRecords, WalkAfterAnAreaAtTheIntLimits) {
  struct Case {
    int32_t value;
    std::string globals;
    const char* compilable;  // everything where its area lies, or in the order of the cells
  };
  const Case cases[] = {
      {INT_MIN, "void ;\n",
       "\nvoid() f =\n{\n};\nvoid() f;\nvoid(vector p0) g = #1;\nfloat x = 0;\nfloat y = 0;\n"},
      {INT_MAX, "", "float x = 0;\nfloat y = 0;\nvoid(vector p0) g = #1;\n\nvoid() f =\n{\n};\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    ProgsBuilder b = base_program();
    b.add_statement(image::OP_DONE);
    b.add_function(1, c.value, c.value, "f", "f.qc");
    b.add_function(-1, 29, 0, "g", "f.qc");
    RunResult result = run(Engine::kClassic, b);
    EXPECT_EQ(0, result.status);
    const std::string first = c.value == INT_MAX ? "float x    = 0;\nfloat y    = 0;\n" : "";
    const std::string locals = c.value == INT_MAX ? "\n" : "";
    EXPECT_EQ(one_file("f.qc", first + "\nvoid () f =\n{\n" + locals + "};\n" + c.globals +
                                   "void (vector ang) g = #1; \n"),
              result.files);
    result = run(Engine::kCompilable, with_x_and_y(b));
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(compilable_summary(with_x_and_y(b)) + written({"f.qc"}, 2), result.console);
    EXPECT_EQ(one_file("f.qc", c.compilable), result.files);
  }
}

// What the compilable engine reads that the classic engine does not: operands of every
// instruction and the sizes of parameters. Each is malformed, and ends the compilable run
// before any file is written; the classic engine writes what it can.
TEST(HostileCompilable, MalformedInstructionsAndRecordsEndTheRun) {
  struct Case {
    const char* name;
    std::vector<tests::RawStatement> body;  // from statement 1
    std::vector<uint8_t> parm_sizes;
    int classic_status;
    const char* message;  // the compilable engine's, or null when it completes
  };
  const Case cases[] = {
      {"operand past the globals",
       {{image::OP_ADD_F, kX, 50, kY}, {image::OP_DONE, 0, 0, 0}},
       {},
       1,
       "Fatal Error - f: instruction 1 names cell 50, outside the 42 global cells.\n"},
      {"operand of 16 bits all but two set (version 6 operands are unsigned)",
       {{image::OP_STORE_F, -5, kY, 0}, {image::OP_DONE, 0, 0, 0}},
       {},
       1,
       "Fatal Error - f: instruction 1 names cell 65531, outside the 42 global cells.\n"},
      {"result past the globals",
       {{image::OP_STORE_F, kX, 1000, 0}, {image::OP_DONE, 0, 0, 0}},
       {},
       0,
       "Fatal Error - f: instruction 1 names cell 1000, outside the 42 global cells.\n"},
      {"vector whose last cells lie past the globals",
       {{image::OP_ADD_V, kX, kX, 30}, {image::OP_DONE, 0, 0, 0}},
       {},
       0,
       "Fatal Error - f: instruction 1 names cells 40 to 42, outside the 42 global cells.\n"},
      {"unreached instruction after the end",
       {{image::OP_RETURN, 0, 0, 0}, {image::OP_STORE_F, kX, 1000, 0}, {image::OP_DONE, 0, 0, 0}},
       {},
       0,
       nullptr},
      {"parameter of 2 cells",
       {{image::OP_DONE, 0, 0, 0}},
       {1, 2},
       0,
       "Fatal Error - f: parameter 2 takes 2 cells, not 1 or 3.\n"},
      {"parameter of 0 cells",
       {{image::OP_DONE, 0, 0, 0}},
       {0},
       0,
       "Fatal Error - f: parameter 1 takes 0 cells, not 1 or 3.\n"},
      {"parameter of 255 cells",
       {{image::OP_DONE, 0, 0, 0}},
       {3, 255},
       0,
       "Fatal Error - f: parameter 2 takes 255 cells, not 1 or 3.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgsBuilder b = base_program();
    for (const tests::RawStatement& s : c.body) {
      b.add_statement(s.op, s.a, s.b, s.c);
    }
    b.add_function(1, 29, 0, "f", "f.qc", c.parm_sizes);
    RunResult result = run(Engine::kClassic, b);
    EXPECT_EQ(c.classic_status, result.status);
    result = run(Engine::kCompilable, with_x_and_y(b));
    if (c.message == nullptr) {
      // Code no path reaches is never read.
      EXPECT_EQ(0, result.status);
      EXPECT_EQ(compilable_summary(with_x_and_y(b)) + written({"f.qc"}, 1), result.console);
      continue;
    }
    EXPECT_EQ(1, result.status);
    EXPECT_EQ(compilable_summary(with_x_and_y(b)) + c.message, result.console);
    EXPECT_TRUE(result.files.empty());
  }
}

// Function areas the compilable engine reads and the classic engine walks: areas that
// overlap (compilers let functions share cells that are never live at once), reach past the
// globals or past every int. Every one is well-formed, and both runs complete.
TEST(HostileCompilable, FunctionAreasThatOverlapOrReachPastTheGlobalsAreRead) {
  struct Case {
    const char* name;
    int32_t parm_start[2];
    int32_t locals[2];
  };
  const Case cases[] = {
      {"two functions, one area", {42, 42}, {1, 1}},
      {"areas overlapping by a cell", {42, 43}, {2, 1}},
      {"an area past the globals", {42, 42}, {1, 1000}},
      {"locals to the end of the ints", {42, 42}, {INT_MAX, INT_MAX}},
  };
  // The value lives in a temporary of the area, which each function passes on at once.
  const char* compilable =
      "void() f;\nvoid() g;\nfloat x = 0;\nfloat y;\n\nvoid() f =\n{\n\ty = x;\n};\n\nvoid() g "
      "=\n{\n\ty = x;\n};\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgsBuilder b = base_program();
    b.set_float(44, 0);
    for (int f = 0; f < 2; ++f) {
      // Each keeps x in its first local and copies it to y.
      const int first = b.add_statement(image::OP_STORE_F, kX, c.parm_start[f]);
      b.add_statement(image::OP_STORE_F, c.parm_start[f], kY);
      b.add_statement(image::OP_DONE);
      b.add_function(first, c.parm_start[f], c.locals[f], f == 0 ? "f" : "g", "f.qc");
    }
    for (Engine engine : kEngines) {
      SCOPED_TRACE(engine_name(engine));
      RunResult result = run(engine, b);
      EXPECT_EQ(0, result.status);
      if (engine == Engine::kCompilable) {
        EXPECT_EQ(compilable_summary(b) + written({"f.qc"}, 2), result.console);
        EXPECT_EQ(one_file("f.qc", compilable), result.files);
      }
    }
  }
}

// Flow no if/else or loop can write: two blocks that jump into each other, each also
// entered from the start. The compilable engine writes it as a loop over a state variable,
// every branch setting the state.
TEST(HostileCompilable, IrreducibleFlowIsWrittenAsAStateLoop) {
  ProgsBuilder b = base_program();
  b.add_statement(image::OP_IFNOT, kX, 3);     // 1: to 4 when x is false, else 2
  b.add_statement(image::OP_STORE_F, kX, kY);  // 2
  b.add_statement(image::OP_IFNOT, kY, 3);     // 3: to 6 when y is false, else into 4
  b.add_statement(image::OP_STORE_F, kY, kX);  // 4
  b.add_statement(image::OP_IF, kX, -3);       // 5: back to 2 when x, else 6
  b.add_statement(image::OP_DONE);             // 6
  b.add_function(1, 42, 0, "f", "f.qc");
  RunResult result = run(Engine::kClassic, b);
  EXPECT_EQ(0, result.status);
  result = run(Engine::kCompilable, with_x_and_y(b));
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(compilable_summary(with_x_and_y(b)) + written({"f.qc"}, 1, 1), result.console);
  const std::string cases[] = {
      // the start: 0
      "\t\tif (local1 == 0)\n\t\t{\n\t\t\tif (x)\n\t\t\t{\n\t\t\t\tlocal1 = 1;\n\t\t\t}\n"
      "\t\t\telse\n\t\t\t{\n\t\t\t\tlocal1 = 2;\n\t\t\t}\n\t\t}\n",
      // statements 2 and 3: 1
      "\t\telse if (local1 == 1)\n\t\t{\n\t\t\ty = x;\n\t\t\tif (y)\n\t\t\t{\n\t\t\t\tlocal1 = 2;"
      "\n\t\t\t}\n\t\t\telse\n\t\t\t{\n\t\t\t\tlocal1 = 3;\n\t\t\t}\n\t\t}\n",
      // statements 4 and 5: 2
      "\t\telse if (local1 == 2)\n\t\t{\n\t\t\tx = y;\n\t\t\tif (x)\n\t\t\t{\n\t\t\t\tlocal1 = 1;"
      "\n\t\t\t}\n\t\t\telse\n\t\t\t{\n\t\t\t\tlocal1 = 3;\n\t\t\t}\n\t\t}\n",
      // the end: 3
      "\t\telse if (local1 == 3)\n\t\t{\n\t\t\treturn;\n\t\t}\n",
  };
  EXPECT_EQ(one_file("f.qc",
                     "void() f;\nfloat x;\nfloat y;\n\nvoid() f =\n{\n\tlocal float local1;"
                     "\n\tlocal1 = 0;\n\twhile (1)\n\t{\n" +
                         cases[0] + cases[1] + cases[2] + cases[3] + "\t}\n};\n"),
            result.files);
}

// A call of a constant that holds no function record's number: the call is written with
// the null function, which is declared first; its result, used as a float, is the null
// function's too.
TEST(HostileCompilable, CallOfAConstantNamingNoFunctionCallsTheNullFunction) {
  for (int32_t value : {0, 2, 1000, -5}) {
    SCOPED_TRACE(value);
    ProgsBuilder b = base_program();
    b.add_immediate_float(30, 0);
    b.set_int(30, value);
    b.add_statement(image::OP_CALL0, 30);
    b.add_statement(image::OP_DONE);
    ProgsBuilder used = b;
    used.statements.pop_back();
    used.add_statement(image::OP_STORE_F, image::OFS_RETURN, kY);
    used.add_statement(image::OP_DONE);
    used.add_function(1, 42, 0, "f", "f.qc");
    EXPECT_EQ(0, run(Engine::kClassic, used).status);
    const RunResult kept = run(Engine::kCompilable, with_x_and_y(used));
    EXPECT_EQ(0, kept.status);
    EXPECT_EQ(compilable_summary(with_x_and_y(used)) + written({"f.qc"}, 1), kept.console);
    b.add_function(1, 42, 0, "f", "f.qc");
    EXPECT_EQ(0, run(Engine::kClassic, b).status);
    const RunResult result = run(Engine::kCompilable, with_x_and_y(b));
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(compilable_summary(with_x_and_y(b)) + written({"f.qc"}, 1), result.console);
    EXPECT_EQ(one_file("f.qc",
                       "void() null_function;\nfloat x = 0;\nfloat y = 0;\n\nvoid() f =\n{\n"
                       "\tnull_function ();\n};\n"),
              result.files);
  }
}

// A record whose code would start past the statements: the code of the record before it
// ends with the statements, and the run ends at the record that starts past them.
TEST(HostileCompilable, RecordStartingPastTheStatementsEndsTheRunThere) {
  ProgsBuilder b = base_program();
  b.add_statement(image::OP_STORE_F, kX, kY);
  b.add_statement(image::OP_DONE);
  b.add_function(1, 42, 0, "f", "f.qc");
  b.add_function(1000, 42, 0, "g", "f.qc");
  EXPECT_EQ(0, run(Engine::kClassic, b).status);
  const RunResult result = run(Engine::kCompilable, with_x_and_y(b));
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(compilable_summary(with_x_and_y(b)) +
                "Fatal Error - g: its code starts past the last instruction.\n",
            result.console);
  EXPECT_TRUE(result.files.empty());
}

// A test after another whose jump goes to itself: a loop of its own, which the first
// test's condition does not take in, written as a while loop with an empty body.
TEST(HostileCompilable, TestJumpingToItselfAfterAnotherStaysApart) {
  ProgsBuilder b = base_program();
  b.add_statement(image::OP_IF, kX, 2);     // 1: to 3 when x
  b.add_statement(image::OP_IFNOT, kY, 0);  // 2: waits while y is false
  b.add_statement(image::OP_STORE_F, kX, kY);
  b.add_statement(image::OP_DONE);
  b.add_function(1, 42, 0, "f", "f.qc");
  RunResult result = run(Engine::kClassic, b);
  EXPECT_EQ(1, result.status);
  EXPECT_EQ(summary(b) + "decompiling f.qc...\nFound a negative IFNOT jump.\n", result.console);
  result = run(Engine::kCompilable, with_x_and_y(b));
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(compilable_summary(with_x_and_y(b)) + written({"f.qc"}, 1), result.console);
  EXPECT_EQ(one_file("f.qc",
                     "void() f;\nfloat x = 0;\nfloat y;\n\nvoid() f =\n{\n\tif (!x)\n\t{\n"
                     "\t\twhile (!y)\n\t\t{\n\t\t\t0;\n\t\t}\n\t}\n\ty = x;\n};\n"),
            result.files);
}

// A vector read across two vector values (the last cell of one, the first two of the next)
// joins them; a later read of the second then lies past the first's cells, where no variable
// holds it. Found by the fuzzer (an out-of-bounds component name).
TEST(HostileCompilable, VectorReadAcrossTwoValuesIsReadWhereItLies) {
  ProgsBuilder b = base_program();
  constexpr int kV = 43;                         // an unnamed vector constant, 43..45
  b.add_statement(image::OP_ADD_V, kV, kV, 30);  // 1: a value in 30..32
  b.add_statement(image::OP_ADD_V, kV, kV, 33);  // 2: another in 33..35
  b.add_statement(image::OP_ADD_V, 32, kV, 36);  // 3: reads 32..34, across both
  b.add_statement(image::OP_ADD_V, 33, kV, 36);  // 4: reads the second whole
  b.add_statement(image::OP_STORE_F, 36, kX);
  b.add_statement(image::OP_DONE);
  b.add_function(1, 30, 9, "f", "f.qc");
  b.set_float(kV + 2, 0);
  const RunResult result = run(Engine::kCompilable, b);
  EXPECT_EQ(0, result.status) << result.console;
  // The summary and the closing line; the warnings after it count what crafted code mixes.
  const std::string closing = compilable_summary(b) + written({"f.qc"}, 1);
  EXPECT_EQ(closing, result.console.substr(0, closing.size()));
  ASSERT_EQ(1u, result.files.count("f.qc"));
  EXPECT_NE(std::string::npos, result.files.at("f.qc").find("void() f =\n{\n"))
      << result.files.at("f.qc");
}

// Three named constants of one cell and no function: the declarations that name the cell
// again are no functions to the check of the order of declarations.
TEST(HostileCompilable, ConstantsSharingACellAreEachDeclared) {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(image::ev_float, 30, "a");
  b.add_globaldef(image::ev_float, 30, "b");
  b.add_globaldef(image::ev_float, 30, "c");
  b.set_float(30, 5);
  RunResult result = run(Engine::kClassic, b);
  EXPECT_EQ(0, result.status);
  result = run(Engine::kCompilable, b);
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(compilable_summary(b) + written({"functions.qc"}, 0), result.console);
  EXPECT_EQ(one_file("functions.qc", "float a = 5;\nfloat b = 5;\nfloat c = 5;\n"), result.files);
}

// Two source files whose names become the same file name: one is the input's, which is
// written with a '_' in front, the other already has it.
TEST(HostileCompilable, FileNamesMadeAlikeStayApart) {
  ProgsBuilder b = tests::new_program();
  b.add_function(-1, 28, 0, "f", "progs.dat");
  b.add_function(-1, 28, 0, "g", "_progs.dat");
  RunResult result = run(Engine::kClassic, b);
  EXPECT_EQ(0, result.status);
  result = run(Engine::kCompilable, b);
  EXPECT_EQ(0, result.status);
  EXPECT_EQ(compilable_summary(b) + written({"__progs.dat", "_progs.dat"}, 2), result.console);
  EXPECT_EQ(project({{"__progs.dat", "void(vector p0) f = #1;\n"},
                     {"_progs.dat", "void(vector p0) g = #1;\n"}},
                    {"__progs.dat", "_progs.dat"}),
            result.files);
}

size_t count_of(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// Programs nested far deeper than any real one: the compilable engine must neither run out
// of stack nor take time beyond the program's size. Expressions deeper than it writes are
// kept in variables, structures deeper than it writes become a state loop.
TEST(HostileCompilable, DeepNestingIsWrittenWithinTheStack) {
  constexpr int kDepth = 10000;
  {
    SCOPED_TRACE("10000 nested ifs");
    ProgsBuilder b = base_program();
    for (int i = 0; i < kDepth; ++i) {
      b.add_statement(image::OP_IFNOT, kX, 2 * (kDepth - i));
      b.add_statement(image::OP_STORE_F, kX, kY);
    }
    b.add_statement(image::OP_DONE);
    b.add_function(1, 42, 0, "f", "f.qc");
    // Only the compilable engine: the classic engine indents every level, 200 MB of text
    // at this depth. Past the structuring's budget the function is a state loop of 10002
    // cases (each test with the copy before it), an else-if chain the printer walks in a
    // loop.
    const ProgsBuilder program = with_x_and_y(b);
    RunResult result = run(Engine::kCompilable, program);
    EXPECT_EQ(0, result.status);
    EXPECT_EQ(compilable_summary(program) + written({"f.qc"}, 1, 1), result.console);
    const std::string& text = result.files["f.qc"];
    EXPECT_EQ(static_cast<size_t>(kDepth), count_of(text, "\t\t\ty = x;\n"));
    EXPECT_EQ(static_cast<size_t>(kDepth + 1), count_of(text, "\t\telse if (local1 == "));
  }
  {
    SCOPED_TRACE("10000 additions, each to the last");
    ProgsBuilder b = base_program();
    b.set_float(42, 0);
    b.add_statement(image::OP_ADD_F, kX, kX, 42);
    for (int i = 0; i < kDepth; ++i) {
      b.add_statement(image::OP_ADD_F, 42, kX, 42);
    }
    b.add_statement(image::OP_STORE_F, 42, kY);
    b.add_statement(image::OP_DONE);
    b.add_function(1, 43, 0, "f", "f.qc");
    for (Engine engine : kEngines) {
      SCOPED_TRACE(engine_name(engine));
      RunResult result = run(engine, b);
      if (engine == Engine::kClassic) {
        EXPECT_EQ(0, result.status);
        continue;
      }
      // A value 1000 deep goes into a variable, and the sum goes on from there.
      std::vector<std::string> kept;
      std::string sum = "x + x";
      int depth = 2;
      for (int i = 0; i < kDepth; ++i) {
        sum += " + x";
        if (++depth >= 1000) {
          kept.push_back(sum);
          sum = "local" + std::to_string(kept.size());
          depth = 1;
        }
      }
      std::string text = "void() f;\nfloat x = 0;\nfloat y;\n\nvoid() f =\n{\n";
      for (size_t k = 1; k <= kept.size(); ++k) {
        text += "\tlocal float local" + std::to_string(k) + ";\n";
      }
      for (size_t k = 1; k <= kept.size(); ++k) {
        text += "\tlocal" + std::to_string(k) + " = " + kept[k - 1] + ";\n";
      }
      text += "\ty = " + sum + ";\n};\n";
      EXPECT_EQ(0, result.status);
      EXPECT_EQ(compilable_summary(b) + written({"f.qc"}, 1), result.console);
      EXPECT_EQ(one_file("f.qc", text), result.files);
    }
  }
}

// The readers of the other flavours, under -c: a damaged file is a read failure before
// anything is printed; one that loads gets its summary and the name of its format.

RunResult run_compilable_bytes(const std::vector<uint8_t>& bytes) {
  return run_bytes(Engine::kCompilable, bytes);
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
    EXPECT_EQ(0, run(Engine::kClassic, b).status);  // it reads the bytes as 16-bit records
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
    // The classic engine reads 60 bytes of header.
    EXPECT_EQ(0, run_bytes(Engine::kClassic, cut).status);
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
