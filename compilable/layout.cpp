// The order of everything the source declares. Where the program was laid out in the order
// of its source (a definition table and function areas in the order of their cells, as qcc
// allocates them), that order is kept, so that compiling again allocates everything where it
// was; otherwise fields and globals come first, then every prototype, then the code.
#include "compilable/layout.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "compilable/expressions.h"
#include "compilable/instructions.h"
#include "compilable/types.h"
#include "image/opcodes.h"

namespace compilable {

namespace {

// Whether the definition is a component of a vector declared with it: "v_y" of "v", or the
// field "origin_x" of ".vector origin".
bool is_vector_component(const image::ProgramImage& program, const ProgramFacts& facts,
                         const std::unordered_map<std::string, int32_t>& global_named,
                         const image::DefRecord& def) {
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
  (void)facts;
  return image::global_int(def.ofs) == image::global_int(whole.ofs) + (axis - 'x');
}

// The global cells that start a declaration of their own.
std::vector<uint8_t> declared_cells(const image::ProgramImage& program, const ProgramFacts& facts,
                                    const Names& names, const std::vector<uint8_t>& shared) {
  std::unordered_map<std::string, int32_t> global_named;
  for (size_t i = 0; i < program.globaldefs.size(); ++i) {
    const image::DefRecord& def = program.globaldefs[i];
    if (has_real_name(def)) {
      global_named.emplace(def_name(def), static_cast<int32_t>(i));
    }
  }
  std::vector<uint8_t> declared(static_cast<size_t>(facts.cell_count), 0);
  for (int64_t cell = 0; cell < facts.cell_count; ++cell) {
    if (names.cells[cell].empty()) {
      continue;
    }
    const int32_t d = facts.named_cover[cell];
    if (d < 0) {
      declared[cell] = shared[cell];
      continue;
    }
    const image::DefRecord& def = program.globaldefs[d];
    // A pointer is declared only as its uses type it (and not at all when they do not).
    // An array is declared whole at its first cell.
    const bool inside_array = facts.array_of[cell] >= 0 && facts.array_of[cell] != cell;
    declared[cell] =
        def.ofs == cell && !inside_array && !is_vector_component(program, facts, global_named, def);
  }
  return declared;
}

// The function whose definition a global definition is, or -1.
int32_t defined_function(const image::ProgramImage& program, const ProgramFacts& facts,
                         const Names& names, int64_t cell) {
  const int32_t d = facts.named_cover[cell];
  if (d < 0) {
    return -1;
  }
  const int32_t function = function_constant(program, facts, program.globaldefs[d]);
  return function > 0 && names.functions[function] == names.cells[cell] ? function : -1;
}

// Whether the program's definitions and function areas lie in the order they were made.
bool in_allocation_order(const image::ProgramImage& program) {
  for (size_t i = 1; i < program.globaldefs.size(); ++i) {
    if (program.globaldefs[i].ofs < program.globaldefs[i - 1].ofs) {
      return false;
    }
  }
  for (size_t f = 2; f < program.functions.size(); ++f) {
    if (program.functions[f].parm_start < program.functions[f - 1].parm_start) {
      return false;
    }
  }
  return true;
}

// Every global and function a function's code names is declared before the function.
bool declared_before_use(const image::ProgramImage& program, const ProgramFacts& facts,
                         const Layout& layout, const std::vector<FunctionCode>& codes,
                         const std::vector<int32_t>& code_of) {
  std::vector<int32_t> cell_at(static_cast<size_t>(facts.cell_count), -1);
  std::vector<int32_t> function_at(program.functions.size(), -1);
  for (size_t k = 0; k < layout.items.size(); ++k) {
    const Item& item = layout.items[k];
    const bool function = item.kind == ItemKind::kPrototype || item.kind == ItemKind::kDefinition;
    if (item.kind == ItemKind::kGlobal) {
      cell_at[item.ref] = static_cast<int32_t>(k);
    } else if (function && function_at[item.ref] < 0) {
      function_at[item.ref] = static_cast<int32_t>(k);
    }
  }
  for (size_t k = 0; k < layout.items.size(); ++k) {
    const Item& item = layout.items[k];
    if (item.kind != ItemKind::kDefinition || code_of[item.ref] < 0) {
      continue;
    }
    const int32_t here = static_cast<int32_t>(k);
    for (const Expr& e : codes[code_of[item.ref]].exprs) {
      if (e.kind == ExprKind::kGlobal && cell_at[e.ref] > here) {
        return false;
      }
      if (e.kind == ExprKind::kField && e.ref < facts.cell_count && cell_at[e.ref] > here) {
        return false;
      }
      if (e.kind == ExprKind::kFunction && e.ref > 0 &&
          e.ref < static_cast<int32_t>(function_at.size()) && function_at[e.ref] > here) {
        return false;
      }
    }
  }
  return true;
}

// The function each function's frame header names as its think function, or -1: the
// header declares it, so it needs no prototype of its own.
std::vector<int32_t> header_thinks(const image::ProgramImage& program,
                                   const std::vector<FunctionCode>& codes) {
  std::vector<int32_t> think(program.functions.size(), -1);
  for (const FunctionCode& code : codes) {
    if (code.frame_header < 0 || code.stmts[code.frame_header].extra < 0) {
      continue;  // none, or a cycling header that names no function
    }
    const Expr& e = code.exprs[code.stmts[code.frame_header].extra];
    if (e.kind == ExprKind::kFunction) {
      think[code.function] = e.ref;
    } else if (e.kind == ExprKind::kGlobal || e.kind == ExprKind::kConstant) {
      think[code.function] = function_in_cell(program, e.ref);
    }
  }
  return think;
}

// Each function's prototype is needed only when code before its definition names it other
// than as a frame header's think function.
void drop_unneeded_prototypes(const image::ProgramImage& program, const ProgramFacts& facts,
                              const std::vector<FunctionCode>& codes,
                              const std::vector<int32_t>& code_of, Layout& layout) {
  const size_t count = program.functions.size();
  std::vector<int64_t> defined_at(count, INT64_MAX);
  std::vector<int64_t> first_use(count, INT64_MAX);
  for (size_t k = 0; k < layout.items.size(); ++k) {
    const Item& item = layout.items[k];
    if (item.kind == ItemKind::kDefinition) {
      defined_at[item.ref] = static_cast<int64_t>(k);
    }
  }
  for (size_t k = 0; k < layout.items.size(); ++k) {
    const Item& item = layout.items[k];
    if (item.kind != ItemKind::kDefinition || code_of[item.ref] < 0) {
      continue;
    }
    const FunctionCode& code = codes[code_of[item.ref]];
    const int32_t think = code.frame_header >= 0 ? code.stmts[code.frame_header].extra : -1;
    for (size_t e = 0; e < code.exprs.size(); ++e) {
      const Expr& expr = code.exprs[e];
      if (static_cast<int32_t>(e) == think) {
        continue;
      }
      int32_t function = -1;
      if (expr.kind == ExprKind::kFunction) {
        function = expr.ref;
      } else if ((expr.kind == ExprKind::kGlobal || expr.kind == ExprKind::kConstant) &&
                 expr.ref >= 0 && expr.ref < facts.cell_count) {
        function = function_in_cell(program, expr.ref);
      }
      if (function > 0 && function < static_cast<int32_t>(count)) {
        first_use[function] = std::min<int64_t>(first_use[function], static_cast<int64_t>(k));
      }
    }
  }
  std::vector<Item> kept;
  for (const Item& item : layout.items) {
    if (item.kind == ItemKind::kPrototype && first_use[item.ref] > defined_at[item.ref] &&
        defined_at[item.ref] != INT64_MAX) {
      continue;
    }
    kept.push_back(item);
  }
  layout.items = std::move(kept);
}

}  // namespace

Layout lay_out_program(const image::ProgramImage& program, const ProgramFacts& facts,
                       const Names& names, const std::vector<uint8_t>& shared_cells,
                       const std::vector<FunctionCode>& codes,
                       const std::vector<int32_t>& code_of) {
  const std::vector<uint8_t> declared = declared_cells(program, facts, names, shared_cells);
  const int32_t function_count = static_cast<int32_t>(program.functions.size());
  // Fields no global definition names are declared first: their offsets are fixed by the
  // order the fields are declared in, which the global definitions no longer tell.
  std::vector<uint8_t> field_declared(static_cast<size_t>(facts.field_limit), 0);
  for (int64_t cell = 0; cell < facts.cell_count; ++cell) {
    const int32_t d = facts.named_cover[cell];
    if (declared[cell] && d >= 0 && def_tag(program.globaldefs[d]) == image::ev_field) {
      const int32_t offset = image::global_int(cell);
      const int32_t field = offset >= 0 && offset < facts.field_limit ? facts.field_at[offset] : -1;
      const int size = field >= 0 ? cells_of(def_tag(program.fielddefs[field])) : 1;
      for (int k = 0; k < size && offset >= 0 && offset + k < facts.field_limit; ++k) {
        field_declared[offset + k] = 1;  // a vector field declares its components too
      }
    }
  }
  std::vector<Item> loose_fields;
  for (int32_t offset = 0; offset < facts.field_limit; ++offset) {
    if (!names.fields[offset].empty() && !field_declared[offset]) {
      loose_fields.push_back(Item{ItemKind::kField, offset});
    }
  }

  // The functions each global definition defines.
  std::vector<int32_t> def_cell(static_cast<size_t>(function_count), -1);
  for (int64_t cell = 0; cell < facts.cell_count; ++cell) {
    if (declared[cell]) {
      const int32_t function = defined_function(program, facts, names, cell);
      if (function > 0 && def_cell[function] < 0) {
        def_cell[function] = static_cast<int32_t>(cell);
      }
    }
  }

  // A function whose definition was stripped is still named by the cell that holds it when
  // code calls through that cell, or when the cell is one of the engine's own globals (before
  // "end_sys_globals", whose names and order the engine checks): its prototype goes there.
  int64_t system_end = -1;
  for (const image::DefRecord& def : program.globaldefs) {
    if (std::strcmp(def_name(def), "end_sys_globals") == 0) {
      system_end = def.ofs;
    }
  }
  std::vector<uint8_t> called(static_cast<size_t>(facts.cell_count), 0);
  for (int64_t p = 0; p < program.numstatements; ++p) {
    const image::Statement& statement = program.statements[p];
    if (action_of(statement.op) == Action::kCall && statement.a > 0 &&
        statement.a < facts.cell_count) {
      called[statement.a] = 1;
    }
  }
  std::vector<int32_t> held_cell(static_cast<size_t>(function_count), -1);
  for (int64_t cell = image::RESERVED_OFS; cell < facts.cell_count; ++cell) {
    if (declared[cell] || facts.named_cover[cell] >= 0 || facts.written[cell] ||
        shared_cells[cell] || any_def_at(facts, cell) >= 0 ||
        (!called[cell] && cell >= system_end)) {
      continue;
    }
    const int32_t function = function_in_cell(program, cell);
    if (function > 0 && def_cell[function] < 0 && held_cell[function] < 0) {
      held_cell[function] = static_cast<int32_t>(cell);
    }
  }

  // Constants sharing a cell come right after the global named there.
  std::vector<std::vector<int32_t>> aliases_at(static_cast<size_t>(facts.cell_count));
  for (size_t a = 0; a < names.aliases.size(); ++a) {
    aliases_at[program.globaldefs[names.aliases[a].first].ofs].push_back(static_cast<int32_t>(a));
  }
  auto push_global = [&aliases_at](std::vector<Item>& items, int64_t cell) {
    items.push_back(Item{ItemKind::kGlobal, static_cast<int32_t>(cell)});
    for (int32_t a : aliases_at[cell]) {
      items.push_back(Item{ItemKind::kAlias, a});
    }
  };
  const std::vector<int32_t> think = header_thinks(program, codes);
  // Whether a function's definition follows its own name at once: nothing is allocated in
  // between but the think function its frame header declares (fteqcc allocates that first).
  std::vector<int64_t> next_declared(static_cast<size_t>(facts.cell_count) + 1, facts.cell_count);
  for (int64_t cell = facts.cell_count - 1; cell >= 0; --cell) {
    next_declared[cell] = declared[cell] ? cell : next_declared[cell + 1];
  }
  // Whether the function's name was first declared by the frame header of another: inside
  // that function's area (qcc), or just after that function's own name (fteqcc).
  std::vector<uint8_t> header_declared(static_cast<size_t>(function_count), 0);
  for (int32_t f = 1; f < function_count; ++f) {
    const int32_t g = think[f];
    if (g <= 0 || g >= function_count || def_cell[g] < 0 || g == f) {
      continue;
    }
    const int32_t owner = facts.area_owner[def_cell[g]];
    // fteqcc allocates the name while reading the header: after the function's own name,
    // before its parameters, with nothing but the header's constants in between.
    const int64_t parm_start = program.functions[f].parm_start;
    const bool in_header = def_cell[g] > def_cell[f] && def_cell[g] < parm_start &&
                           next_declared[def_cell[g] + 1] >= parm_start;
    if ((owner > 0 && owner != g) || in_header) {
      header_declared[g] = 1;
    }
  }
  auto at_once = [&](int32_t f) {
    const image::FunctionRecord& record = program.functions[f];
    if (def_cell[f] < 0) {
      return held_cell[f] >= 0 && !has_body(record);
    }
    if (!has_body(record) || record.parm_start == def_cell[f] + 1) {
      return true;
    }
    const int32_t named = think[f];
    return named > 0 && named < function_count && def_cell[named] == def_cell[f] + 1 &&
           record.parm_start == def_cell[f] + 2;
  };

  Layout layout{loose_fields, in_allocation_order(program)};
  if (layout.allocation_order) {
    // Everything at the cell where its allocation began; a function's code before a global
    // made at the same cell, since a function that allocates nothing leaves the cell to
    // the next definition.
    struct Placed {
      int64_t cell;
      int order;
      int32_t index;
      Item item;
    };
    std::vector<Placed> placed;
    for (int32_t f = 1; f < function_count; ++f) {
      if (def_cell[f] < 0 && held_cell[f] >= 0) {
        const ItemKind kind =
            has_body(program.functions[f]) ? ItemKind::kPrototype : ItemKind::kDefinition;
        placed.push_back(Placed{held_cell[f], 1, held_cell[f], Item{kind, f}});
      } else if (def_cell[f] < 0 && has_body(program.functions[f])) {
        placed.push_back(Placed{-1, 0, f, Item{ItemKind::kPrototype, f}});
      }
    }
    for (int64_t cell = 0; cell < facts.cell_count; ++cell) {
      if (!declared[cell]) {
        continue;
      }
      const int32_t function = defined_function(program, facts, names, cell);
      if (function > 0 && def_cell[function] == cell) {
        if (header_declared[function]) {
          continue;  // its definition comes where its code begins
        }
        placed.push_back(Placed{
            cell, 1, static_cast<int32_t>(cell),
            Item{at_once(function) ? ItemKind::kDefinition : ItemKind::kPrototype, function}});
        continue;
      }
      std::vector<Item> items;
      push_global(items, cell);
      for (const Item& item : items) {
        placed.push_back(Placed{cell, 1, static_cast<int32_t>(cell), item});
      }
    }
    for (int32_t f = 1; f < function_count; ++f) {
      if (!at_once(f) || header_declared[f]) {
        placed.push_back(
            Placed{program.functions[f].parm_start, 0, f, Item{ItemKind::kDefinition, f}});
      }
    }
    std::stable_sort(placed.begin(), placed.end(), [](const Placed& x, const Placed& y) {
      if (x.cell != y.cell) {
        return x.cell < y.cell;
      }
      if (x.order != y.order) {
        return x.order < y.order;
      }
      return x.index < y.index;
    });
    for (const Placed& p : placed) {
      layout.items.push_back(p.item);
    }
    if (declared_before_use(program, facts, layout, codes, code_of)) {
      return layout;
    }
    layout = Layout{loose_fields, false};
  }
  // Globals in the order of their cells, with prototypes for the functions, then the code.
  std::vector<int32_t> held_at(static_cast<size_t>(facts.cell_count), -1);
  for (int32_t f = 1; f < function_count; ++f) {
    if (def_cell[f] < 0 && held_cell[f] >= 0) {
      held_at[held_cell[f]] = f;
    }
  }
  for (int64_t cell = 0; cell < facts.cell_count; ++cell) {
    if (held_at[cell] > 0) {
      const int32_t f = held_at[cell];
      layout.items.push_back(
          Item{has_body(program.functions[f]) ? ItemKind::kPrototype : ItemKind::kDefinition, f});
      continue;
    }
    if (!declared[cell]) {
      continue;
    }
    const int32_t function = defined_function(program, facts, names, cell);
    if (function > 0 && def_cell[function] == cell) {
      layout.items.push_back(
          Item{has_body(program.functions[function]) ? ItemKind::kPrototype : ItemKind::kDefinition,
               function});
    } else if (function < 0) {
      push_global(layout.items, cell);
    }
  }
  for (int32_t f = 1; f < function_count; ++f) {
    if (def_cell[f] < 0 && held_cell[f] < 0) {
      layout.items.push_back(
          Item{has_body(program.functions[f]) ? ItemKind::kPrototype : ItemKind::kDefinition, f});
    }
  }
  for (int32_t f = 1; f < function_count; ++f) {
    if (has_body(program.functions[f])) {
      layout.items.push_back(Item{ItemKind::kDefinition, f});
    }
  }
  drop_unneeded_prototypes(program, facts, codes, code_of, layout);
  return layout;
}

void name_variables(const image::ProgramImage& program, const ProgramFacts& facts,
                    const std::vector<FunctionCode>& codes, const std::vector<int32_t>& code_of,
                    const Layout& layout, Names& names) {
  names.variables.assign(codes.size(), std::vector<std::string>());
  std::unordered_set<std::string> visible;
  auto with_components = [&visible](const std::string& name, bool vector) {
    visible.insert(name);
    if (vector) {
      for (const char* axis : {"_x", "_y", "_z"}) {
        visible.insert(name + axis);
      }
    }
  };
  for (const Item& item : layout.items) {
    switch (item.kind) {
      case ItemKind::kGlobal: {
        const int32_t def = facts.named_cover[item.ref];
        const bool vector = def >= 0 && covered_size(facts, program.globaldefs[def]) == 3;
        with_components(names.cells[item.ref], vector);
        break;
      }
      case ItemKind::kField: {
        const int32_t field = facts.field_at[item.ref];
        with_components(names.fields[item.ref],
                        field >= 0 && def_tag(program.fielddefs[field]) == image::ev_vector);
        break;
      }
      case ItemKind::kPrototype:
        visible.insert(names.functions[item.ref]);
        break;
      case ItemKind::kAlias:
        visible.insert(names.aliases[item.ref].second);
        break;
      case ItemKind::kDefinition:
        visible.insert(names.functions[item.ref]);
        if (code_of[item.ref] >= 0) {
          names.variables[code_of[item.ref]] =
              choose_variable_names(program, codes[code_of[item.ref]], visible, names.renamed);
        }
        break;
    }
  }
}

}  // namespace compilable
