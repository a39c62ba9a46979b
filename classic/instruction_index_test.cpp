// The classic engine's indexed lookups against the straight scans they replace.
#include "classic/instruction_index.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "classic/instructions.h"
#include "image/opcodes.h"
#include "image/program_image.h"
#include "image/program_index.h"
#include "tests/fixture.h"
#include "tests/progs_builder.h"

namespace {

using image::lookup_mode;

// Restores the build's lookup mode when a test ends, however it ends.
struct LookupModeGuard {
  bool saved = lookup_mode.use_scans;
  ~LookupModeGuard() { lookup_mode.use_scans = saved; }
};

// The store counts follow the op words as marks are added and stripped.
TEST(InstructionIndex, StoreTestFollowsMarksLikeTheScan) {
  tests::ProgsBuilder b = tests::new_program();
  b.add_statement(image::OP_STORE_F, 30, 40);
  b.add_statement(image::OP_STORE_F + 100, 30, 41);  // a mark left in the file
  b.add_statement(image::OP_STOREP_F, 30, 42);
  b.add_statement(image::OP_STORE_F, 30, -5);
  tests::load_fixture(b);
  LookupModeGuard guard;
  auto both = [](int64_t offset) {
    lookup_mode.use_scans = true;
    const bool scanned = classic::stored_into(offset);
    lookup_mode.use_scans = false;
    EXPECT_EQ(scanned, classic::stored_into(offset)) << "offset " << offset;
    return scanned;
  };
  EXPECT_TRUE(both(40));
  EXPECT_FALSE(both(41));
  EXPECT_FALSE(both(42));
  EXPECT_FALSE(both(65531));  // b = -5 never names an unsigned definition offset
  classic::add_block_marks(1, 1, 0);
  classic::strip_block_marks(2);
  EXPECT_FALSE(both(40));
  EXPECT_TRUE(both(41));
  classic::strip_block_marks(1);
  EXPECT_TRUE(both(40));
}

// Random instructions over a few offsets, with marks in some op words: every position
// and offset gets the same answer from the index as from the scan.
TEST(InstructionIndex, SearchesMatchTheScansOnRandomInstructions) {
  std::mt19937 random(20261211);
  auto pick = [&random](int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(random);
  };
  LookupModeGuard guard;
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE(round);
    tests::ProgsBuilder b = tests::new_program();
    for (int i = 0; i < 6; ++i) {
      b.add_globaldef(image::ev_float, static_cast<uint16_t>(pick(0, 12)), "g");
    }
    const int statements = pick(1, 40);
    for (int i = 0; i < statements; ++i) {
      const int op = pick(0, 5) == 0 ? pick(0, 20000) : pick(0, 65);
      b.add_statement(static_cast<uint16_t>(op), pick(-2, 12), pick(-2, 12), pick(-2, 12));
    }
    tests::load_fixture(b);
    const int64_t size = static_cast<int64_t>(image::program.statements.size());
    for (int64_t p = -2; p <= size + 2; ++p) {
      for (int64_t q = -2; q <= size + 2; ++q) {
        lookup_mode.use_scans = true;
        const bool scanned = classic::jump_between(p, q);
        lookup_mode.use_scans = false;
        ASSERT_EQ(scanned, classic::jump_between(p, q)) << p << " to " << q;
      }
      for (uint16_t offset = 0; offset <= 14; ++offset) {
        lookup_mode.use_scans = true;
        const int64_t scanned = classic::last_user_before(offset, p);
        lookup_mode.use_scans = false;
        ASSERT_EQ(scanned, classic::last_user_before(offset, p)) << offset << " before " << p;
      }
      lookup_mode.use_scans = true;
      const int64_t done = classic::done_from(p);
      const int64_t first_return = classic::return_from(p);
      const int64_t named_return = classic::named_return_from(p);
      lookup_mode.use_scans = false;
      ASSERT_EQ(done, classic::done_from(p)) << p;
      ASSERT_EQ(first_return, classic::return_from(p)) << p;
      ASSERT_EQ(named_return, classic::named_return_from(p)) << p;
    }
  }
}

}  // namespace
