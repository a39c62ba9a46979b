// Float and vector texts straight from the values.
#include "render/number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(FloatText, EachRangeTakesItsFormat) {
  struct Case {
    const char* name;
    float value;
    const char* want;
  };
  const Case cases[] = {
      {"%g up to 999999", 999999.0f, "999999"},
      {"%.f above it", std::nextafterf(999999.0f, 1e7f), "999999"},
      {"%.f for a large negative", -1000000.0f, "-1000000"},
      {"%.6f below 0.001", 0.0005f, "0.000500"},
      {"%g for a small negative", -0.0005f, "-0.0005"},
      {"%g for zero", 0.0f, "0"},
      {"%g for negative zero", -0.0f, "-0"},
      {"%g in between", 2.5f, "2.5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.want, render::float_text(c.value));
  }
}

TEST(VectorText, ComponentsInSingleQuotesWithG) {
  EXPECT_EQ("'0 0 -1'", render::vector_text(0.0f, 0.0f, -1.0f));
  EXPECT_EQ("'1e+06 0.0005 2.5'", render::vector_text(1000000.0f, 0.0005f, 2.5f));
  EXPECT_EQ("'inf -inf 0'", render::vector_text(std::numeric_limits<float>::infinity(),
                                                -std::numeric_limits<float>::infinity(), 0.0f));
}

}  // namespace
