// The classic engine's instruction table: seeded from the file's op words, marks added and
// stripped there while the loaded image keeps the words as the file holds them.
#include "classic/instructions.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "image/opcodes.h"
#include "image/program_image.h"
#include "tests/fixture.h"
#include "tests/progs_builder.h"

namespace {

using image::program;
using tests::ProgsBuilder;

TEST(InstructionTable, OpWordFromTheFileSplitsIntoBaseAndMarks) {
  struct Case {
    uint16_t word;
    int base;
    int close_count;
    int do_count;
  };
  constexpr Case cases[] = {
      {0, 0, 0, 0},    {65, 65, 0, 0},    {99, 99, 0, 0},     {150, 50, 1, 0},
      {261, 61, 2, 0}, {10049, 49, 0, 1}, {12345, 45, 23, 1}, {65535, 35, 55, 6},
  };
  ProgsBuilder builder = tests::new_program();
  for (const Case& c : cases) {
    builder.add_statement(c.word, 1, -2, 3);
  }
  tests::load_fixture(builder);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.word);
    const classic::Instruction& instruction = classic::instruction_at(static_cast<int64_t>(i) + 1);
    EXPECT_EQ(c.base, instruction.base_opcode);
    EXPECT_EQ(c.close_count, instruction.close_count);
    EXPECT_EQ(c.do_count, instruction.do_count);
    EXPECT_EQ(c.word, classic::op_word(instruction));
    EXPECT_EQ(c.word, classic::op_word_at(static_cast<int64_t>(i) + 1));
    EXPECT_EQ(-2, image::statement_at(static_cast<int64_t>(i) + 1).b);
  }
}

TEST(InstructionTable, MarksAddUpWithoutWrappingAndStayInsideTheArray) {
  ProgsBuilder builder = tests::new_program();
  builder.add_statement(image::OP_GOTO, -1);
  tests::load_fixture(builder);

  classic::add_block_marks(1, 700, 0);
  classic::add_block_marks(1, 1, 7);
  EXPECT_EQ(image::OP_GOTO + 100 * 701 + 10000 * 7, classic::op_word_at(1));
  EXPECT_EQ(image::OP_GOTO, classic::instruction_at(1).base_opcode);
  EXPECT_EQ(image::OP_GOTO, image::statement_at(1).op);  // the image keeps the file's word
  classic::strip_block_marks(1);
  EXPECT_EQ(image::OP_GOTO, classic::op_word_at(1));

  const int64_t size = static_cast<int64_t>(program.statements.size());
  for (int64_t index : {int64_t{-1}, size, size + 5, int64_t{INT64_MAX}}) {
    SCOPED_TRACE(index);
    classic::add_block_marks(index, 3, 2);
    EXPECT_EQ(image::OP_DONE, classic::op_word_at(index));
  }
  EXPECT_EQ(image::OP_DONE, classic::op_word_at(-7));  // the shared DONE took no marks
  for (int64_t index = 0; index < size; ++index) {
    EXPECT_EQ(0, classic::instruction_at(index).close_count);
    EXPECT_EQ(0, classic::instruction_at(index).do_count);
  }
}

TEST(InstructionTable, CoversThePaddingAfterTheLoadedStatements) {
  ProgsBuilder builder = tests::new_program();
  builder.add_statement(image::OP_CALL0, 7, 8, 9);
  tests::load_fixture(builder);
  ASSERT_EQ(2, program.numstatements);
  ASSERT_EQ(program.statements.size(), classic::instruction_table.rows.size());
  const int64_t last = static_cast<int64_t>(program.statements.size()) - 1;
  classic::add_block_marks(last, 1, 0);  // a jump just past the end lands on the padding
  EXPECT_EQ(100, classic::op_word_at(last));
  EXPECT_EQ(0u, image::statement_at(last).op);
}

}  // namespace
