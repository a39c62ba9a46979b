// Literal texts both compilers read back to the same value: floats in the shortest plain
// decimal that gives the same 32-bit value, and quoted strings.
#pragma once

#include <string>

namespace compilable {

// Digits, at most one '.', and a leading '-': qcc reads no exponent. False for a NaN or an
// infinity, which no literal can spell; the text is then "0".
bool float_text(float value, std::string& text);

struct QuotedString {
  std::string text;
  bool fteqcc_only;  // holds a backslash, which only fteqcc can spell
};
QuotedString quote_string(const char* value);

}  // namespace compilable
