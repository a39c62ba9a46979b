// The rows of the instruction table and the call interface that the engines rely on.
#include "image/opcodes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace image;

struct SymbolRange {
  int first;
  int last;
  const char* symbol;
};
constexpr SymbolRange SymbolRanges[] = {
    {0, 0, "<DONE>"},    {1, 4, "*"},          {5, 5, "/"},         {6, 7, "+"},
    {8, 9, "-"},         {10, 14, "=="},       {15, 19, "!="},      {20, 20, "<="},
    {21, 21, ">="},      {22, 22, "<"},        {23, 23, ">"},       {24, 30, "."},
    {31, 42, "="},       {43, 43, "<RETURN>"}, {44, 48, "!"},       {49, 49, "<IF>"},
    {50, 50, "<IFNOT>"}, {51, 51, "<CALL0>"},  {52, 52, "<CALL1>"}, {53, 53, "<CALL2>"},
    {54, 54, "<CALL3>"}, {55, 55, "<CALL4>"},  {56, 56, "<CALL5>"}, {57, 57, "<CALL6>"},
    {58, 58, "<CALL7>"}, {59, 59, "<CALL8>"},  {60, 60, "<STATE>"}, {61, 61, "<GOTO>"},
    {62, 62, "&&"},      {63, 63, "||"},       {64, 64, "&"},       {65, 65, "|"},
};

TEST(OpcodeTable, HasSixtySixRowsWithTheirSymbols) {
  ASSERT_EQ(66u, std::size(OpcodeTable));
  int covered = 0;
  for (const SymbolRange& range : SymbolRanges) {
    for (int row = range.first; row <= range.last; ++row) {
      SCOPED_TRACE(row);
      EXPECT_STREQ(range.symbol, OpcodeTable[row].symbol);
      ++covered;
    }
  }
  EXPECT_EQ(66, covered);
}

TEST(OpcodeTable, OnlyTheStoreRowsAreRightAssociative) {
  for (int row = 0; row < OPCODE_COUNT; ++row) {
    SCOPED_TRACE(row);
    EXPECT_EQ(row >= 31 && row <= 42, OpcodeTable[row].right_associative);
  }
}

struct TypeRow {
  int row;
  const char* name;
  TypeTag type_a;
  TypeTag type_b;
  TypeTag type_c;
};
constexpr TypeRow TypeRows[] = {
    {24, "INDIRECT", ev_entity, ev_field, ev_float},
    {25, "INDIRECT", ev_entity, ev_field, ev_vector},
    {26, "INDIRECT", ev_entity, ev_field, ev_string},
    {27, "INDIRECT", ev_entity, ev_field, ev_entity},
    {28, "INDIRECT", ev_entity, ev_field, ev_field},
    {29, "INDIRECT", ev_entity, ev_field, ev_function},
    {30, "ADDRESS", ev_entity, ev_field, ev_pointer},
    {37, "STOREP_F", ev_pointer, ev_float, ev_float},
    {38, "STOREP_V", ev_pointer, ev_vector, ev_vector},
    {39, "STOREP_S", ev_pointer, ev_string, ev_string},
    {40, "STOREP_ENT", ev_pointer, ev_entity, ev_entity},
    {41, "STOREP_FLD", ev_pointer, ev_field, ev_field},
    {42, "STOREP_FNC", ev_pointer, ev_function, ev_function},
    {46, "NOT_S", ev_vector, ev_void, ev_float},
};

TEST(OpcodeTable, OperandTypesOfFieldPointerAndNotRows) {
  for (const TypeRow& want : TypeRows) {
    SCOPED_TRACE(want.row);
    const OpcodeRow& row = OpcodeTable[want.row];
    EXPECT_STREQ(want.name, row.name);
    EXPECT_EQ(want.type_a, row.type_a);
    EXPECT_EQ(want.type_b, row.type_b);
    EXPECT_EQ(want.type_c, row.type_c);
  }
}

