// Writes the global definitions that lie in front of a function in the global area.
#include "classic/global_emitter.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "classic/function_emitter.h"
#include "classic/instruction_index.h"
#include "classic/literals.h"
#include "classic/names.h"
#include "classic/output.h"
#include "classic/signatures.h"
#include "image/opcodes.h"
#include "image/program_index.h"
#include "support/error.h"

namespace classic {

namespace {

// Function fields whose parameters the original game code declares; every other function
// field is written as ".void() name;".
struct FunctionField {
  const char* name;
  const char* declaration;
};
constexpr FunctionField KnownFunctionFields[] = {
    {"th_pain", ".void(entity attacker, float damage) th_pain;\n"},
};

const char* known_function_field(const char* name) {
  for (const FunctionField& field : KnownFunctionFields) {
    if (std::strcmp(field.name, name) == 0) {
      return field.declaration;
    }
  }
  return nullptr;
}

// True when the global was not saved and no STORE instruction assigns it.
bool is_constant_global(const image::DefRecord& def, bool saved) {
  return !saved && !stored_into(def.ofs);
}

// Writes the line for global definition `index`, the first at its offset; returns how far
// the walk advances beyond the usual one step (the further cells of a vector or a vector
// field).
int64_t emit_definition(int32_t index, const char* function_name) {
  const bool saved = clear_save_flag(index);
  const image::DefRecord def = global_definition(index);
  const int tag = def.type;
  const char* name = def_name(def);
  const bool immediate = is_immediate(def);
  if (tag == image::ev_pointer) {
    return 0;
  }
  if (tag == image::ev_function) {
    if (immediate || std::strcmp(name, function_name) == 0) {
      return 0;
    }
    int k = find_function_by_name(name);
    if (k >= image::program.numfunctions) {
      output_pieces({"void() ", name, ";\n"});
    } else {
      output_pieces({signatures.texts[k], ";\n"});
    }
    return 0;
  }
  if (immediate) {
    return 0;
  }
  if (tag == image::ev_void || tag == image::ev_entity) {
    output_pieces({TypeNameTable[tag], " ", name, ";\n"});
    return 0;
  }
  if (tag == image::ev_field) {
    const image::DefRecord* field = image::find_fielddef_by_name(name);
    if (field == nullptr) {
      support::fatal_error("Fatal Error: Could not locate a field named \"%s\"\n", name);
    }
    if (field->type == image::ev_function) {
      if (const char* declaration = known_function_field(name)) {
        output_write(declaration);
      } else {
        output_pieces({".void() ", name, ";\n"});
      }
      return 0;
    }
    output_pieces({".", type_text(*field), " ", name, ";\n"});
    return field->type == image::ev_vector ? 3 : 0;
  }
  const std::string value = format_literal(tag, def.ofs);
  const std::string type = type_text(def);
  if (is_constant_global(def, saved)) {
    output_pieces({type, " ", name, "    = ", value, ";\n"});
  } else if (image::global_float(def.ofs) != 0.0f) {
    output_pieces({type, " ", name, " /* = ", value, " */;\n"});
  } else {
    output_pieces({type, " ", name, ";\n"});
  }
  return tag == image::ev_vector ? 2 : 0;
}

}  // namespace

void emit_globals_before(int function_index, const char* name) {
  const image::FunctionRecord& record = image::program.functions[function_index];
  const image::FunctionRecord& previous = image::program.functions[function_index - 1];
  int64_t start = int64_t{previous.parm_start} + previous.locals +
                  (previous.numparms > 0 ? image::parameter_cells(previous) : 0);
  if (previous.first_statement < 0 && record.first_statement > 0) {
    start -= 1;
  }
  if (start == 0) {
    start = 1;
  }
  // Only offsets that have a definition can give a line, so the walk steps between them;
  // none lies at or beyond kOffsetLimit, however far the parameters start.
  const int64_t end = std::min<int64_t>(record.parm_start, image::kOffsetLimit);
  for (int64_t o = image::next_defined_offset(start); o < end;) {
    o += emit_definition(image::first_globaldef_index(o), name);
    o = image::next_defined_offset(o + 1);
  }
}

}  // namespace classic
