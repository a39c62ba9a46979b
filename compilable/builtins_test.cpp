// The built-in table of Quake's builtins.
#include "compilable/builtins.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "compilable/names.h"

namespace {

TEST(BuiltinTable, OneRowPerNumberWithAUsableName) {
  std::set<std::string> names;
  int previous = 0;
  for (const compilable::BuiltinRow& row : compilable::BuiltinTable) {
    SCOPED_TRACE(row.name);
    EXPECT_LT(previous, row.number);  // in order, so each number has one row
    previous = row.number;
    EXPECT_EQ(row.name, compilable::identifier_from(row.name));
    EXPECT_TRUE(names.insert(row.name).second);
    EXPECT_GE(row.parameter_count, 0);
    EXPECT_LE(row.parameter_count, 8);
    EXPECT_EQ(&row, compilable::find_builtin(row.number));
  }
}

TEST(FindBuiltin, FindsKnownNumbersOnly) {
  ASSERT_NE(nullptr, compilable::find_builtin(12));
  EXPECT_STREQ("vlen", compilable::find_builtin(12)->name);
  EXPECT_STREQ("ambientsound", compilable::find_builtin(74)->name);
  for (int64_t number :
       {int64_t{0}, int64_t{5}, int64_t{33}, int64_t{79}, int64_t{-1}, int64_t{1} << 40}) {
    EXPECT_EQ(nullptr, compilable::find_builtin(number)) << number;
  }
}

}  // namespace
