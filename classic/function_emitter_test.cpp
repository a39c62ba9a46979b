// Function emitter: builtin lines, the frame-state header, locals, the body and its warnings.
#include "classic/function_emitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classic/signatures.h"
#include "image/opcodes.h"
#include "tests/fixture.h"

namespace {

using namespace image;
using tests::Captured;
using tests::ProgsBuilder;

constexpr uint16_t kSaved = DEF_SAVEGLOBAL;

// Loads the program and builds the signatures, as the driver does before any output.
void load_with_signatures(const ProgsBuilder& program) {
  tests::load_fixture(program);
  Captured built = tests::capture([] { classic::build_signatures(); });
  ASSERT_FALSE(built.fatal) << built.fatal->message;
}

Captured emit_body(int function_index) {
  return tests::capture([function_index] { classic::emit_function_body(function_index); });
}

Captured decompile(int function_index) {
  return tests::capture([function_index] { classic::decompile_function(function_index); });
}

// A float global x at 28, a function global th at 29, the anonymous constant 1 at 30 and
// a saved float fr holding 2 at 31; functions use the cells from 40 on.
ProgsBuilder frame_program() {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(ev_float, 28, "x");
  b.add_globaldef(ev_function, 29, "th");
  b.add_globaldef(ev_float, 30, "IMMEDIATE");
  b.set_float(30, 1);
  b.add_globaldef(ev_float | kSaved, 31, "fr");
  b.set_float(31, 2);
  return b;
}

struct BuiltinCase {
  const char* name;
  int32_t first_statement;
  const char* function;
  const char* want;
};

constexpr BuiltinCase BuiltinCases[] = {
    {"builtin 12 from the prototype table", -12, "vlen", "float (vector v) vlen = #12; \n"},
    {"first_statement 0 is builtin 0", 0, "nothing", "void () nothing = #0; \n"},
    {"a number past the table", -90, "extra", "void () extra = #90; \n"},
};

TEST(EmitFunctionBody, BuiltinIsOneLineWithoutEmptyLineInFront) {
  for (const BuiltinCase& c : BuiltinCases) {
    SCOPED_TRACE(c.name);
    ProgsBuilder b = tests::new_program();
    b.add_function(c.first_statement, 28, 0, c.function);
    load_with_signatures(b);
    Captured got = decompile(1);
    EXPECT_FALSE(got.fatal);
    EXPECT_EQ(c.want, got.output);
    EXPECT_EQ("", got.console);
  }
}

struct BodyCase {
  const char* name;
  std::vector<tests::RawStatement> body;
  const char* want;
  const char* console;
};

const BodyCase FrameCases[] = {
    {"an unmarked leading STATE becomes the header",
     {{OP_STATE, 30, 29, 0}, {OP_DONE, 0, 0, 0}},
     "\nvoid () f = [ 1, th ]\n{\n};\n",
     ""},
    {"the frame literal takes the type word as stored, flag included",
     {{OP_STATE, 31, 29, 0}, {OP_DONE, 0, 0, 0}},
     "\nvoid () f = [ bad type 32770, th ]\n{\n};\n",
     ""},
    // Op word 160: STATE with one close mark left in the file.
    {"a STATE carrying a close mark from the file is translated in the body",
     {{OP_STATE + 100, 30, 29, 0}, {OP_DONE, 0, 0, 0}},
     "\nvoid () f =\n{\n}\nstate [ 1, th ];\n};\n",
     "Warning: Indentation structure corrupt\n"},
    {"a STATE that a jump targets is translated in the body",
     {{OP_STATE, 30, 29, 0}, {OP_IF, 28, -1, 0}, {OP_DONE, 0, 0, 0}},
     "\nvoid () f =\n{\n\tdo\n\t{\n\t\tstate [ 1, th ];\n\n\t} while (x);\n};\n",
     ""},
};

// Writes the case's body as function "f" of the frame program and compares the text.
void check_body(const BodyCase& c) {
  SCOPED_TRACE(c.name);
  ProgsBuilder b = frame_program();
  const int first = static_cast<int>(b.statements.size());
  b.statements.insert(b.statements.end(), c.body.begin(), c.body.end());
  b.add_function(first, 40, 0, "f");
  load_with_signatures(b);
  Captured got = emit_body(1);
  EXPECT_FALSE(got.fatal);
  EXPECT_EQ(c.want, got.output);
  EXPECT_EQ(c.console, got.console);
}

TEST(EmitFunctionBody, LeadingStateGivesTheHeaderOnlyWithoutMarks) {
  for (const BodyCase& c : FrameCases) {
    check_body(c);
  }
}

TEST(EmitFunctionBody, FrameWithoutDefinitionEndsTheRunWithoutNewline) {
  for (int frame : {500, -1}) {
    SCOPED_TRACE(frame);
    ProgsBuilder b = frame_program();
    const int first = b.add_statement(OP_STATE, frame, 29);
    b.add_statement(OP_DONE);
    b.add_function(first, 40, 0, "f");
    load_with_signatures(b);
    Captured got = emit_body(1);
    ASSERT_TRUE(got.fatal);
    EXPECT_EQ(1, got.fatal->exit_status);
    EXPECT_EQ("Fatal Error - Can't determine frame number.", got.fatal->message);
    EXPECT_EQ("\nvoid () f", got.output);
  }
}

TEST(DecompileFunction, ThinkFunctionWithoutDefinitionNeverReadsThePreviousFunctionsSlots) {
  ProgsBuilder b = frame_program();
  // park: x is stored into the first parameter cell, which parks "x" in slot 4.
  int first = b.add_statement(OP_STORE_F, 28, OFS_PARM0);
  b.add_statement(OP_DONE);
  b.add_function(first, 40, 0, "park");
  first = b.add_statement(OP_STATE, 30, OFS_PARM0);
  b.add_statement(OP_DONE);
  b.add_function(first, 40, 0, "frame");
  load_with_signatures(b);

  Captured parked = decompile(1);
  ASSERT_FALSE(parked.fatal) << parked.fatal->message;
  Captured got = decompile(2);
  ASSERT_TRUE(got.fatal);
  EXPECT_EQ(1, got.fatal->exit_status);
  EXPECT_EQ("Fatal Error - 4 not defined.\n", got.fatal->message);
  EXPECT_EQ("\nvoid () frame", got.output);
}

struct LocalsCase {
  const char* name;
  std::vector<uint8_t> parm_sizes;
  int32_t locals;
  void (*add_defs)(ProgsBuilder&);  // definitions of the local area, which starts at 40
  const char* want;
  const char* console;
};

const LocalsCase LocalsCases[] = {
    {"locals equal to the parameters: no local lines, no empty line",
     {1},
     1,
     [](ProgsBuilder& b) { b.add_globaldef(ev_float, 40, "a"); },
     "\nvoid (float a) f =\n{\n};\n",
     ""},
    {"only anonymous constants: the empty line alone",
     {},
     2,
     [](ProgsBuilder& b) {
       b.add_globaldef(ev_float, 40, "IMMEDIATE");
       b.add_globaldef(ev_string, 41, "IMMEDIATE");
     },
     "\nvoid () f =\n{\n\n};\n",
     ""},
    {"a vector local is declared once, its other cells are not looked at",
     {1},
     5,
     [](ProgsBuilder& b) {
       b.add_globaldef(ev_float, 40, "a");
       b.add_globaldef(ev_vector, 41, "v");
       b.add_globaldef(ev_float, 41, "v_x");
       b.add_globaldef(ev_float, 42, "v_y");
       b.add_globaldef(ev_float, 43, "v_z");
       b.add_globaldef(ev_float, 44, "n");
     },
     "\nvoid (float a) f =\n{\n\tlocal vector v;\n\tlocal float n;\n\n};\n",
     ""},
    {"a vector parameter covers three cells before the locals",
     {3},
     4,
     [](ProgsBuilder& b) {
       b.add_globaldef(ev_vector, 40, "p");
       b.add_globaldef(ev_float, 41, "p_y");
       b.add_globaldef(ev_float, 43, "n");
     },
     "\nvoid (vector p) f =\n{\n\tlocal float n;\n\n};\n",
     ""},
    {"a function-typed local gives the warning and no line",
     {},
     2,
     [](ProgsBuilder& b) {
       b.add_globaldef(ev_function, 40, "g");
       b.add_globaldef(ev_float, 41, "n");
     },
     "\nvoid () f =\n{\n\tlocal float n;\n\n};\n",
     "Warning Fields and functions must be global\n"},
    {"a field-typed local is declared through its field's type",
     {},
     1,
     [](ProgsBuilder& b) {
       b.add_globaldef(ev_field, 40, "fl");
       b.add_fielddef(ev_float, 0, "fl");
     },
     "\nvoid () f =\n{\n\tlocal .float fl;\n\n};\n",
     ""},
};

TEST(EmitFunctionBody, LocalsAreDeclaredAfterTheParameters) {
  for (const LocalsCase& c : LocalsCases) {
    SCOPED_TRACE(c.name);
    ProgsBuilder b = tests::new_program();
    c.add_defs(b);
    const int first = b.add_statement(OP_DONE);
    b.add_function(first, 40, c.locals, "f", "test.qc", c.parm_sizes);
    load_with_signatures(b);
    Captured got = emit_body(1);
    EXPECT_FALSE(got.fatal);
    EXPECT_EQ(c.want, got.output);
    EXPECT_EQ(c.console, got.console);
  }
}

const BodyCase IndentationCases[] = {
    {"a closing brace without a block",
     {{OP_GOTO, 0, 0, 0}, {OP_DONE, 0, 0, 0}},
     "\nvoid () f =\n{\n}\n};\n",
     "Warning: Indentation structure corrupt\n"},
    // The forward GOTO before the IFNOT's target opens an else block whose end lies
    // beyond the function.
    {"an else block that is never closed",
     {{OP_IFNOT, 28, 2, 0}, {OP_GOTO, 3, 0, 0}, {OP_DONE, 0, 0, 0}},
     "\nvoid () f =\n{\n\tif (x)\n\t{\n\t}\n\telse\n\t{\n};\n",
     "Warning: Indentation structure corrupt\n"},
};

TEST(EmitFunctionBody, CorruptIndentationWarnsAndStillClosesTheFunction) {
  for (const BodyCase& c : IndentationCases) {
    check_body(c);
  }
}

TEST(DecompileFunction, TwoRecordsWithOneNameEachGetTheirOwnCode) {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(ev_float, 28, "x");
  b.add_globaldef(ev_float, 29, "IMMEDIATE");
  b.set_float(29, 1);
  b.add_globaldef(ev_float, 30, "IMMEDIATE");
  b.set_float(30, 2);
  int first = b.add_statement(OP_STORE_F, 29, 28);
  b.add_statement(OP_DONE);
  b.add_function(first, 31, 0, "dup");
  first = b.add_statement(OP_STORE_F, 30, 28);
  b.add_statement(OP_DONE);
  b.add_function(first, 31, 0, "dup");
  load_with_signatures(b);

  Captured one = decompile(1);
  Captured two = decompile(2);
  EXPECT_FALSE(one.fatal);
  EXPECT_FALSE(two.fatal);
  // x is stored to, so it is a variable; the anonymous constants get no lines.
  EXPECT_EQ("float x;\n\nvoid () dup =\n{\n\tx = 1;\n};\n", one.output);
  EXPECT_EQ("\nvoid () dup =\n{\n\tx = 2;\n};\n", two.output);
}

TEST(FindFunctionByName, FirstRecordFromIndexOneOrTheCount) {
  ProgsBuilder b = tests::new_program();
  const int first = b.add_statement(OP_DONE);
  b.add_function(first, 28, 0, "a");
  b.add_function(first, 28, 0, "b");
  b.add_function(first, 28, 0, "a");
  tests::load_fixture(b);
  EXPECT_EQ(1, classic::find_function_by_name("a"));
  EXPECT_EQ(2, classic::find_function_by_name("b"));
  EXPECT_EQ(4, classic::find_function_by_name("c"));
  // Record 0 has the empty name but is never a function.
  EXPECT_EQ(4, classic::find_function_by_name(""));
}

}  // namespace
