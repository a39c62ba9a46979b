// Fatal conditions: raised where they are found, reported only by the entry point.
#pragma once

#include <string>

namespace support {

// The whole text to print (already with its line ends), the exit status to return, and
// whether the text goes to standard error (usage errors) instead of standard output.
struct FatalCondition {
  int exit_status;
  std::string message;
  bool on_standard_error = false;
};

// Input-file failures: the error banner, the message and a newline; exit status 1.
[[noreturn, gnu::format(printf, 1, 2)]] void error_exit(const char* format, ...);

// Every other condition the run cannot go on from: the message exactly as formatted
// (callers add the newline where the message has one); exit status 1.
[[noreturn, gnu::format(printf, 1, 2)]] void fatal_error(const char* format, ...);

// A command line the program cannot run with, found before anything is read or written:
// "progs2qc: " and the message as formatted, on standard error; exit status 2.
[[noreturn, gnu::format(printf, 1, 2)]] void usage_error(const char* format, ...);

}  // namespace support
