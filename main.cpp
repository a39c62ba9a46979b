// progs2qc: writes QuakeC source that re-creates a compiled progs.dat.
#include "driver/run.h"

int main(int argc, char** argv) { return driver::run_decompiler(argc, argv); }
