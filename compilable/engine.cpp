// The compilable engine's run: from the loaded program to source files that compile back.
#include "compilable/engine.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "compilable/expressions.h"
#include "compilable/flow_graph.h"
#include "compilable/instructions.h"
#include "compilable/layout.h"
#include "compilable/names.h"
#include "compilable/program_facts.h"
#include "compilable/source_text.h"
#include "compilable/structure.h"
#include "compilable/types.h"
#include "compilable/value_flow.h"
#include "image/opcodes.h"
#include "render/output_directory.h"
#include "support/console.h"
#include "support/error.h"

namespace compilable {

namespace {

struct OutputFile {
  std::string name;
  std::string text;
};

// Longer source-file names are cut: they only group the functions, and a file system takes
// names of 255 bytes at most.
constexpr size_t kLongestFileName = 64;

// A usable file name from a program's source-file name, or "".
std::string file_name_from(const char* source) {
  std::string name;
  for (const char* p = source; *p != '\0' && name.size() < kLongestFileName; ++p) {
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

// Writes the whole text into a new source file of the output directory.
void write_file(const OutputFile& file) {
  const int fd = render::open_source_file(file.name, render::OpenMode::kCreate);
  if (fd < 0) {
    support::fatal_error("Fatal Error - Could not open \"%s\" for output.\n", file.name.c_str());
  }
  size_t done = 0;
  while (done < file.text.size()) {
    const ssize_t written = ::write(fd, file.text.data() + done, file.text.size() - done);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      ::close(fd);
      support::fatal_error("Fatal Error - Could not write \"%s\".\n", file.name.c_str());
    }
    done += static_cast<size_t>(written);
  }
  if (::close(fd) != 0) {
    support::fatal_error("Fatal Error - Could not close \"%s\" properly.\n", file.name.c_str());
  }
}

// The line that has fteqcc write the program's own format and instructions. fteqcc reads it
// in a source file, not in progs.src; it switches to Hexen II's target only from its
// command line (-Thexen2), and warns here.
std::string target_pragma(image::Flavour flavour) {
  switch (flavour) {
    case image::Flavour::kFte16:
    case image::Flavour::kFte32:
      return "#pragma target fte\n";
    case image::Flavour::kKk:
      return "#pragma target kk7\n";
    case image::Flavour::kHexen2:
    case image::Flavour::kUhexen2:
      return "#pragma target hexen2\n";
    default:
      return std::string();
  }
}

// When each shared cell and each function's vector result was first noted: the index, among
// the functions with code, of the function whose first pass noted it, or -1.
struct NotedAt {
  std::vector<int32_t> shared;         // by cell
  std::vector<int32_t> vector_result;  // by function record
};

// Stamps what the first pass of function `k` has just noted.
void stamp_notes(const image::ProgramImage& program, const FlowGraph& graph, const ValueFlow& flow,
                 const std::vector<uint8_t>& shared, const std::vector<uint8_t>& vector_results,
                 int32_t k, NotedAt& noted) {
  for (const Web& web : flow.webs) {
    for (int i = 0; web.from_entry && i < web.size; ++i) {
      const int64_t cell = int64_t{web.cell} + i;
      if (cell >= 0 && cell < static_cast<int64_t>(shared.size()) && shared[cell] &&
          noted.shared[cell] < 0) {
        noted.shared[cell] = k;
      }
    }
  }
  for (const Block& block : graph.blocks) {
    for (int64_t p = block.first; p <= block.last; ++p) {
      const image::Statement& statement = program.statements[p];
      const int32_t callee = image::global_int(statement.a);
      if (action_of(statement.op) == Action::kCall && callee > 0 &&
          callee < static_cast<int32_t>(vector_results.size()) && vector_results[callee] &&
          noted.vector_result[callee] < 0) {
        noted.vector_result[callee] = k;
      }
    }
  }
}

// Whether the first pass of function `k` may have seen the tracked cells otherwise than the
// second would: a cell it reads or writes, as the instruction names it or as the pass
// resolved it, or one of the two after it that a wider read takes, was noted shared during
// or after it, or so was its result as a vector.
bool seen_otherwise(const image::ProgramImage& program, const ProgramFacts& facts,
                    const FlowGraph& graph, const ValueFlow& first, const NotedAt& noted,
                    int32_t k) {
  if (noted.vector_result[graph.function] >= k) {
    return true;
  }
  auto noted_after = [&](const CellRange& range) {
    for (int64_t cell = range.offset; cell < int64_t{range.offset} + 3; ++cell) {
      if (cell >= 0 && cell < static_cast<int64_t>(noted.shared.size()) &&
          noted.shared[cell] >= k) {
        return true;
      }
    }
    return false;
  };
  for (const Block& block : graph.blocks) {
    for (int64_t p = block.first; p <= block.last; ++p) {
      const StaticAccess fixed = static_access(program.statements[p], facts.hexen2_calls);
      for (int r = 0; r < fixed.read_count; ++r) {
        if (noted_after(fixed.reads[r])) {
          return true;
        }
      }
      if (fixed.write.size > 0 && noted_after(fixed.write)) {
        return true;
      }
      const Access& resolved = first.access[p - graph.first];
      for (const CellRange& read : resolved.reads) {
        if (read.size > 0 && noted_after(read)) {
          return true;
        }
      }
      if (resolved.write.size > 0 && noted_after(resolved.write)) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace

void decompile_program(const image::ProgramImage& program, const image::LoadResult& loaded) {
  const ProgramFacts facts = gather_program_facts(program);
  const int32_t function_count = static_cast<int32_t>(program.functions.size());

  // Cells read before any write hold state shared between functions: found in a first
  // pass, then every function is analysed with them as globals.
  std::vector<uint8_t> shared(static_cast<size_t>(facts.cell_count), 0);
  std::vector<uint8_t> vector_results(static_cast<size_t>(function_count), 0);
  std::vector<int32_t> dense_of;
  const TrackedCells tracked{&facts, &shared, &vector_results};
  std::vector<FlowGraph> graphs;
  std::vector<ValueFlow> first_flows;
  NotedAt noted{std::vector<int32_t>(shared.size(), -1),
                std::vector<int32_t>(vector_results.size(), -1)};
  std::vector<int32_t> code_of(static_cast<size_t>(function_count), -1);
  graphs.reserve(static_cast<size_t>(function_count));
  first_flows.reserve(static_cast<size_t>(function_count));
  for (int32_t i = 1; i < function_count; ++i) {
    if (has_body(program.functions[i])) {
      const int32_t k = static_cast<int32_t>(graphs.size());
      code_of[i] = k;
      graphs.push_back(build_flow_graph(program, facts, i));
      first_flows.push_back(find_value_flow(program, graphs.back(), tracked, dense_of));
      note_shared_cells(first_flows.back(), shared);
      note_vector_results(program, graphs.back(), first_flows.back(), vector_results);
      stamp_notes(program, graphs.back(), first_flows.back(), shared, vector_results, k, noted);
    }
  }
  std::vector<FunctionCode> codes;
  std::vector<StructuredBody> bodies;
  codes.reserve(graphs.size());
  bodies.reserve(graphs.size());
  int32_t state_loops = 0;
  for (size_t k = 0; k < graphs.size(); ++k) {
    const FlowGraph& graph = graphs[k];
    // A function whose cells no later note touched keeps its first pass: the flow depends
    // on the tracked cells alone, and they are the same.
    const ValueFlow flow =
        seen_otherwise(program, facts, graph, first_flows[k], noted, static_cast<int32_t>(k))
            ? find_value_flow(program, graph, tracked, dense_of)
            : std::move(first_flows[k]);
    codes.push_back(build_function_code(program, facts, graph, flow, tracked));
    bodies.push_back(structure_function(program, facts, graph, codes.back()));
    state_loops += codes.back().state_loop;
    first_flows[k] = ValueFlow{};  // done with: the program's flows need not all stay
  }
  const ProgramTypes types = infer_types(program, facts, codes);
  Names names = choose_names(program, facts, codes, shared, types);
  SourceContext context{program, facts, names, types, code_of, 0, 0, 0, false};

  const Layout layout = lay_out_program(program, facts, names, shared, codes, code_of);
  name_variables(program, facts, codes, code_of, layout, names);

  // Files: by the program's source-file names, in the order of their first function; what
  // comes before a function goes into the function's file.
  std::vector<OutputFile> files;
  std::unordered_map<std::string, size_t> file_index;
  std::vector<size_t> item_file(layout.items.size(), 0);
  size_t current = 0;
  bool any = false;
  for (size_t k = layout.items.size(); k-- > 0;) {
    const Item& item = layout.items[k];
    if (item.kind == ItemKind::kDefinition) {
      std::string name = file_name_from(image::string_at(program.functions[item.ref].s_file));
      if (name.empty()) {
        name = "functions.qc";
      }
      auto found = file_index.find(name);
      if (found == file_index.end()) {
        found = file_index.emplace(name, file_index.size()).first;
      }
      current = found->second;
      any = true;
    }
    item_file[k] = any ? current : SIZE_MAX;
  }
  // Numbered from the end: renumber so that files come in the order of their first item.
  std::vector<size_t> order(file_index.size() + 1, SIZE_MAX);
  std::vector<std::string> file_names(file_index.size());
  for (const auto& [name, index] : file_index) {
    file_names[index] = name;
  }
  for (size_t k = 0; k < layout.items.size(); ++k) {
    size_t f = item_file[k];
    if (f == SIZE_MAX) {
      f = files.empty() ? SIZE_MAX : item_file[k];
    }
    if (f != SIZE_MAX && order[f] == SIZE_MAX) {
      order[f] = files.size();
      files.push_back(OutputFile{file_names[f], std::string()});
    }
  }
  if (files.empty()) {
    files.push_back(OutputFile{"functions.qc", std::string()});
  }
  auto parameter_names = [&](int32_t f) {
    std::vector<std::string> list;
    if (code_of[f] >= 0) {
      const FunctionCode& code = codes[code_of[f]];
      for (size_t v = 0; v < code.variables.size(); ++v) {
        if (code.variables[v].kind == VariableKind::kParameter) {
          list.push_back(names.variables[code_of[f]][v]);
        }
      }
    }
    return list;
  };
  std::string views;  // prototypes of the views of functions' results
  for (size_t k = 0; k < layout.items.size(); ++k) {
    const Item& item = layout.items[k];
    // Items after the last function go into the last file.
    OutputFile& file = item_file[k] == SIZE_MAX ? files.back() : files[order[item_file[k]]];
    switch (item.kind) {
      case ItemKind::kGlobal:
        file.text += global_declaration(context, item.ref);
        break;
      case ItemKind::kField:
        file.text += field_declaration(context, item.ref);
        break;
      case ItemKind::kAlias:
        file.text += alias_declaration(context, item.ref);
        break;
      case ItemKind::kPrototype:
        file.text += function_declaration(context, item.ref, parameter_names(item.ref), true);
        break;
      case ItemKind::kDefinition:
        if (code_of[item.ref] >= 0) {
          file.text +=
              "\n" + function_text(context, codes[code_of[item.ref]], bodies[code_of[item.ref]],
                                   code_of[item.ref], layout.allocation_order);
          views += view_declarations(context, item.ref, parameter_names(item.ref), true);
          file.text += view_declarations(context, item.ref, parameter_names(item.ref), false);
        } else {
          file.text += function_declaration(context, item.ref, parameter_names(item.ref), false);
        }
        break;
    }
  }
  if (context.needs_null_function) {
    views = std::string("void() ") + kNullFunctionName + ";\n" + views;
  }
  // Declared first: these names are not the program's, and calls anywhere use them.
  std::string result_types;
  int32_t typedefs = 0;
  for (size_t f = 1; f < program.functions.size(); ++f) {
    result_types += result_type_declarations(context, static_cast<int32_t>(f), typedefs);
  }
  files[0].text = target_pragma(loaded.flavour) + result_types + views + files[0].text;

  // A file of a name the run must not write (the input's, say) is written under another,
  // which no other file of the run has.
  std::unordered_set<std::string> taken;
  for (const OutputFile& file : files) {
    taken.insert(file.name);
  }
  for (OutputFile& file : files) {
    if (render::is_reserved_name(file.name)) {
      do {
        file.name = "_" + file.name;
      } while (render::is_reserved_name(file.name) || taken.count(file.name) != 0);
      taken.insert(file.name);
    }
  }
  render::open_project_list();
  for (const OutputFile& file : files) {
    render::add_to_project_list(file.name);
  }
  render::close_project_list();
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
  if (typedefs > 0) {
    support::console_printf(
        "Warning: %d functions return function values, declared with typedef: only fteqcc "
        "reads it\n",
        typedefs);
  }
  if (context.unspelled_instructions > 0) {
    support::console_printf(
        "Warning: %d instructions no source spells were written as calls of their names "
        "(__name): no compiler reads them\n",
        context.unspelled_instructions);
  }
  if (context.unspellable > 0) {
    support::console_printf("Warning: %d float values cannot be written and were written as 0\n",
                            context.unspellable);
  }
}

}  // namespace compilable
