// Guarded reading of the input file: every failure ends the run with the error banner.
#include "support/input_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/error.h"

namespace support {

InputFile input_file{-1};

void reset_input_file() { close_input(); }

int open_for_reading(const char* path) {
  close_input();
  int fd = ::open(path, O_RDONLY);
  if (fd < 0) {
    error_exit("Error opening %s: %s", path, std::strerror(errno));
  }
  input_file.fd = fd;
  return fd;
}

void read_exact(int fd, void* destination, size_t count) {
  auto* bytes = static_cast<unsigned char*>(destination);
  size_t done = 0;
  while (done < count) {
    ssize_t got = ::read(fd, bytes + done, count - done);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      error_exit("File read failure");
    }
    done += static_cast<size_t>(got);
  }
}

void seek_to(int fd, int64_t position) {
  if (position < 0 ||
      ::lseek(fd, static_cast<off_t>(position), SEEK_SET) != static_cast<off_t>(position)) {
    error_exit("File read failure");
  }
}

int64_t file_size(int fd) {
  off_t end = ::lseek(fd, 0, SEEK_END);
  if (end < 0) {
    error_exit("File read failure");
  }
  return static_cast<int64_t>(end);
}

void close_input() {
  if (input_file.fd >= 0) {
    ::close(input_file.fd);
  }
  input_file.fd = -1;
}

}  // namespace support
