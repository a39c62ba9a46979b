// Measures the I/O floor of a run: io_floor INPUT OUTPUT_DIR [SCRATCH_PARENT].
//
// Reads INPUT whole with unbuffered read(), then writes the bytes of the real run's output
// (progs.src and the .qc files in OUTPUT_DIR) into a fresh scratch directory with as many
// open/write/close cycles as the decompiler makes: progs.src once, and each .qc file once
// per function it holds, created with "w" for the first and reopened with "a+" for the
// others. A function ends at a line that is "};" or a builtin declaration " = #N; ".
// Prints the wall time of the reading and writing alone.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct OutputFile {
  std::string name;
  std::vector<std::string> functions;  // the file's bytes, cut after each function
};

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw std::runtime_error("cannot read " + path.string());
  }
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// " = #N; " closes a builtin's one-line declaration.
bool is_builtin_declaration(const std::string& line) {
  const size_t mark = line.rfind(" = #");
  if (mark == std::string::npos || line.size() < mark + 7 ||
      line.compare(line.size() - 2, 2, "; ") != 0) {
    return false;
  }
  for (size_t i = mark + 4; i < line.size() - 2; ++i) {
    if (line[i] < '0' || line[i] > '9') {
      return false;
    }
  }
  return true;
}

std::vector<std::string> split_functions(const std::string& text) {
  std::vector<std::string> functions;
  size_t start = 0;
  size_t line_start = 0;
  while (line_start < text.size()) {
    size_t newline = text.find('\n', line_start);
    size_t line_end = newline == std::string::npos ? text.size() : newline;
    const std::string line = text.substr(line_start, line_end - line_start);
    line_start = newline == std::string::npos ? text.size() : newline + 1;
    if (line == "};" || is_builtin_declaration(line)) {
      functions.push_back(text.substr(start, line_start - start));
      start = line_start;
    }
  }
  if (start < text.size()) {
    if (functions.empty()) {
      functions.push_back(text.substr(start));
    } else {
      functions.back() += text.substr(start);
    }
  }
  return functions;
}

std::vector<OutputFile> load_output(const fs::path& directory, std::string& project_list) {
  project_list = read_text(directory / "progs.src");
  std::vector<OutputFile> files;
  std::istringstream lines(project_list);
  std::string line;
  for (int number = 0; std::getline(lines, line); ++number) {
    if (number < 2 || line.empty()) {
      continue;  // "./progs.dat" and the empty line
    }
    files.push_back(OutputFile{line, split_functions(read_text(directory / line))});
  }
  return files;
}

[[noreturn]] void fail(const char* what, const std::string& name) {
  throw std::runtime_error(std::string("cannot ") + what + " " + name);
}

size_t read_input(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) {
    fail("open", path);
  }
  struct stat status;
  if (::fstat(fd, &status) != 0) {
    fail("stat", path);
  }
  std::vector<char> data(static_cast<size_t>(status.st_size));
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t got = ::read(fd, data.data() + done, data.size() - done);
    if (got <= 0) {
      fail("read", path);
    }
    done += static_cast<size_t>(got);
  }
  ::close(fd);
  return done;
}

void write_cycle(const std::string& name, const char* mode, const std::string& bytes) {
  std::FILE* file = std::fopen(name.c_str(), mode);
  if (file == nullptr) {
    fail("open", name);
  }
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  if (std::fclose(file) != 0) {
    fail("close", name);
  }
}

}  // namespace

int measure(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: io_floor INPUT OUTPUT_DIR [SCRATCH_PARENT]\n");
    return 2;
  }
  const std::string input = fs::absolute(argv[1]).string();
  std::string project_list;
  const std::vector<OutputFile> files = load_output(argv[2], project_list);
  const fs::path parent = argc > 3 ? fs::path(argv[3]) : fs::temp_directory_path();
  std::string pattern = (fs::absolute(parent) / "io_floor.XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    fail("create a directory in", parent.string());
  }
  const fs::path scratch = pattern;
  const fs::path previous = fs::current_path();
  fs::current_path(scratch);

  size_t cycles = 1;
  size_t bytes = project_list.size();
  const auto start = std::chrono::steady_clock::now();
  const size_t input_bytes = read_input(input);
  write_cycle("progs.src", "w", project_list);
  for (const OutputFile& file : files) {
    for (size_t i = 0; i < file.functions.size(); ++i) {
      write_cycle(file.name, i == 0 ? "w" : "a+", file.functions[i]);
      bytes += file.functions[i].size();
      ++cycles;
    }
  }
  const auto stop = std::chrono::steady_clock::now();

  fs::current_path(previous);
  fs::remove_all(scratch);
  const double seconds = std::chrono::duration<double>(stop - start).count();
  std::printf("io_floor wall=%.6f input_bytes=%zu output_bytes=%zu files=%zu cycles=%zu\n", seconds,
              input_bytes, bytes, files.size(), cycles);
  return 0;
}

int main(int argc, char** argv) {
  try {
    return measure(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "io_floor: %s\n", error.what());
    return 1;
  }
}
