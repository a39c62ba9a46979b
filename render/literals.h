// QuakeC literal text of constant values held in the global cells.
#pragma once

#include <cstdint>
#include <string>

namespace render {

// The literal for the value starting at a global offset, by the definition's whole type
// word: string, float, vector, "void", or "bad type %i" for every other word.
std::string format_literal(int64_t type_word, int64_t offset);

// Double-quoted, with newline and double quote escaped; at most 245 source characters,
// followed by "..." when the source has 245 or more.
std::string quote_string_literal(const char* source);

}  // namespace render
