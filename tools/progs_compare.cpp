// progs_compare: tells whether two progs.dat files are identical and, if not, what differs.
#include "compare/progs_compare.h"

int main(int argc, char** argv) { return compare::run_progs_compare(argc, argv); }
