// What each instruction does with the global cells: which operands it reads and writes.
#pragma once

#include <cstdint>

#include "image/opcodes.h"
#include "image/program_image.h"

namespace compilable {

enum class Action : uint8_t {
  kDone,
  kBinary,        // c = a op b
  kNot,           // c = !a
  kLoad,          // c = a.b
  kAddress,       // c = &a.b
  kStore,         // b = a
  kStorePointer,  // *b = a
  kReturn,
  kIf,     // jump by b when a is true
  kIfNot,  // jump by b when a is false
  kGoto,   // jump by a
  kCall,   // call a with the arguments in the parameter cells; the result lands in OFS_RETURN
  kState,  // frame a, think b
  kUnknown,
};

Action action_of(uint32_t op);

// Cells taken by a value of the tag.
inline int cells_of(int tag) { return tag == image::ev_vector ? 3 : 1; }

constexpr int kParameterCount = 8;
inline int32_t parameter_cell(int k) { return image::OFS_PARM0 + 3 * k; }

// Argument count of a CALL0..CALL8.
inline int call_arguments(uint32_t op) { return static_cast<int>(op) - image::OP_CALL0; }

// The instruction a jump of this one lands on, for IF, IFNOT and GOTO.
int64_t jump_target(const image::Statement& statement, int64_t position);

// Static reads and writes of one instruction, as used for program-wide facts. Sizes are the
// opcode's own; STORE_V, RETURN and the calls' parameters read what is actually there.
struct CellRange {
  int32_t offset;
  int8_t size;  // 0: no cell
};
struct StaticAccess {
  CellRange reads[2 + kParameterCount];
  int read_count;
  CellRange write;
};
StaticAccess static_access(const image::Statement& statement);

}  // namespace compilable
