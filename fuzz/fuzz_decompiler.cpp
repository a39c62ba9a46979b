// libFuzzer target: whole runs of both engines per input, each in its own scratch directory.
//
// Every input is written as "progs.dat" into an emptied directory and decompiled there,
// once by the classic engine and once by the compilable one (-c) in a second directory.
// Besides the sanitizers, each run is checked for what must hold whatever the input:
// the status is 0 or 1 and a failed run ends with its message; the input is unchanged;
// nothing appears beside the two directories; a symbolic link placed in each directory is
// neither followed nor replaced; only regular files appear; "progs.src" holds the project
// list and lists every file written. A complete run of the compilable engine announces
// every file it writes and ends with its counts. Inputs the straight table scans can
// afford are run by the classic engine a second time with them instead of the indexes,
// and both runs must agree byte for byte.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "driver/run.h"
#include "image/program_index.h"
#include "support/console.h"

namespace {

constexpr const char* kInputName = "progs.dat";
// In each run's directory: a dangling link to a name beside the directories. An output of
// this name must not be opened through it; the seeds name it as a source file.
constexpr const char* kTrapName = "trap.qc";
constexpr const char* kTrapTarget = "../outside";
// The scans cost the product of the tables' sizes; inputs whose estimate lies above this
// (about a second) are run with the indexes only.
constexpr int64_t kScanBudget = 200000000;
constexpr int kNumFunctionsField = 9;  // the header's tenth field

enum class Engine { kClassic, kCompilable };
constexpr const char* kEngineDirectory[] = {"classic", "compilable"};

std::string scratch_directory;  // holds one directory per engine, and nothing else
std::string console_text;

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "fuzz_decompiler: %s\n", what.c_str());
  std::fprintf(stderr, "console of the run:\n%s\n", console_text.c_str());
  std::abort();
}

std::string read_whole(const std::string& name) {
  std::string text;
  std::FILE* file = std::fopen(name.c_str(), "rb");
  if (file == nullptr) {
    fail("cannot read " + name);
  }
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    text.append(buffer, got);
  }
  std::fclose(file);
  return text;
}

// Every entry of the current directory by name, with its bytes; any entry that is not
// a regular file is a finding, apart from the trap link, which must be as it was made.
std::map<std::string, std::string> directory_files() {
  std::map<std::string, std::string> files;
  DIR* directory = ::opendir(".");
  if (directory == nullptr) {
    fail("cannot list the scratch directory");
  }
  while (const dirent* entry = ::readdir(directory)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") {
      continue;
    }
    struct stat status;
    if (name == kTrapName) {
      char target[64];
      const ssize_t length = ::readlink(name.c_str(), target, sizeof target);
      if (length < 0 || std::string(target, static_cast<size_t>(length)) != kTrapTarget) {
        ::closedir(directory);
        fail("the link was replaced: " + name);
      }
      continue;
    }
    if (::lstat(name.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
      ::closedir(directory);
      fail("not a regular file: " + name);
    }
    files[name] = read_whole(name);
  }
  ::closedir(directory);
  return files;
}

// Empties the current directory and, unless `keep_trap` is false, places the trap link.
void empty_directory(bool keep_trap = true) {
  DIR* directory = ::opendir(".");
  if (directory == nullptr) {
    fail("cannot list the scratch directory");
  }
  while (const dirent* entry = ::readdir(directory)) {
    const std::string name = entry->d_name;
    if (name != "." && name != ".." && ::unlink(name.c_str()) != 0 && ::rmdir(name.c_str()) != 0) {
      ::closedir(directory);
      fail("cannot remove " + name);
    }
  }
  ::closedir(directory);
  if (keep_trap && ::symlink(kTrapTarget, kTrapName) != 0) {
    fail("cannot make the trap link");
  }
}

// The scratch directory holds the engines' directories and nothing else: no run wrote
// beside its own directory.
void check_nothing_outside() {
  DIR* directory = ::opendir(scratch_directory.c_str());
  if (directory == nullptr) {
    fail("cannot list " + scratch_directory);
  }
  std::set<std::string> names;
  while (const dirent* entry = ::readdir(directory)) {
    names.insert(entry->d_name);
  }
  ::closedir(directory);
  const std::set<std::string> expected = {".", "..", kEngineDirectory[0], kEngineDirectory[1]};
  if (names != expected) {
    std::string found;
    for (const std::string& name : names) {
      found += " " + name;
    }
    fail("written outside the run's directory:" + found);
  }
}

