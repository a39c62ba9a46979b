// The .qc file that receives everything the core writes.
#pragma once

#include <cstdio>
#include <string>

namespace core {

struct Output {
  std::FILE* current_output;  // opened and closed by the driver around each function
};
extern Output output;
void reset_output();

[[gnu::format(printf, 1, 2)]] void output_printf(const char* format, ...);
void output_write(const std::string& text);
// One tab per level; nothing at level 0 or below.
void emit_indent(int level);

}  // namespace core
