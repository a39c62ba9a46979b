// Guarded reading of the input file: every failure ends the run with the error banner.
#pragma once

#include <cstddef>
#include <cstdint>

namespace support {

struct InputFile {
  int fd;  // -1 when no input file is open
};
extern InputFile input_file;
void reset_input_file();  // closes the input file if a run left it open

// Opens read-only and keeps the descriptor in input_file.
int open_for_reading(const char* path);
void read_exact(int fd, void* destination, size_t count);
// Moves to an absolute position; a position the system refuses is a read failure.
void seek_to(int fd, int64_t position);
int64_t file_size(int fd);
void close_input();

}  // namespace support
