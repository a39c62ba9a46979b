// The command line: options from a table, read into a plain struct for the run.
#include "driver/options.h"

#include <algorithm>
#include <cstring>

#include "support/error.h"

#ifndef PROGS2QC_VERSION
#error "the build passes the project's version as PROGS2QC_VERSION"
#endif

namespace driver {

namespace {

constexpr const char* kTryHelp = "Try 'progs2qc --help'.\n";
constexpr size_t kHelpColumn = 24;  // where the help texts of the options start

[[noreturn]] void unknown_option(const std::string& spelling) {
  support::usage_error("unknown option '%s'\n%s", spelling.c_str(), kTryHelp);
}

[[noreturn]] void missing_value(const std::string& spelling, const OptionRow& row) {
  support::usage_error("option '%s' needs %s\n%s", spelling.c_str(), row.argument_noun, kTryHelp);
}

const OptionRow* find_short(char name) {
  for (const OptionRow& row : OptionTable) {
    if (row.short_name == name) {
      return &row;
    }
  }
  return nullptr;
}

const OptionRow* find_long(const std::string& name) {
  for (const OptionRow& row : OptionTable) {
    if (name == row.long_name) {
      return &row;
    }
  }
  return nullptr;
}

// Reads the option argv[*next] starts with "--"; *next moves past it and any value taken.
void read_long_option(Options& options, int argc, const char* const* argv, int* next) {
  const std::string text = argv[(*next)++];
  const size_t equals = text.find('=');
  const std::string spelling = text.substr(0, equals);
  const OptionRow* row = find_long(spelling.substr(2));
  if (row == nullptr) {
    unknown_option(spelling);
  }
  if (row->argument == nullptr) {
    if (equals != std::string::npos) {
      support::usage_error("option '%s' takes no value\n%s", spelling.c_str(), kTryHelp);
    }
    row->apply(options, nullptr);
  } else if (equals != std::string::npos) {
    row->apply(options, text.c_str() + equals + 1);
  } else if (*next < argc) {
    row->apply(options, argv[(*next)++]);
  } else {
    missing_value(spelling, *row);
  }
}

// Reads the bundle of short options argv[*next] holds after its "-".
void read_short_options(Options& options, int argc, const char* const* argv, int* next) {
  const char* bundle = argv[(*next)++];
  for (const char* c = bundle + 1; *c != '\0' && options.action == Action::kDecompile; ++c) {
    const std::string spelling = std::string("-") + *c;
    const OptionRow* row = find_short(*c);
    if (row == nullptr) {
      unknown_option(spelling);
    }
    if (row->argument == nullptr) {
      row->apply(options, nullptr);
    } else if (c[1] != '\0') {
      row->apply(options, c + 1);
      return;
    } else if (*next < argc) {
      row->apply(options, argv[(*next)++]);
      return;
    } else {
      missing_value(spelling, *row);
    }
  }
}

// Appends the words, wrapped before column 80; continuation lines start at `column`.
void append_wrapped(std::string& text, const char* words, size_t column) {
  constexpr size_t kWidth = 79;
  size_t line_length = text.size() - (text.rfind('\n') + 1);
  bool first = true;
  for (const char* word = words; *word != '\0';) {
    const char* end = std::strchr(word, ' ');
    const size_t length = end == nullptr ? std::strlen(word) : static_cast<size_t>(end - word);
    if (!first && line_length + 1 + length > kWidth) {
      text += "\n" + std::string(column, ' ');
      line_length = column;
    } else if (!first) {
      text += ' ';
      ++line_length;
    }
    text.append(word, length);
    line_length += length;
    first = false;
    word += length;
    while (*word == ' ') {
      ++word;
    }
  }
  text += '\n';
}

}  // namespace

Options parse_options(int argc, const char* const* argv) {
  Options options;
  bool have_path = false;
  bool options_ended = false;
  int next = 1;
  while (next < argc && options.action == Action::kDecompile) {
    const char* argument = argv[next];
    const bool is_option = !options_ended && argument[0] == '-' && argument[1] != '\0';
    if (is_option && std::strcmp(argument, "--") == 0) {
      options_ended = true;
      ++next;
    } else if (is_option && argument[1] == '-') {
      read_long_option(options, argc, argv, &next);
    } else if (is_option) {
      read_short_options(options, argc, argv, &next);
    } else {
      if (!have_path) {
        options.input_path = argument;
        have_path = true;
      }
      ++next;
    }
  }
  return options;
}

std::string usage_text() {
  std::string text =
      "Usage: progs2qc [OPTIONS] [PATH]\n"
      "Writes QuakeC source that re-creates the compiled program PATH (progs.dat when\n"
      "none is given): the project list progs.src and the .qc files it lists.\n"
      "\n"
      "Options:\n";
  auto add_option = [&text](std::string names, const char* help) {
    names.resize(std::max(names.size() + 2, kHelpColumn), ' ');
    text += names;
    append_wrapped(text, help, kHelpColumn);
  };
  for (const OptionRow& row : OptionTable) {
    std::string names = std::string("  -") + row.short_name + ", --" + row.long_name;
    if (row.argument != nullptr) {
      names += std::string(" ") + row.argument;
    }
    add_option(names, row.help);
  }
  add_option("  --", "end the options: a PATH beginning with '-' may follow");
  text += "\n";
  text +=
      "Options may come before or after PATH; arguments after PATH are ignored.\n"
      "\n"
      "Exit status:\n"
      "  0  the whole program was written\n"
      "  1  the input could not be read, an output file could not be written, or code\n"
      "     could not be turned into source (the message is on standard output)\n"
      "  2  the command line could not be used (the message is on standard error)\n"
      "\n"
      "Example:\n"
      "  progs2qc -o src progs.dat\n";
  return text;
}

std::string version_text() { return std::string("progs2qc ") + PROGS2QC_VERSION + "\n"; }

}  // namespace driver
