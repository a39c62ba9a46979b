// Reading the command line: where options may stand, how their values are given, and the
// usage errors.
#include "driver/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/error.h"
#include "tests/run_harness.h"

namespace {

using driver::Action;

// The options read from the arguments after the program name; a usage error is failed.
driver::Options parse(const std::vector<std::string>& arguments) {
  std::vector<const char*> argv = {"progs2qc"};
  for (const std::string& argument : arguments) {
    argv.push_back(argument.c_str());
  }
  argv.push_back(nullptr);
  try {
    return driver::parse_options(static_cast<int>(argv.size()) - 1, argv.data());
  } catch (const support::FatalCondition& condition) {
    ADD_FAILURE() << condition.message;
    return driver::Options{};
  }
}

// The usage error the arguments give, or "" when they give none.
std::string usage_error_of(const std::vector<std::string>& arguments) {
  std::vector<const char*> argv = {"progs2qc"};
  for (const std::string& argument : arguments) {
    argv.push_back(argument.c_str());
  }
  try {
    driver::parse_options(static_cast<int>(argv.size()), argv.data());
  } catch (const support::FatalCondition& condition) {
    EXPECT_EQ(2, condition.exit_status);
    EXPECT_TRUE(condition.on_standard_error);
    return condition.message;
  }
  return "";
}

struct ParseCase {
  const char* name;
  std::vector<std::string> arguments;
  Action action;
  const char* input_path;
  const char* output_dir;
};

const ParseCase ParseCases[] = {
    {"nothing", {}, Action::kDecompile, "progs.dat", ""},
    {"a path", {"game.dat"}, Action::kDecompile, "game.dat", ""},
    {"arguments after the path are ignored",
     {"a.dat", "b.dat", "c"},
     Action::kDecompile,
     "a.dat",
     ""},
    {"a lone - is a path", {"-"}, Action::kDecompile, "-", ""},
    {"an empty argument is a path", {""}, Action::kDecompile, "", ""},
    {"-o DIR before the path", {"-o", "out", "a.dat"}, Action::kDecompile, "a.dat", "out"},
    {"-o DIR after the path", {"a.dat", "-o", "out"}, Action::kDecompile, "a.dat", "out"},
    {"-oDIR", {"-oout", "a.dat"}, Action::kDecompile, "a.dat", "out"},
    {"--output-dir DIR", {"--output-dir", "out"}, Action::kDecompile, "progs.dat", "out"},
    {"--output-dir=DIR", {"--output-dir=out"}, Action::kDecompile, "progs.dat", "out"},
    {"a value beginning with -", {"-o", "-x"}, Action::kDecompile, "progs.dat", "-x"},
    {"the last -o counts", {"-o", "one", "-o", "two"}, Action::kDecompile, "progs.dat", "two"},
    {"-- ends the options", {"--", "-odd.dat"}, Action::kDecompile, "-odd.dat", ""},
    {"options after -- are arguments", {"a.dat", "--", "-o"}, Action::kDecompile, "a.dat", ""},
    {"options after ignored arguments",
     {"a.dat", "b.dat", "-o", "out"},
     Action::kDecompile,
     "a.dat",
     "out"},
    {"-h", {"-h"}, Action::kShowHelp, "progs.dat", ""},
    {"--help", {"--help"}, Action::kShowHelp, "progs.dat", ""},
    {"-V", {"-V"}, Action::kShowVersion, "progs.dat", ""},
    {"--version", {"--version"}, Action::kShowVersion, "progs.dat", ""},
    {"help after the path", {"a.dat", "--help"}, Action::kShowHelp, "a.dat", ""},
    {"bundled: the first of help and version wins", {"-Vh"}, Action::kShowVersion, "progs.dat", ""},
    {"nothing after help is read", {"-h", "-x", "--bad"}, Action::kShowHelp, "progs.dat", ""},
};

TEST(ParseOptions, OptionsAnywhereAndTheFirstOtherArgumentAsPath) {
  for (const ParseCase& c : ParseCases) {
    SCOPED_TRACE(c.name);
    const driver::Options options = parse(c.arguments);
    EXPECT_EQ(c.action, options.action);
    EXPECT_EQ(driver::Engine::kClassic, options.engine);
    EXPECT_EQ(c.input_path, options.input_path);
    EXPECT_EQ(c.output_dir, options.output_dir);
  }
}

struct ErrorCase {
  const char* name;
  std::vector<std::string> arguments;
  const char* message;
};

const ErrorCase ErrorCases[] = {
    {"unknown short option", {"-x"}, "progs2qc: unknown option '-x'\nTry 'progs2qc --help'.\n"},
    {"unknown in a bundle", {"-hx"}, ""},  // help is met first
    {"unknown before help in a bundle",
     {"-xh"},
     "progs2qc: unknown option '-x'\nTry 'progs2qc --help'.\n"},
    {"unknown long option",
     {"--verbose"},
     "progs2qc: unknown option '--verbose'\nTry 'progs2qc --help'.\n"},
    {"unknown long option with a value",
     {"--level=3"},
     "progs2qc: unknown option '--level'\nTry 'progs2qc --help'.\n"},
    {"unknown after the path",
     {"a.dat", "-x"},
     "progs2qc: unknown option '-x'\nTry 'progs2qc --help'.\n"},
    {"-o without its directory",
     {"-o"},
     "progs2qc: option '-o' needs a directory\nTry 'progs2qc --help'.\n"},
    {"-o at the end after the path",
     {"a.dat", "-o"},
     "progs2qc: option '-o' needs a directory\nTry 'progs2qc --help'.\n"},
    {"--output-dir without its directory",
     {"--output-dir"},
     "progs2qc: option '--output-dir' needs a directory\nTry 'progs2qc --help'.\n"},
    {"a value for an option that takes none",
     {"--help=yes"},
     "progs2qc: option '--help' takes no value\nTry 'progs2qc --help'.\n"},
};

TEST(ParseOptions, UsageErrorsNameTheOptionAndPointToHelp) {
  for (const ErrorCase& c : ErrorCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.message, usage_error_of(c.arguments));
  }
}

TEST(UsageText, NamesEveryOptionOfTheTableAndFitsEightyColumns) {
  const std::string text = driver::usage_text();
  EXPECT_EQ(0u, text.find("Usage: progs2qc [OPTIONS] [PATH]\n"));
  for (const driver::OptionRow& row : driver::OptionTable) {
    SCOPED_TRACE(row.long_name);
    EXPECT_NE(std::string::npos,
              text.find(std::string("-") + row.short_name + ", --" + row.long_name));
  }
  EXPECT_NE(std::string::npos, text.find("\n  --  "));
  EXPECT_NE(std::string::npos, text.find("Exit status:\n"));
  EXPECT_NE(std::string::npos, text.find("Example:\n  progs2qc -o src progs.dat\n"));
  for (const std::string& line : tests::split_lines(text)) {
    EXPECT_LT(line.size(), 80u) << line;
  }
}

TEST(VersionText, IsTheProgramNameAndTheProjectVersion) {
  EXPECT_EQ(std::string("progs2qc ") + PROGS2QC_VERSION + "\n", driver::version_text());
  const std::string version = PROGS2QC_VERSION;
  ASSERT_FALSE(version.empty());
  EXPECT_EQ(std::string::npos, version.find_first_not_of("0123456789."));
}

}  // namespace