TEST(OpcodeTable, NamedOpcodeNumbersMatchTheirRows) {
  struct Case {
    int opcode;
    const char* name;
  };
  constexpr Case cases[] = {
      {OP_DONE, "DONE"},
      {OP_MUL_F, "MUL_F"},
      {OP_GT, "GT"},
      {OP_LOAD_F, "INDIRECT"},
      {OP_ADDRESS, "ADDRESS"},
      {OP_STORE_F, "STORE_F"},
      {OP_STORE_FNC, "STORE_FNC"},
      {OP_STOREP_F, "STOREP_F"},
      {OP_STOREP_FNC, "STOREP_FNC"},
      {OP_RETURN, "RETURN"},
      {OP_NOT_F, "NOT_F"},
      {OP_NOT_FNC, "NOT_FNC"},
      {OP_IF, "IF"},
      {OP_IFNOT, "IFNOT"},
      {OP_CALL0, "CALL0"},
      {OP_CALL8, "CALL8"},
      {OP_STATE, "STATE"},
      {OP_GOTO, "GOTO"},
      {OP_AND, "AND"},
      {OP_BITOR, "BITOR"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_STREQ(c.name, OpcodeTable[c.opcode].name);
  }
  EXPECT_EQ(24, OP_LOAD_F);  // the first of six rows named INDIRECT
}

// Every enumerator names its row: qcc's name is the row's name, except that the six
// INDIRECT rows are qcc's LOAD_* and qcc's DIV_F is the row DIV.
TEST(OpcodeTable, EveryEnumeratorNamesItsRow) {
  struct Case {
    Opcode opcode;
    const char* qcc_name;
  };
  constexpr Case cases[] = {
      {OP_DONE, "DONE"},
      {OP_MUL_F, "MUL_F"},
      {OP_MUL_V, "MUL_V"},
      {OP_MUL_FV, "MUL_FV"},
      {OP_MUL_VF, "MUL_VF"},
      {OP_DIV_F, "DIV_F"},
      {OP_ADD_F, "ADD_F"},
      {OP_ADD_V, "ADD_V"},
      {OP_SUB_F, "SUB_F"},
      {OP_SUB_V, "SUB_V"},
      {OP_EQ_F, "EQ_F"},
      {OP_EQ_V, "EQ_V"},
      {OP_EQ_S, "EQ_S"},
      {OP_EQ_E, "EQ_E"},
      {OP_EQ_FNC, "EQ_FNC"},
      {OP_NE_F, "NE_F"},
      {OP_NE_V, "NE_V"},
      {OP_NE_S, "NE_S"},
      {OP_NE_E, "NE_E"},
      {OP_NE_FNC, "NE_FNC"},
      {OP_LE, "LE"},
      {OP_GE, "GE"},
      {OP_LT, "LT"},
      {OP_GT, "GT"},
      {OP_LOAD_F, "LOAD_F"},
      {OP_LOAD_V, "LOAD_V"},
      {OP_LOAD_S, "LOAD_S"},
      {OP_LOAD_ENT, "LOAD_ENT"},
      {OP_LOAD_FLD, "LOAD_FLD"},
      {OP_LOAD_FNC, "LOAD_FNC"},
      {OP_ADDRESS, "ADDRESS"},
      {OP_STORE_F, "STORE_F"},
      {OP_STORE_V, "STORE_V"},
      {OP_STORE_S, "STORE_S"},
      {OP_STORE_ENT, "STORE_ENT"},
      {OP_STORE_FLD, "STORE_FLD"},
      {OP_STORE_FNC, "STORE_FNC"},
      {OP_STOREP_F, "STOREP_F"},
      {OP_STOREP_V, "STOREP_V"},
      {OP_STOREP_S, "STOREP_S"},
      {OP_STOREP_ENT, "STOREP_ENT"},
      {OP_STOREP_FLD, "STOREP_FLD"},
      {OP_STOREP_FNC, "STOREP_FNC"},
      {OP_RETURN, "RETURN"},
      {OP_NOT_F, "NOT_F"},
      {OP_NOT_V, "NOT_V"},
      {OP_NOT_S, "NOT_S"},
      {OP_NOT_ENT, "NOT_ENT"},
      {OP_NOT_FNC, "NOT_FNC"},
      {OP_IF, "IF"},
      {OP_IFNOT, "IFNOT"},
      {OP_CALL0, "CALL0"},
      {OP_CALL1, "CALL1"},
      {OP_CALL2, "CALL2"},
      {OP_CALL3, "CALL3"},
      {OP_CALL4, "CALL4"},
      {OP_CALL5, "CALL5"},
      {OP_CALL6, "CALL6"},
      {OP_CALL7, "CALL7"},
      {OP_CALL8, "CALL8"},
      {OP_STATE, "STATE"},
      {OP_GOTO, "GOTO"},
      {OP_AND, "AND"},
      {OP_OR, "OR"},
      {OP_BITAND, "BITAND"},
      {OP_BITOR, "BITOR"},
  };
  ASSERT_EQ(static_cast<size_t>(OPCODE_COUNT), std::size(cases));
  for (int i = 0; i < OPCODE_COUNT; ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.qcc_name);
    EXPECT_EQ(i, c.opcode);
    std::string want = c.qcc_name;
    if (want.rfind("LOAD_", 0) == 0) {
      want = "INDIRECT";
    } else if (want == "DIV_F") {
      want = "DIV";
    }
    EXPECT_EQ(want, OpcodeTable[c.opcode].name);
  }
}

TEST(OpcodeTable, KindsGroupTheRows) {
  struct KindRange {
    int first;
    int last;
    OpcodeKind kind;
  };
  constexpr KindRange ranges[] = {
      {OP_DONE, OP_DONE, kDone},
      {OP_MUL_F, OP_GT, kBinary},
      {OP_LOAD_F, OP_LOAD_FNC, kLoad},
      {OP_ADDRESS, OP_ADDRESS, kAddress},
      {OP_STORE_F, OP_STORE_FNC, kStore},
      {OP_STOREP_F, OP_STOREP_FNC, kStorePointer},
      {OP_RETURN, OP_RETURN, kReturn},
      {OP_NOT_F, OP_NOT_FNC, kNot},
      {OP_IF, OP_IF, kIf},
      {OP_IFNOT, OP_IFNOT, kIfNot},
      {OP_CALL0, OP_CALL8, kCall},
      {OP_STATE, OP_STATE, kState},
      {OP_GOTO, OP_GOTO, kGoto},
      {OP_AND, OP_BITOR, kBinary},
  };
  int covered = 0;
  for (const KindRange& range : ranges) {
    for (int row = range.first; row <= range.last; ++row) {
      SCOPED_TRACE(OpcodeTable[row].name);
      EXPECT_EQ(range.kind, OpcodeTable[row].kind);
      ++covered;
    }
  }
  EXPECT_EQ(OPCODE_COUNT, covered);
}

TEST(CallInterface, FixedOffsetsAndTypeSizes) {
  EXPECT_EQ(1, OFS_RETURN);
  EXPECT_EQ(4, OFS_PARM0);
  EXPECT_EQ(28, RESERVED_OFS);
  EXPECT_EQ(0x8000, DEF_SAVEGLOBAL);
  for (int tag = ev_void; tag <= ev_pointer; ++tag) {
    SCOPED_TRACE(tag);
    EXPECT_EQ(tag == ev_vector ? 3 : 1, type_size(tag));
  }
}

}  // namespace
