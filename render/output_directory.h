// The files a run writes, all inside one output directory: the project list "progs.src"
// and the source files it lists. Nothing is written outside that directory, through a
// symbolic link, into anything but a regular file, or into the input file.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <unordered_set>

namespace render {

struct OutputDirectory {
  int fd;  // the directory use_output_directory opened; -1 for the current directory
  std::unordered_set<std::string> created_files;  // regular files this run created
  bool have_input_identity;  // the input's device and inode, so it is never overwritten
  dev_t input_device;
  ino_t input_inode;
  std::FILE* project_list;  // "progs.src" while it is being written
};
extern OutputDirectory output_directory;
void reset_output_directory();  // closes what a run left open; the current directory again

// Makes `path` the output directory instead of the current one, creating it when it is
// missing (its parent must exist). A path that is a symbolic link, no directory, or a
// directory the run may not write into ends the run with support::usage_error naming the
// path and the reason. Called before the input is read.
void use_output_directory(const std::string& path);

// Remembers which file the run read, so that no output ever replaces it.
void remember_input_file(const char* path);

// Whether a source file of that name is never written: it is the project list, or it is
// the input file (by device and inode) and was not created by this run.
bool is_reserved_name(const std::string& name);

enum class OpenMode {
  kCreate,  // create the file, or empty one of that name
  kAppend,  // add to a file this run created
};
// Opens a source file of the output directory for writing and returns its descriptor, or
// -1 when the name is reserved, holds a '/', names a symbolic link or anything but a
// regular file, cannot be opened, or (kAppend) was not created by this run.
int open_source_file(const std::string& name, OpenMode mode);

// The project list: "./progs.dat" and an empty line, then one line per source file, in
// the order they are added. Each call ends the run with a fatal error when "progs.src"
// cannot be created (or is the input file), or cannot be closed properly.
void open_project_list();
void add_to_project_list(const std::string& name);
void close_project_list();

}  // namespace render
