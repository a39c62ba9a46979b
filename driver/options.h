// The command line: options from a table, read into a plain struct for the run.
#pragma once

#include <string>

namespace driver {

enum class Engine {
  kClassic,     // the output of the specified tool, byte for byte
  kCompilable,  // complete source that compiles back and means the same
};

enum class Action {
  kDecompile,
  kShowHelp,
  kShowVersion,
};

struct Options {
  Action action = Action::kDecompile;
  Engine engine = Engine::kClassic;
  std::string input_path = "progs.dat";
  std::string output_dir;  // empty: the current directory
};

// One option. `argument` names the value an option takes ("DIR" in the help, "a
// directory" in the message when it is missing), or is null for one that takes none.
struct OptionRow {
  char short_name;
  const char* long_name;
  const char* argument;
  const char* argument_noun;
  const char* help;
  void (*apply)(Options& options, const char* value);
};

inline constexpr OptionRow OptionTable[] = {
    {'o', "output-dir", "DIR", "a directory",
     "write progs.src and the .qc files into DIR (created when missing) instead of the current "
     "directory",
     [](Options& options, const char* value) { options.output_dir = value; }},
    {'c', "compilable", nullptr, nullptr,
     "write complete source that compiles back with qcc and fteqcc and means the same",
     [](Options& options, const char*) { options.engine = Engine::kCompilable; }},
    {'h', "help", nullptr, nullptr, "print this help and exit",
     [](Options& options, const char*) { options.action = Action::kShowHelp; }},
    {'V', "version", nullptr, nullptr, "print the version and exit",
     [](Options& options, const char*) { options.action = Action::kShowVersion; }},
};

// Reads argv[1 .. argc - 1] the way Unix tools do: options before or after PATH, short
// ones bundled ("-Vh") or with their value attached ("-oDIR"), long ones with "=value"
// or the value as the next argument, "--" ending the options; the first other argument
// is PATH and any further ones are ignored. Help and version end the reading where they
// stand. An unknown option or a missing or unexpected value ends the run through
// support::usage_error.
Options parse_options(int argc, const char* const* argv);

// The text of --help: synopsis, every option of the table, exit statuses, an example.
std::string usage_text();
// "progs2qc VERSION\n", VERSION being the project's version.
std::string version_text();

}  // namespace driver
