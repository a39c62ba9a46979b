// Float and string literals that both compilers read back to the same value.
#include "compilable/literals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace {

uint32_t bits_of(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// What qcc does with a number token: atof, then stored as a float.
float read_back(const std::string& text) {
  return static_cast<float>(std::strtod(text.c_str(), nullptr));
}

TEST(FloatText, IsTheShortestPlainDecimalThatReadsBackToTheSameBits) {
  struct Case {
    const char* name;
    float value;
    const char* want;
  };
  const Case cases[] = {
      {"whole number", 8.0f, "8"},
      {"negative whole number", -300.0f, "-300"},
      {"one tenth", 0.1f, "0.1"},
      {"the single nearest 0.02", 0.02f, "0.02"},
      // 0.020000001 is the next single above 0.02: nine digits tell them apart.
      {"the single above 0.02", std::nextafterf(0.02f, 1.0f), "0.020000001"},
      {"pi as a single", 3.14159265f, "3.1415927"},
      {"a third", 1.0f / 3.0f, "0.33333334"},
      {"a million", 1000000.0f, "1000000"},
      {"beyond the exact integers", 16777217.0f, "16777216"},
      {"large, written without exponent", 1e20f, "100000000000000000000"},
      {"small, written without exponent", 1e-10f, "0.0000000001"},
      {"zero", 0.0f, "0"},
      {"negative zero keeps its sign", -0.0f, "-0"},
      {"the smallest normal single", std::numeric_limits<float>::min(),
       "0.000000000000000000000000000000000000011754944"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string text;
    EXPECT_TRUE(compilable::float_text(c.value, text));
    EXPECT_EQ(c.want, text);
    EXPECT_EQ(bits_of(c.value), bits_of(read_back(text)));
    // No exponent, which qcc cannot read, and at most one point.
    EXPECT_EQ(std::string::npos, text.find_first_of("eE"));
    EXPECT_EQ(text.find('.'), text.rfind('.'));
  }
}

TEST(FloatText, EverySingleOfAWideSampleReadsBack) {
  // Singles spread over every exponent, subnormals included, with varied mantissas.
  int checked = 0;
  for (uint32_t exponent = 0; exponent < 255; ++exponent) {
    for (uint32_t mantissa : {0u, 1u, 0x2aaaaau, 0x400000u, 0x7fffffu, 0x123457u}) {
      for (uint32_t sign : {0u, 1u}) {
        const uint32_t bits = sign << 31 | exponent << 23 | mantissa;
        float value;
        std::memcpy(&value, &bits, sizeof value);
        std::string text;
        ASSERT_TRUE(compilable::float_text(value, text)) << bits;
        ASSERT_EQ(bits, bits_of(read_back(text))) << text;
        ++checked;
      }
    }
  }
  EXPECT_EQ(255 * 6 * 2, checked);
}

TEST(FloatText, NoLiteralSpellsANanOrAnInfinity) {
  for (float value :
       {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
        -std::numeric_limits<float>::infinity()}) {
    std::string text = "unchanged";
    EXPECT_FALSE(compilable::float_text(value, text));
    EXPECT_EQ("0", text);
  }
}

TEST(QuoteString, EscapesWhatBothCompilersRead) {
  struct Case {
    const char* name;
    std::string value;
    const char* want;
    bool fteqcc_only;
  };
  const Case cases[] = {
      {"plain", "weapons/r_exp3.wav", "\"weapons/r_exp3.wav\"", false},
      {"empty", "", "\"\"", false},
      {"new line", "line\n", "\"line\\n\"", false},
      {"quotes", "say \"hi\"", "\"say \\\"hi\\\"\"", false},
      {"a tab is written as it is", "a\tb", "\"a\tb\"", false},
      {"backslash: qcc knows no escape for it", "C:\\quake", "\"C:\\\\quake\"", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const compilable::QuotedString quoted = compilable::quote_string(c.value.c_str());
    EXPECT_EQ(c.want, quoted.text);
    EXPECT_EQ(c.fteqcc_only, quoted.fteqcc_only);
  }
}

TEST(QuoteString, KeepsLongStringsWhole) {
  for (size_t length : {244u, 245u, 1000u, 5000u}) {
    std::string value;
    for (size_t i = 0; i < length; ++i) {
      value += static_cast<char>('a' + i % 26);
    }
    const compilable::QuotedString quoted = compilable::quote_string(value.c_str());
    EXPECT_EQ("\"" + value + "\"", quoted.text) << length;
  }
}

}  // namespace
