// Fatal conditions: raised where they are found, reported only by the entry point.
#include "support/error.h"

#include <cstdarg>

#include "support/scratch.h"

namespace support {

void error_exit(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = vformat_text(format, args);
  va_end(args);
  throw FatalCondition{1, "************ ERROR ***********\n" + message + "\n"};
}

void fatal_error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = vformat_text(format, args);
  va_end(args);
  throw FatalCondition{1, message};
}

void usage_error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string message = vformat_text(format, args);
  va_end(args);
  throw FatalCondition{2, "progs2qc: " + message, true};
}

}  // namespace support
