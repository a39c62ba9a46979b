// Names, types and declarations of definitions, with the type words as this run has left them.
#include "classic/names.h"

#include <cstring>

#include "classic/literals.h"
#include "image/opcodes.h"
#include "image/program_index.h"

namespace classic {

const char* type_name(int64_t type_word) {
  if (type_word < 0 || type_word >= static_cast<int64_t>(std::size(TypeNameTable))) {
    return "float";
  }
  return TypeNameTable[type_word];
}

GlobalTypes global_types;

void reset_global_types() { global_types = GlobalTypes{}; }

void copy_global_types() {
  global_types.words.clear();
  global_types.words.reserve(image::program.globaldefs.size());
  for (const image::DefRecord& def : image::program.globaldefs) {
    global_types.words.push_back(def.type);
  }
}

bool clear_save_flag(int32_t index) {
  uint16_t& word = global_types.words[index];
  const bool saved = (word & image::DEF_SAVEGLOBAL) != 0;
  word = static_cast<uint16_t>(word & ~image::DEF_SAVEGLOBAL);
  return saved;
}

image::DefRecord global_definition(int32_t index) {
  image::DefRecord def = image::program.globaldefs[index];
  def.type = global_types.words[index];
  return def;
}

std::optional<image::DefRecord> find_globaldef_by_offset(int64_t offset) {
  const int32_t index = image::first_globaldef_index(offset);
  if (index < 0) {
    return std::nullopt;
  }
  return global_definition(index);
}

const char* def_name(const image::DefRecord& def) { return image::string_at(def.s_name); }

bool is_immediate(const image::DefRecord& def) {
  return std::strcmp(def_name(def), "IMMEDIATE") == 0;
}

std::string type_text(const image::DefRecord& def) {
  if (def.type == image::ev_field || def.type == image::ev_pointer) {
    const image::DefRecord* field = image::find_fielddef_by_name(def_name(def));
    if (field != nullptr) {
      return std::string(".") + type_name(field->type);
    }
  }
  return type_name(def.type);
}

std::string declaration_text(const image::DefRecord& def) {
  if (is_immediate(def)) {
    return format_literal(def.type, def.ofs);
  }
  return type_text(def) + " " + def_name(def);
}

bool operand_name(int64_t offset, int expected_type, std::string& text) {
  const std::optional<image::DefRecord> def = find_globaldef_by_offset(offset);
  if (!def) {
    return false;
  }
  if (is_immediate(*def)) {
    text = format_literal(def->type, def->ofs);
    return true;
  }
  text = def_name(*def);
  if (expected_type == image::ev_float && def->type == image::ev_vector) {
    text += "_x";
  }
  return true;
}

}  // namespace classic
