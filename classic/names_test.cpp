// Lookups of definitions, type texts, declarations and operand names.
#include "classic/names.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "image/opcodes.h"
#include "image/program_index.h"
#include "tests/fixture.h"

namespace {

using classic::kNoType;

// The operand name as a value: none when no global definition has the offset.
std::optional<std::string> operand_name(int64_t offset, int expected_type) {
  std::string text;
  if (!classic::operand_name(offset, expected_type, text)) {
    return std::nullopt;
  }
  return text;
}
using image::DEF_SAVEGLOBAL;
using image::ev_entity;
using image::ev_field;
using image::ev_float;
using image::ev_function;
using image::ev_pointer;
using image::ev_string;
using image::ev_vector;
using image::ev_void;

// Globals of every kind, each at its own offset unless noted, and their field definitions.
tests::ProgsBuilder names_program() {
  tests::ProgsBuilder program = tests::new_program();
  program.fielddefs[0].s_name = program.add_string("hidden");  // index 0: never found
  program.add_fielddef(ev_float, 0, "power");
  program.add_fielddef(ev_vector, 1, "velocity");
  program.add_fielddef(ev_function, 4, "think");
  program.add_fielddef(9, 5, "weird");
  program.add_fielddef(ev_string, 6, "power");  // a later namesake is never reached

  program.add_globaldef(ev_field, 30, "power");
  program.add_globaldef(ev_entity, 31, "pal");
  program.add_globaldef(ev_function, 32, "th_run");
  program.add_globaldef(ev_pointer, 33, "lost");
  program.add_globaldef(ev_pointer, 34, "velocity");
  program.add_globaldef(ev_field, 35, "nofield");
  program.add_globaldef(ev_field, 36, "think");
  program.add_globaldef(ev_field, 37, "weird");
  program.add_globaldef(ev_field, 38, "hidden");
  program.add_globaldef(ev_string, 39, "msg");
  program.add_globaldef(ev_vector, 40, "dir");
  program.add_globaldef(ev_float, 40, "dir_x");
  program.add_globaldef(ev_float, 41, "dir_y");
  program.add_globaldef(ev_vector | DEF_SAVEGLOBAL, 44, "saved");
  program.add_globaldef(ev_void, 45, "nothing");
  program.add_globaldef(ev_field | DEF_SAVEGLOBAL, 46, "power");
  program.add_globaldef(ev_float, 47, "IMMEDIATE");
  program.set_float(47, 3.0f);
  program.add_globaldef(ev_entity, 48, "IMMEDIATE");
  program.add_globaldef(ev_vector, 49, "IMMEDIATE");
  program.set_vector(49, 1.0f, 2.0f, 3.0f);
  program.add_globaldef(ev_float | DEF_SAVEGLOBAL, 52, "IMMEDIATE");
  program.set_float(52, 3.0f);
  program.add_globaldef(ev_string, 53, "IMMEDIATE");
  program.set_int(53, program.add_string("hi"));
  program.add_globaldef(ev_float, 60, "first");
  program.add_globaldef(ev_float, 60, "second");
  program.add_globaldef(ev_float, 65535, "top");
  return program;
}

TEST(FindGlobaldefByOffset, FirstDefinitionWithTheTypeWordAsTheWalkLeftIt) {
  tests::load_fixture(names_program());
  const int32_t saved = image::first_globaldef_index(44);
  ASSERT_GE(saved, 0);
  EXPECT_EQ(ev_vector | DEF_SAVEGLOBAL, classic::find_globaldef_by_offset(44)->type);
  EXPECT_TRUE(classic::clear_save_flag(saved));
  EXPECT_FALSE(classic::clear_save_flag(saved));
  const std::optional<image::DefRecord> def = classic::find_globaldef_by_offset(44);
  ASSERT_TRUE(def.has_value());
  EXPECT_EQ(ev_vector, def->type);
  EXPECT_EQ(44, def->ofs);
  EXPECT_STREQ("saved", classic::def_name(*def));
  EXPECT_EQ("saved_x", operand_name(44, ev_float).value_or(""));
  // The loaded image keeps the word as the file holds it.
  EXPECT_EQ(ev_vector | DEF_SAVEGLOBAL, image::program.globaldefs[saved].type);
  EXPECT_FALSE(classic::find_globaldef_by_offset(100).has_value());
}

TEST(TypeAndDeclarationText, ByTheWholeTypeWord) {
  struct Case {
    const char* name;
    int64_t offset;  // of the first definition there
    const char* type;
    const char* declaration;
  };
  constexpr Case cases[] = {
      {"field with a float field definition", 30, ".float", ".float power"},
      {"entity", 31, "entity", "entity pal"},
      {"function", 32, "void()", "void() th_run"},
      {"pointer without field definition", 33, "ev_pointer", "ev_pointer lost"},
      {"pointer with field definition", 34, ".vector", ".vector velocity"},
      {"field without field definition", 35, "ev_field", "ev_field nofield"},
      {"field of a function", 36, ".void()", ".void() think"},
      {"field definition's word above 7", 37, ".float", ".float weird"},
      {"field definition only at index 0", 38, "ev_field", "ev_field hidden"},
      {"string", 39, "string", "string msg"},
      {"vector", 40, "vector", "vector dir"},
      {"vector still flagged", 44, "float", "float saved"},
      {"void", 45, "void", "void nothing"},
      {"field still flagged", 46, "float", "float power"},
      {"anonymous float 3", 47, "float", "3"},
      {"anonymous entity", 48, "entity", "bad type 4"},
      {"anonymous vector", 49, "vector", "'1 2 3'"},
      {"anonymous float still flagged", 52, "float", "bad type 32770"},
      {"anonymous string", 53, "string", "\"hi\""},
  };
  tests::load_fixture(names_program());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<image::DefRecord> def = classic::find_globaldef_by_offset(c.offset);
    ASSERT_TRUE(def.has_value());
    EXPECT_EQ(c.type, classic::type_text(*def));
    EXPECT_EQ(c.declaration, classic::declaration_text(*def));
  }
}

