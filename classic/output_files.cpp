// Sends each function to its .qc file and writes the project list "progs.src".
#include "classic/output_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "classic/function_emitter.h"
#include "classic/instruction_index.h"
#include "classic/instructions.h"
#include "classic/names.h"
#include "classic/output.h"
#include "classic/signatures.h"
#include "image/program_image.h"
#include "support/console.h"
#include "support/error.h"

namespace classic {

OutputFiles output_files;

void reset_output_files() {
  if (output_files.project_list != nullptr) {
    std::fclose(output_files.project_list);
  }
  output_files = OutputFiles{};
}

void remember_input_file(const char* path) {
  struct stat status;
  output_files.have_input_identity = ::stat(path, &status) == 0;
  if (output_files.have_input_identity) {
    output_files.input_device = status.st_dev;
    output_files.input_inode = status.st_ino;
  }
}

namespace {

bool names_input_file(const std::string& name) {
  struct stat status;
  return output_files.have_input_identity && ::stat(name.c_str(), &status) == 0 &&
         status.st_dev == output_files.input_device && status.st_ino == output_files.input_inode;
}

// Names the run must never write a function into: the project list and the input. A file
// this run has created is neither, so it is not looked up again.
bool is_protected_name(const std::string& name) {
  if (name == "progs.src") {
    return true;
  }
  return output_files.created_files.count(name) == 0 && names_input_file(name);
}

// Opens for writing ("w", replacing the file) or appending ("a+"), never through a
// symbolic link; -1 when the file cannot be opened or is no regular file (checked once per
// name). Non-blocking, so that a FIFO of that name cannot stall the run; for a regular
// file that changes nothing.
int open_output_file(const std::string& name, bool append) {
  const int flags =
      O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (append ? O_APPEND : O_TRUNC);
  const int fd = ::open(name.c_str(), flags, 0666);
  if (fd < 0 || output_files.created_files.count(name) != 0) {
    return fd;
  }
  struct stat status;
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return -1;
  }
  output_files.created_files.insert(name);
  return fd;
}

std::FILE* open_project_list() {
  const int fd = open_output_file("progs.src", false);
  if (fd < 0) {
    return nullptr;
  }
  std::FILE* file = ::fdopen(fd, "w");
  if (file == nullptr) {
    ::close(fd);
  }
  return file;
}

bool is_name_character(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '!' ||
         c == '.' || c == '_';
}

// Flattens directory separators to dots; false at the first character no file name takes.
bool make_usable(std::string& candidate) {
  if (candidate.empty()) {
    return false;
  }
  for (char& c : candidate) {
    if (c == '/' || c == '\\') {
      c = '.';
    } else if (!is_name_character(static_cast<unsigned char>(c))) {
      return false;
    }
  }
  return true;
}

}  // namespace

void prepare_program() {
  load_instruction_table();
  copy_global_types();
  build_instruction_index();
}

bool remember_source_file(const std::string& name) {
  if (output_files.source_files.size() >= kMaxSourceFiles) {
    support::fatal_error("Fatal Error - too many source files.\n");
  }
  if (output_files.source_file_set.count(name) != 0) {
    return true;
  }
  output_files.source_files.push_back(name);
  output_files.source_file_set.insert(name);
  return false;
}

const char* lookup_known_function_file(const char* function_name) {
  for (const KnownFunctionFile& row : KnownFunctionFiles) {
    if (std::strcmp(row.function_name, function_name) == 0) {
      return row.file_name;
    }
  }
  return nullptr;
}

std::string choose_output_file(int function_index) {
  const image::FunctionRecord& function = image::program.functions[function_index];
  std::string candidate;
  if (function.s_file >= 0 && function.s_file <= image::program.strofs) {
    candidate = image::string_at(function.s_file);
  }
  if (make_usable(candidate) && !is_protected_name(candidate)) {
    return candidate;
  }
  if (!remember_source_file(candidate)) {
    output_files.last_known_file.clear();
    const char* known = lookup_known_function_file(image::string_at(function.s_name));
    if (known != nullptr) {
      output_files.last_known_file = known;
    } else {
      ++output_files.fallback_file_counter;
    }
  }
  if (!output_files.last_known_file.empty()) {
    return output_files.last_known_file;
  }
  return "vorn" + std::to_string(output_files.fallback_file_counter) + ".qc";
}

void decompile_all_functions() {
  classic::build_signatures();
  if (names_input_file("progs.src") ||
      (output_files.project_list = open_project_list()) == nullptr) {
    support::fatal_error("Fatal Error - Could not open \"progs.src\" for output.\n");
  }
  std::fputs("./progs.dat\n\n", output_files.project_list);
  for (int i = 1; i < image::program.numfunctions; ++i) {
    const std::string name = choose_output_file(i);
    const bool created_before = remember_source_file(name);
    if (!created_before) {
      support::console_printf("decompiling %s...\n", name.c_str());
      std::fprintf(output_files.project_list, "%s\n", name.c_str());
    }
    const int fd = is_protected_name(name) ? -1 : open_output_file(name, created_before);
    if (fd < 0) {
      support::fatal_error("Fatal Error - Could not open \"%s\" for output.\n", name.c_str());
    }
    classic::open_output(fd);
    classic::decompile_function(i);
    if (!classic::close_output()) {
      support::fatal_error("Fatal Error - Could not close \"%s\" properly.\n", name.c_str());
    }
  }
  std::FILE* project_list = output_files.project_list;
  output_files.project_list = nullptr;
  if (std::fclose(project_list) != 0) {
    support::fatal_error("Fatal Error - Could not close \"progs.src\" properly.\n");
  }
}

}  // namespace classic
