// Runs the whole program in-process in a fresh temporary directory and collects what it did.
#include "tests/run_harness.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "driver/run.h"
#include "support/console.h"

namespace tests {

namespace fs = std::filesystem;

namespace {

// Every regular file, symbolic link and directory under the directory, by its path
// relative to it; links are not followed.
std::map<std::string, std::string> snapshot(const fs::path& directory) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(directory)) {
    const std::string name = fs::relative(entry.path(), directory).string();
    if (entry.is_symlink()) {
      files[name] = "-> " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_directory()) {
      files[name + "/"] = kDirectory;
    } else if (entry.is_regular_file()) {
      files[name] = read_file(entry.path().string());
    }
  }
  return files;
}

}  // namespace

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw std::runtime_error("cannot read " + path);
  }
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) {
    throw std::runtime_error("cannot write " + path);
  }
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

RunResult run_in_temp_dir(const std::vector<std::string>& args,
                          const std::function<void()>& setup) {
  const fs::path previous = fs::current_path();
  std::string pattern = (fs::temp_directory_path() / "progs2qc-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a temporary directory");
  }
  const fs::path directory = pattern;
  fs::current_path(directory);
  RunResult result{};
  try {
    if (setup) {
      setup();
    }
    std::map<std::string, std::string> before = snapshot(directory);
    std::vector<const char*> argv;
    for (const std::string& arg : args) {
      argv.push_back(arg.c_str());
    }
    argv.push_back(nullptr);
    support::console.capture = &result.console;
    support::console.error_capture = &result.errors;
    result.status = driver::run_decompiler(static_cast<int>(args.size()), argv.data());
    support::console.capture = nullptr;
    support::console.error_capture = nullptr;
    for (const auto& [name, bytes] : snapshot(directory)) {
      auto old = before.find(name);
      if (old == before.end() || old->second != bytes) {
        result.files[name] = bytes;
      }
    }
  } catch (...) {
    support::console.capture = nullptr;
    support::console.error_capture = nullptr;
    fs::current_path(previous);
    fs::remove_all(directory);
    throw;
  }
  fs::current_path(previous);
  fs::remove_all(directory);
  return result;
}

RunResult run_program(const ProgsBuilder& program) {
  return run_in_temp_dir({"progs2qc"}, [&program] { program.write("progs.dat"); });
}

}  // namespace tests
