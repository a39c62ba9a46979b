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

}  // namespace tests
