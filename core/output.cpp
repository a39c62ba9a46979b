// The .qc file that receives everything the core writes.
#include "core/output.h"

#include <cstdarg>

#include "support/scratch.h"

namespace core {

Output output;

void reset_output() {
  if (output.current_output != nullptr) {
    std::fclose(output.current_output);
  }
  output.current_output = nullptr;
}

void output_write(const std::string& text) {
  if (output.current_output != nullptr) {
    std::fwrite(text.data(), 1, text.size(), output.current_output);
  }
}

void output_printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = support::vformat_text(format, args);
  va_end(args);
  output_write(text);
}

void emit_indent(int level) {
  if (level > 0) {
    output_write(std::string(static_cast<size_t>(level), '\t'));
  }
}

}  // namespace core
