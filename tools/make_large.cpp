// Writes a program at a fraction of the format's full scale: make_large EIGHTHS PATH.
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "tests/large_programs.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_large EIGHTHS PATH   (EIGHTHS 1 to 8; 8 is full scale)\n");
    return 2;
  }
  char* end = nullptr;
  const long eighths = std::strtol(argv[1], &end, 10);
  if (*end != '\0' || eighths < 1 || eighths > 8) {
    std::fprintf(stderr, "make_large: EIGHTHS must be a number from 1 to 8\n");
    return 2;
  }
  try {
    tests::large_program(static_cast<int>(eighths)).write(argv[2]);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "make_large: %s\n", error.what());
    return 1;
  }
  return 0;
}
