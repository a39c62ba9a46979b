// Tests for the expression slots: offset re-basing, bounds, store, fetch and clear.
#include "classic/expression_slots.h"

#include <gtest/gtest.h>

#include <string>

#include "classic/names.h"
#include "image/opcodes.h"
#include "image/program_image.h"
#include "tests/expect_fatal.h"
#include "tests/fixture.h"
#include "tests/progs_builder.h"

namespace {

using tests::capture;
using tests::Captured;
using tests::load_fixture;

image::FunctionRecord function_at(int32_t parm_start) {
  image::FunctionRecord function{};
  function.first_statement = 1;
  function.parm_start = parm_start;
  return function;
}

using tests::expect_fatal;

// The operand text as a value.
std::string operand_text(const image::FunctionRecord& function, int64_t offset) {
  std::string text;
  classic::operand_text(function, offset, classic::kNoType, text);
  return text;
}

struct IndexCase {
  const char* name;
  int32_t parm_start;
  int64_t offset;
  int64_t want;
};
constexpr IndexCase IndexCases[] = {
    {"offset 0 keeps its number", 100, 0, 0},
    {"return value keeps its number", 100, 1, 1},
    {"offset 28 keeps its number", 100, 28, 28},
    {"offset 28 whatever the function", 5, 28, 28},
    {"offset 29 is re-based", 100, 29, 29 - 100 + 28},
    {"offset 29 at parm_start 29", 29, 29, 28},
    {"below parm_start", 100, 50, -22},
    {"parm_start itself", 100, 100, 28},
    {"last valid index", 100, 4167, 4095},
    {"one past the last", 100, 4168, 4096},
    {"negative offset", 100, -1, -1},
};

TEST(SlotIndex, ReservedOffsetsKeepTheirNumberAndTheRestCountFrom28) {
  for (const IndexCase& c : IndexCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.want, classic::slot_index(function_at(c.parm_start), c.offset));
  }
}

struct BoundsCase {
  const char* name;
  int64_t offset;
  const char* message;
};
constexpr BoundsCase BoundsCases[] = {
    {"offset 0", 0, "Fatal Error - Index (0) out of bounds.\n"},
    {"offset 29 below parm_start", 29, "Fatal Error - Index (-43) out of bounds.\n"},
    {"offset 50 below parm_start", 50, "Fatal Error - Index (-22) out of bounds.\n"},
    {"offset 4168", 4168, "Fatal Error - Index (4096) out of bounds.\n"},
    {"negative offset", -1, "Fatal Error - Index (-1) out of bounds.\n"},
};

TEST(SlotStoreAndFetch, OutOfBoundsIndexEndsTheRunWithTheIndex) {
  load_fixture(tests::new_program());
  const image::FunctionRecord function = function_at(100);
  for (const BoundsCase& c : BoundsCases) {
    SCOPED_TRACE(c.name);
    expect_fatal(capture([&] { classic::slot_store(function, c.offset, "x"); }), c.message);
    expect_fatal(capture([&] { classic::slot_fetch(function, c.offset); }), c.message);
  }
}

TEST(SlotStoreAndFetch, EdgesOfTheValidRangeHoldTexts) {
  load_fixture(tests::new_program());
  const image::FunctionRecord function = function_at(100);
  const int64_t offsets[] = {1, 100, 4167};
  for (int64_t offset : offsets) {
    SCOPED_TRACE(offset);
    classic::slot_store(function, offset, "text " + std::to_string(offset));
  }
  for (int64_t offset : offsets) {
    SCOPED_TRACE(offset);
    Captured result = capture([&] {
      EXPECT_EQ("text " + std::to_string(offset), classic::slot_fetch(function, offset));
    });
    EXPECT_FALSE(result.fatal.has_value());
  }
  // Offset 28 and parm_start share index 28.
  EXPECT_EQ("text 100", classic::slot_fetch(function, 28));
}

