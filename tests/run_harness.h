// Runs the whole program in-process in a fresh temporary directory and collects what it did.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/progs_builder.h"

namespace tests {

struct RunResult {
  int status;
  std::string console;  // standard output
  std::string errors;   // standard error
  // Every file the run created or changed, by its path in the directory ("out/a.qc"), with
  // its bytes; a directory it created as "out/" with the text kDirectory.
  std::map<std::string, std::string> files;
};

inline constexpr const char* kDirectory = "<directory>";

// Makes a temporary directory, calls `setup` in it (to place input files), runs the
// program with `args` (args[0] is the program name) and removes the directory again.
RunResult run_in_temp_dir(const std::vector<std::string>& args, const std::function<void()>& setup);

// Writes the program as "progs.dat" and runs without arguments.
RunResult run_program(const ProgsBuilder& program);

// The lines of a text, each without its newline; a last line without newline counts too.
std::vector<std::string> split_lines(const std::string& text);

// The text of a file read whole; throws when it cannot be read.
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);

}  // namespace tests
