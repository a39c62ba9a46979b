// Compares two progs.dat files: bytes, header, fields, named globals, and each function's code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace compare {

// How one function's code in A relates to the function of the same name in B. Identical
// means the same instructions with the same operands, every cell meaning the same;
// renumbered means the same instructions once unnamed cells are mapped one to one within
// the function and constants are compared by type and value instead of position.
enum class CodeVerdict { identical, renumbered, different, only_in_a, only_in_b };

struct FunctionVerdict {
  std::string name;  // the matching key: the name, "#builtin N", or "" for unnamed code
  int32_t index_a;   // record index in A; -1 when the function is only in B
  int32_t index_b;
  CodeVerdict code;
  int32_t first_difference;  // instruction within the function, or -1
  bool record_differs;       // numparms, parm_size or locals differ
  bool first_statement_differs;
  bool parm_start_differs;
};

struct FunctionCounts {
  int compared;  // functions found in both files
  int identical;
  int renumbered;
  int different;
  int only_in_a;
  int only_in_b;
  int records_differ;
};

struct Comparison {
  int status;  // 0 identical byte for byte, 1 different, 2 usage or unreadable file
  bool bytes_identical;
  int header_differences;
  int field_differences;
  int global_differences;
  FunctionCounts counts;
  std::vector<FunctionVerdict> functions;  // A's records in order, then those only in B
  std::string report;                      // the text the command prints
};

// Loads both files (one after the other through the program image) and compares them.
// A file that cannot be read gives status 2 and the reason in the report.
Comparison compare_program_files(const std::string& path_a, const std::string& path_b);

// "functions: N compared, N identical, ..." without a line end.
std::string summary_line(const FunctionCounts& counts);
const char* verdict_text(CodeVerdict verdict);

// The command: progs_compare A.dat B.dat. Prints the report and returns the status.
int run_progs_compare(int argc, const char* const* argv);

}  // namespace compare
