// libFuzzer target: one whole run of the decompiler per input, in a scratch directory.
//
// Every input is written as "progs.dat" into an emptied directory and decompiled there.
// Besides the sanitizers, each run is checked for what must hold whatever the input:
// the status is 0 or 1 and a failed run ends with its message; the input is unchanged;
// only regular files appear; "progs.src" holds the project list and lists every file
// written. Inputs the straight table scans can afford are run a second time with them
// instead of the indexes, and both runs must agree byte for byte.
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
// The scans cost the product of the tables' sizes; inputs whose estimate lies above this
// (about a second) are run with the indexes only.
constexpr int64_t kScanBudget = 200000000;

std::string scratch_directory;
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
// a regular file is a finding.
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
    if (::lstat(name.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
      ::closedir(directory);
      fail("not a regular file: " + name);
    }
    files[name] = read_whole(name);
  }
  ::closedir(directory);
  return files;
}

void empty_directory() {
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
  if (!scratch_directory.empty() && ::chdir(scratch_directory.c_str()) == 0) {
    empty_directory();
    if (::chdir("/") == 0) {
      ::rmdir(scratch_directory.c_str());
    }
  }
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

Outcome run_once(const uint8_t* data, size_t size) {
  empty_directory();
  write_input(data, size);
  console_text.clear();
  const char* argv[] = {"progs2qc", nullptr};
  const int status = driver::run_decompiler(1, argv);

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
  return Outcome{status, console_text, std::move(files)};
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/progs2qc-fuzz-XXXXXX";
  if (::mkdtemp(pattern) == nullptr || ::chdir(pattern) != 0) {
    fail("cannot make the scratch directory");
  }
  scratch_directory = pattern;
  // Removed at a normal exit; after a crash tools/fuzz.sh removes it by this line.
  std::fprintf(stderr, "fuzz_decompiler: scratch directory %s\n", pattern);
  std::atexit(remove_scratch_directory);
  support::console.capture = &console_text;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  image::lookup_mode.use_scans = false;
  Outcome indexed = run_once(data, size);
  if (scan_cost(data, size) <= kScanBudget) {
    image::lookup_mode.use_scans = true;
    Outcome scanned = run_once(data, size);
    image::lookup_mode.use_scans = false;
    if (scanned.status != indexed.status || scanned.console != indexed.console ||
        scanned.files != indexed.files) {
      fail("the indexed and the scanning lookups disagree");
    }
  }
  return 0;
}
