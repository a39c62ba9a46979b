// The .qc file that receives everything the classic engine writes.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace classic {

// Text for the current file is gathered here and handed to the file in large pieces and
// when it is closed.
struct Output {
  bool is_open;      // a file (or a test's capture) receives the text
  int fd;            // the file's descriptor; -1 when the text is only kept in memory
  bool failed;       // a write to the file failed
  std::string text;  // written text not yet handed to the file
};
extern Output output;
void reset_output();  // closes a file a run left open, keeping what was written to it

// Makes the descriptor the current output; -1 keeps the text in output.text.
void open_output(int fd);
// Hands the remaining text to the file and closes it; false when the file refused either.
bool close_output();

[[gnu::format(printf, 1, 2)]] void output_printf(const char* format, ...);
void output_write(std::string_view text);
// Writes the pieces one after another.
void output_pieces(std::initializer_list<std::string_view> pieces);
// One tab per level; nothing at level 0 or below.
void emit_indent(int level);

}  // namespace classic
