// Writes the example program to the path given (default "progs.dat").
#include <cstdio>
#include <exception>

#include "tests/example_programs.h"

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "progs.dat";
  try {
    tests::example_program().write(path);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "make_example: %s\n", error.what());
    return 1;
  }
  return 0;
}
