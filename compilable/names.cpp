// Names for everything the source declares: the program's own where they are usable, else
// names that say what a thing is; never a keyword, and never two things with one name.
#include "compilable/names.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "compilable/builtins.h"
#include "compilable/expressions.h"
#include "compilable/instructions.h"
#include "compilable/types.h"
#include "image/opcodes.h"

namespace compilable {

namespace {

// qcc reads names of up to 62 characters.
constexpr size_t kLongestName = 62;

// Keywords of either compiler (fteqcc refuses these as names in its default mode).
constexpr const char* ReservedWords[] = {
    "asm",   "break",  "case",   "class",  "const", "continue", "default", "do",
    "else",  "entity", "float",  "for",    "goto",  "if",       "int",     "integer",
    "local", "return", "string", "switch", "var",   "vector",   "void",    "while",
};

// Words for the types, by tag.
constexpr const char* TagWords[] = {"void",   "string", "float",    "vector",
                                    "entity", "field",  "function", "pointer"};

struct Claims {
  std::unordered_map<std::string, uint64_t> owner;               // name -> owner key
  std::unordered_map<uint64_t, std::vector<std::string>> owned;  // owner key -> its names
  // By the stem of numbered names ("f_" of "f_1", "f_2" ...): every number below this one is
  // taken, so that the search for a free number goes on from there, and a program with
  // thousands of things of one name costs no more than one search each.
  std::unordered_map<std::string, int> next_number;
  int32_t renamed;
};

uint64_t owner_key(NameOwner kind, int64_t index) {
  return static_cast<uint64_t>(kind) << 40 | static_cast<uint64_t>(index & 0xffffffffff);
}

// Declaring a vector declares its components too: "vector dir;" makes dir_x, dir_y and
// dir_z, which both compilers then read for any later declaration of those names.
constexpr const char* ComponentSuffix[] = {"_x", "_y", "_z"};

bool is_free_for(const Claims& claims, const std::string& name, uint64_t key) {
  auto found = claims.owner.find(name);
  return found == claims.owner.end() || found->second == key;
}

void take(Claims& claims, const std::string& name, uint64_t key) {
  if (claims.owner.emplace(name, key).second) {
    claims.owned[key].push_back(name);
  }
}

// The number of a name "stem" + number as the search below writes it, or 0.
int number_after(const std::string& name, const std::string& stem) {
  if (name.size() <= stem.size() || name.size() > stem.size() + 9 ||
      name.compare(0, stem.size(), stem) != 0 || name[stem.size()] == '0') {
    return 0;
  }
  int number = 0;
  for (size_t i = stem.size(); i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') {
      return 0;
    }
    number = number * 10 + (name[i] - '0');
  }
  return number;
}

// Claims `wanted` for the owner, or else the first variant "stem_N" (N from 1) that is free
// or already the owner's; for a vector, with `components` the owners of its three
// components, their names too.
std::string claim(Claims& claims, const std::string& wanted, uint64_t key, bool counts,
                  bool used = true, const uint64_t* components = nullptr) {
  std::string name = identifier_from(wanted);
  if (used && is_reserved_word(name)) {
    name += "_";
  }
  auto fits = [&](const std::string& candidate) {
    bool free = is_free_for(claims, candidate, key);
    for (int k = 0; k < 3 && free && components != nullptr; ++k) {
      free = is_free_for(claims, candidate + ComponentSuffix[k], components[k]);
    }
    return free;
  };
  if (!fits(name)) {
    const std::string stem = identifier_from(wanted).substr(0, kLongestName - 6) + "_";
    int& next = claims.next_number[stem];
    next = std::max(next, 1);
    // The owner's own variant, if it has one, was taken below `next`.
    int own = 0;
    for (const std::string& owned : claims.owned[key]) {
      const int number = number_after(owned, stem);
      if (number > 0 && number < next && (own == 0 || number < own)) {
        own = number;
      }
    }
    if (own > 0) {
      name = stem + std::to_string(own);
    } else {
      for (int number = next;; ++number) {
        name = stem + std::to_string(number);
        if (fits(name)) {
          next = number + 1;
          break;
        }
      }
    }
  }
  take(claims, name, key);
  for (int k = 0; k < 3 && components != nullptr; ++k) {
    take(claims, name + ComponentSuffix[k], components[k]);
  }
  if (counts && name != wanted) {
    ++claims.renamed;
  }
  return name;
}

// The owners of a vector's components, one cell or field offset after another.
void component_owners(NameOwner kind, int64_t first, uint64_t* owners) {
  for (int k = 0; k < 3; ++k) {
    owners[k] = owner_key(kind, first + k);
  }
}

// What declaring the global definition creates.
uint64_t def_owner(const image::ProgramImage& program, const ProgramFacts& facts,
                   const image::DefRecord& def) {
  const int tag = def_tag(def);
  if (tag == image::ev_field) {
    return owner_key(NameOwner::kField, image::global_int(def.ofs));
  }
  const int32_t function = function_constant(program, facts, def);
  if (function > 0) {
    return owner_key(NameOwner::kFunction, function);
  }
  return owner_key(NameOwner::kCell, def.ofs);
}

// The global cells, fields and functions some function's code names: keywords that are
// only declared may keep their names, keywords that are used may not.
struct Used {
  std::vector<uint8_t> cells;
  std::vector<uint8_t> functions;
};

Used find_used(const image::ProgramImage& program, const ProgramFacts& facts,
               const std::vector<FunctionCode>& functions) {
  Used used{std::vector<uint8_t>(static_cast<size_t>(facts.cell_count), 0),
            std::vector<uint8_t>(program.functions.size(), 0)};
  for (const FunctionCode& code : functions) {
    for (const Expr& e : code.exprs) {
      if ((e.kind == ExprKind::kGlobal || e.kind == ExprKind::kField ||
           e.kind == ExprKind::kConstant) &&
          e.ref >= 0 && e.ref < facts.cell_count) {
        used.cells[e.ref] = 1;
        const int32_t function = function_in_cell(program, e.ref);
        if (e.kind != ExprKind::kField && function > 0) {
          used.functions[function] = 1;
        }
      } else if (e.kind == ExprKind::kFunction && e.ref > 0 &&
                 e.ref < static_cast<int32_t>(used.functions.size())) {
        used.functions[e.ref] = 1;
      }
    }
  }
  return used;
}

}  // namespace

