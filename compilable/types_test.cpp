// Types from definitions and from uses: parameters, returns, builtins and their signatures.
#include "compilable/types.h"

#include <gtest/gtest.h>

#include <string>

#include "image/opcodes.h"
#include "tests/compilable_runs.h"
#include "tests/expect_compiles.h"
#include "tests/progs_builder.h"

namespace {

using namespace image;
using tests::ProgsBuilder;

// A program as fteqcc writes it with its definitions of parameters and locals stripped:
// only the globals, fields and functions keep theirs, and every one-cell argument is
// copied with STORE_F, strings and entities too.
ProgsBuilder stripped_program() {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(ev_entity | DEF_SAVEGLOBAL, 28, "self");
  tests::add_field(b, 29, "netname", ev_string, 0);
  tests::add_field(b, 30, "think", ev_function, 1);
  b.add_globaldef(ev_string | DEF_SAVEGLOBAL, 31, "message");
  // Builtins without names: one the built-in table knows, one it does not.
  b.add_function(-25, 0, 0, "", "", {1});  // record 1: dprint
  b.set_int(32, 1);
  b.add_function(-99, 0, 0, "", "", {1, 1});  // record 2
  b.set_int(33, 2);
  // A named builtin called with one argument and with two: its list is "...".
  b.add_globaldef(ev_function, 34, "printall");
  b.add_function(-98, 0, 0, "printall", "", {});  // record 3
  b.set_int(34, 3);
  b.add_immediate_string(35, "hello");
  b.add_globaldef(ev_entity | DEF_SAVEGLOBAL, 36, "world");

  // g(s) = { dprint (s); }: its parameter is a string only by how it is used.  record 4
  int first = b.add_statement(OP_STORE_F, 40, OFS_PARM0);
  b.add_statement(OP_CALL1, 32);
  b.add_statement(OP_DONE);
  b.add_function(first, 40, 1, "g", "a.qc", {1});
  b.add_globaldef(ev_function, 37, "g");
  b.set_int(37, 4);
  // h() = { return self.netname; }  record 5
  first = b.add_statement(OP_LOAD_S, 28, 29, 41);
  b.add_statement(OP_RETURN, 41);
  b.add_statement(OP_DONE);
  b.add_function(first, 41, 1, "h", "a.qc");
  b.add_globaldef(ev_function, 38, "h");
  b.set_int(38, 5);
  // k(x) = { return x; }: nothing says what x is.  record 6
  first = b.add_statement(OP_RETURN, 42);
  b.add_statement(OP_DONE);
  b.add_function(first, 42, 1, "k", "a.qc", {1});
  b.add_globaldef(ev_function, 39, "k");
  b.set_int(39, 6);
  // main  record 7
  first = b.add_statement(OP_STORE_F, 35, OFS_PARM0);
  b.add_statement(OP_CALL1, 37);
  b.add_statement(OP_CALL0, 38);
  b.add_statement(OP_STORE_F, OFS_RETURN, 31);
  b.add_statement(OP_STORE_F, 36, OFS_PARM0);
  b.add_statement(OP_STORE_F, 31, OFS_PARM0 + 3);
  b.add_statement(OP_CALL2, 33);
  b.add_statement(OP_STORE_F, 35, OFS_PARM0);
  b.add_statement(OP_CALL1, 34);
  b.add_statement(OP_STORE_F, 35, OFS_PARM0);
  b.add_statement(OP_STORE_F, 35, OFS_PARM0 + 3);
  b.add_statement(OP_CALL2, 34);
  b.add_statement(OP_ADDRESS, 28, 30, 44);
  b.add_statement(OP_STOREP_FNC, 37, 44);
  b.add_statement(OP_DONE);
  b.add_function(first, 43, 2, "main", "a.qc");
  b.add_globaldef(ev_function, 45, "main");
  b.set_int(45, 7);
  return b;
}

TEST(InferTypes, FromDefinitionsAndFromUses) {
  const tests::RunResult run = tests::run_compilable(stripped_program());
  ASSERT_EQ(0, run.status) << run.console;
  struct Case {
    const char* name;
    const char* want;
  };
  // dprint is named and typed by the built-in table, func2 by its call, printall takes
  // "..." for its calls of differing counts, think the signature of what is stored in it.
  const Case cases[] = {
      {"dprint", "void(string p0) dprint = #25;"},
      {"func2", "void(entity p0, string p1) func2 = #99;"},
      {"printall", "void(...) printall = #98;"},
      {"netname", ".string netname;"},
      {"think", ".void(string p0) think;"},
      {"message", "string message;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.want, tests::declaration_named(run, c.name));
  }
  EXPECT_EQ("void(string param0) g =\n{\n\tdprint (param0);\n};\n",
            tests::function_named(run, "g"));
  EXPECT_EQ("string() h =\n{\n\treturn self.netname;\n};\n", tests::function_named(run, "h"));
  // A function that returns a value is never void; a type nothing tells is written as float.
  EXPECT_EQ("float(float param0) k =\n{\n\treturn param0;\n};\n", tests::function_named(run, "k"));
  EXPECT_EQ(
      "void() main =\n{\n"
      "\tg (\"hello\");\n"
      "\tmessage = h ();\n"
      "\tfunc2 (world, message);\n"
      "\tprintall (\"hello\");\n"
      "\tprintall (\"hello\", \"hello\");\n"
      "\tself.think = g;\n"
      "};\n",
      tests::function_named(run, "main"));
  tests::expect_compiles(run);
}

}  // namespace