TEST(OperandName, NameWithXForAVectorReadAsFloatOrLiteral) {
  struct Case {
    const char* name;
    int64_t offset;
    int expected_type;
    const char* want;  // null: none
  };
  constexpr Case cases[] = {
      {"entity", 31, kNoType, "pal"},
      {"entity read as float", 31, ev_float, "pal"},
      {"vector read as float", 40, ev_float, "dir_x"},
      {"vector read as vector", 40, ev_vector, "dir"},
      {"vector with no expected type", 40, kNoType, "dir"},
      {"vector read as void", 40, ev_void, "dir"},
      {"second component", 41, ev_float, "dir_y"},
      {"vector still flagged", 44, ev_float, "saved"},
      {"anonymous float 3", 47, ev_float, "3"},
      {"anonymous float with no expected type", 47, kNoType, "3"},
      {"anonymous entity", 48, ev_entity, "bad type 4"},
      {"anonymous vector read as float", 49, ev_float, "'1 2 3'"},
      {"two definitions share the offset", 60, kNoType, "first"},
      {"highest unsigned offset", 65535, kNoType, "top"},
      {"negative offset", -1, kNoType, nullptr},
      {"offset nobody has", 100, ev_float, nullptr},
  };
  tests::load_fixture(names_program());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<std::string> text = operand_name(c.offset, c.expected_type);
    if (c.want == nullptr) {
      EXPECT_FALSE(text.has_value()) << text.value_or("");
    } else {
      ASSERT_TRUE(text.has_value());
      EXPECT_EQ(c.want, *text);
    }
  }
}

TEST(OperandName, LongNamesAndLiteralsAreNotCut) {
  const std::string long_name(400, 'n');
  const std::string long_text(300, 'q');
  tests::ProgsBuilder program = tests::new_program();
  program.add_globaldef(ev_vector, 30, long_name);
  program.add_globaldef(ev_string, 33, "IMMEDIATE");
  program.set_int(33, program.add_string(long_text));
  tests::load_fixture(program);

  EXPECT_EQ(long_name + "_x", operand_name(30, ev_float).value_or(""));
  EXPECT_EQ("vector " + long_name, classic::declaration_text(image::program.globaldefs[1]));
  const std::string quoted = "\"" + std::string(245, 'q') + "...\"";
  EXPECT_EQ(quoted, operand_name(33, ev_string).value_or(""));
  EXPECT_EQ(quoted, classic::declaration_text(image::program.globaldefs[2]));
}

TEST(TypeNameTable, TextsByTag) {
  constexpr const char* want[] = {"void",   "string",   "float",  "vector",
                                  "entity", "ev_field", "void()", "ev_pointer"};
  ASSERT_EQ(std::size(want), std::size(classic::TypeNameTable));
  for (int tag = 0; tag < 8; ++tag) {
    SCOPED_TRACE(tag);
    EXPECT_STREQ(want[tag], classic::TypeNameTable[tag]);
    EXPECT_STREQ(want[tag], classic::type_name(tag));
  }
}

TEST(TypeName, WordsWithoutAnEntryPrintAsFloat) {
  // The word is compared whole, so a DEF_SAVEGLOBAL bit makes even a string type "float".
  for (int64_t word :
       {int64_t{8}, int64_t{10}, int64_t{0x7fff}, int64_t{DEF_SAVEGLOBAL | ev_string},
        int64_t{DEF_SAVEGLOBAL | ev_void}, int64_t{0xffff}}) {
    SCOPED_TRACE(word);
    EXPECT_STREQ("float", classic::type_name(word));
  }
}

}  // namespace