bool is_reserved_word(const std::string& word) {
  for (const char* reserved : ReservedWords) {
    if (word == reserved) {
      return true;
    }
  }
  return false;
}

std::string identifier_from(const std::string& text) {
  std::string name;
  for (char c : text) {
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    const bool digit = c >= '0' && c <= '9';
    name += letter || digit ? c : '_';
  }
  if (name.empty() || (name[0] >= '0' && name[0] <= '9')) {
    name = "_" + name;
  }
  if (name.size() > kLongestName) {
    name.resize(kLongestName);
  }
  return name;
}

Names choose_names(const image::ProgramImage& program, const ProgramFacts& facts,
                   const std::vector<FunctionCode>& functions,
                   const std::vector<uint8_t>& shared_cells, const ProgramTypes& types) {
  Names names{};
  Claims claims{{}, {}, {}, 0};
  const Used used = find_used(program, facts, functions);
  names.cells.assign(static_cast<size_t>(facts.cell_count), std::string());
  names.fields.assign(static_cast<size_t>(facts.field_limit), std::string());
  names.functions.assign(program.functions.size(), std::string());

  // Fields first: the engine and the compilers know the system fields by name.
  for (size_t i = 1; i < program.fielddefs.size(); ++i) {
    const image::DefRecord& field = program.fielddefs[i];
    if (field.ofs < 0 || field.ofs >= facts.field_limit ||
        facts.field_at[field.ofs] != static_cast<int32_t>(i)) {
      continue;
    }
    const std::string wanted = def_name(field);
    uint64_t components[3];
    component_owners(NameOwner::kField, field.ofs, components);
    names.fields[field.ofs] =
        claim(claims, wanted.empty() ? "field" + std::to_string(field.ofs) : wanted,
              owner_key(NameOwner::kField, field.ofs), !wanted.empty(), true,
              def_tag(field) == image::ev_vector ? components : nullptr);
  }
  // Global definitions of the global scope, in table order: the declaration order.
  for (size_t d = 0; d < program.globaldefs.size(); ++d) {
    const image::DefRecord& def = program.globaldefs[d];
    if (!has_real_name(def) || def.ofs < 0 || def.ofs >= facts.cell_count ||
        facts.named_cover[def.ofs] < 0) {
      continue;
    }
    const image::DefRecord& first = program.globaldefs[facts.named_cover[def.ofs]];
    if (&first != &def) {
      // Another constant in the same cell is declared too, under its own name.
      const bool component = def_tag(first) == image::ev_vector || facts.implied_vector[first.ofs];
      const bool constant = !facts.written[def.ofs] && (def.type & image::DEF_SAVEGLOBAL) == 0 &&
                            (first.type & image::DEF_SAVEGLOBAL) == 0;
      const int tag = def_tag(def);
      if (!component && constant && first.ofs == def.ofs && tag == def_tag(first) &&
          tag != image::ev_function && tag != image::ev_field && tag != image::ev_pointer &&
          facts.area_owner[def.ofs] <= 0) {
        names.aliases.emplace_back(static_cast<int32_t>(d),
                                   claim(claims, def_name(def), def_owner(program, facts, def),
                                         true, used.cells[def.ofs] != 0));
      }
      continue;
    }
    const int32_t owner = facts.area_owner[def.ofs];
    if (owner > 0) {
      const image::FunctionRecord& function = program.functions[owner];
      const bool parameter =
          def.ofs < int64_t{function.parm_start} + image::parameter_cells(function);
      if (parameter || (is_local_kind(def) && !has_immediate_def(program, facts, def.ofs))) {
        continue;  // a parameter or local of its function
      }
    }
    std::string wanted = def_name(def);
    if (facts.implied_vector[def.ofs]) {
      wanted.resize(wanted.size() - 2);  // "v_x" names the vector "v"
    }
    if (facts.array_of[def.ofs] >= 0) {
      if (facts.array_of[def.ofs] != def.ofs) {
        continue;  // an element: the array's name covers it
      }
      if (wanted.size() > 3 && wanted.compare(wanted.size() - 3, 3, "[0]") == 0) {
        wanted.resize(wanted.size() - 3);  // "a[0]" names the array "a"
      }
    }
    const int32_t function = function_constant(program, facts, def);
    const bool in_code = used.cells[def.ofs] || (function > 0 && used.functions[function]);
    uint64_t components[3];
    const uint64_t* vector = nullptr;
    if (covered_size(facts, def) == 3) {
      component_owners(NameOwner::kCell, def.ofs, components);
      vector = components;
    } else if (def_tag(def) == image::ev_field) {
      const int32_t offset = image::global_int(def.ofs);
      const int32_t field = offset >= 0 && offset < facts.field_limit ? facts.field_at[offset] : -1;
      if (field >= 0 && def_tag(program.fielddefs[field]) == image::ev_vector) {
        component_owners(NameOwner::kField, offset, components);
        vector = components;
      }
    }
    names.cells[def.ofs] =
        claim(claims, wanted, def_owner(program, facts, def), true, in_code, vector);
  }
  // A function the program left unnamed takes the name of the global that holds it.
  std::vector<std::string> held_by(program.functions.size());
  for (const image::DefRecord& def : program.globaldefs) {
    const int32_t function = has_real_name(def) ? function_constant(program, facts, def) : -1;
    if (function > 0 && held_by[function].empty()) {
      held_by[function] = def_name(def);
    }
  }
  for (size_t f = 1; f < program.functions.size(); ++f) {
    const image::FunctionRecord& function = program.functions[f];
    std::string wanted = image::string_at(function.s_name);
    if (wanted.empty()) {
      wanted = held_by[f];
    }
    const bool unnamed = wanted.empty();
    if (unnamed) {
      const BuiltinRow* row =
          has_body(function) ? nullptr : find_builtin(-int64_t{function.first_statement});
      wanted = row != nullptr ? row->name : "func" + std::to_string(f);
    }
    names.functions[f] =
        claim(claims, wanted, owner_key(NameOwner::kFunction, static_cast<int64_t>(f)), !unnamed,
              used.functions[f] != 0);
  }
  for (int64_t cell = 0; cell < facts.cell_count; ++cell) {
    if (shared_cells[cell] && names.cells[cell].empty()) {
      names.cells[cell] =
          claim(claims, "global" + std::to_string(cell), owner_key(NameOwner::kCell, cell), false);
    }
  }
  // A view of a function's result is named after the function and the type it gives.
  const size_t count = program.functions.size();
  names.views.resize(count);
  names.view_result_types.resize(count);
  names.result_types.assign(count, std::string());
  auto result_type = [&](const Type& type, const std::string& of, int64_t index) {
    return type.tag != image::ev_function
               ? std::string()
               : claim(claims, of + "_result", owner_key(NameOwner::kResultType, index), false);
  };
  for (size_t f = 1; f < count; ++f) {
    names.result_types[f] =
        result_type(types.returns[f], names.functions[f], static_cast<int64_t>(f * 17));
    for (size_t k = 0; k < types.views[f].size(); ++k) {
      const Type& type = types.views[f][k];
      std::string suffix = type.tag == image::ev_field ? "field_" : "";
      const int tag = type.tag == image::ev_field ? type.field_tag : type.tag;
      suffix += tag >= 0 && tag < 8 ? TagWords[tag] : "value";
      const int64_t index = static_cast<int64_t>(f * 17 + k + 1);
      names.views[f].push_back(claim(claims, names.functions[f] + "_" + suffix,
                                     owner_key(NameOwner::kView, index), false));
      names.view_result_types[f].push_back(result_type(type, names.views[f].back(), index));
    }
  }

  names.renamed = claims.renamed;
  return names;
}

