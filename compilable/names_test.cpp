// Names for everything declared: the program's own where usable, else names that say what a
// thing is; never a keyword, never one name for two things.
#include "compilable/names.h"

#include <gtest/gtest.h>

#include <string>

#include "image/opcodes.h"
#include "tests/compilable_runs.h"
#include "tests/expect_compiles.h"
#include "tests/progs_builder.h"

namespace {

using namespace image;
using tests::ProgsBuilder;

TEST(IsReservedWord, KeywordsOfEitherCompiler) {
  for (const char* word :
       {"float", "vector", "string", "entity", "void",     "local",  "return", "if",
        "else",  "while",  "do",     "break",  "continue", "switch", "case",   "default",
        "for",   "goto",   "const",  "var",    "int",      "class",  "asm"}) {
    EXPECT_TRUE(compilable::is_reserved_word(word)) << word;
  }
  for (const char* word : {"self", "world", "Float", "floats", "think", "time", ""}) {
    EXPECT_FALSE(compilable::is_reserved_word(word)) << word;
  }
}

TEST(IdentifierFrom, MakesAnyTextAnIdentifier) {
  struct Case {
    std::string text;
    const char* want;
  };
  const Case cases[] = {
      {"health", "health"},
      {"ArraySet*arr", "ArraySet_arr"},
      {"monster::think", "monster__think"},
      {"", "_"},
      {"3dfx", "_3dfx"},
      {"a b-c.d", "a_b_c_d"},
      {"\xe4\xb8\xad", "___"},
      {std::string(70, 'n'), "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.want, compilable::identifier_from(c.text));
  }
  EXPECT_EQ(62u, compilable::identifier_from(std::string(70, 'n')).size());
}

// Globals, functions and fields whose names no compiler reads as they are.
ProgsBuilder awkward_names_program() {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, 28, "switch");  // used by the code
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, 29, "do");
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, 30, "ArraySet*arr");
  tests::add_field(b, 31, "entity", ev_float, 0);
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, 32, "helper");  // as a function's name
  // monster::think, twice helper, and an unnamed function; the first helper calls the
  // second, the unnamed function reads the fields and globals.
  b.add_function_global(33, "monster::think", 1);
  int first = b.add_statement(OP_STORE_F, 28, 30);
  b.add_statement(OP_DONE);
  b.add_function(first, 36, 0, "monster::think", "a.qc");
  b.add_function_global(34, "helper", 2);
  first = b.add_statement(OP_CALL0, 35);
  b.add_statement(OP_DONE);
  b.add_function(first, 36, 0, "helper", "a.qc");
  b.add_globaldef(ev_function, 35, "helper");
  b.set_int(35, 3);
  first = b.add_statement(OP_STORE_F, 32, 28);
  b.add_statement(OP_DONE);
  b.add_function(first, 36, 0, "helper", "a.qc");
  first = b.add_statement(OP_LOAD_F, 37, 31, 38);
  b.add_statement(OP_STORE_F, 38, 29);
  b.add_statement(OP_CALL0, 33);
  b.add_statement(OP_CALL0, 34);
  b.add_statement(OP_DONE);
  b.add_function(first, 36, 0, "", "a.qc");
  b.add_globaldef(ev_entity | DEF_SAVEGLOBAL, 37, "self");
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, 39, "for");  // only declared
  b.set_int(39, 0);
  return b;
}

TEST(ChooseNames, NoKeywordsNoClashes) {
  const tests::RunResult run = tests::run_compilable(awkward_names_program());
  ASSERT_EQ(0, run.status) << run.console;
  // Keywords the code uses take a "_"; one only declared keeps its name, which both
  // compilers accept. The global "helper" keeps its name, the functions take numbers.
  EXPECT_EQ(
      "float switch_;\n"
      "float do_;\n"
      "float ArraySet_arr;\n"
      ".float entity_;\n"
      "float helper;\n"
      "void() helper_2;\n"
      "entity self;\n"
      "float for;\n"
      "\n"
      "void() monster__think =\n{\n\tArraySet_arr = switch_;\n};\n"
      "\n"
      "void() helper_1 =\n{\n\thelper_2 ();\n};\n"
      "\n"
      "void() helper_2 =\n{\n\tswitch_ = helper;\n};\n"
      "\n"
      "void() func4 =\n{\n\tdo_ = self.entity_;\n\tmonster__think ();\n\thelper_1 ();\n};\n",
      run.files.at("a.qc"));
  tests::expect_compiles(run);
}

