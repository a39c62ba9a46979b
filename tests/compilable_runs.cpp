// Whole runs of the compilable engine for tests: on built programs, on programs compiled from
// a small source, and the compilers on what it wrote.
#include "tests/compilable_runs.h"

#include <algorithm>
#include <filesystem>

#include "image/opcodes.h"

namespace tests {

namespace fs = std::filesystem;

namespace {

bool is_identifier_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The name a declaration's head declares: "float x", "float(float a) name", or, for a function
// returning a field, ".float name(float a)".
std::string head_name(std::string head) {
  if (!head.empty() && head[0] == '.' && head.back() == ')') {
    head = head.substr(0, head.find('('));  // the name stands before its parameter list
  }
  size_t start = head.size();
  while (start > 0 && is_identifier_char(head[start - 1])) {
    --start;
  }
  return head.substr(start);
}

// The name a definition's head line declares: "float(float a) name =", "void() name = [1, f]"
// or ".float name(float a) =".
std::string declared_name(const std::string& line) {
  size_t end = line.find(" = [");
  if (end == std::string::npos) {
    if (line.size() < 2 || line.compare(line.size() - 2, 2, " =") != 0) {
      return "";
    }
    end = line.size() - 2;
  }
  return head_name(line.substr(0, end));
}

}  // namespace

RunResult run_compilable(const ProgsBuilder& program) {
  return run_in_temp_dir({"progs2qc", "-c"}, [&program] { program.write("progs.dat"); });
}

std::string function_named(const RunResult& run, const std::string& name) {
  for (const auto& [file, text] : run.files) {
    const std::vector<std::string> lines = split_lines(text);
    for (size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].empty() || lines[i][0] == '\t' || declared_name(lines[i]) != name) {
        continue;
      }
      std::string definition;
      for (size_t k = i; k < lines.size(); ++k) {
        definition += lines[k] + "\n";
        if (lines[k] == "};") {
          return definition;
        }
      }
    }
  }
  return "";
}

std::string declaration_named(const RunResult& run, const std::string& name) {
  for (const auto& [file, text] : run.files) {
    for (const std::string& line : split_lines(text)) {
      if (line.empty() || line[0] == '\t' || line.back() != ';' || line == "};") {
        continue;
      }
      const std::string head = line.substr(0, std::min(line.find(" = "), line.size() - 1));
      if (head_name(head) == name) {
        return line;
      }
    }
  }
  return "";
}

void write_run_files(const RunResult& run, const std::string& directory) {
  fs::create_directories(directory);
  for (const auto& [file, text] : run.files) {
    if (text == kDirectory) {
      fs::create_directories(fs::path(directory) / file);
      continue;
    }
    write_file((fs::path(directory) / file).string(), text);
  }
}

CompileResult compile_run(Compiler compiler, const RunResult& run, const std::string& directory,
                          const std::string& name, const std::vector<std::string>& options) {
  const std::string folder = (fs::path(directory) / name).string();
  write_run_files(run, folder);
  return compile(compiler, folder, options);
}

int add_builtin(ProgsBuilder& b, int ofs, const std::string& name, int number,
                std::vector<uint8_t> parm_sizes) {
  const int record = static_cast<int>(b.functions.size());
  b.add_function_global(ofs, name, record);
  b.add_function(-number, ofs + 1, 0, name, "defs.qc", std::move(parm_sizes));
  return record;
}

void add_field(ProgsBuilder& b, int ofs, const std::string& name, uint16_t type, int field_ofs) {
  b.add_globaldef(image::ev_field, static_cast<uint16_t>(ofs), name);
  b.add_fielddef(type, static_cast<uint16_t>(field_ofs), name);
  b.set_int(ofs, field_ofs);
}

SourceTrip round_trip_source(Compiler compiler, const std::vector<std::string>& options,
                             const std::string& source, const std::string& directory) {
  SourceTrip trip{};
  const std::string original = (fs::path(directory) / "original").string();
  trip.original = compile_project(compiler, original, {{"a.qc", source}}, options);
  if (trip.original.status != 0) {
    return trip;
  }
  trip.decompiled = run_in_temp_dir({"progs2qc", "-c", trip.original.progs_path}, nullptr);
  if (trip.decompiled.status != 0) {
    return trip;
  }
  trip.rebuilt = compile_run(compiler, trip.decompiled, directory, "rebuilt", options);
  if (trip.rebuilt.status == 0) {
    trip.comparison =
        compare::compare_program_files(trip.original.progs_path, trip.rebuilt.progs_path);
  }
  return trip;
}

}  // namespace tests
