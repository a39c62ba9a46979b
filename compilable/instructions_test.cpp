// What each instruction reads and writes.
#include "compilable/instructions.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "image/opcodes.h"

namespace {

using namespace image;
using compilable::Action;

TEST(ActionOf, GroupsEveryOpcode) {
  struct Range {
    int first;
    int last;
    Action action;
  };
  constexpr Range ranges[] = {
      {OP_DONE, OP_DONE, Action::kDone},
      {OP_MUL_F, OP_GT, Action::kBinary},
      {OP_LOAD_F, OP_LOAD_FNC, Action::kLoad},
      {OP_ADDRESS, OP_ADDRESS, Action::kAddress},
      {OP_STORE_F, OP_STORE_FNC, Action::kStore},
      {OP_STOREP_F, OP_STOREP_FNC, Action::kStorePointer},
      {OP_RETURN, OP_RETURN, Action::kReturn},
      {OP_NOT_F, OP_NOT_FNC, Action::kNot},
      {OP_IF, OP_IF, Action::kIf},
      {OP_IFNOT, OP_IFNOT, Action::kIfNot},
      {OP_CALL0, OP_CALL8, Action::kCall},
      {OP_STATE, OP_STATE, Action::kState},
      {OP_GOTO, OP_GOTO, Action::kGoto},
      {OP_AND, OP_BITOR, Action::kBinary},
      // The extended instructions of FTE's and Hexen II's programs.
      {66, 67, Action::kCompound},
      {68, 69, Action::kCompoundPointer},
      {80, 84, Action::kFetchGlobal},
      {85, 86, Action::kCycleState},
      {87, 87, Action::kThinkTime},
      {92, 97, Action::kRandom},
      {98, 102, Action::kSwitch},
      {103, 103, Action::kCase},
      {104, 104, Action::kCaseRange},
      {105, 112, Action::kCall},
      {113, 115, Action::kStore},
      {116, 121, Action::kBinary},
      {122, 123, Action::kConvert},
      {136, 136, Action::kIfNot},
      {137, 137, Action::kIf},
      {143, 143, Action::kGlobalAddress},
      {145, 151, Action::kLoadArray},
      {154, 160, Action::kLoadPointer},
      {197, 203, Action::kGlobalStore},
      {204, 204, Action::kUnknown},  // GADDRESS: no interpreter runs it
      {205, 210, Action::kGlobalLoad},
      {211, 211, Action::kBoundCheck},
      {212, 212, Action::kUnknown},
      {213, 213, Action::kPush},
      {214, 214, Action::kUnknown},
      {217, 217, Action::kIf},
      {218, 218, Action::kIfNot},
      {219, 222, Action::kStoreField},
      {273, 275, Action::kBitField},
      {282, 0xffff, Action::kUnknown},
  };
  int next = 0;
  for (const Range& range : ranges) {
    EXPECT_LE(next, range.first);
    for (int op = range.first; op <= range.last; ++op) {
      ASSERT_EQ(range.action, compilable::action_of(static_cast<uint32_t>(op))) << op;
    }
    next = range.last + 1;
  }
  EXPECT_EQ(Action::kUnknown, compilable::action_of(0x10000));
}

TEST(JumpTarget, GotoJumpsByAAndTheTestsByB) {
  EXPECT_EQ(7, compilable::jump_target(Statement{OP_GOTO, 3, 99, 99}, 4));
  EXPECT_EQ(2, compilable::jump_target(Statement{OP_GOTO, -2, 99, 99}, 4));
  EXPECT_EQ(6, compilable::jump_target(Statement{OP_IF, 99, 2, 99}, 4));
  EXPECT_EQ(1, compilable::jump_target(Statement{OP_IFNOT, 99, -3, 99}, 4));
}

TEST(StaticAccess, ReadsAndWritesWithTheOpcodesWidths) {
  struct Range {
    int32_t offset;
    int size;
  };
  struct Case {
    const char* name;
    Statement statement;
    std::vector<Range> reads;
    Range write;
  };
  const Case cases[] = {
      {"float operation", {OP_ADD_F, 30, 31, 32}, {{30, 1}, {31, 1}}, {32, 1}},
      {"vector operation", {OP_ADD_V, 30, 33, 36}, {{30, 3}, {33, 3}}, {36, 3}},
      {"dot product", {OP_MUL_V, 30, 33, 36}, {{30, 3}, {33, 3}}, {36, 1}},
      {"scale", {OP_MUL_FV, 30, 33, 36}, {{30, 1}, {33, 3}}, {36, 3}},
      {"vector compare", {OP_EQ_V, 30, 33, 36}, {{30, 3}, {33, 3}}, {36, 1}},
      {"not of a float", {OP_NOT_F, 30, 0, 31}, {{30, 1}}, {31, 1}},
      {"not of a vector", {OP_NOT_V, 30, 0, 33}, {{30, 3}}, {33, 1}},
      {"not of a string reads its one cell", {OP_NOT_S, 30, 0, 31}, {{30, 1}}, {31, 1}},
      {"field read", {OP_LOAD_F, 28, 29, 30}, {{28, 1}, {29, 1}}, {30, 1}},
      {"vector field read", {OP_LOAD_V, 28, 29, 30}, {{28, 1}, {29, 1}}, {30, 3}},
      {"address", {OP_ADDRESS, 28, 29, 30}, {{28, 1}, {29, 1}}, {30, 1}},
      {"store", {OP_STORE_S, 30, 31, 0}, {{30, 1}}, {31, 1}},
      {"vector store", {OP_STORE_V, 30, 33, 0}, {{30, 3}}, {33, 3}},
      {"store through a pointer", {OP_STOREP_F, 30, 31, 0}, {{30, 1}, {31, 1}}, {0, 0}},
      {"vector through a pointer", {OP_STOREP_V, 30, 33, 0}, {{30, 3}, {33, 1}}, {0, 0}},
      {"return of a value", {OP_RETURN, 30, 0, 0}, {{30, 1}}, {0, 0}},
      {"return of nothing", {OP_RETURN, 0, 0, 0}, {}, {0, 0}},
      {"test", {OP_IFNOT, 30, 4, 0}, {{30, 1}}, {0, 0}},
      {"jump", {OP_GOTO, 4, 0, 0}, {}, {0, 0}},
      {"state", {OP_STATE, 30, 31, 0}, {{30, 1}, {31, 1}}, {0, 0}},
      {"call without arguments", {OP_CALL0, 30, 0, 0}, {{30, 1}}, {OFS_RETURN, 3}},
      {"call with three arguments",
       {OP_CALL3, 30, 0, 0},
       {{30, 1}, {OFS_PARM0, 1}, {OFS_PARM0 + 3, 1}, {OFS_PARM0 + 6, 1}},
       {OFS_RETURN, 3}},
      {"done", {OP_DONE, 0, 0, 0}, {}, {0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const compilable::StaticAccess access = compilable::static_access(c.statement, false);
    ASSERT_EQ(static_cast<int>(c.reads.size()), access.read_count);
    for (size_t k = 0; k < c.reads.size(); ++k) {
      EXPECT_EQ(c.reads[k].offset, access.reads[k].offset) << k;
      EXPECT_EQ(c.reads[k].size, access.reads[k].size) << k;
    }
    EXPECT_EQ(c.write.size, access.write.size);
    if (c.write.size > 0) {
      EXPECT_EQ(c.write.offset, access.write.offset);
    }
  }
}

TEST(StaticAccess, ACallReadsEveryParameterCellItTakes) {
  for (uint32_t op = OP_CALL0; op <= OP_CALL8; ++op) {
    const compilable::StaticAccess access =
        compilable::static_access(Statement{op, 30, 0, 0}, false);
    const int count = compilable::call_arguments(op);
    ASSERT_EQ(1 + count, access.read_count);
    for (int k = 0; k < count; ++k) {
      EXPECT_EQ(compilable::parameter_cell(k), access.reads[1 + k].offset);
    }
  }
  EXPECT_EQ(OFS_PARM0 + 21, compilable::parameter_cell(7));
}

}  // namespace
