// QuakeC literal text of constant values held in the global cells.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

namespace classic {

// Literal texts already made in this run. Global cells and strings never change during a
// run, so a text depends only on the type word and the offset.
struct LiteralCache {
  std::unordered_map<uint64_t, std::string> texts;  // by type word << 32 | offset
  std::string uncached;                             // a text for arguments outside the keys' range
};
extern LiteralCache literal_cache;
void reset_literal_cache();

// The literal for the value starting at a global offset, by the definition's whole type
// word: string, float, vector, "void", or "bad type %i" for every other word. The text
// stays valid until the next run; for a type word or offset outside the cache's keys,
// only until the next such call.
const std::string& format_literal(int64_t type_word, int64_t offset);

// Double-quoted, with newline and double quote escaped; at most 245 source characters,
// followed by "..." when the source has 245 or more.
std::string quote_string_literal(const char* source);

}  // namespace classic