TEST(SlotStoreAndFetch, OperandWord65535ArrivesAsMinusOne) {
  tests::ProgsBuilder program = tests::new_program();
  program.add_statement(image::OP_STORE_F, 65535, 30);
  load_fixture(program);
  const int64_t offset = image::program.statements[1].a;
  EXPECT_EQ(-1, offset);
  expect_fatal(capture([&] { classic::slot_fetch(function_at(100), offset); }),
               "Fatal Error - Index (-1) out of bounds.\n");
}

TEST(SlotStoreAndFetch, OutOfBoundsFetchNeverSaysNotDefined) {
  load_fixture(tests::new_program());
  // Offset 50 is in range for a function whose area starts at 40, out of range at 100.
  classic::slot_store(function_at(40), 50, "stored");
  expect_fatal(capture([&] { classic::slot_fetch(function_at(100), 50); }),
               "Fatal Error - Index (-22) out of bounds.\n");
  expect_fatal(capture([&] { classic::slot_fetch(function_at(100), 0); }),
               "Fatal Error - Index (0) out of bounds.\n");
}

TEST(SlotStoreAndFetch, SecondStoreReplacesTheFirst) {
  load_fixture(tests::new_program());
  const image::FunctionRecord function = function_at(100);
  classic::slot_store(function, 101, "first");
  classic::slot_store(function, 101, "second");
  EXPECT_EQ("second", classic::slot_fetch(function, 101));
}

TEST(SlotStoreAndFetch, FetchesAreIndependentCopiesAndLeaveTheText) {
  load_fixture(tests::new_program());
  const image::FunctionRecord function = function_at(100);
  classic::slot_store(function, 4, "x");
  std::string first = classic::slot_fetch(function, 4);
  first += " changed";
  EXPECT_EQ("x", classic::slot_fetch(function, 4));
  EXPECT_EQ("x", classic::slot_fetch(function, 4));
}

TEST(SlotStoreAndFetch, EmptyParkedTextIsStillDefined) {
  load_fixture(tests::new_program());
  const image::FunctionRecord function = function_at(100);
  classic::slot_store(function, 102, "");
  Captured result = capture([&] { EXPECT_EQ("", classic::slot_fetch(function, 102)); });
  EXPECT_FALSE(result.fatal.has_value());
}

TEST(SlotStoreAndFetch, NeverStoredEntryIsNotDefined) {
  load_fixture(tests::new_program());
  expect_fatal(capture([&] { classic::slot_fetch(function_at(100), 103); }),
               "Fatal Error - 31 not defined.\n");
}

TEST(SlotClearAll, EmptiesEveryEntry) {
  load_fixture(tests::new_program());
  const image::FunctionRecord function = function_at(100);
  classic::slot_store(function, 1, "f ()");
  classic::slot_store(function, 4167, "y");
  classic::slot_clear_all();
  expect_fatal(capture([&] { classic::slot_fetch(function, 1); }),
               "Fatal Error - 1 not defined.\n");
  expect_fatal(capture([&] { classic::slot_fetch(function, 4167); }),
               "Fatal Error - 4095 not defined.\n");
}

TEST(OperandText, PrefersTheDefinitionOverAParkedText) {
  tests::ProgsBuilder program = tests::new_program();
  program.add_globaldef(image::ev_float, 100, "health");
  program.add_globaldef(image::ev_float, 101, "IMMEDIATE");
  program.set_float(101, 2.5f);
  load_fixture(program);
  const image::FunctionRecord function = function_at(100);
  classic::slot_store(function, 100, "parked");
  classic::slot_store(function, 101, "parked");
  classic::slot_store(function, 102, "parked");
  EXPECT_EQ("health", operand_text(function, 100));
  EXPECT_EQ("2.5", operand_text(function, 101));
  EXPECT_EQ("parked", operand_text(function, 102));
}

TEST(OperandText, UndefinedOperandWithoutTextReportsTheSlot) {
  load_fixture(tests::new_program());
  expect_fatal(capture([] { operand_text(function_at(100), 105); }),
               "Fatal Error - 33 not defined.\n");
}

}  // namespace
