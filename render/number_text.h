// QuakeC source text of float and vector values.
#pragma once

#include <string>

namespace render {

// A magnitude above 999999 prints without exponent or fraction ("%.f"), a positive value
// below 0.001 with six fraction digits ("%.6f"), every other value as "%g".
std::string float_text(float value);

// A vector literal: the three components in single quotes, each "%g".
std::string vector_text(float x, float y, float z);

}  // namespace render
