// Tests for the marking pass: which instructions get close and do marks.
#include "classic/block_marks.h"

#include <gtest/gtest.h>

#include <vector>

#include "classic/instructions.h"
#include "image/opcodes.h"
#include "image/program_image.h"
#include "tests/fixture.h"
#include "tests/progs_builder.h"

namespace {

// One instruction of a body; operands the pass does not read stay 0.
struct Instruction {
  int op;
  int a = 0;
  int b = 0;
};

using image::OP_DONE;
using image::OP_GOTO;
using image::OP_IF;
using image::OP_IFNOT;
using image::OP_LT;
using image::OP_STORE_F;

// Loads the body at instruction 1 (after the null instruction) and marks it.
void mark_body(const std::vector<Instruction>& body) {
  tests::ProgsBuilder program = tests::new_program();
  for (const Instruction& instruction : body) {
    program.add_statement(static_cast<uint16_t>(instruction.op), instruction.a, instruction.b);
  }
  program.add_function(1, 40, 0, "f");
  tests::load_fixture(program);
  classic::mark_blocks(image::program.functions[1]);
}

std::vector<int64_t> op_words(size_t count) {
  std::vector<int64_t> words;
  for (size_t i = 0; i < count; ++i) {
    words.push_back(classic::op_word_at(static_cast<int64_t>(i) + 1));
  }
  return words;
}

struct MarkCase {
  const char* name;
  std::vector<Instruction> body;
  std::vector<int64_t> want;  // op words of the body after the pass
};

// Positions start at 1.
const MarkCase MarkCases[] = {
    {"if: the target gets one close",
     {{OP_IFNOT, 0, 3}, {OP_STORE_F}, {OP_STORE_F}, {OP_STORE_F}, {OP_DONE}},
     {OP_IFNOT, OP_STORE_F, OP_STORE_F, 100 + OP_STORE_F, OP_DONE}},
    {"if/else: only the forward GOTO's target",
     {{OP_IFNOT, 0, 3}, {OP_STORE_F}, {OP_GOTO, 2}, {OP_STORE_F}, {OP_STORE_F}, {OP_DONE}},
     {OP_IFNOT, OP_STORE_F, OP_GOTO, OP_STORE_F, 100 + OP_STORE_F, OP_DONE}},
    {"while: GOTO back to the IFNOT",
     {{OP_IFNOT, 0, 3}, {OP_STORE_F}, {OP_GOTO, -2}, {OP_STORE_F}, {OP_DONE}},
     {OP_IFNOT, OP_STORE_F, OP_GOTO, OP_STORE_F, OP_DONE}},
    {"while: GOTO back to the condition start",
     {{OP_LT}, {OP_IFNOT, 0, 3}, {OP_STORE_F}, {OP_GOTO, -3}, {OP_STORE_F}, {OP_DONE}},
     {OP_LT, OP_IFNOT, OP_STORE_F, OP_GOTO, OP_STORE_F, OP_DONE}},
    {"IF between the condition start and the IFNOT",
     {{OP_IF, 0, 1},
      {OP_LT},
      {OP_IFNOT, 0, 3},
      {OP_STORE_F},
      {OP_GOTO, -4},
      {OP_STORE_F},
      {OP_DONE}},
     {OP_IF, 10000 + OP_LT, OP_IFNOT, OP_STORE_F, OP_GOTO, 100 + OP_STORE_F, OP_DONE}},
    {"IFNOT between the condition start and the IFNOT",
     {{OP_IFNOT, 0, 1},
      {OP_LT},
      {OP_IFNOT, 0, 3},
      {OP_STORE_F},
      {OP_GOTO, -4},
      {OP_STORE_F},
      {OP_DONE}},
     {OP_IFNOT, 100 + OP_LT, OP_IFNOT, OP_STORE_F, OP_GOTO, 100 + OP_STORE_F, OP_DONE}},
    {"GOTO between the condition start and the IFNOT",
     {{OP_GOTO, 1},
      {OP_LT},
      {OP_IFNOT, 0, 3},
      {OP_STORE_F},
      {OP_GOTO, -4},
      {OP_STORE_F},
      {OP_DONE}},
     {OP_GOTO, 100 + OP_LT, OP_IFNOT, OP_STORE_F, OP_GOTO, 100 + OP_STORE_F, OP_DONE}},
    {"GOTO back to just after the IFNOT",
     {{OP_IFNOT, 0, 4}, {OP_STORE_F}, {OP_STORE_F}, {OP_GOTO, -2}, {OP_STORE_F}, {OP_DONE}},
     {OP_IFNOT, OP_STORE_F, OP_STORE_F, OP_GOTO, 100 + OP_STORE_F, OP_DONE}},
    {"nested loop's GOTO lands inside the if body",
     {{OP_IFNOT, 0, 5},
      {OP_STORE_F},
      {OP_IFNOT, 0, 3},
      {OP_STORE_F},
      {OP_GOTO, -2},
      {OP_STORE_F},
      {OP_DONE}},
     {OP_IFNOT, OP_STORE_F, OP_IFNOT, OP_STORE_F, OP_GOTO, 100 + OP_STORE_F, OP_DONE}},
    {"two blocks closing at one instruction",
     {{OP_IFNOT, 0, 4}, {OP_IFNOT, 0, 3}, {OP_STORE_F}, {OP_STORE_F}, {OP_STORE_F}, {OP_DONE}},
     {OP_IFNOT, OP_IFNOT, OP_STORE_F, OP_STORE_F, 200 + OP_STORE_F, OP_DONE}},
    {"two closes and two do-loops at one instruction",
     {{OP_IFNOT, 0, 4},
      {OP_IFNOT, 0, 3},
      {OP_STORE_F},
      {OP_STORE_F},
      {OP_STORE_F},
      {OP_IF, 0, -1},
      {OP_IF, 0, -2},
      {OP_DONE}},
     {OP_IFNOT, OP_IFNOT, OP_STORE_F, OP_STORE_F, 20200 + OP_STORE_F, OP_IF, OP_IF, OP_DONE}},
    {"two do-loops opening at one instruction",
     {{OP_STORE_F}, {OP_IF, 0, -1}, {OP_IF, 0, -2}, {OP_DONE}},
     {20000 + OP_STORE_F, OP_IF, OP_IF, OP_DONE}},
    {"forward IF marks its target too",
     {{OP_IF, 0, 2}, {OP_STORE_F}, {OP_STORE_F}, {OP_DONE}},
     {OP_IF, OP_STORE_F, 10000 + OP_STORE_F, OP_DONE}},
    {"GOTO 0 marks nothing, nor the IFNOT's target after it",
     {{OP_IFNOT, 0, 3}, {OP_STORE_F}, {OP_GOTO, 0}, {OP_STORE_F}, {OP_DONE}},
     {OP_IFNOT, OP_STORE_F, OP_GOTO, OP_STORE_F, OP_DONE}},
    {"a GOTO already marked in the file is read by its base opcode",
     {{OP_IFNOT, 0, 3}, {OP_STORE_F}, {100 + OP_GOTO, 2}, {OP_STORE_F}, {OP_STORE_F}, {OP_DONE}},
     {OP_IFNOT, OP_STORE_F, 100 + OP_GOTO, OP_STORE_F, 100 + OP_STORE_F, OP_DONE}},
    {"op word 100 ends the pass", {{100}, {OP_IF, 0, -1}, {OP_DONE}}, {100, OP_IF, OP_DONE}},
    {"op word 10000 ends the pass", {{10000}, {OP_IF, 0, -1}, {OP_DONE}}, {10000, OP_IF, OP_DONE}},
};

TEST(MarkBlocks, MarksTargetsByTheJumpRules) {
  for (const MarkCase& c : MarkCases) {
    SCOPED_TRACE(c.name);
    mark_body(c.body);
    EXPECT_EQ(c.want, op_words(c.body.size()));
    EXPECT_EQ(0, classic::op_word_at(0));  // the null instruction before the body
  }
}

TEST(MarkBlocks, JumpsOutsideTheArrayMarkNothing) {
  mark_body({{OP_IF, 0, 30000},
             {OP_GOTO, 30000},
             {OP_IFNOT, 0, 30000},
             {OP_IF, 0, -30000},
             {OP_IFNOT, 0, -30000},
             {OP_DONE}});
  const size_t size = image::program.statements.size();
  for (size_t i = 0; i < size; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(0, classic::instruction_at(static_cast<int64_t>(i)).close_count);
    EXPECT_EQ(0, classic::instruction_at(static_cast<int64_t>(i)).do_count);
  }
}

TEST(MarkBlocks, ManyJumpsAtOneTargetKeepCountingCloses) {
  // 700 if blocks ending at one instruction: more than 99 closes and more than 16 bits.
  constexpr int kBlocks = 700;
  std::vector<Instruction> body;
  for (int i = 0; i < kBlocks; ++i) {
    body.push_back({OP_IFNOT, 0, kBlocks - i});
  }
  body.push_back({OP_STORE_F});
  body.push_back({OP_DONE});
  mark_body(body);
  const classic::Instruction& target = classic::instruction_at(kBlocks + 1);
  EXPECT_EQ(OP_STORE_F, target.base_opcode);
  EXPECT_EQ(kBlocks, target.close_count);
  EXPECT_EQ(0, target.do_count);
  EXPECT_EQ(int64_t{OP_STORE_F} + 100 * kBlocks, classic::op_word(target));
}

TEST(MarkBlocks, StartsAtFirstStatementAndStopsAtDone) {
  // Function 1 starts at instruction 3; the IF before it and the one after its DONE are
  // not visited.
  tests::ProgsBuilder program = tests::new_program();
  program.add_statement(OP_STORE_F);
  program.add_statement(OP_IF, 0, -1);
  program.add_statement(OP_IF, 0, 1);
  program.add_statement(OP_STORE_F);
  program.add_statement(OP_DONE);
  program.add_statement(OP_IF, 0, -1);
  program.add_function(3, 40, 0, "f");
  tests::load_fixture(program);
  classic::mark_blocks(image::program.functions[1]);
  EXPECT_EQ((std::vector<int64_t>{OP_STORE_F, OP_IF, OP_IF, 10000 + OP_STORE_F, OP_DONE, OP_IF}),
            op_words(6));
}

}  // namespace
