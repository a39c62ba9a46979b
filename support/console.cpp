// Standard output and standard error of the program, or memory texts when a test
// captures them.
#include "support/console.h"

#include <cstdarg>
#include <cstdio>

#include "support/scratch.h"

namespace support {

Console console;

void console_write(const std::string& text) {
  if (console.capture != nullptr) {
    console.capture->append(text);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
}

void console_printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = vformat_text(format, args);
  va_end(args);
  console_write(text);
}

void console_error_write(const std::string& text) {
  if (console.error_capture != nullptr) {
    console.error_capture->append(text);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stderr);
}

void console_flush() {
  if (console.capture == nullptr) {
    std::fflush(stdout);
  }
  if (console.error_capture == nullptr) {
    std::fflush(stderr);
  }
}

}  // namespace support
