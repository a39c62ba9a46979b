// Names, types and declarations of definitions, and the lookups by offset and name.
#pragma once

#include <cstdint>
#include <iterator>
#include <optional>
#include <string>

#include "image/program_image.h"

namespace classic {

// The text of each type tag in declarations and signatures. Fields and pointers are
// written through their field definitions where one exists (type_text), so their own
// entries show only when none does.
inline constexpr const char* TypeNameTable[] = {
    "void", "string", "float", "vector", "entity", "ev_field", "void()", "ev_pointer",
};
static_assert(std::size(TypeNameTable) == 8);

// The table text of a type word; a word with no entry (above 7) prints as "float".
const char* type_name(int64_t type_word);

constexpr int kNoType = -1;  // an operand looked up with no expected type

// The first global definition whose ofs equals the offset, or null. Points into the
// loaded table, which never grows.
image::DefRecord* find_globaldef_by_offset(int64_t offset);
// The first field definition from index 1 whose name equals the name, or null.
image::DefRecord* find_fielddef_by_name(const char* name);

const char* def_name(const image::DefRecord& def);
bool is_immediate(const image::DefRecord& def);

// "float", ".float" for a float field, "void()" for a function, ...
std::string type_text(const image::DefRecord& def);
// "type name", or the literal alone for an anonymous constant.
std::string declaration_text(const image::DefRecord& def);
// The name (with "_x" for a vector read as a float) or literal of the global at the
// offset, or nothing when no global definition has the offset.
std::optional<std::string> operand_name(int64_t offset, int expected_type);
// The same into `text` (its storage is reused); false, leaving `text` alone, when no
// global definition has the offset.
bool operand_name_into(int64_t offset, int expected_type, std::string& text);

}  // namespace classic
