// Standard output of the program, or a memory text when a test captures it.
#pragma once

#include <string>

namespace support {

struct Console {
  std::string* capture;  // null: write to stdout
};
extern Console console;

[[gnu::format(printf, 1, 2)]] void console_printf(const char* format, ...);
void console_write(const std::string& text);
void console_flush();

}  // namespace support
