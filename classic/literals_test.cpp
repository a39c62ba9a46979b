// Literal texts of floats, vectors, strings and the types that have no literal.
#include "classic/literals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "image/opcodes.h"
#include "tests/fixture.h"

namespace {

constexpr int kFirstCell = 28;  // the first cell after the reserved ones

// The three formats a float can take.
enum FloatFormat { kG, kNoFraction, kSixDigits };

// What the C library prints for the value widened to double under the format.
std::string c_library_text(FloatFormat format, float value) {
  const double widened = static_cast<double>(value);
  char text[64];
  switch (format) {
    case kG:
      std::snprintf(text, sizeof text, "%g", widened);
      break;
    case kNoFraction:
      std::snprintf(text, sizeof text, "%.f", widened);
      break;
    case kSixDigits:
      std::snprintf(text, sizeof text, "%.6f", widened);
      break;
  }
  return text;
}

TEST(FormatLiteral, FloatTakesTheFormatOfItsRange) {
  // want null: the text is whatever the C library prints for the format.
  struct Case {
    const char* name;
    float value;
    FloatFormat format;
    const char* want;
  };
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  const Case cases[] = {
      {"largest magnitude of %g", 999999.0f, kG, "999999"},
      {"negative largest magnitude of %g", -999999.0f, kG, "-999999"},
      {"next single above 999999", std::nextafterf(999999.0f, kInfinity), kNoFraction, "999999"},
      {"next single below -999999", std::nextafterf(-999999.0f, -kInfinity), kNoFraction,
       "-999999"},
      {"one million has no exponent", 1000000.0f, kNoFraction, "1000000"},
      {"small positive", 0.0009765625f, kSixDigits, "0.000977"},
      {"small positive keeps six digits", 0.0005f, kSixDigits, "0.000500"},
      {"tiny positive rounds to zero digits", 1e-7f, kSixDigits, "0.000000"},
      {"single nearest 0.001 lies above it", 0.001f, kG, "0.001"},
      {"small negative", -0.0005f, kG, "-0.0005"},
      {"zero", 0.0f, kG, "0"},
      {"negative zero", -0.0f, kG, "-0"},
      {"ordinary value", 2.5f, kG, "2.5"},
      {"not a number", std::numeric_limits<float>::quiet_NaN(), kG, nullptr},
      {"positive infinity", kInfinity, kNoFraction, nullptr},
      {"negative infinity", -kInfinity, kNoFraction, nullptr},
  };
  tests::ProgsBuilder program = tests::new_program();
  for (size_t i = 0; i < std::size(cases); ++i) {
    program.set_float(kFirstCell + static_cast<int>(i), cases[i].value);
  }
  tests::load_fixture(program);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    const std::string want = c_library_text(c.format, c.value);
    if (c.want != nullptr) {
      EXPECT_EQ(c.want, want) << "the case names the wrong format";
    }
    EXPECT_EQ(want, classic::format_literal(image::ev_float, kFirstCell + static_cast<int>(i)));
  }
}

TEST(FormatLiteral, VectorPrintsEachComponentWithG) {
  tests::ProgsBuilder program = tests::new_program();
  program.set_vector(kFirstCell, 0.0f, 0.0f, -1.0f);
  program.set_vector(kFirstCell + 3, 1000000.0f, 0.0005f, 2.5f);
  tests::load_fixture(program);
  EXPECT_EQ("'0 0 -1'", classic::format_literal(image::ev_vector, kFirstCell));
  EXPECT_EQ("'1e+06 0.0005 2.5'", classic::format_literal(image::ev_vector, kFirstCell + 3));
}

TEST(FormatLiteral, TypesWithoutALiteral) {
  struct Case {
    int type_word;
    const char* want;
  };
  constexpr Case cases[] = {
      {0, "void"},       {4, "bad type 4"},         {5, "bad type 5"},
      {6, "bad type 6"}, {7, "bad type 7"},         {32770, "bad type 32770"},
      {8, "bad type 8"}, {32769, "bad type 32769"}, {32771, "bad type 32771"},
  };
  tests::ProgsBuilder program = tests::new_program();
  program.set_float(kFirstCell, 3.0f);  // a value that must not show
  tests::load_fixture(program);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type_word);
    EXPECT_EQ(c.want, classic::format_literal(c.type_word, kFirstCell));
  }
}

TEST(FormatLiteral, StringIsReadThroughTheCellsOffset) {
  tests::ProgsBuilder program = tests::new_program();
  program.set_int(kFirstCell, program.add_string("fire\n"));
  const int32_t past_end = static_cast<int32_t>(program.strings.size());
  program.set_int(kFirstCell + 1, past_end);
  program.set_int(kFirstCell + 2, past_end + 1);
  program.set_int(kFirstCell + 3, 1000000);
  program.set_int(kFirstCell + 4, -1);
  tests::load_fixture(program);
  EXPECT_EQ("\"fire\\n\"", classic::format_literal(image::ev_string, kFirstCell));
  for (int cell = kFirstCell + 1; cell <= kFirstCell + 4; ++cell) {
    SCOPED_TRACE(cell);
    EXPECT_EQ("\"\"", classic::format_literal(image::ev_string, cell));
  }
}

TEST(QuoteStringLiteral, EscapesOnlyNewlineAndDoubleQuote) {
  struct Case {
    const char* name;
    const char* source;
    const char* want;
  };
  constexpr Case cases[] = {
      {"empty", "", "\"\""},
      {"newline", "a\nb", "\"a\\nb\""},
      {"double quote", "say \"hi\"", "\"say \\\"hi\\\"\""},
      {"backslash, tab and carriage return", "a\\b\tc\rd", "\"a\\b\tc\rd\""},
      {"bytes above 127", "\x80\xe9\xff", "\"\x80\xe9\xff\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.want, classic::quote_string_literal(c.source));
  }
}

TEST(QuoteStringLiteral, KeepsAtMost245SourceCharacters) {
  std::string three_hundred;
  for (int i = 0; i < 300; ++i) {
    three_hundred += static_cast<char>('a' + i % 26);
  }
  struct Case {
    const char* name;
    std::string source;
    std::string want;
  };
  const std::string escaped_quotes = [] {
    std::string text;
    for (int i = 0; i < 245; ++i) {
      text += "\\\"";
    }
    return text;
  }();
  const Case cases[] = {
      {"244 characters", std::string(244, 'x'), "\"" + std::string(244, 'x') + "\""},
      {"245 characters", std::string(245, 'x'), "\"" + std::string(245, 'x') + "...\""},
      {"300 characters", three_hundred, "\"" + three_hundred.substr(0, 245) + "...\""},
      {"escapes count once", std::string(244, 'x') + "\nmore",
       "\"" + std::string(244, 'x') + "\\n...\""},
      {"245 double quotes", std::string(245, '"'), "\"" + escaped_quotes + "...\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.want, classic::quote_string_literal(c.source.c_str()));
  }
  EXPECT_EQ(495u, classic::quote_string_literal(std::string(245, '"').c_str()).size());
}

}  // namespace
