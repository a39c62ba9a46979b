// QuakeC literal text of constant values held in the global cells.
#include "classic/literals.h"

#include "image/opcodes.h"
#include "image/program_image.h"
#include "render/number_text.h"
#include "support/scratch.h"

namespace classic {

namespace {

constexpr int kQuotedCharacters = 245;

}  // namespace

std::string quote_string_literal(const char* source) {
  std::string text = "\"";
  for (int i = 0; source[i] != '\0'; ++i) {
    if (source[i] == '\n') {
      text += "\\n";
    } else if (source[i] == '"') {
      text += "\\\"";
    } else {
      text += source[i];
    }
    if (i == kQuotedCharacters - 1) {
      text += "...";
      break;
    }
  }
  text += '"';
  return text;
}

LiteralCache literal_cache;

void reset_literal_cache() { literal_cache = LiteralCache{}; }

static std::string make_literal(int64_t type_word, int64_t offset) {
  switch (type_word) {
    case image::ev_void:
      return "void";
    case image::ev_string:
      return quote_string_literal(image::string_at(image::global_int(offset)));
    case image::ev_float:
      return render::float_text(image::global_float(offset));
    case image::ev_vector:
      return render::vector_text(image::global_float(offset), image::global_float(offset + 1),
                                 image::global_float(offset + 2));
    default:
      return support::scratch_printf("bad type %lld", static_cast<long long>(type_word));
  }
}

const std::string& format_literal(int64_t type_word, int64_t offset) {
  if (type_word < 0 || type_word > 0xffff || offset < 0 || offset > 0xffffffffLL) {
    literal_cache.uncached = make_literal(type_word, offset);
    return literal_cache.uncached;
  }
  const uint64_t key = static_cast<uint64_t>(type_word) << 32 | static_cast<uint64_t>(offset);
  auto found = literal_cache.texts.find(key);
  if (found == literal_cache.texts.end()) {
    found = literal_cache.texts.emplace(key, make_literal(type_word, offset)).first;
  }
  return found->second;
}

}  // namespace classic
