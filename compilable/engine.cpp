// The compilable engine's run: from the loaded program to source files that compile back.
#include "compilable/engine.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "compilable/expressions.h"
#include "compilable/flow_graph.h"
#include "compilable/names.h"
#include "compilable/program_facts.h"
#include "compilable/source_text.h"
#include "compilable/structure.h"
#include "compilable/types.h"
#include "compilable/value_flow.h"
#include "image/opcodes.h"
#include "support/console.h"
#include "support/error.h"

namespace compilable {

namespace {

struct OutputFile {
  std::string name;
  std::string text;
};

// A usable file name from a program's source-file name, or "".
std::string file_name_from(const char* source) {
  std::string name;
  for (const char* p = source; *p != '\0'; ++p) {
    const char c = *p;
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       c == '_' || c == '-' || c == '.';
    name += plain ? c : '_';
  }
  if (name.empty() || name[0] == '.' || name == "progs.src") {
    return std::string();
  }
  return name;
}

void write_file(const OutputFile& file) {
  const int fd =
      ::open(file.name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    support::fatal_error("Fatal Error - Could not open \"%s\" for output.\n", file.name.c_str());
  }
  size_t done = 0;
  while (done < file.text.size()) {
    const ssize_t written = ::write(fd, file.text.data() + done, file.text.size() - done);
    if (written <= 0) {
      ::close(fd);
      support::fatal_error("Fatal Error - Could not write \"%s\".\n", file.name.c_str());
    }
    done += static_cast<size_t>(written);
  }
  ::close(fd);
}

// Whether the definition is a component of a vector declared with it: "v_y" of "v", or
// the field "origin_x" of ".vector origin".
bool is_vector_component(const image::ProgramImage& program, const ProgramFacts& facts,
                         const std::unordered_map<std::string, int32_t>& global_named,
                         const image::DefRecord& def) {
  if (facts.named_cover[def.ofs] >= 0 && &program.globaldefs[facts.named_cover[def.ofs]] != &def) {
    return true;
  }
  const std::string name = def_name(def);
  if (name.size() < 3 || name[name.size() - 2] != '_') {
    return false;
  }
  const char axis = name.back();
  if (axis != 'x' && axis != 'y' && axis != 'z') {
    return false;
  }
  auto found = global_named.find(name.substr(0, name.size() - 2));
  if (found == global_named.end()) {
    return false;
  }
  const image::DefRecord& whole = program.globaldefs[found->second];
  if (def_tag(whole) != image::ev_field || def_tag(def) != image::ev_field) {
    return false;
  }
  return image::global_int(def.ofs) == image::global_int(whole.ofs) + (axis - 'x');
}

}  // namespace

void decompile_program(const image::ProgramImage& program) {
  const ProgramFacts facts = gather_program_facts(program);
  const int32_t function_count = static_cast<int32_t>(program.functions.size());

  // Cells read before any write hold state shared between functions: found in a first
  // pass, then every function is analysed with them as globals.
  std::vector<uint8_t> shared(static_cast<size_t>(facts.cell_count), 0);
  std::vector<uint8_t> vector_results(static_cast<size_t>(function_count), 0);
  std::vector<int32_t> dense_of;
  const TrackedCells tracked{&facts, &shared, &vector_results};
  std::vector<FlowGraph> graphs;
  std::vector<int32_t> code_of(static_cast<size_t>(function_count), -1);
  for (int32_t i = 1; i < function_count; ++i) {
    if (has_body(program.functions[i])) {
      code_of[i] = static_cast<int32_t>(graphs.size());
      graphs.push_back(build_flow_graph(program, facts, i));
      const ValueFlow flow = find_value_flow(program, graphs.back(), tracked, dense_of);
      note_shared_cells(flow, shared);
      note_vector_results(program, graphs.back(), flow, vector_results);
    }
  }
  std::vector<FunctionCode> codes;
  std::vector<StructuredBody> bodies;
  int32_t state_loops = 0;
  for (const FlowGraph& graph : graphs) {
    const ValueFlow flow = find_value_flow(program, graph, tracked, dense_of);
    codes.push_back(build_function_code(program, facts, graph, flow, tracked));
    bodies.push_back(structure_function(graph, codes.back()));
    state_loops += codes.back().state_loop;
  }
  const ProgramTypes types = infer_types(program, facts, codes);
  const Names names = choose_names(program, facts, codes, shared);
  SourceContext context{program, facts, names, types, code_of, 0, 0, false};

  // Files: by the program's source-file names, in the order of their first function.
  std::vector<OutputFile> files;
  std::unordered_map<std::string, size_t> file_index;
  std::vector<size_t> file_of(static_cast<size_t>(function_count), 0);
  size_t current = 0;
  for (int32_t i = 1; i < function_count; ++i) {
    const std::string name = file_name_from(image::string_at(program.functions[i].s_file));
    if (!name.empty()) {
      auto found = file_index.find(name);
      if (found == file_index.end()) {
        found = file_index.emplace(name, files.size()).first;
        files.push_back(OutputFile{name, std::string()});
      }
      current = found->second;
    } else if (files.empty()) {
      file_index.emplace("functions.qc", 0);
      files.push_back(OutputFile{"functions.qc", std::string()});
    }
    file_of[i] = current;
  }
  if (files.empty()) {
    files.push_back(OutputFile{"functions.qc", std::string()});
  }

  // Declarations, in the order of their cells, then every function's prototype.
  std::string declarations;
  std::unordered_map<std::string, int32_t> global_named;
  std::vector<uint8_t> declared_function(static_cast<size_t>(function_count), 0);
  auto declare_function = [&](int32_t f) {
    if (declared_function[f]) {
      return;
    }
    declared_function[f] = 1;
    std::vector<std::string> parameter_names;
    if (code_of[f] >= 0) {
      const FunctionCode& code = codes[code_of[f]];
      for (size_t v = 0; v < code.variables.size(); ++v) {
        if (code.variables[v].kind == VariableKind::kParameter) {
          parameter_names.push_back(names.variables[code_of[f]][v]);
        }
      }
    }
    declarations += function_head(context, f, parameter_names);
    const image::FunctionRecord& function = program.functions[f];
    declarations += has_body(function)
                        ? ";\n"
                        : " = #" + std::to_string(-int64_t{function.first_statement}) + ";\n";
  };
  for (size_t i = 0; i < program.globaldefs.size(); ++i) {
    const image::DefRecord& def = program.globaldefs[i];
    if (has_real_name(def)) {
      global_named.emplace(def_name(def), static_cast<int32_t>(i));
    }
  }
  for (int64_t cell = 0; cell < facts.cell_count; ++cell) {
    const int32_t d = facts.named_cover[cell];
    const std::string& name = names.cells[cell];
    if (d >= 0 && program.globaldefs[d].ofs == cell && !name.empty()) {
      const image::DefRecord& def = program.globaldefs[d];
      if (is_vector_component(program, facts, global_named, def)) {
        continue;
      }
      Type type = def_type(program, facts, def);
      if (facts.implied_vector[cell]) {
        type = Type{image::ev_vector, kUnknownTag, -1};
      }
      const bool saved = (def.type & image::DEF_SAVEGLOBAL) != 0;
      switch (type.tag) {
        case image::ev_pointer:
          break;
        case image::ev_field:
          declarations += type_text(context, type) + " " + name + ";\n";
          break;
        case image::ev_function: {
          const int32_t function = function_constant(program, facts, def);
          if (function > 0 && names.functions[function] == name) {
            declare_function(function);
          } else {
            declarations += type_text(context, type) + " " + name + ";\n";
          }
          break;
        }
        default:
          if (saved || facts.written[cell]) {
            declarations += type_text(context, type) + " " + name + ";\n";
          } else {
            declarations += type_text(context, type) + " " + name + " = " +
                            constant_text(context, cell, type) + ";\n";
          }
          break;
      }
    } else if (shared[cell] && !name.empty()) {
      declarations += type_text(context, types.cells[cell]) + " " + name + ";\n";
    }
  }
  for (int32_t f = 1; f < function_count; ++f) {
    declare_function(f);
  }

  // Bodies.
  std::vector<std::string> texts(static_cast<size_t>(function_count));
  for (int32_t f = 1; f < function_count; ++f) {
    if (code_of[f] >= 0) {
      files[file_of[f]].text +=
          "\n" + function_text(context, codes[code_of[f]], bodies[code_of[f]], code_of[f]);
    }
  }
  if (context.needs_null_function) {
    declarations = std::string("void() ") + kNullFunctionName + ";\n" + declarations;
  }
  files[0].text = declarations + files[0].text;

  std::string project = "progs.dat\n\n";
  for (const OutputFile& file : files) {
    project += file.name + "\n";
  }
  write_file(OutputFile{"progs.src", project});
  for (const OutputFile& file : files) {
    support::console_printf("writing %s...\n", file.name.c_str());
    write_file(file);
  }
  support::console_printf(
      "%d functions written in %zu files, %d as state loops, %d strings only fteqcc can read\n",
      function_count > 0 ? function_count - 1 : 0, files.size(), state_loops,
      context.fteqcc_strings);
  if (types.conflicts > 0) {
    support::console_printf("Warning: %d uses disagree with the type of their value\n",
                            types.conflicts);
  }
  if (context.unspellable > 0) {
    support::console_printf("Warning: %d float values cannot be written and were written as 0\n",
                            context.unspellable);
  }
}

}  // namespace compilable
