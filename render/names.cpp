// Names, types and declarations of definitions, and the lookups by offset and name.
#include "render/names.h"

#include <cstring>

#include "image/opcodes.h"
#include "render/literals.h"

namespace render {

image::DefRecord* find_globaldef_by_offset(int64_t offset) {
  for (image::DefRecord& def : image::program.globaldefs) {
    if (def.ofs == offset) {
      return &def;
    }
  }
  return nullptr;
}

image::DefRecord* find_fielddef_by_name(const char* name) {
  for (size_t i = 1; i < image::program.fielddefs.size(); ++i) {
    image::DefRecord& def = image::program.fielddefs[i];
    if (std::strcmp(image::string_at(def.s_name), name) == 0) {
      return &def;
    }
  }
  return nullptr;
}

const char* def_name(const image::DefRecord& def) { return image::string_at(def.s_name); }

bool is_immediate(const image::DefRecord& def) {
  return std::strcmp(def_name(def), "IMMEDIATE") == 0;
}

std::string type_text(const image::DefRecord& def) {
  if (def.type == image::ev_field || def.type == image::ev_pointer) {
    const image::DefRecord* field = find_fielddef_by_name(def_name(def));
    if (field != nullptr) {
      return std::string(".") + image::type_name(field->type);
    }
  }
  return image::type_name(def.type);
}

std::string declaration_text(const image::DefRecord& def) {
  if (is_immediate(def)) {
    return format_literal(def.type, def.ofs);
  }
  return type_text(def) + " " + def_name(def);
}

std::optional<std::string> operand_name(int64_t offset, int expected_type) {
  const image::DefRecord* def = find_globaldef_by_offset(offset);
  if (def == nullptr) {
    return std::nullopt;
  }
  if (is_immediate(*def)) {
    return format_literal(def->type, def->ofs);
  }
  std::string name = def_name(*def);
  if (expected_type == image::ev_float && def->type == image::ev_vector) {
    name += "_x";
  }
  return name;
}

}  // namespace render