void write_input(const uint8_t* data, size_t size) {
  int fd = ::open(kInputName, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  size_t done = 0;
  while (fd >= 0 && done < size) {
    ssize_t wrote = ::write(fd, data + done, size - done);
    if (wrote <= 0) {
      break;
    }
    done += static_cast<size_t>(wrote);
  }
  if (fd < 0 || done != size || ::close(fd) != 0) {
    fail("cannot write the input");
  }
}

void remove_scratch_directory() {
  if (scratch_directory.empty()) {
    return;
  }
  for (const char* name : kEngineDirectory) {
    const std::string path = scratch_directory + "/" + name;
    if (::chdir(path.c_str()) == 0) {
      empty_directory(false);
      if (::chdir("/") == 0) {
        ::rmdir(path.c_str());
      }
    }
  }
  ::rmdir(scratch_directory.c_str());
}

bool starts_with(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// A failed run ends with its message: one of these starts a line of the console (a name
// in a message may hold any byte, newlines too), and the console ends with a newline
// unless it ends with the one message that has none.
void check_failure_message() {
  static const char* const kMessageStarts[] = {
      "Fatal Error",
      "Found a negative IFNOT jump.\n",
      "Error - Can't determine frame number.\n",
      "************ ERROR ***********\nFile read failure\n",
      "************ ERROR ***********\nError opening ",
      // The compilable engine's reader of the other flavours.
      "************ ERROR ***********\nCompressed sections are not read ",
      "************ ERROR ***********\nType tables are not read ",
      "************ ERROR ***********\nVersion 7 with secondary version ",
  };
  bool found = false;
  for (const char* start : kMessageStarts) {
    const std::string line_start = std::string("\n") + start;
    found = found || starts_with(console_text, start) ||
            console_text.find(line_start) != std::string::npos;
  }
  const std::string no_newline = "Fatal Error - Can't determine frame number.";
  const bool ends_well = (!console_text.empty() && console_text.back() == '\n') ||
                         (console_text.size() >= no_newline.size() &&
                          console_text.compare(console_text.size() - no_newline.size(),
                                               std::string::npos, no_newline) == 0);
  if (!found || !ends_well) {
    fail("status 1 without a message");
  }
}

void check_project_list(int status, const std::map<std::string, std::string>& files) {
  auto list = files.find("progs.src");
  if (list == files.end()) {
    if (status == 0) {
      fail("a complete run without progs.src");
    }
    for (const auto& entry : files) {
      if (entry.first != kInputName) {
        fail("a file written without a project list: " + entry.first);
      }
    }
    return;
  }
  const std::string header = "./progs.dat\n\n";
  if (!starts_with(list->second, header)) {
    fail("progs.src does not start with its header");
  }
  std::set<std::string> listed;
  size_t start = header.size();
  while (start < list->second.size()) {
    size_t end = list->second.find('\n', start);
    if (end == std::string::npos) {
      fail("progs.src ends without a newline");
    }
    std::string name = list->second.substr(start, end - start);
    if (name.empty() || name.find('/') != std::string::npos || name == "progs.src" ||
        name == kInputName || !listed.insert(name).second) {
      fail("bad or repeated name in progs.src: " + name);
    }
    if (status == 0 && files.count(name) == 0) {
      fail("listed but not written: " + name);
    }
    start = end + 1;
  }
  for (const auto& entry : files) {
    if (entry.first != kInputName && entry.first != "progs.src" && listed.count(entry.first) == 0) {
      fail("written but not listed: " + entry.first);
    }
  }
}

int64_t read_field(const uint8_t* data, size_t size, int64_t position) {
  if (position < 0 || position + 4 > static_cast<int64_t>(size)) {
    return 0;
  }
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) {
    value |= static_cast<uint32_t>(data[position + i]) << (8 * i);
  }
  return static_cast<int32_t>(value);
}

// An upper bound of the work the straight scans do on the input: the search for the next
// defined offset looks through all definitions at every offset up to the last one, twice
// per function (the globals in front of it and its locals), and the searches over the
// statements run once per definition or function met.
int64_t scan_cost(const uint8_t* data, size_t size) {
  const auto count = [&](int field) {
    // A count beyond the file's size fails the load before any scan runs.
    return std::clamp<int64_t>(read_field(data, size, field * 4), 0, static_cast<int64_t>(size));
  };
  const int64_t statements = count(3), globaldefs = count(5), fielddefs = count(7);
  const int64_t functions = count(9);
  return functions * 2 * 65536 * (globaldefs + 1) +
         (globaldefs + functions) * (statements + functions + fielddefs);
}

struct Outcome {
  int status;
  std::string console;
  std::map<std::string, std::string> files;
};

// A complete run of the compilable engine has a line per file it wrote, in the order of
// the project list, then its counts (every function record written), and after them only
// warnings.
void check_compilable_console(const std::map<std::string, std::string>& files,
                              int64_t function_records) {
  const std::string& list = files.at("progs.src");
  std::string announced;
  size_t start = std::string("./progs.dat\n\n").size();
  while (start < list.size()) {
    const size_t end = list.find('\n', start);
    announced += "writing " + list.substr(start, end - start) + "...\n";
    start = end + 1;
  }
  // The engine always writes a file, "functions.qc" when nothing else.
  const size_t at = console_text.find("\n" + announced);
  if (announced.empty() || at == std::string::npos) {
    fail("the files written are not announced in the order of the project list");
  }
  size_t rest = at + 1 + announced.size();
  const size_t line_end = console_text.find('\n', rest);
  const std::string closing = console_text.substr(rest, line_end - rest);
  int functions = 0, file_count = 0, loops = 0, strings = 0, consumed = 0;
  if (line_end == std::string::npos ||
      std::sscanf(closing.c_str(),
                  "%d functions written in %d files, %d as state loops, %d strings only fteqcc can "
                  "read%n",
                  &functions, &file_count, &loops, &strings, &consumed) != 4 ||
      consumed != static_cast<int>(closing.size())) {
    fail("a complete run without its closing line of counts");
  }
  if (file_count != static_cast<int>(files.size()) - 2 ||
      functions != std::max<int64_t>(function_records - 1, 0) || loops < 0 || loops > functions ||
      strings < 0) {
    fail("the closing line's counts are wrong: " + closing);
  }
  for (rest = line_end + 1; rest < console_text.size();) {
    const size_t end = console_text.find('\n', rest);
    if (!starts_with(console_text.substr(rest), "Warning: ") || end == std::string::npos) {
      fail("more than warnings after the closing line");
    }
    rest = end + 1;
  }
}

Outcome run_once(Engine engine, const uint8_t* data, size_t size) {
  const std::string directory =
      scratch_directory + "/" + kEngineDirectory[static_cast<int>(engine)];
  if (::chdir(directory.c_str()) != 0) {
    fail("cannot enter " + directory);
  }
  empty_directory();
  write_input(data, size);
  console_text.clear();
  const char* argv[] = {"progs2qc", engine == Engine::kCompilable ? "-c" : nullptr, nullptr};
  const int status = driver::run_decompiler(engine == Engine::kCompilable ? 2 : 1, argv);

  if (status != 0 && status != 1) {
    fail("exit status " + std::to_string(status));
  }
  if (status == 1) {
    check_failure_message();
  }
  std::map<std::string, std::string> files = directory_files();
  auto input = files.find(kInputName);
  if (input == files.end() || input->second.size() != size ||
      (size > 0 && std::memcmp(input->second.data(), data, size) != 0)) {
    fail("the input file was changed");
  }
  check_project_list(status, files);
  check_nothing_outside();
  if (engine == Engine::kCompilable && status == 0) {
    check_compilable_console(files, read_field(data, size, kNumFunctionsField * 4));
  }
  return Outcome{status, console_text, std::move(files)};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/progs2qc-fuzz-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    fail("cannot make the scratch directory");
  }
  scratch_directory = pattern;
  for (const char* name : kEngineDirectory) {
    if (::mkdir((scratch_directory + "/" + name).c_str(), 0755) != 0) {
      fail(std::string("cannot make the directory ") + name);
    }
  }
  // Removed at a normal exit; after a crash tools/fuzz.sh removes it by this line.
  std::fprintf(stderr, "fuzz_decompiler: scratch directory %s\n", pattern);
  std::atexit(remove_scratch_directory);
  support::console.capture = &console_text;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  image::lookup_mode.use_scans = false;
  Outcome indexed = run_once(Engine::kClassic, data, size);
  if (scan_cost(data, size) <= kScanBudget) {
    image::lookup_mode.use_scans = true;
    Outcome scanned = run_once(Engine::kClassic, data, size);
    image::lookup_mode.use_scans = false;
    if (scanned.status != indexed.status || scanned.console != indexed.console ||
        scanned.files != indexed.files) {
      fail("the indexed and the scanning lookups disagree");
    }
  }
  run_once(Engine::kCompilable, data, size);
  return 0;
}
