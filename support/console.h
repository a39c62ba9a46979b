// Standard output and standard error of the program, or memory texts when a test
// captures them.
#pragma once

#include <string>

namespace support {

struct Console {
  std::string* capture;        // null: write to stdout
  std::string* error_capture;  // null: write to stderr
};
extern Console console;

[[gnu::format(printf, 1, 2)]] void console_printf(const char* format, ...);
void console_write(const std::string& text);
// Standard error: only for usage errors, which the run reports apart from its own output.
void console_error_write(const std::string& text);
void console_flush();

}  // namespace support
