// The entry point of a run: load, summary, naming of unnamed functions, output.
#pragma once

namespace driver {

// Resets every process-wide table, so that runs can be repeated in one process.
void reset_run();

// A whole run; returns the exit status. Every fatal condition ends up here.
int run_decompiler(int argc, const char* const* argv);

void name_anonymous_functions();

}  // namespace driver
