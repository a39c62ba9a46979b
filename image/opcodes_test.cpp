// The rows of the instruction and type tables that the renderers and the translator rely on.
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
      {OP_INDIRECT_F, "INDIRECT"},
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
  EXPECT_EQ(24, OP_INDIRECT_F);  // the first of six rows named INDIRECT
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

TEST(TypeNameTable, TextsByTag) {
  constexpr const char* want[] = {"void",   "string",   "float",  "vector",
                                  "entity", "ev_field", "void()", "ev_pointer"};
  ASSERT_EQ(std::size(want), std::size(TypeNameTable));
  for (int tag = 0; tag < 8; ++tag) {
    SCOPED_TRACE(tag);
    EXPECT_STREQ(want[tag], TypeNameTable[tag]);
    EXPECT_STREQ(want[tag], type_name(tag));
  }
}

TEST(TypeName, WordsWithoutAnEntryPrintAsFloat) {
  // The word is compared whole, so a DEF_SAVEGLOBAL bit makes even a string type "float".
  for (int64_t word :
       {int64_t{8}, int64_t{10}, int64_t{0x7fff}, int64_t{DEF_SAVEGLOBAL | ev_string},
        int64_t{DEF_SAVEGLOBAL | ev_void}, int64_t{0xffff}}) {
    SCOPED_TRACE(word);
    EXPECT_STREQ("float", type_name(word));
  }
}

}  // namespace
