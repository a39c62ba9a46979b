// What each instruction does with the global cells: which operands it reads and writes.
#include "compilable/instructions.h"

namespace compilable {

Action action_of(uint32_t op) {
  using namespace image;
  if (op >= OPCODE_COUNT) {
    return Action::kUnknown;
  }
  switch (op) {
    case OP_DONE:
      return Action::kDone;
    case OP_ADDRESS:
      return Action::kAddress;
    case OP_RETURN:
      return Action::kReturn;
    case OP_IF:
      return Action::kIf;
    case OP_IFNOT:
      return Action::kIfNot;
    case OP_STATE:
      return Action::kState;
    case OP_GOTO:
      return Action::kGoto;
    default:
      break;
  }
  if (op >= OP_LOAD_F && op <= OP_LOAD_FNC) {
    return Action::kLoad;
  }
  if (op >= OP_STORE_F && op <= OP_STORE_FNC) {
    return Action::kStore;
  }
  if (op >= OP_STOREP_F && op <= OP_STOREP_FNC) {
    return Action::kStorePointer;
  }
  if (op >= OP_NOT_F && op <= OP_NOT_FNC) {
    return Action::kNot;
  }
  if (op >= OP_CALL0 && op <= OP_CALL8) {
    return Action::kCall;
  }
  return Action::kBinary;
}

int64_t jump_target(const image::Statement& statement, int64_t position) {
  return position + (action_of(statement.op) == Action::kGoto ? statement.a : statement.b);
}

StaticAccess static_access(const image::Statement& statement) {
  StaticAccess access{};
  auto read = [&access](int32_t offset, int size) {
    access.reads[access.read_count++] = CellRange{offset, static_cast<int8_t>(size)};
  };
  const image::OpcodeRow& row =
      image::OpcodeTable[statement.op < image::OPCODE_COUNT ? statement.op : 0];
  switch (action_of(statement.op)) {
    case Action::kBinary:
      read(statement.a, cells_of(row.type_a));
      read(statement.b, cells_of(row.type_b));
      access.write = CellRange{statement.c, static_cast<int8_t>(cells_of(row.type_c))};
      break;
    case Action::kNot:
      // NOT_S reads a string, whatever the table's operand column says.
      read(statement.a, statement.op == image::OP_NOT_V ? 3 : 1);
      access.write = CellRange{statement.c, 1};
      break;
    case Action::kLoad:
    case Action::kAddress:
      read(statement.a, 1);
      read(statement.b, 1);
      access.write = CellRange{statement.c, static_cast<int8_t>(cells_of(row.type_c))};
      break;
    case Action::kStore:
      read(statement.a, cells_of(row.type_a));
      access.write = CellRange{statement.b, static_cast<int8_t>(cells_of(row.type_b))};
      break;
    case Action::kStorePointer:
      read(statement.a, cells_of(row.type_b));
      read(statement.b, 1);
      break;
    case Action::kReturn:
      if (statement.a != 0) {
        read(statement.a, 1);
      }
      break;
    case Action::kIf:
    case Action::kIfNot:
      read(statement.a, 1);
      break;
    case Action::kCall:
      read(statement.a, 1);
      for (int k = 0; k < call_arguments(statement.op); ++k) {
        read(parameter_cell(k), 1);
      }
      access.write = CellRange{image::OFS_RETURN, 3};
      break;
    case Action::kState:
      read(statement.a, 1);
      read(statement.b, 1);
      break;
    case Action::kDone:
    case Action::kGoto:
    case Action::kUnknown:
      break;
  }
  return access;
}

}  // namespace compilable
