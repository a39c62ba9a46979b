// The files a run writes, all inside one output directory: the project list "progs.src"
// and the source files it lists. Nothing is written outside that directory, through a
// symbolic link, into anything but a regular file, or into the input file.
#include "render/output_directory.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/error.h"

namespace render {

OutputDirectory output_directory{-1, {}, false, 0, 0, nullptr};

namespace {

constexpr const char* kProjectListName = "progs.src";

// The descriptor the files are opened relative to.
int directory_fd() { return output_directory.fd >= 0 ? output_directory.fd : AT_FDCWD; }

bool names_input_file(const std::string& name) {
  struct stat status;
  return output_directory.have_input_identity &&
         ::fstatat(directory_fd(), name.c_str(), &status, 0) == 0 &&
         status.st_dev == output_directory.input_device &&
         status.st_ino == output_directory.input_inode;
}

// Opens for writing, replacing the file or appending to it, never through a symbolic
// link; -1 when the file cannot be opened or is no regular file (checked once per name).
// Non-blocking, so that a FIFO of that name cannot stall the run; for a regular file that
// changes nothing.
int open_in_directory(const std::string& name, OpenMode mode) {
  if (name.find('/') != std::string::npos) {
    return -1;
  }
  const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK |
                    (mode == OpenMode::kAppend ? O_APPEND : O_TRUNC);
  const int fd = ::openat(directory_fd(), name.c_str(), flags, 0666);
  if (fd < 0 || output_directory.created_files.count(name) != 0) {
    return fd;
  }
  struct stat status;
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return -1;
  }
  output_directory.created_files.insert(name);
  return fd;
}

// The path without the slashes that end it, so that a link named "dir/" is seen as the
// link; "/" stays itself.
std::string without_trailing_slashes(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') {
    trimmed.pop_back();
  }
  return trimmed;
}

}  // namespace

void reset_output_directory() {
  if (output_directory.project_list != nullptr) {
    std::fclose(output_directory.project_list);
  }
  if (output_directory.fd >= 0) {
    ::close(output_directory.fd);
  }
  output_directory = OutputDirectory{-1, {}, false, 0, 0, nullptr};
}

void use_output_directory(const std::string& path) {
  const std::string directory = without_trailing_slashes(path);
  const char* shown = path.c_str();
  if (directory.empty()) {
    support::usage_error("output directory '%s': %s\n", shown, std::strerror(ENOENT));
  }
  struct stat status;
  if (::lstat(directory.c_str(), &status) != 0) {
    if (errno != ENOENT || ::mkdir(directory.c_str(), 0777) != 0) {
      support::usage_error("output directory '%s': %s\n", shown, std::strerror(errno));
    }
  } else if (S_ISLNK(status.st_mode)) {
    support::usage_error("output directory '%s': is a symbolic link\n", shown);
  } else if (!S_ISDIR(status.st_mode)) {
    support::usage_error("output directory '%s': %s\n", shown, std::strerror(ENOTDIR));
  }
  const int fd = ::open(directory.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    support::usage_error("output directory '%s': %s\n", shown, std::strerror(errno));
  }
  output_directory.fd = fd;
  if (::faccessat(fd, ".", W_OK | X_OK, 0) != 0) {
    support::usage_error("output directory '%s': %s\n", shown, std::strerror(errno));
  }
}

void remember_input_file(const char* path) {
  struct stat status;
  output_directory.have_input_identity = ::stat(path, &status) == 0;
  if (output_directory.have_input_identity) {
    output_directory.input_device = status.st_dev;
    output_directory.input_inode = status.st_ino;
  }
}

bool is_reserved_name(const std::string& name) {
  if (name == kProjectListName) {
    return true;
  }
  return output_directory.created_files.count(name) == 0 && names_input_file(name);
}

int open_source_file(const std::string& name, OpenMode mode) {
  if (is_reserved_name(name)) {
    return -1;
  }
  if (mode == OpenMode::kAppend && output_directory.created_files.count(name) == 0) {
    return -1;
  }
  return open_in_directory(name, mode);
}

void open_project_list() {
  const int fd = names_input_file(kProjectListName)
                     ? -1
                     : open_in_directory(kProjectListName, OpenMode::kCreate);
  std::FILE* file = fd < 0 ? nullptr : ::fdopen(fd, "w");
  if (file == nullptr) {
    if (fd >= 0) {
      ::close(fd);
    }
    support::fatal_error("Fatal Error - Could not open \"progs.src\" for output.\n");
  }
  output_directory.project_list = file;
  std::fputs("./progs.dat\n\n", file);
}

void add_to_project_list(const std::string& name) {
  std::fprintf(output_directory.project_list, "%s\n", name.c_str());
}

void close_project_list() {
  std::FILE* file = output_directory.project_list;
  output_directory.project_list = nullptr;
  if (std::fclose(file) != 0) {
    support::fatal_error("Fatal Error - Could not close \"progs.src\" properly.\n");
  }
}

}  // namespace render
