// The QuakeC instruction set and value types: constant tables read by the renderers.
#include "image/opcodes.h"

namespace image {

const char* type_name(int64_t type_word) {
  if (type_word < 0 || type_word >= static_cast<int64_t>(std::size(TypeNameTable))) {
    return "float";
  }
  return TypeNameTable[type_word];
}

}  // namespace image
