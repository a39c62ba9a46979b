// Sends each function to its .qc file and writes the project list "progs.src".
#pragma once

#include <string>
#include <unordered_set>
#include <vector>

namespace classic {

struct OutputFiles {
  std::vector<std::string> source_files;  // SourceFileList, in the order met
  std::unordered_set<std::string> source_file_set;
  std::string last_known_file;
  int fallback_file_counter;
};
extern OutputFiles output_files;
void reset_output_files();

// The engine's own tables over the freshly loaded image: the instruction table that will
// carry block marks, the type words whose save flags the walk clears, and the indexes of
// its lookups. Made once per run, before the signatures.
void prepare_program();

// Writes every function 1 .. numfunctions - 1 into the file chosen for it, creating each
// file at its first function and listing it in the project list.
void decompile_all_functions();

}  // namespace classic
