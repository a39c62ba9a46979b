// QuakeC compilers for tests: id's qcc (built with the tests) and fteqcc, run in scratch folders.
#include "tests/compilers.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tests {

namespace fs = std::filesystem;

namespace {

bool is_executable(const std::string& path) {
  return !path.empty() && ::access(path.c_str(), X_OK) == 0 && fs::is_regular_file(path);
}

std::string find_on_path(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream folders(path != nullptr ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');) {
    const std::string candidate = (folder.empty() ? "." : folder) + "/" + program;
    if (is_executable(candidate)) {
      return candidate;
    }
  }
  return "";
}

// The first word of progs.src, skipping // comments as the compilers do.
std::string output_named_by(const std::string& source_dir) {
  std::ifstream in(source_dir + "/progs.src");
  for (std::string word; in >> word;) {
    if (word.rfind("//", 0) == 0) {
      std::getline(in, word);
      continue;
    }
    return word;
  }
  return "";
}

// Runs the program with its standard output and error into one text, its input from
// /dev/null, in the folder given.
CompileResult run_in(const std::string& directory, const std::string& program,
                     const std::vector<std::string>& args) {
  CompileResult result{-1, "", ""};
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) {
    result.console = "cannot make a pipe";
    return result;
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    const int null_input = ::open("/dev/null", O_RDONLY);
    if (null_input < 0 || ::dup2(null_input, 0) < 0 || ::dup2(pipe_fds[1], 1) < 0 ||
        ::dup2(pipe_fds[1], 2) < 0 || ::chdir(directory.c_str()) != 0) {
      ::_exit(127);
    }
    ::close(pipe_fds[0]);
    ::close(pipe_fds[1]);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(pipe_fds[1]);
  if (child < 0) {
    ::close(pipe_fds[0]);
    result.console = "cannot start " + program;
    return result;
  }
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(pipe_fds[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      break;
    }
    result.console.append(buffer, static_cast<size_t>(got));
  }
  ::close(pipe_fds[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace

const char* compiler_name(Compiler compiler) {
  return compiler == Compiler::qcc ? "qcc" : "fteqcc";
}

std::string compiler_path(Compiler compiler) {
  if (compiler == Compiler::fteqcc) {
    return find_on_path("fteqcc");
  }
#ifdef PROGS2QC_QCC_PATH
  return is_executable(PROGS2QC_QCC_PATH) ? PROGS2QC_QCC_PATH : "";
#else
  return "";
#endif
}

std::string v101_source_dir() {
  const std::string path = std::string(PROGS2QC_SHARED_DIR) + "/qc/v101";
  return fs::is_regular_file(path + "/progs.src") ? path : "";
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

ScratchDirectory make_scratch_directory() {
  std::string pattern = (fs::temp_directory_path() / "progs2qc-compile-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a scratch directory");
  }
  return ScratchDirectory{pattern};
}

std::string copy_source(const std::string& from, const std::string& directory,
                        const std::string& name) {
  const fs::path target = fs::path(directory) / name;
  fs::create_directories(target);
  for (const fs::directory_entry& entry : fs::directory_iterator(from)) {
    if (entry.is_regular_file()) {
      const fs::path copy = target / entry.path().filename();
      fs::copy_file(entry.path(), copy, fs::copy_options::overwrite_existing);
      fs::permissions(copy, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
    }
  }
  return target.string();
}

CompileResult compile(Compiler compiler, const std::string& source_dir,
                      const std::vector<std::string>& options) {
  const std::string program = compiler_path(compiler);
  CompileResult result{-1, std::string(compiler_name(compiler)) + " is not available", ""};
  if (!program.empty()) {
    result = run_in(source_dir, program, options);
  }
  const std::string output = output_named_by(source_dir);
  if (!output.empty()) {
    result.progs_path = (fs::path(source_dir) / output).lexically_normal().string();
  }
  return result;
}

void write_project(const std::string& directory, const std::string& output,
                   const std::vector<SourceFile>& files) {
  fs::create_directories(directory);
  std::string list = output + "\n\n";
  for (const SourceFile& file : files) {
    list += file.name + "\n";
    std::ofstream out(fs::path(directory) / file.name, std::ios::binary | std::ios::trunc);
    out << file.text;
    if (!out) {
      throw std::runtime_error("cannot write " + file.name);
    }
  }
  std::ofstream out(fs::path(directory) / "progs.src", std::ios::binary | std::ios::trunc);
  out << list;
  if (!out) {
    throw std::runtime_error("cannot write progs.src");
  }
}

CompileResult compile_project(Compiler compiler, const std::string& directory,
                              const std::vector<SourceFile>& files,
                              const std::vector<std::string>& options) {
  write_project(directory, "progs.dat", files);
  return compile(compiler, directory, options);
}

}  // namespace tests
