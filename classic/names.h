// Names, types and declarations of definitions, with the type words as this run has left them.
#pragma once

#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

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

// The type word of every global definition. The walk over the globals clears
// DEF_SAVEGLOBAL in the words it visits, and everything written after that sees the
// cleared word; the loaded image keeps the words as the file holds them.
struct GlobalTypes {
  std::vector<uint16_t> words;  // by global definition index
};
extern GlobalTypes global_types;
void reset_global_types();
void copy_global_types();  // from the freshly loaded image

// Clears DEF_SAVEGLOBAL in the type word of global definition `index`; whether it was set.
bool clear_save_flag(int32_t index);
// Global definition `index` with its type word as the run has left it.
image::DefRecord global_definition(int32_t index);
// The first global definition whose ofs equals the offset, as global_definition gives it.
std::optional<image::DefRecord> find_globaldef_by_offset(int64_t offset);

const char* def_name(const image::DefRecord& def);
bool is_immediate(const image::DefRecord& def);

// "float", ".float" for a float field, "void()" for a function, ...
std::string type_text(const image::DefRecord& def);
// "type name", or the literal alone for an anonymous constant.
std::string declaration_text(const image::DefRecord& def);
// The name (with "_x" for a vector read as a float) or literal of the global at the
// offset, into `text` (whose storage is reused); false, leaving `text` alone, when no
// global definition has the offset.
bool operand_name(int64_t offset, int expected_type, std::string& text);

}  // namespace classic
