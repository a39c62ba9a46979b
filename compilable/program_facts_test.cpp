// Facts about a whole program: definitions by offset, written cells, code ends, areas.
#include "compilable/program_facts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/opcodes.h"
#include "image/program_image.h"
#include "tests/compilable_runs.h"
#include "tests/fixture.h"

namespace {

using namespace image;
using tests::ProgsBuilder;

// Definitions of every kind at known cells, and three functions whose records are not in
// the order of their code and whose areas overlap.
ProgsBuilder facts_program() {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(ev_entity, 28, "self");
  b.add_globaldef(ev_vector, 29, "v");
  b.add_globaldef(ev_float, 29, "v_x");
  b.add_globaldef(ev_float, 30, "v_y");
  b.add_globaldef(ev_float, 31, "v_z");
  b.add_immediate_float(32, 1);
  b.add_globaldef(ev_float, 32, "TRUE");  // a named constant sharing the literal's cell
  b.add_globaldef(ev_float, 33, "");      // a constant with an empty name
  b.set_float(33, 2);
  b.add_globaldef(ev_float, 34, "o_x");  // components with no vector over them
  b.add_globaldef(ev_float, 35, "o_y");
  b.add_globaldef(ev_float, 36, "o_z");
  b.add_globaldef(ev_float, 37, "p_x");  // not three of them
  b.add_globaldef(ev_float, 38, "p_y");
  tests::add_field(b, 39, "health", ev_float, 0);
  tests::add_field(b, 40, "origin", ev_vector, 1);
  b.add_fielddef(ev_float, 1, "origin_x");
  b.set_int(49, 0);  // the last cell: 50 cells in all

  // second's code comes first; first's record comes first.
  const int second_code = b.add_statement(OP_STORE_F, 32, 45);
  b.add_statement(OP_RETURN, 45);
  const int first_code = b.add_statement(OP_ADD_F, 33, 32, 42);
  b.add_statement(OP_STORE_V, 29, 46);
  b.add_statement(OP_DONE);
  const int third_code = b.add_statement(OP_CALL1, 41);
  b.add_statement(OP_DONE);
  b.add_function(first_code, 41, 3, "first", "a.qc", {1});
  b.add_function(second_code, 43, 4, "second", "a.qc");
  b.add_function(third_code, 45, 2, "third", "a.qc");
  b.add_function(-12, 0, 0, "vlen", "a.qc", {3});
  return b;
}

TEST(ProgramFacts, IndexesTheDefinitionsByOffset) {
  tests::load_fixture(facts_program());
  const compilable::ProgramFacts facts = compilable::gather_program_facts(program);
  EXPECT_EQ(50, facts.cell_count);
  auto names_at = [&](int offset) {
    std::vector<std::string> names;
    for (int32_t i = facts.defs_start[offset]; i < facts.defs_start[offset + 1]; ++i) {
      names.push_back(compilable::def_name(program.globaldefs[facts.defs_at[i]]));
    }
    return names;
  };
  EXPECT_EQ((std::vector<std::string>{""}), names_at(0));  // the null definition
  EXPECT_EQ((std::vector<std::string>{"v", "v_x"}), names_at(29));
  EXPECT_EQ((std::vector<std::string>{"IMMEDIATE", "TRUE"}), names_at(32));
  EXPECT_TRUE(names_at(41).empty());

  EXPECT_STREQ("v", compilable::def_name(program.globaldefs[compilable::any_def_at(facts, 29)]));
  EXPECT_STREQ("IMMEDIATE",
               compilable::def_name(program.globaldefs[compilable::any_def_at(facts, 32)]));
  EXPECT_STREQ("TRUE", compilable::def_name(
                           program.globaldefs[compilable::named_def_at(program, facts, 32)]));
  EXPECT_EQ(-1, compilable::named_def_at(program, facts, 33));  // an empty name names nothing
  EXPECT_EQ(-1, compilable::any_def_at(facts, 41));
  EXPECT_EQ(-1, compilable::any_def_at(facts, -1));
  EXPECT_EQ(-1, compilable::any_def_at(facts, 1000));

  EXPECT_TRUE(compilable::has_immediate_def(program, facts, 32));
  EXPECT_TRUE(compilable::has_immediate_def(program, facts, 33));
  EXPECT_FALSE(compilable::has_immediate_def(program, facts, 28));
  EXPECT_FALSE(compilable::has_immediate_def(program, facts, 41));
}

TEST(ProgramFacts, NamedCoverSpansVectorsAndTheirComponents) {
  tests::load_fixture(facts_program());
  const compilable::ProgramFacts facts = compilable::gather_program_facts(program);
  auto cover = [&](int cell) -> std::string {
    const int32_t def = facts.named_cover[cell];
    return def < 0 ? "-" : compilable::def_name(program.globaldefs[def]);
  };
  struct Case {
    int cell;
    const char* cover;
    bool implied_vector;
  };
  const Case cases[] = {
      {28, "self", false}, {29, "v", false},   {30, "v", false},   {31, "v", false},
      {32, "TRUE", false}, {33, "-", false},   {34, "o_x", true},  {35, "o_x", false},
      {36, "o_x", false},  {37, "p_x", false}, {38, "p_y", false}, {41, "-", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cell);
    EXPECT_EQ(c.cover, cover(c.cell));
    EXPECT_EQ(c.implied_vector, facts.implied_vector[c.cell] != 0);
  }
  EXPECT_EQ(3, compilable::covered_size(facts, program.globaldefs[facts.named_cover[34]]));
  EXPECT_EQ(3, compilable::covered_size(facts, program.globaldefs[facts.named_cover[29]]));
  EXPECT_EQ(1, compilable::covered_size(facts, program.globaldefs[facts.named_cover[37]]));
}

TEST(ProgramFacts, WrittenCellsCodeEndsAndAreas) {
  tests::load_fixture(facts_program());
  const compilable::ProgramFacts facts = compilable::gather_program_facts(program);
  // Written: 45 (STORE_F), 42 (ADD_F), 46..48 (STORE_V), and the call's return cells.
  std::vector<int> written;
  for (int cell = 0; cell < facts.cell_count; ++cell) {
    if (facts.written[cell]) {
      written.push_back(cell);
    }
  }
  EXPECT_EQ((std::vector<int>{1, 2, 3, 42, 45, 46, 47, 48}), written);

  // Each function's code ends where the next function's code starts.
  EXPECT_EQ(6, facts.code_end[1]);  // first: 3..5
  EXPECT_EQ(3, facts.code_end[2]);  // second: 1..2, no DONE
  EXPECT_EQ(8, facts.code_end[3]);  // third: 6..7, the end of the statements
  EXPECT_EQ(0, facts.code_end[4]);  // a builtin has no code

  // first covers 41..43, second 43..46, third 45..46: a shared cell goes to the first.
  const int want_owner[] = {-1, 1, 1, 1, 2, 2, 2, -1};
  for (int cell = 40; cell < 48; ++cell) {
    EXPECT_EQ(want_owner[cell - 40], facts.area_owner[cell]) << cell;
  }
  EXPECT_EQ(1, compilable::parameter_count(program.functions[1]));
  EXPECT_TRUE(compilable::has_body(program.functions[1]));
  EXPECT_FALSE(compilable::has_body(program.functions[4]));
}

TEST(ProgramFacts, FieldsByOffset) {
  tests::load_fixture(facts_program());
  const compilable::ProgramFacts facts = compilable::gather_program_facts(program);
  EXPECT_EQ(4, facts.field_limit);  // the vector at 1 takes 1..3
  ASSERT_EQ(4u, facts.field_at.size());
  EXPECT_STREQ("health", compilable::def_name(program.fielddefs[facts.field_at[0]]));
  EXPECT_STREQ("origin", compilable::def_name(program.fielddefs[facts.field_at[1]]));
  EXPECT_EQ(-1, facts.field_at[2]);
  EXPECT_EQ(-1, facts.field_at[3]);
}

TEST(DefinitionNames, ImmediateAndEmptyNamesNameNothing) {
  tests::load_fixture(facts_program());
  EXPECT_TRUE(compilable::has_real_name(program.globaldefs[1]));   // self
  EXPECT_FALSE(compilable::has_real_name(program.globaldefs[6]));  // IMMEDIATE
  EXPECT_TRUE(compilable::has_real_name(program.globaldefs[7]));   // TRUE
  EXPECT_FALSE(compilable::has_real_name(program.globaldefs[8]));  // ""
  EXPECT_EQ(ev_float, compilable::def_tag(DefRecord{ev_float | DEF_SAVEGLOBAL, 0, 0}));
}

}  // namespace
