// Global definition emitter: the range of the walk and the line written for each global.
#include "classic/global_emitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classic/names.h"
#include "classic/signatures.h"
#include "image/opcodes.h"
#include "tests/fixture.h"

namespace {

using namespace image;
using tests::Captured;
using tests::ProgsBuilder;

constexpr uint16_t kSaved = DEF_SAVEGLOBAL;

// Loads the program, builds the signatures (the prototypes come from them) and walks the
// globals in front of the record.
Captured walk_before(const ProgsBuilder& program, int function_index, const char* name) {
  tests::load_fixture(program);
  Captured built = tests::capture([] { classic::build_signatures(); });
  EXPECT_FALSE(built.fatal);
  return tests::capture(
      [function_index, name] { classic::emit_globals_before(function_index, name); });
}

struct Record {
  int32_t first_statement;
  int32_t parm_start;
  int32_t locals;
  std::vector<uint8_t> parm_sizes;
};

struct RangeCase {
  const char* name;
  bool after_record_0;  // the walked record is record 1, else record 2 after `previous`
  Record previous;
  Record current;
  int from;  // the offsets that get lines: from .. to - 1
  int to;
};

const RangeCase RangeCases[] = {
    {"after record 0 the start 0 is raised to 1", true, {}, {1, 10, 0, {}}, 1, 10},
    {"the previous record's parameter sizes come on top of its locals",
     false,
     {1, 30, 3, {1, 1}},
     {1, 50, 0, {}},
     35,
     50},
    {"after a builtin a function with a body starts one lower",
     false,
     {-1, 30, 0, {1}},
     {1, 40, 0, {}},
     30,
     40},
    {"after a builtin a builtin starts where the rule puts it",
     false,
     {-1, 30, 0, {1}},
     {-2, 40, 0, {}},
     31,
     40},
    {"builtin 0 is not negative, so it lowers nothing",
     false,
     {0, 30, 0, {1}},
     {1, 40, 0, {}},
     31,
     40},
    {"a start at or past the parameters writes nothing",
     false,
     {1, 30, 20, {}},
     {1, 40, 0, {}},
     0,
     0},
    // A negative start stays negative, so offset 0 and its definition are visited.
    {"a negative start reaches offset 0", false, {1, -10, 5, {}}, {1, 10, 0, {}}, 0, 10},
};

// The line of the float constant g<o> holding o; offset 0 holds the null definition.
std::string range_line(int offset) {
  if (offset == 0) {
    return "void ;\n";
  }
  return "float g" + std::to_string(offset) + "    = " + std::to_string(offset) + ";\n";
}

TEST(EmitGlobalsBefore, WalksFromThePreviousRecordsAreaToTheParameters) {
  for (const RangeCase& c : RangeCases) {
    SCOPED_TRACE(c.name);
    ProgsBuilder b = tests::new_program();
    for (int o = 1; o < 60; ++o) {
      b.add_globaldef(ev_float, static_cast<uint16_t>(o), "g" + std::to_string(o));
      b.set_float(o, static_cast<float>(o));
    }
    b.add_statement(OP_DONE);
    if (!c.after_record_0) {
      const Record& r = c.previous;
      b.add_function(r.first_statement, r.parm_start, r.locals, "previous", "test.qc",
                     r.parm_sizes);
    }
    const Record& r = c.current;
    const int index =
        b.add_function(r.first_statement, r.parm_start, r.locals, "current", "test.qc");
    std::string want;
    for (int o = c.from; o < c.to; ++o) {
      want += range_line(o);
    }
    Captured got = walk_before(b, index, "current");
    EXPECT_FALSE(got.fatal);
    EXPECT_EQ(want, got.output);
  }
}

// Bit patterns of the cells used below.
constexpr uint32_t kOne = 0x3f800000;      // 1.0f
constexpr uint32_t kFive = 0x40a00000;     // 5.0f
constexpr uint32_t kNegZero = 0x80000000;  // -0.0f
constexpr uint32_t kNaN = 0x7fc00000;      // a quiet NaN with the sign bit clear
constexpr uint32_t kHi = 1;                // string offset of "hi", the first string added

struct FormCase {
  const char* name;
  uint16_t type;
  uint32_t cells[3];
  uint16_t store_op;  // an instruction storing into a's cell, 0 for none
  bool store_at_instruction_0;
  const char* want;
};

constexpr FormCase FormCases[] = {
    {"a float never stored is a constant, zero too", ev_float, {0}, 0, false, "float a    = 0;\n"},
    {"a STORE_F makes it a variable", ev_float, {kFive}, OP_STORE_F, false, "float a /* = 5 */;\n"},
    {"STORE_FNC is the last store counted",
     ev_float,
     {kFive},
     OP_STORE_FNC,
     false,
     "float a /* = 5 */;\n"},
    {"a STORE_V makes a vector a variable",
     ev_vector,
     {kOne, kFive, 0},
     OP_STORE_V,
     false,
     "vector a /* = '1 5 0' */;\n"},
    {"stores through a pointer leave a constant",
     ev_float,
     {kFive},
     OP_STOREP_F,
     false,
     "float a    = 5;\n"},
    {"a store at instruction 0 is not looked at",
     ev_float,
     {kFive},
     OP_STORE_F,
     true,
     "float a    = 5;\n"},
    // Op word 131: the store carries a close mark, which puts the word above 36.
    {"a store whose op word carries a mark is not counted",
     ev_float,
     {kFive},
     OP_STORE_F + 100,
     false,
     "float a    = 5;\n"},
    {"a saved float is a variable", ev_float | kSaved, {kFive}, 0, false, "float a /* = 5 */;\n"},
    {"a variable holding zero has no comment", ev_float | kSaved, {0}, 0, false, "float a;\n"},
    {"a variable holding -0.0 has no comment",
     ev_float | kSaved,
     {kNegZero},
     0,
     false,
     "float a;\n"},
    {"a variable holding NaN has a comment",
     ev_float | kSaved,
     {kNaN},
     0,
     false,
     "float a /* = nan */;\n"},
    {"an unsaved string is a constant", ev_string, {kHi}, 0, false, "string a    = \"hi\";\n"},
    {"a string variable at offset 0 has no comment",
     ev_string | kSaved,
     {0},
     0,
     false,
     "string a;\n"},
    {"a string variable elsewhere shows its text",
     ev_string | kSaved,
     {kHi},
     0,
     false,
     "string a /* = \"hi\" */;\n"},
    {"a vector variable is judged by its first cell",
     ev_vector | kSaved,
     {0, kFive, kFive},
     0,
     false,
     "vector a;\n"},
    {"a vector variable with a first component",
     ev_vector | kSaved,
     {kOne, 0, 0},
     0,
     false,
     "vector a /* = '1 0 0' */;\n"},
    {"a vector constant", ev_vector, {0, kOne, kFive}, 0, false, "vector a    = '0 1 5';\n"},
    {"a tag above 7 is a float with the bad-type value",
     8,
     {kFive},
     0,
     false,
     "float a    = bad type 8;\n"},
    {"a stored tag above 7", 8, {kFive}, OP_STORE_F, false, "float a /* = bad type 8 */;\n"},
    {"an entity is plain whatever its cell holds", ev_entity, {kFive}, 0, false, "entity a;\n"},
    {"a saved void is plain", ev_void | kSaved, {kFive}, 0, false, "void a;\n"},
    {"a pointer gets no line", ev_pointer, {kFive}, 0, false, ""},
};

TEST(EmitGlobalsBefore, ChoosesConstantOrVariableForm) {
  for (const FormCase& c : FormCases) {
    SCOPED_TRACE(c.name);
    ProgsBuilder b = tests::new_program();
    ASSERT_EQ(static_cast<int32_t>(kHi), b.add_string("hi"));
    b.add_globaldef(c.type, 30, "a");
    for (int i = 0; i < 3; ++i) {
      b.set_int(30 + i, static_cast<int32_t>(c.cells[i]));
    }
    if (c.store_at_instruction_0) {
      b.statements[0] = tests::RawStatement{c.store_op, 29, 30, 0};
    } else if (c.store_op != 0) {
      b.add_statement(c.store_op, 29, 30);
    }
    const int first = b.add_statement(OP_DONE);
    b.add_function(first, 33, 0, "f");
    Captured got = walk_before(b, 1, "f");
    EXPECT_FALSE(got.fatal);
    EXPECT_EQ(c.want, got.output);
  }
}

TEST(EmitGlobalsBefore, NamedVectorSkipsItsCellsButAnonymousOneDoesNot) {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(ev_vector, 30, "v");
  b.set_vector(30, 1, 2, 3);
  b.add_globaldef(ev_float, 30, "v_x");
  b.add_globaldef(ev_float, 31, "v_y");
  b.add_globaldef(ev_float, 32, "v_z");
  b.add_globaldef(ev_vector, 33, "IMMEDIATE");
  b.set_vector(33, 4, 5, 6);
  b.add_globaldef(ev_float, 34, "b");
  const int first = b.add_statement(OP_DONE);
  b.add_function(first, 35, 0, "f");
  Captured got = walk_before(b, 1, "f");
  EXPECT_FALSE(got.fatal);
  EXPECT_EQ("vector v    = '1 2 3';\nfloat b    = 5;\n", got.output);
}

TEST(EmitGlobalsBefore, FieldsAreDeclaredWithTheirFieldsType) {
  ProgsBuilder b = tests::new_program();
  struct Field {
    uint16_t field_type;
    const char* name;
  };
  const Field fields[] = {
      {ev_function, "th_pain"}, {ev_function, "think"}, {ev_float, "health"},
      {ev_field, "fld"},        {ev_string, "netname"}, {8, "odd"},
      {ev_entity, "enemy"},     {ev_pointer, "fp"},
  };
  uint16_t ofs = 28;
  for (const Field& field : fields) {
    b.add_globaldef(ev_field, ofs, field.name);
    b.add_fielddef(field.field_type, 0, field.name);
    ++ofs;
  }
  // A vector field: its three component globals at 37 .. 39 have no field definitions
  // and would end the run if they were visited.
  b.add_globaldef(ev_field | kSaved, 36, "origin");
  b.add_fielddef(ev_vector, 0, "origin");
  b.add_globaldef(ev_field, 37, "origin_x");
  b.add_globaldef(ev_field, 38, "origin_y");
  b.add_globaldef(ev_field, 39, "origin_z");
  b.add_globaldef(ev_float, 40, "after");
  const int first = b.add_statement(OP_DONE);
  b.add_function(first, 41, 0, "f");
  Captured got = walk_before(b, 1, "f");
  EXPECT_FALSE(got.fatal);
  EXPECT_EQ(
      ".void(entity attacker, float damage) th_pain;\n"
      ".void() think;\n"
      ".float health;\n"
      "..ev_field fld;\n"
      ".string netname;\n"
      ".float odd;\n"
      ".entity enemy;\n"
      "..ev_pointer fp;\n"
      ".vector origin;\n"
      "float after    = 0;\n",
      got.output);
}

TEST(EmitGlobalsBefore, FieldWithoutFieldDefinitionEndsTheRun) {
  for (bool only_at_index_0 : {false, true}) {
    SCOPED_TRACE(only_at_index_0 ? "field definition at index 0" : "no field definition");
    ProgsBuilder b = tests::new_program();
    b.add_globaldef(ev_float, 28, "before");
    b.add_globaldef(ev_field, 29, "missing");
    b.add_globaldef(ev_float, 30, "after");
    if (only_at_index_0) {
      b.fielddefs[0] = tests::RawDef{ev_float, 0, b.add_string("missing")};
    }
    const int first = b.add_statement(OP_DONE);
    b.add_function(first, 31, 0, "f");
    Captured got = walk_before(b, 1, "f");
    ASSERT_TRUE(got.fatal);
    EXPECT_EQ(1, got.fatal->exit_status);
    EXPECT_EQ("Fatal Error: Could not locate a field named \"missing\"\n", got.fatal->message);
    EXPECT_EQ("float before    = 0;\n", got.output);
  }
}

TEST(EmitGlobalsBefore, FunctionGlobalsArePrototypesExceptOwnAndAnonymous) {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(ev_function, 28, "helper");
  b.add_globaldef(ev_function, 29, "cur");
  b.add_globaldef(ev_function, 30, "IMMEDIATE");
  b.add_globaldef(ev_function, 31, "ghost");
  b.add_globaldef(ev_pointer | kSaved, 32, "ptr");
  b.add_globaldef(ev_float, 33, "IMMEDIATE");
  b.add_globaldef(ev_string, 34, "IMMEDIATE");
  b.add_globaldef(ev_function, 35, "later");
  b.add_globaldef(ev_float, 40, "v");
  const int first = b.add_statement(OP_RETURN, 40);
  b.add_statement(OP_DONE);
  b.add_function(first, 40, 0, "cur");
  b.add_function(-1, 40, 0, "helper", "test.qc", {3});
  b.add_function(first, 40, 1, "later", "test.qc", {1});
  Captured got = walk_before(b, 1, "cur");
  EXPECT_FALSE(got.fatal);
  EXPECT_EQ("void (vector ang) helper;\nvoid() ghost;\nfloat (float v) later;\n", got.output);
}

TEST(EmitGlobalsBefore, ClearsTheSavedFlagOfVisitedDefinitionsOnly) {
  ProgsBuilder b = tests::new_program();
  const int a = b.add_globaldef(ev_float | kSaved, 30, "a");
  b.set_float(30, 5);
  const int alias = b.add_globaldef(ev_float | kSaved, 30, "a_alias");
  const int v = b.add_globaldef(ev_vector | kSaved, 31, "v");
  b.set_vector(31, 1, 2, 3);
  const int v_y = b.add_globaldef(ev_float | kSaved, 32, "v_y");
  const int v_z = b.add_globaldef(ev_float | kSaved, 33, "v_z");
  const int ptr = b.add_globaldef(ev_pointer | kSaved, 34, "ptr");
  const int immediate = b.add_globaldef(ev_float | kSaved, 35, "IMMEDIATE");
  const int own = b.add_globaldef(ev_function | kSaved, 36, "f");
  const int far = b.add_globaldef(ev_float | kSaved, 45, "far");
  const int first = b.add_statement(OP_DONE);
  b.add_function(first, 40, 0, "f");

  Captured got = walk_before(b, 1, "f");
  EXPECT_EQ("float a /* = 5 */;\nvector v /* = '1 2 3' */;\n", got.output);
  struct Expect {
    const char* name;
    int index;
    bool keeps_flag;
  };
  const Expect expects[] = {
      {"a", a, false},
      {"a_alias", alias, true},
      {"v", v, false},
      {"v_y", v_y, true},
      {"v_z", v_z, true},
      {"ptr", ptr, false},
      {"IMMEDIATE", immediate, false},
      {"own function", own, false},
      {"far", far, true},
  };
  for (const Expect& e : expects) {
    SCOPED_TRACE(e.name);
    EXPECT_EQ(e.keeps_flag, (classic::global_definition(e.index).type & kSaved) != 0);
    EXPECT_NE(0, program.globaldefs[e.index].type & kSaved);  // the image keeps the file's word
  }

  // A second walk over the same definitions no longer sees the flag: constants now.
  Captured again = tests::capture([] { classic::emit_globals_before(1, "f"); });
  EXPECT_EQ("float a    = 5;\nvector v    = '1 2 3';\n", again.output);
}

}  // namespace
