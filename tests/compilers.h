// QuakeC compilers for tests: id's qcc (built with the tests) and fteqcc, run in scratch folders.
#pragma once

#include <string>
#include <vector>

namespace tests {

enum class Compiler { qcc, fteqcc };

// The compiler's program, or "" when it is not there: qcc is built only when ../shared/tools/qcc
// exists, fteqcc is looked up on PATH (Debian package fteqcc).
std::string compiler_path(Compiler compiler);
const char* compiler_name(Compiler compiler);

// ../shared/qc/v101 (the Quake 1.01 game source), or "" when it is absent.
std::string v101_source_dir();

// A fresh folder under the system's temporary folder, removed with everything in it when the
// value goes out of scope.
struct ScratchDirectory {
  std::string path;
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  ~ScratchDirectory();
};
ScratchDirectory make_scratch_directory();

// Copies a folder's files into directory/name, writable (the shared folder is read-only and
// compilers write beside their sources); returns the new folder's path.
std::string copy_source(const std::string& from, const std::string& directory,
                        const std::string& name);

struct CompileResult {
  int status;              // the compiler's exit status; -1 when it could not be run
  std::string console;     // standard output and standard error as written
  std::string progs_path;  // the output file progs.src names, whether it was written or not
};

// Runs the compiler in source_dir, where it reads progs.src (qcc takes no options). The first
// word of progs.src is the output file, relative to source_dir.
CompileResult compile(Compiler compiler, const std::string& source_dir,
                      const std::vector<std::string>& options = {});

struct SourceFile {
  std::string name;
  std::string text;
};

// Writes progs.src (the output file, then the files in order) and the files into directory.
void write_project(const std::string& directory, const std::string& output,
                   const std::vector<SourceFile>& files);
CompileResult compile_project(Compiler compiler, const std::string& directory,
                              const std::vector<SourceFile>& files,
                              const std::vector<std::string>& options = {});

// The single fteqcc optimisations that change the code of v101 compiled at -O0 (fteqcc -O0
// -ONAME against fteqcc -O0, compared function by function). Of the others fteqcc applies at
// -O3, noduplicatestrings, constant_names, constant_names_strings, filenames, unreferenced,
// locals, function_names and strip_functions change names, strings or tables only, and
// assignments alone changes nothing.
struct OptimisationRow {
  const char* name;  // as in -ONAME
};
inline constexpr OptimisationRow FteqccCodeOptimisations[] = {
    {"shortenifs"},          // if (!x) tests with NE_F x, 0 and IF, not NOT_F x and IFNOT
    {"overlaptemps"},        // temporaries share cells across statements
    {"constantarithmatic"},  // arithmetic on constants is done at compile time
    {"nonvec_parms"},        // one-cell arguments are copied with STORE_F, not STORE_V
    {"precache_file"},       // precache_file calls and their strings are left out
    {"dupconstdefs"},        // equal constants share one cell, named or not
    {"return_only"},         // a RETURN with no value at the end becomes the DONE
    {"compound_jumps"},      // a jump to a jump or a return goes straight to its target
};

}  // namespace tests