std::vector<std::string> choose_variable_names(const image::ProgramImage& program,
                                               const FunctionCode& code,
                                               const std::unordered_set<std::string>& visible,
                                               int32_t& renamed) {
  std::vector<std::string> chosen;
  std::unordered_set<std::string> taken;
  int parameter = 0;
  int local = 0;
  for (const Variable& variable : code.variables) {
    std::string wanted;
    if (variable.def >= 0) {
      wanted = def_name(program.globaldefs[variable.def]);
    }
    const bool generated = wanted.empty();
    if (generated) {
      wanted = variable.kind == VariableKind::kParameter ? "param" + std::to_string(parameter)
                                                         : "local" + std::to_string(++local);
    }
    if (variable.kind == VariableKind::kParameter) {
      ++parameter;
    }
    std::string name = identifier_from(wanted);
    if (is_reserved_word(name)) {
      name += "_";
    }
    // A vector's components are named with it, apart from everything else.
    const bool vector = variable.size == 3 || variable.type.tag == image::ev_vector;
    auto usable = [&](const std::string& candidate) {
      for (int k = -1; k < (vector ? 3 : 0); ++k) {
        const std::string part = k < 0 ? candidate : candidate + ComponentSuffix[k];
        if (taken.count(part) != 0 || visible.count(part) != 0) {
          return false;
        }
      }
      return true;
    };
    for (int suffix = 1; !usable(name); ++suffix) {
      name = identifier_from(wanted).substr(0, kLongestName - 6) + "_" + std::to_string(suffix);
    }
    if (!generated && name != wanted) {
      ++renamed;
    }
    taken.insert(name);
    for (int k = 0; k < (vector ? 3 : 0); ++k) {
      taken.insert(name + ComponentSuffix[k]);
    }
    chosen.push_back(name);
  }
  return chosen;
}

}  // namespace compilable
