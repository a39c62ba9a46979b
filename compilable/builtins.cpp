// The engine's builtin functions as Quake's own game code declares them: names for builtins
// a program left unnamed, and types where the program's calls tell nothing.
#include "compilable/builtins.h"

namespace compilable {

const BuiltinRow* find_builtin(int64_t number) {
  for (const BuiltinRow& row : BuiltinTable) {
    if (row.number == number) {
      return &row;
    }
  }
  return nullptr;
}

}  // namespace compilable
