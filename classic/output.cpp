// The .qc file that receives everything the classic engine writes.
#include "classic/output.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>

#include "support/scratch.h"

namespace classic {

Output output{false, -1, false, std::string()};

namespace {

constexpr size_t kFlushSize = 1 << 16;

void flush_text() {
  size_t done = 0;
  while (output.fd >= 0 && done < output.text.size()) {
    ssize_t written = ::write(output.fd, output.text.data() + done, output.text.size() - done);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      output.failed = true;
      break;
    }
    done += static_cast<size_t>(written);
  }
  output.text.clear();
}

}  // namespace

void open_output(int fd) {
  reset_output();
  output.is_open = true;
  output.fd = fd;
}

bool close_output() {
  flush_text();
  bool closed = true;
  if (output.fd >= 0) {
    closed = ::close(output.fd) == 0;
  }
  const bool ok = closed && !output.failed;
  output.is_open = false;
  output.fd = -1;
  output.failed = false;
  output.text.clear();
  return ok;
}

void reset_output() {
  if (output.is_open) {
    close_output();
  }
}

void output_write(std::string_view text) {
  if (!output.is_open) {
    return;
  }
  output.text += text;
  if (output.fd >= 0 && output.text.size() >= kFlushSize) {
    flush_text();
  }
}

void output_pieces(std::initializer_list<std::string_view> pieces) {
  for (std::string_view piece : pieces) {
    output_write(piece);
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
  if (level > 0 && output.is_open) {
    output.text.append(static_cast<size_t>(level), '\t');
  }
}

}  // namespace classic