// A stripped function's generated names next to globals that already carry them.
TEST(ChooseNames, GeneratedNamesStayApartFromTheProgramsOwn) {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, 28, "local1");
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, 29, "param0");
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, 30, "func1");
  // function 1, unnamed: param0 is its parameter, 32 a value used twice.
  const int first = b.add_statement(OP_ADD_F, 31, 28, 32);
  b.add_statement(OP_STORE_F, 32, 29);
  b.add_statement(OP_MUL_F, 32, 30, 33);
  b.add_statement(OP_STORE_F, 33, 30);
  b.add_statement(OP_DONE);
  b.add_function(first, 31, 0, "", "a.qc", {1});
  b.set_int(33, 0);
  const tests::RunResult run = tests::run_compilable(b);
  ASSERT_EQ(0, run.status) << run.console;
  EXPECT_EQ(
      "void(float param0_1) func1_1 =\n{\n"
      "\tlocal float local1_1;\n"
      "\tlocal1_1 = param0_1 + local1;\n"
      "\tparam0 = local1_1;\n"
      "\tfunc1 = local1_1 * func1;\n"
      "};\n",
      tests::function_named(run, "func1_1"));
  tests::expect_compiles(run);
}

// Declaring a vector declares its components: "vector dir;" makes dir_x, which both
// compilers then read for a later "float dir_x;" (qcc refuses it for a field). Nothing
// else may carry a vector's component names.
TEST(ChooseNames, AVectorsComponentNamesAreItsOwn) {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(ev_vector | DEF_SAVEGLOBAL, 28, "dir");
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, 31, "dir_x");  // another cell
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, 32, "v_x");
  b.add_globaldef(ev_float | DEF_SAVEGLOBAL, 33, "r");
  tests::add_field(b, 34, "origin", ev_vector, 0);
  b.add_fielddef(ev_float, 0, "origin_x");
  tests::add_field(b, 35, "origin_y", ev_float, 3);  // another field
  b.add_globaldef(ev_entity | DEF_SAVEGLOBAL, 36, "self");
  b.add_immediate_float(37, 5);
  b.add_globaldef(ev_vector, 38, "IMMEDIATE");
  b.set_vector(38, 1, 2, 3);
  b.add_function_global(41, "f", 1);
  b.add_globaldef(ev_vector, 42, "v");  // f's local vector v
  const int first = b.add_statement(OP_STORE_F, 37, 31);
  b.add_statement(OP_STORE_V, 38, 28);
  b.add_statement(OP_STORE_V, 38, 42);
  b.add_statement(OP_ADD_F, 32, 43, 45);
  b.add_statement(OP_STORE_F, 45, 33);
  b.add_statement(OP_LOAD_F, 36, 35, 45);
  b.add_statement(OP_ADD_F, 31, 45, 46);
  b.add_statement(OP_STORE_F, 46, 33);
  b.add_statement(OP_DONE);
  b.add_function(first, 42, 3, "f", "a.qc");
  b.set_int(46, 0);
  const tests::RunResult run = tests::run_compilable(b);
  ASSERT_EQ(0, run.status) << run.console;
  EXPECT_EQ(
      "vector dir;\n"
      "float dir_x_1;\n"
      "float v_x;\n"
      "float r;\n"
      ".vector origin;\n"
      ".float origin_y_1;\n"
      "entity self;\n"
      "\n"
      "void() f =\n{\n"
      "\tdir_x_1 = 5;\n"
      "\tdir = '1 2 3';\n"
      "\tlocal vector v_1;\n"
      "\tv_1 = '1 2 3';\n"
      "\tr = v_x + v_1_y;\n"
      "\tr = dir_x_1 + self.origin_y_1;\n"
      "};\n",
      run.files.at("a.qc"));
  tests::expect_compiles(run);
}

}  // namespace
