// The entry point of a run: command line, load, summary, naming of unnamed functions,
// then the engine that writes the files.
#pragma once

namespace driver {

// Resets every process-wide table, so that runs can be repeated in one process.
void reset_run();

// A whole run with the command line argv[0 .. argc - 1]; returns the exit status. Every
// fatal condition ends up here.
int run_decompiler(int argc, const char* const* argv);

// Gives every function 1 .. numfunctions - 1 whose name is empty the name "function%i".
void name_anonymous_functions();

}  // namespace driver
