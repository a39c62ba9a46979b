// Printf-style formatting into text of any length.
#include "support/scratch.h"

#include <cstdio>

namespace support {

std::string vformat_text(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  char small[256];
  int length = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (length < 0) {
    return std::string();
  }
  if (static_cast<size_t>(length) < sizeof small) {
    return std::string(small, static_cast<size_t>(length));
  }
  std::string text(static_cast<size_t>(length) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<size_t>(length));
  return text;
}

std::string scratch_printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = vformat_text(format, args);
  va_end(args);
  return text;
}

}  // namespace support
