// Signatures of builtins and of functions with bodies: return types, parameters, warnings.
#include "classic/signatures.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "image/opcodes.h"
#include "tests/fixture.h"

namespace {

using image::DEF_SAVEGLOBAL;
using image::ev_entity;
using image::ev_field;
using image::ev_float;
using image::ev_function;
using image::ev_vector;

using image::OP_ADD_F;
using image::OP_CALL0;
using image::OP_DONE;
using image::OP_EQ_S;
using image::OP_GOTO;
using image::OP_RETURN;
using image::OP_STORE_F;
using image::OP_STORE_S;
using image::OP_STORE_V;
constexpr uint16_t kOpWithoutRow = 70;

// Globals that the return-type cases name. Offsets 50 and 51 are temporaries with no
// definition; cells 60, 61 and 62 hold the function indices 1, 2 and 3 for calls.
tests::ProgsBuilder base_program() {
  tests::ProgsBuilder program = tests::new_program();
  program.add_globaldef(ev_entity, 31, "pal");
  program.add_globaldef(ev_entity | DEF_SAVEGLOBAL, 32, "kept");
  program.add_globaldef(ev_field, 33, "power");
  program.add_fielddef(ev_float, 0, "power");
  program.add_globaldef(ev_function, 34, "th");
  program.add_globaldef(ev_vector, 35, "dir");
  program.add_globaldef(ev_float, 38, "speed");
  program.set_int(60, 1);
  program.set_int(61, 2);
  program.set_int(62, 3);
  return program;
}

struct Result {
  std::vector<std::string> texts;  // entries 1 .. numfunctions - 1
  tests::Captured captured;
};

Result build(const tests::ProgsBuilder& program) {
  tests::load_fixture(program);
  Result result;
  result.captured = tests::capture(classic::build_signatures);
  for (size_t i = 1; i < classic::signatures.texts.size(); ++i) {
    result.texts.push_back(classic::signatures.texts[i]);
  }
  return result;
}

struct Case {
  const char* name;
  void (*add)(tests::ProgsBuilder& program);  // statements from index 1, and functions
  std::vector<std::string> want;
  const char* console;
};

void check(const Case& c) {
  SCOPED_TRACE(c.name);
  tests::ProgsBuilder program = base_program();
  c.add(program);
  const Result result = build(program);
  EXPECT_FALSE(result.captured.fatal.has_value());
  EXPECT_EQ(c.want, result.texts);
  EXPECT_EQ(c.console, result.captured.console);
  EXPECT_EQ("", classic::signatures.texts.at(0));
}

TEST(BuildSignatures, BuiltinsTakeTheirPrototypeOrWarn) {
  tests::ProgsBuilder program = tests::new_program();
  program.add_function(-1, 0, 0, "makevectors");
  program.add_function(-5, 0, 0, "foo");
  program.add_function(0, 0, 0, "zero");
  program.add_function(-33, 0, 0, "b33");
  program.add_function(-81, 0, 0, "stof");
  program.add_function(-82, 0, 0, "b82");
  program.add_function(-83, 0, 0, "b83");
  program.add_function(-73, 0, 0, "centerprint");
  program.add_function(-79, 0, 0, "obit");
  program.add_function(INT32_MIN, 0, 0, "lowest");
  const Result result = build(program);
  const std::vector<std::string> want = {
      "void (vector ang) makevectors",
      "void () foo",
      "void () zero",
      "void () b33",
      "float(string s) stof",
      "void () b82",
      "void () b83",
      "void (entity client, string s, ...) centerprint",
      "void(entity killer, entity killee) obit",
      "void () lowest",
  };
  EXPECT_EQ(want, result.texts);
  EXPECT_EQ(
      "Warning: unknown builtin foo\n"
      "Warning: unknown builtin zero\n"
      "Warning: unknown builtin b33\n"
      "Warning: unknown builtin b82\n"
      "Warning: unknown builtin b83\n"
      "Warning: unknown builtin lowest\n",
      result.captured.console);
}

TEST(BuiltinPrototypes, EmptyEntriesAndEntriesWithoutBlank) {
  const std::set<int> empty = {0, 5, 33, 39, 42, 50, 60, 61, 62, 63, 64, 65, 66, 71};
  for (int n = 0; n < 82; ++n) {
    SCOPED_TRACE(n);
    EXPECT_EQ(empty.count(n) == 1, classic::BuiltinPrototypes[n] == nullptr);
  }
  EXPECT_STREQ("entity (entity start, .string fld, string match)", classic::BuiltinPrototypes[18]);
  EXPECT_STREQ("string(entity e, string key)", classic::BuiltinPrototypes[80]);
}

TEST(BuildSignatures, ReturnTypeFromReturnsAndTheirOperands) {
  const Case cases[] = {
      {"heal: a temporary written by ADD_F just before",
       [](tests::ProgsBuilder& p) {
         p.add_globaldef(ev_entity, 40, "e");
         p.add_globaldef(ev_float, 41, "amount");
         p.add_statement(OP_ADD_F, 41, 41, 50);
         p.add_statement(OP_RETURN, 50);
         p.add_statement(OP_DONE);
         p.add_function(1, 40, 2, "heal", "test.qc", {1, 1});
       },
       {"float (entity e, float amount) heal"},
       ""},
      {"no RETURN before DONE",
       [](tests::ProgsBuilder& p) {
         p.add_statement(OP_STORE_F, 38, 50);
         p.add_statement(OP_DONE);
         p.add_statement(OP_RETURN, 31);  // after OP_DONE: not part of the walk
         p.add_function(1, 0, 0, "f");
       },
       {"void () f"},
       ""},
      {"first RETURN without value, later one of a temporary",
       [](tests::ProgsBuilder& p) {
         p.add_statement(OP_RETURN, 0);
         p.add_statement(OP_RETURN, 50);
         p.add_statement(OP_DONE);
         p.add_function(1, 0, 0, "f");
       },
       {"void () f"},
       ""},
      {"first RETURN of a named global settles it",
       [](tests::ProgsBuilder& p) {
         p.add_statement(OP_RETURN, 0);
         p.add_statement(OP_RETURN, 50);
         p.add_statement(OP_RETURN, 31);
         p.add_statement(OP_RETURN, 38);
         p.add_statement(OP_DONE);
         p.add_function(1, 0, 0, "f");
       },
       {"entity () f"},
       ""},
      {"returned entity still flagged",
       [](tests::ProgsBuilder& p) {
         p.add_statement(OP_RETURN, 0);
         p.add_statement(OP_RETURN, 32);
         p.add_statement(OP_DONE);
         p.add_function(1, 0, 0, "f");
       },
       {"float () f"},
       ""},
      {"returned field global",
       [](tests::ProgsBuilder& p) {
         p.add_statement(OP_RETURN, 33);
         p.add_statement(OP_DONE);
         p.add_function(1, 0, 0, "f");
       },
       {".float () f"},
       ""},
      {"returned function global",
       [](tests::ProgsBuilder& p) {
         p.add_statement(OP_RETURN, 34);
         p.add_statement(OP_DONE);
         p.add_function(1, 0, 0, "f");
       },
       {"void() () f"},
       ""},
      {"offset 1 typed by an instruction of an earlier function",
       [](tests::ProgsBuilder& p) {
         p.add_statement(OP_STORE_V, 1, 35);
         p.add_statement(OP_DONE);
         p.add_statement(OP_RETURN, 1);
         p.add_statement(OP_DONE);
         p.add_function(1, 0, 0, "producer");
         p.add_function(3, 0, 0, "f");
       },
       {"void () producer", "vector () f"},
       ""},
      {"a void column is taken as void",
       [](tests::ProgsBuilder& p) {
         p.add_statement(OP_GOTO, 50);
         p.add_statement(OP_RETURN, 50);
         p.add_statement(OP_DONE);
         p.add_function(1, 0, 0, "f");
       },
       {"void () f"},
       ""},
      {"instruction 0 is never examined",
       [](tests::ProgsBuilder& p) {
         p.statements[0] = tests::RawStatement{OP_STORE_S, 50, 51, 0};
         p.add_statement(OP_RETURN, 50);
         p.add_statement(OP_DONE);
         p.add_function(1, 0, 0, "f");
       },
       {"float () f"},
       "Warning: Could not determine return type for f\n"},
      {"op word without a row is passed over",
       [](tests::ProgsBuilder& p) {
         p.add_statement(OP_STORE_S, 50, 51);
         p.add_statement(kOpWithoutRow, 50, 50, 50);
         p.add_statement(OP_RETURN, 50);
         p.add_statement(OP_DONE);
         p.add_function(1, 0, 0, "f");
       },
       {"string () f"},
       ""},
  };
  for (const Case& c : cases) {
    check(c);
  }
}

TEST(BuildSignatures, ReturnTypeFromWhatCallersDoWithTheResult) {
  const Case cases[] = {
      {"result stored by STORE_F",
       [](tests::ProgsBuilder& p) {
         p.add_statement(OP_RETURN, 50);
         p.add_statement(OP_DONE);
         p.add_statement(OP_CALL0, 60);
         p.add_statement(OP_STORE_F, 1, 38);
         p.add_statement(OP_DONE);
         p.add_function(1, 0, 0, "f");
         p.add_function(3, 0, 0, "caller");
       },
       {"float () f", "void () caller"},
       ""},
      {"void columns passed, operand b read",
       [](tests::ProgsBuilder& p) {
         p.add_statement(OP_RETURN, 50);
         p.add_statement(OP_DONE);
         p.add_statement(OP_CALL0, 60);
         p.add_statement(OP_GOTO, 1, 1);
         p.add_statement(OP_EQ_S, 51, 1, 50);
         p.add_statement(OP_DONE);
         p.add_function(1, 0, 0, "f");
         p.add_function(3, 0, 0, "caller");
       },
       {"string () f", "void () caller"},
       ""},
      {"look-ahead goes on across another call of the same function",
       [](tests::ProgsBuilder& p) {
         p.add_statement(OP_RETURN, 50);
         p.add_statement(OP_DONE);
         p.add_statement(OP_CALL0, 60);
         p.add_statement(OP_CALL0, 60);
         p.add_statement(OP_STORE_S, 1, 51);
         p.add_statement(OP_DONE);
         p.add_function(1, 0, 0, "f");
         p.add_function(3, 0, 0, "caller");
       },
       {"string () f", "void () caller"},
       ""},
      {"look-ahead stops at DONE",
       [](tests::ProgsBuilder& p) {
         p.add_statement(OP_RETURN, 50);
         p.add_statement(OP_DONE);
         p.add_statement(OP_CALL0, 60);
         p.add_statement(OP_DONE);
         p.add_statement(OP_STORE_S, 1, 51);
         p.add_statement(OP_DONE);
         p.add_function(1, 0, 0, "f");
         p.add_function(3, 0, 0, "caller");
         p.add_function(5, 0, 0, "other");
       },
       {"float () f", "void () caller", "void () other"},
       "Warning: Could not determine return type for f\n"},
      {"look-ahead stops at a call of another function",
       [](tests::ProgsBuilder& p) {
         p.add_statement(OP_RETURN, 50);
         p.add_statement(OP_DONE);
         p.add_statement(OP_CALL0, 60);
         p.add_statement(OP_CALL0, 61);
         p.add_statement(OP_STORE_S, 1, 51);
         p.add_statement(OP_DONE);
         p.add_function(1, 0, 0, "f");
         p.add_function(3, 0, 0, "caller");
       },
       {"float () f", "void () caller"},
       "Warning: Could not determine return type for f\n"},
      {"a later call site answers",
       [](tests::ProgsBuilder& p) {
         p.add_statement(OP_RETURN, 50);
         p.add_statement(OP_DONE);
         p.add_statement(OP_CALL0, 60);
         p.add_statement(OP_DONE);
         p.add_statement(OP_CALL0, 60);
         p.add_statement(OP_STORE_V, 1, 35);
         p.add_statement(OP_DONE);
         p.add_function(1, 0, 0, "f");
         p.add_function(3, 0, 0, "caller");
         p.add_function(5, 0, 0, "second");
       },
       {"vector () f", "void () caller", "void () second"},
       ""},
      {"never called",
       [](tests::ProgsBuilder& p) {
         p.add_statement(OP_RETURN, 50);
         p.add_statement(OP_DONE);
         p.add_function(1, 0, 0, "f");
       },
       {"float () f"},
       "Warning: Could not determine return type for f\n"},
  };
  for (const Case& c : cases) {
    check(c);
  }
}

TEST(BuildSignatures, ParametersFromTheDefinitionsAtTheirOffsets) {
  const Case cases[] = {
      {"spin without definitions",
       [](tests::ProgsBuilder& p) {
         p.add_statement(OP_DONE);
         p.add_function(1, 40, 4, "spin", "test.qc", {3, 1});
       },
       {"void (float par0, float par1, float par2, float par3) spin"},
       "No parameter names with offset 40\n"
       "No parameter names with offset 41\n"
       "No parameter names with offset 42\n"
       "No parameter names with offset 43\n"},
      {"spin with dir and speed",
       [](tests::ProgsBuilder& p) {
         p.add_globaldef(ev_vector, 40, "dir");
         p.add_globaldef(ev_float, 43, "speed");
         p.add_statement(OP_DONE);
         p.add_function(1, 40, 4, "spin", "test.qc", {3, 1});
       },
       {"void (vector dir, float speed) spin"},
       ""},
      {"vector as the last parameter",
       [](tests::ProgsBuilder& p) {
         p.add_globaldef(ev_float, 40, "a");
         p.add_globaldef(ev_vector, 41, "v");
         p.add_statement(OP_DONE);
         p.add_function(1, 40, 4, "f", "test.qc", {1, 3});
       },
       {"void (float a, vector v) f"},
       ""},
      {"flagged vector is not advanced",
       [](tests::ProgsBuilder& p) {
         p.add_globaldef(ev_vector | DEF_SAVEGLOBAL, 40, "v");
         p.add_statement(OP_DONE);
         p.add_function(1, 40, 3, "f", "test.qc", {3});
       },
       {"void (float v, float par1, float par2) f"},
       "No parameter names with offset 41\n"
       "No parameter names with offset 42\n"},
      {"all sizes 0",
       [](tests::ProgsBuilder& p) {
         p.add_globaldef(ev_float, 40, "a");
         p.add_statement(OP_DONE);
         p.add_function(1, 40, 1, "f", "test.qc", {0, 0});
       },
       {"void () f"},
       ""},
      {"numparms 9 sums the eight sizes",
       [](tests::ProgsBuilder& p) {
         const char* names[] = {"a", "b", "c", "d", "e", "g", "h", "i", "j"};
         for (int k = 0; k < 9; ++k) {
           p.add_globaldef(ev_float, static_cast<uint16_t>(40 + k), names[k]);
         }
         p.add_statement(OP_DONE);
         p.add_function(1, 40, 9, "f", "test.qc", {1, 1, 1, 1, 1, 1, 1, 1});
         p.functions.back().numparms = 9;
       },
       {"void (float a, float b, float c, float d, float e, float g, float h, float i) f"},
       ""},
      {"negative numparms counts as 0",
       [](tests::ProgsBuilder& p) {
         p.add_globaldef(ev_float, 40, "a");
         p.add_statement(OP_DONE);
         p.add_function(1, 40, 1, "f", "test.qc", {1});
         p.functions.back().numparms = -1;
       },
       {"void () f"},
       ""},
  };
  for (const Case& c : cases) {
    check(c);
  }
}

TEST(BuildSignatures, WarningsFollowFunctionOrderAndReturnTypeComesFirst) {
  check({"return-type warning before parameter warnings",
         [](tests::ProgsBuilder& p) {
           p.add_statement(OP_RETURN, 50);
           p.add_statement(OP_DONE);
           p.add_function(-200, 0, 0, "bad");
           p.add_function(1, 40, 1, "f", "test.qc", {1});
           p.add_function(-300, 0, 0, "worse");
         },
         {"void () bad", "float (float par0) f", "void () worse"},
         "Warning: unknown builtin bad\n"
         "Warning: Could not determine return type for f\n"
         "No parameter names with offset 40\n"
         "Warning: unknown builtin worse\n"});
}

TEST(BuildSignatures, OnlyTheNullFunctionGivesNothing) {
  const Result result = build(tests::new_program());
  EXPECT_TRUE(result.texts.empty());
  EXPECT_EQ("", result.captured.console);
  EXPECT_FALSE(result.captured.fatal.has_value());
}

// A program of builtins; the last one is unknown, so reading it would print a warning.
tests::ProgsBuilder many_functions(int count) {
  tests::ProgsBuilder program = tests::new_program();
  const int32_t name = program.add_string("b");
  tests::RawFunction builtin{};
  builtin.first_statement = -1;
  builtin.s_name = name;
  program.functions.resize(static_cast<size_t>(count), builtin);
  program.functions.back().first_statement = -5;
  return program;
}

TEST(BuildSignatures, MoreThan8192FunctionsEndTheRun) {
  const Result result = build(many_functions(8193));
  ASSERT_TRUE(result.captured.fatal.has_value());
  EXPECT_EQ(1, result.captured.fatal->exit_status);
  EXPECT_EQ("Fatal Error - too many functions.\n", result.captured.fatal->message);
  EXPECT_EQ("", result.captured.console);
}

TEST(BuildSignatures, Exactly8192FunctionsAreAccepted) {
  const Result result = build(many_functions(8192));
  EXPECT_FALSE(result.captured.fatal.has_value());
  ASSERT_EQ(8191u, result.texts.size());
  EXPECT_EQ("void (vector ang) b", result.texts.front());
  EXPECT_EQ("void () b", result.texts.back());
  EXPECT_EQ("Warning: unknown builtin b\n", result.captured.console);
}

}  // namespace
