// The QuakeC instruction set and value types: constant tables that every engine reads.
#pragma once

#include <cstdint>
#include <iterator>

namespace image {

enum TypeTag : uint16_t {
  ev_void = 0,
  ev_string = 1,
  ev_float = 2,
  ev_vector = 3,
  ev_entity = 4,
  ev_field = 5,
  ev_function = 6,
  ev_pointer = 7,
};
constexpr uint16_t DEF_SAVEGLOBAL = 1u << 15;

// One enumerator per row of OpcodeTable, under qcc's names.
enum Opcode : int {
  OP_DONE = 0,
  OP_MUL_F = 1,
  OP_MUL_V = 2,
  OP_MUL_FV = 3,
  OP_MUL_VF = 4,
  OP_DIV_F = 5,
  OP_ADD_F = 6,
  OP_ADD_V = 7,
  OP_SUB_F = 8,
  OP_SUB_V = 9,
  OP_EQ_F = 10,
  OP_EQ_V = 11,
  OP_EQ_S = 12,
  OP_EQ_E = 13,
  OP_EQ_FNC = 14,
  OP_NE_F = 15,
  OP_NE_V = 16,
  OP_NE_S = 17,
  OP_NE_E = 18,
  OP_NE_FNC = 19,
  OP_LE = 20,
  OP_GE = 21,
  OP_LT = 22,
  OP_GT = 23,
  OP_LOAD_F = 24,
  OP_LOAD_V = 25,
  OP_LOAD_S = 26,
  OP_LOAD_ENT = 27,
  OP_LOAD_FLD = 28,
  OP_LOAD_FNC = 29,
  OP_ADDRESS = 30,
  OP_STORE_F = 31,
  OP_STORE_V = 32,
  OP_STORE_S = 33,
  OP_STORE_ENT = 34,
  OP_STORE_FLD = 35,
  OP_STORE_FNC = 36,
  OP_STOREP_F = 37,
  OP_STOREP_V = 38,
  OP_STOREP_S = 39,
  OP_STOREP_ENT = 40,
  OP_STOREP_FLD = 41,
  OP_STOREP_FNC = 42,
  OP_RETURN = 43,
  OP_NOT_F = 44,
  OP_NOT_V = 45,
  OP_NOT_S = 46,
  OP_NOT_ENT = 47,
  OP_NOT_FNC = 48,
  OP_IF = 49,
  OP_IFNOT = 50,
  OP_CALL0 = 51,
  OP_CALL1 = 52,
  OP_CALL2 = 53,
  OP_CALL3 = 54,
  OP_CALL4 = 55,
  OP_CALL5 = 56,
  OP_CALL6 = 57,
  OP_CALL7 = 58,
  OP_CALL8 = 59,
  OP_STATE = 60,
  OP_GOTO = 61,
  OP_AND = 62,
  OP_OR = 63,
  OP_BITAND = 64,
  OP_BITOR = 65,
};

// What an instruction does, as the rows group it: the translators switch on it.
enum OpcodeKind : uint8_t {
  kDone,
  kBinary,        // an operator between a and b, result in c
  kLoad,          // INDIRECT: the field b of the entity a, into c
  kAddress,       // the address of the field b of the entity a, into c
  kStore,         // a into the global b
  kStorePointer,  // a through the pointer b
  kReturn,
  kNot,    // !a into c
  kIf,     // jump by b when a is true
  kIfNot,  // jump by b when a is false
  kCall,   // call the function a with CALLn's n arguments
  kState,  // frame a, think function b
  kGoto,   // jump by a
};

struct OpcodeRow {
  const char* symbol;
  const char* name;
  OpcodeKind kind;
  int priority;
  bool right_associative;
  TypeTag type_a;
  TypeTag type_b;
  TypeTag type_c;
};

constexpr int OPCODE_COUNT = 66;
inline constexpr OpcodeRow OpcodeTable[] = {
    {"<DONE>", "DONE", kDone, -1, false, ev_entity, ev_field, ev_void},
    {"*", "MUL_F", kBinary, 2, false, ev_float, ev_float, ev_float},
    {"*", "MUL_V", kBinary, 2, false, ev_vector, ev_vector, ev_float},
    {"*", "MUL_FV", kBinary, 2, false, ev_float, ev_vector, ev_vector},
    {"*", "MUL_VF", kBinary, 2, false, ev_vector, ev_float, ev_vector},
    {"/", "DIV", kBinary, 2, false, ev_float, ev_float, ev_float},
    {"+", "ADD_F", kBinary, 3, false, ev_float, ev_float, ev_float},
    {"+", "ADD_V", kBinary, 3, false, ev_vector, ev_vector, ev_vector},
    {"-", "SUB_F", kBinary, 3, false, ev_float, ev_float, ev_float},
    {"-", "SUB_V", kBinary, 3, false, ev_vector, ev_vector, ev_vector},
    {"==", "EQ_F", kBinary, 4, false, ev_float, ev_float, ev_float},
    {"==", "EQ_V", kBinary, 4, false, ev_vector, ev_vector, ev_float},
    {"==", "EQ_S", kBinary, 4, false, ev_string, ev_string, ev_float},
    {"==", "EQ_E", kBinary, 4, false, ev_entity, ev_entity, ev_float},
    {"==", "EQ_FNC", kBinary, 4, false, ev_function, ev_function, ev_float},
    {"!=", "NE_F", kBinary, 4, false, ev_float, ev_float, ev_float},
    {"!=", "NE_V", kBinary, 4, false, ev_vector, ev_vector, ev_float},
    {"!=", "NE_S", kBinary, 4, false, ev_string, ev_string, ev_float},
    {"!=", "NE_E", kBinary, 4, false, ev_entity, ev_entity, ev_float},
    {"!=", "NE_FNC", kBinary, 4, false, ev_function, ev_function, ev_float},
    {"<=", "LE", kBinary, 4, false, ev_float, ev_float, ev_float},
    {">=", "GE", kBinary, 4, false, ev_float, ev_float, ev_float},
    {"<", "LT", kBinary, 4, false, ev_float, ev_float, ev_float},
    {">", "GT", kBinary, 4, false, ev_float, ev_float, ev_float},
    {".", "INDIRECT", kLoad, 1, false, ev_entity, ev_field, ev_float},
    {".", "INDIRECT", kLoad, 1, false, ev_entity, ev_field, ev_vector},
    {".", "INDIRECT", kLoad, 1, false, ev_entity, ev_field, ev_string},
    {".", "INDIRECT", kLoad, 1, false, ev_entity, ev_field, ev_entity},
    {".", "INDIRECT", kLoad, 1, false, ev_entity, ev_field, ev_field},
    {".", "INDIRECT", kLoad, 1, false, ev_entity, ev_field, ev_function},
    {".", "ADDRESS", kAddress, 1, false, ev_entity, ev_field, ev_pointer},
    {"=", "STORE_F", kStore, 5, true, ev_float, ev_float, ev_float},
    {"=", "STORE_V", kStore, 5, true, ev_vector, ev_vector, ev_vector},
    {"=", "STORE_S", kStore, 5, true, ev_string, ev_string, ev_string},
    {"=", "STORE_ENT", kStore, 5, true, ev_entity, ev_entity, ev_entity},
    {"=", "STORE_FLD", kStore, 5, true, ev_field, ev_field, ev_field},
    {"=", "STORE_FNC", kStore, 5, true, ev_function, ev_function, ev_function},
    {"=", "STOREP_F", kStorePointer, 5, true, ev_pointer, ev_float, ev_float},
    {"=", "STOREP_V", kStorePointer, 5, true, ev_pointer, ev_vector, ev_vector},
    {"=", "STOREP_S", kStorePointer, 5, true, ev_pointer, ev_string, ev_string},
    {"=", "STOREP_ENT", kStorePointer, 5, true, ev_pointer, ev_entity, ev_entity},
    {"=", "STOREP_FLD", kStorePointer, 5, true, ev_pointer, ev_field, ev_field},
    {"=", "STOREP_FNC", kStorePointer, 5, true, ev_pointer, ev_function, ev_function},
    {"<RETURN>", "RETURN", kReturn, -1, false, ev_void, ev_void, ev_void},
    {"!", "NOT_F", kNot, -1, false, ev_float, ev_void, ev_float},
    {"!", "NOT_V", kNot, -1, false, ev_vector, ev_void, ev_float},
    {"!", "NOT_S", kNot, -1, false, ev_vector, ev_void, ev_float},
    {"!", "NOT_ENT", kNot, -1, false, ev_entity, ev_void, ev_float},
    {"!", "NOT_FNC", kNot, -1, false, ev_function, ev_void, ev_float},
    {"<IF>", "IF", kIf, -1, false, ev_float, ev_void, ev_void},
    {"<IFNOT>", "IFNOT", kIfNot, -1, false, ev_float, ev_void, ev_void},
    {"<CALL0>", "CALL0", kCall, -1, false, ev_function, ev_void, ev_void},
    {"<CALL1>", "CALL1", kCall, -1, false, ev_function, ev_void, ev_void},
    {"<CALL2>", "CALL2", kCall, -1, false, ev_function, ev_void, ev_void},
    {"<CALL3>", "CALL3", kCall, -1, false, ev_function, ev_void, ev_void},
    {"<CALL4>", "CALL4", kCall, -1, false, ev_function, ev_void, ev_void},
    {"<CALL5>", "CALL5", kCall, -1, false, ev_function, ev_void, ev_void},
    {"<CALL6>", "CALL6", kCall, -1, false, ev_function, ev_void, ev_void},
    {"<CALL7>", "CALL7", kCall, -1, false, ev_function, ev_void, ev_void},
    {"<CALL8>", "CALL8", kCall, -1, false, ev_function, ev_void, ev_void},
    {"<STATE>", "STATE", kState, -1, false, ev_float, ev_float, ev_void},
    {"<GOTO>", "GOTO", kGoto, -1, false, ev_void, ev_void, ev_void},
    {"&&", "AND", kBinary, 6, false, ev_float, ev_float, ev_float},
    {"||", "OR", kBinary, 6, false, ev_float, ev_float, ev_float},
    {"&", "BITAND", kBinary, 2, false, ev_float, ev_float, ev_float},
    {"|", "BITOR", kBinary, 2, false, ev_float, ev_float, ev_float},
};
static_assert(std::size(OpcodeTable) == OPCODE_COUNT);

constexpr int OFS_RETURN = 1;
constexpr int OFS_PARM0 = 4;  // argument k is at OFS_PARM0 + 3 * k
constexpr int RESERVED_OFS = 28;

// Global cells taken by a value of the tag.
constexpr int type_size(int tag) { return tag == ev_vector ? 3 : 1; }

}  // namespace image
