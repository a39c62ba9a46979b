// The QuakeC instruction set and value types: constant tables read by the renderers.
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

inline constexpr const char* TypeNameTable[] = {
    "void", "string", "float", "vector", "entity", "ev_field", "void()", "ev_pointer",
};
static_assert(std::size(TypeNameTable) == 8);

// The table text of a type word; a word with no entry (above 7) prints as "float".
const char* type_name(int64_t type_word);

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
  OP_DIV = OP_DIV_F,  // old names, until the layout change lands
  OP_INDIRECT_F = OP_LOAD_F,
};

struct OpcodeRow {
  const char* symbol;
  const char* name;
  int priority;
  bool right_associative;
  TypeTag type_a;
  TypeTag type_b;
  TypeTag type_c;
};

constexpr int OPCODE_COUNT = 66;
inline constexpr OpcodeRow OpcodeTable[] = {
    {"<DONE>", "DONE", -1, false, ev_entity, ev_field, ev_void},
    {"*", "MUL_F", 2, false, ev_float, ev_float, ev_float},
    {"*", "MUL_V", 2, false, ev_vector, ev_vector, ev_float},
    {"*", "MUL_FV", 2, false, ev_float, ev_vector, ev_vector},
    {"*", "MUL_VF", 2, false, ev_vector, ev_float, ev_vector},
    {"/", "DIV", 2, false, ev_float, ev_float, ev_float},
    {"+", "ADD_F", 3, false, ev_float, ev_float, ev_float},
    {"+", "ADD_V", 3, false, ev_vector, ev_vector, ev_vector},
    {"-", "SUB_F", 3, false, ev_float, ev_float, ev_float},
    {"-", "SUB_V", 3, false, ev_vector, ev_vector, ev_vector},
    {"==", "EQ_F", 4, false, ev_float, ev_float, ev_float},
    {"==", "EQ_V", 4, false, ev_vector, ev_vector, ev_float},
    {"==", "EQ_S", 4, false, ev_string, ev_string, ev_float},
    {"==", "EQ_E", 4, false, ev_entity, ev_entity, ev_float},
    {"==", "EQ_FNC", 4, false, ev_function, ev_function, ev_float},
    {"!=", "NE_F", 4, false, ev_float, ev_float, ev_float},
    {"!=", "NE_V", 4, false, ev_vector, ev_vector, ev_float},
    {"!=", "NE_S", 4, false, ev_string, ev_string, ev_float},
    {"!=", "NE_E", 4, false, ev_entity, ev_entity, ev_float},
    {"!=", "NE_FNC", 4, false, ev_function, ev_function, ev_float},
    {"<=", "LE", 4, false, ev_float, ev_float, ev_float},
    {">=", "GE", 4, false, ev_float, ev_float, ev_float},
    {"<", "LT", 4, false, ev_float, ev_float, ev_float},
    {">", "GT", 4, false, ev_float, ev_float, ev_float},
    {".", "INDIRECT", 1, false, ev_entity, ev_field, ev_float},
    {".", "INDIRECT", 1, false, ev_entity, ev_field, ev_vector},
    {".", "INDIRECT", 1, false, ev_entity, ev_field, ev_string},
    {".", "INDIRECT", 1, false, ev_entity, ev_field, ev_entity},
    {".", "INDIRECT", 1, false, ev_entity, ev_field, ev_field},
    {".", "INDIRECT", 1, false, ev_entity, ev_field, ev_function},
    {".", "ADDRESS", 1, false, ev_entity, ev_field, ev_pointer},
    {"=", "STORE_F", 5, true, ev_float, ev_float, ev_float},
    {"=", "STORE_V", 5, true, ev_vector, ev_vector, ev_vector},
    {"=", "STORE_S", 5, true, ev_string, ev_string, ev_string},
    {"=", "STORE_ENT", 5, true, ev_entity, ev_entity, ev_entity},
    {"=", "STORE_FLD", 5, true, ev_field, ev_field, ev_field},
    {"=", "STORE_FNC", 5, true, ev_function, ev_function, ev_function},
    {"=", "STOREP_F", 5, true, ev_pointer, ev_float, ev_float},
    {"=", "STOREP_V", 5, true, ev_pointer, ev_vector, ev_vector},
    {"=", "STOREP_S", 5, true, ev_pointer, ev_string, ev_string},
    {"=", "STOREP_ENT", 5, true, ev_pointer, ev_entity, ev_entity},
    {"=", "STOREP_FLD", 5, true, ev_pointer, ev_field, ev_field},
    {"=", "STOREP_FNC", 5, true, ev_pointer, ev_function, ev_function},
    {"<RETURN>", "RETURN", -1, false, ev_void, ev_void, ev_void},
    {"!", "NOT_F", -1, false, ev_float, ev_void, ev_float},
    {"!", "NOT_V", -1, false, ev_vector, ev_void, ev_float},
    {"!", "NOT_S", -1, false, ev_vector, ev_void, ev_float},
    {"!", "NOT_ENT", -1, false, ev_entity, ev_void, ev_float},
    {"!", "NOT_FNC", -1, false, ev_function, ev_void, ev_float},
    {"<IF>", "IF", -1, false, ev_float, ev_void, ev_void},
    {"<IFNOT>", "IFNOT", -1, false, ev_float, ev_void, ev_void},
    {"<CALL0>", "CALL0", -1, false, ev_function, ev_void, ev_void},
    {"<CALL1>", "CALL1", -1, false, ev_function, ev_void, ev_void},
    {"<CALL2>", "CALL2", -1, false, ev_function, ev_void, ev_void},
    {"<CALL3>", "CALL3", -1, false, ev_function, ev_void, ev_void},
    {"<CALL4>", "CALL4", -1, false, ev_function, ev_void, ev_void},
    {"<CALL5>", "CALL5", -1, false, ev_function, ev_void, ev_void},
    {"<CALL6>", "CALL6", -1, false, ev_function, ev_void, ev_void},
    {"<CALL7>", "CALL7", -1, false, ev_function, ev_void, ev_void},
    {"<CALL8>", "CALL8", -1, false, ev_function, ev_void, ev_void},
    {"<STATE>", "STATE", -1, false, ev_float, ev_float, ev_void},
    {"<GOTO>", "GOTO", -1, false, ev_void, ev_void, ev_void},
    {"&&", "AND", 6, false, ev_float, ev_float, ev_float},
    {"||", "OR", 6, false, ev_float, ev_float, ev_float},
    {"&", "BITAND", 2, false, ev_float, ev_float, ev_float},
    {"|", "BITOR", 2, false, ev_float, ev_float, ev_float},
};
static_assert(std::size(OpcodeTable) == OPCODE_COUNT);

constexpr int OFS_RETURN = 1;
constexpr int OFS_PARM0 = 4;  // argument k is at OFS_PARM0 + 3 * k
constexpr int RESERVED_OFS = 28;

// Global cells taken by a value of the tag.
constexpr int type_size(int tag) { return tag == ev_vector ? 3 : 1; }

}  // namespace image
