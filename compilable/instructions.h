// What each instruction does with the global cells: which operands it reads and writes.
// Covers the classic set (0-65) and the extended ones of FTE's and Hexen II's programs.
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
  kStore,         // b = a (converted when their types differ)
  kStorePointer,  // *b = a; in FTE's programs *(b + c words) = a
  kReturn,
  kIf,     // jump by b when a is true
  kIfNot,  // jump by b when a is false
  kGoto,   // jump by a
  kCall,   // call a with the arguments in the parameter cells; the result lands in OFS_RETURN
  kState,  // frame a, think b
  // Extended instructions:
  kConvert,          // c = a as c's type
  kStoreField,       // a.b = c
  kLoadPointer,      // c = *(a + b words)
  kGlobalAddress,    // c = &global[a + b], a the number of a global cell
  kLoadArray,        // c = global[a + b], a the number of a global cell
  kFetchGlobal,      // c = global[a + b] for a float index b, bounded by the int at a - 1
  kGlobalLoad,       // c = global[a]
  kGlobalStore,      // global[b] = a
  kCompound,         // b op= a
  kCompoundPointer,  // *b op= a; c = the new value when c is written
  kRandom,           // c (or RETURN when c is 0) = a random value, between a and b
  kCycleState,       // cycle self.frame (or self.weaponframe) from a to b
  kThinkTime,        // a.nextthink = time + b
  kSwitch,           // switch on a: jump by b to the case table
  kCase,             // case a: jump by b when the switch value equals a
  kCaseRange,        // case a .. b: jump by c when the switch value lies between them
  kBoundCheck,       // a run-time check of an index: no value
  kPush,             // c = a fresh block of a words on the local stack
  kBitField,         // c = a bit-field of a by the descriptor b (BITCOPY_I: into c)
  kUnknown,
};

// What an operand is to its instruction.
enum class Role : uint8_t {
  kNone,
  kRead,
  kWrite,
  kReadWrite,
  kJump,    // a signed distance in instructions
  kNumber,  // a number used as it is: a global cell's index, a bound
};

// Value tags of the extended instructions beyond the classic eight, numbered as FTE's
// current compiler numbers them in definitions.
constexpr int kIntegerTag = 8;
constexpr int kUnsignedTag = 9;
constexpr int kInt64Tag = 10;
constexpr int kUint64Tag = 11;
constexpr int kDoubleTag = 12;

struct InstructionRow {
  const char* name;
  Action action;
  const char* symbol;  // the operator an instruction of kBinary or kCompound writes
  int8_t priority;     // qcc's binding level of a kBinary operator (smaller binds tighter)
  int8_t tag[3];       // value types of a, b and c
  Role role[3];
};

// The row of an opcode; an opcode no interpreter runs has Action::kUnknown.
const InstructionRow& instruction_row(uint32_t op);
inline Action action_of(uint32_t op) { return instruction_row(op).action; }

// Cells taken by a value of the tag.
inline int cells_of(int tag) { return tag == image::ev_vector ? 3 : 1; }
// Cells an instruction moves for an operand of the tag: two for 64-bit values.
inline int value_cells(int tag) {
  return tag == kInt64Tag || tag == kUint64Tag || tag == kDoubleTag ? 2 : cells_of(tag);
}

constexpr int kParameterCount = 8;
inline int32_t parameter_cell(int k) { return image::OFS_PARM0 + 3 * k; }

// Argument count of a call instruction (CALL0..CALL8, CALL1H..CALL8H).
inline int call_arguments(uint32_t op) {
  return static_cast<int>(op) - (op >= 105 ? 104 : static_cast<uint32_t>(image::OP_CALL0));
}
// How many of a call's first arguments the instruction carries in b and c instead of the
// parameter cells: FTE's CALLnH always; Hexen II's CALLn in a program that passes them so.
int arguments_in_operands(const image::Statement& statement, bool hexen2_calls);

// The instruction a jump of this one lands on, for the jumps, SWITCH, CASE and CASERANGE.
int64_t jump_target(const image::Statement& statement, int64_t position);

// Static reads and writes of one instruction, as used for program-wide facts. Sizes are the
// opcode's own; STORE_V, RETURN and the calls' parameters read what is actually there.
struct CellRange {
  int32_t offset;
  int8_t size;  // 0: no cell
};
struct StaticAccess {
  CellRange reads[3 + kParameterCount];
  int read_count;
  CellRange write;
};
StaticAccess static_access(const image::Statement& statement, bool hexen2_calls);

}  // namespace compilable
