// QuakeC source text of float and vector values.
#include "render/number_text.h"

#include <cstdint>
#include <cstring>

#include "support/scratch.h"

namespace render {

std::string float_text(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  bits &= 0x7fffffffu;
  float magnitude;
  std::memcpy(&magnitude, &bits, sizeof magnitude);
  double widened = static_cast<double>(value);
  if (magnitude > 999999.0f) {
    return support::scratch_printf("%.f", widened);
  }
  if (value > 0.0f && widened < 0.001) {
    return support::scratch_printf("%.6f", widened);
  }
  return support::scratch_printf("%g", widened);
}

std::string vector_text(float x, float y, float z) {
  return support::scratch_printf("'%g %g %g'", static_cast<double>(x), static_cast<double>(y),
                                 static_cast<double>(z));
}

}  // namespace render
