// What each instruction does with the global cells: which operands it reads and writes.
// Covers the classic set (0-65) and the extended ones of FTE's and Hexen II's programs.
#include "compilable/instructions.h"

#include <iterator>
#include <vector>

namespace compilable {

namespace {

using image::ev_entity;
using image::ev_field;
using image::ev_float;
using image::ev_function;
using image::ev_pointer;
using image::ev_string;
using image::ev_vector;
using image::ev_void;
constexpr int8_t V = ev_void, S = ev_string, F = ev_float, W = ev_vector, E = ev_entity,
                 D = ev_field, X = ev_function, P = ev_pointer, I = kIntegerTag, U = kUnsignedTag,
                 L = kInt64Tag, UL = kUint64Tag, DB = kDoubleTag;
constexpr Role n = Role::kNone, r = Role::kRead, w = Role::kWrite, rw = Role::kReadWrite,
               j = Role::kJump, k = Role::kNumber;

struct ExtendedRow {
  uint32_t op;
  InstructionRow row;
};

// The extended instructions, from 66 on; the numbers no interpreter runs are left out.
constexpr ExtendedRow ExtendedTable[] = {
    {66, {"MULSTORE_F", Action::kCompound, "*=", -1, {F, F, V}, {r, rw, n}}},
    {67, {"MULSTORE_VF", Action::kCompound, "*=", -1, {F, W, V}, {r, rw, n}}},
    {68, {"MULSTOREP_F", Action::kCompoundPointer, "*=", -1, {F, P, F}, {r, r, w}}},
    {69, {"MULSTOREP_VF", Action::kCompoundPointer, "*=", -1, {F, P, W}, {r, r, w}}},
    {70, {"DIVSTORE_F", Action::kCompound, "/=", -1, {F, F, V}, {r, rw, n}}},
    {71, {"DIVSTOREP_F", Action::kCompoundPointer, "/=", -1, {F, P, F}, {r, r, w}}},
    {72, {"ADDSTORE_F", Action::kCompound, "+=", -1, {F, F, V}, {r, rw, n}}},
    {73, {"ADDSTORE_V", Action::kCompound, "+=", -1, {W, W, V}, {r, rw, n}}},
    {74, {"ADDSTOREP_F", Action::kCompoundPointer, "+=", -1, {F, P, F}, {r, r, w}}},
    {75, {"ADDSTOREP_V", Action::kCompoundPointer, "+=", -1, {W, P, W}, {r, r, w}}},
    {76, {"SUBSTORE_F", Action::kCompound, "-=", -1, {F, F, V}, {r, rw, n}}},
    {77, {"SUBSTORE_V", Action::kCompound, "-=", -1, {W, W, V}, {r, rw, n}}},
    {78, {"SUBSTOREP_F", Action::kCompoundPointer, "-=", -1, {F, P, F}, {r, r, w}}},
    {79, {"SUBSTOREP_V", Action::kCompoundPointer, "-=", -1, {W, P, W}, {r, r, w}}},
    {80, {"FETCH_GBL_F", Action::kFetchGlobal, "", -1, {V, F, F}, {k, r, w}}},
    {81, {"FETCH_GBL_V", Action::kFetchGlobal, "", -1, {V, F, W}, {k, r, w}}},
    {82, {"FETCH_GBL_S", Action::kFetchGlobal, "", -1, {V, F, S}, {k, r, w}}},
    {83, {"FETCH_GBL_E", Action::kFetchGlobal, "", -1, {V, F, E}, {k, r, w}}},
    {84, {"FETCH_GBL_FNC", Action::kFetchGlobal, "", -1, {V, F, X}, {k, r, w}}},
    {85, {"CSTATE", Action::kCycleState, "", -1, {F, F, V}, {r, r, n}}},
    {86, {"CWSTATE", Action::kCycleState, "", -1, {F, F, V}, {r, r, n}}},
    {87, {"THINKTIME", Action::kThinkTime, "", -1, {E, F, V}, {r, r, n}}},
    {88, {"BITSETSTORE_F", Action::kCompound, "|=", -1, {F, F, V}, {r, rw, n}}},
    {89, {"BITSETSTOREP_F", Action::kCompoundPointer, "|=", -1, {F, P, V}, {r, r, n}}},
    {90, {"BITCLRSTORE_F", Action::kCompound, "(-)", -1, {F, F, V}, {r, rw, n}}},
    {91, {"BITCLRSTOREP_F", Action::kCompoundPointer, "(-)", -1, {F, P, V}, {r, r, n}}},
    {92, {"RAND0", Action::kRandom, "", -1, {V, V, F}, {n, n, w}}},
    {93, {"RAND1", Action::kRandom, "", -1, {F, V, F}, {r, n, w}}},
    {94, {"RAND2", Action::kRandom, "", -1, {F, F, F}, {r, r, w}}},
    {95, {"RANDV0", Action::kRandom, "", -1, {V, V, W}, {n, n, w}}},
    {96, {"RANDV1", Action::kRandom, "", -1, {W, V, W}, {r, n, w}}},
    {97, {"RANDV2", Action::kRandom, "", -1, {W, W, W}, {r, r, w}}},
    {98, {"SWITCH_F", Action::kSwitch, "", -1, {F, V, V}, {r, j, n}}},
    {99, {"SWITCH_V", Action::kSwitch, "", -1, {W, V, V}, {r, j, n}}},
    {100, {"SWITCH_S", Action::kSwitch, "", -1, {S, V, V}, {r, j, n}}},
    {101, {"SWITCH_E", Action::kSwitch, "", -1, {E, V, V}, {r, j, n}}},
    {102, {"SWITCH_FNC", Action::kSwitch, "", -1, {X, V, V}, {r, j, n}}},
    {103, {"CASE", Action::kCase, "", -1, {V, V, V}, {r, j, n}}},
    {104, {"CASERANGE", Action::kCaseRange, "", -1, {V, V, V}, {r, r, j}}},
    {105, {"CALL1H", Action::kCall, "", -1, {X, V, V}, {r, r, n}}},
    {106, {"CALL2H", Action::kCall, "", -1, {X, V, V}, {r, r, r}}},
    {107, {"CALL3H", Action::kCall, "", -1, {X, V, V}, {r, r, r}}},
    {108, {"CALL4H", Action::kCall, "", -1, {X, V, V}, {r, r, r}}},
    {109, {"CALL5H", Action::kCall, "", -1, {X, V, V}, {r, r, r}}},
    {110, {"CALL6H", Action::kCall, "", -1, {X, V, V}, {r, r, r}}},
    {111, {"CALL7H", Action::kCall, "", -1, {X, V, V}, {r, r, r}}},
    {112, {"CALL8H", Action::kCall, "", -1, {X, V, V}, {r, r, r}}},
    {113, {"STORE_I", Action::kStore, "", -1, {I, I, V}, {r, w, n}}},
    {114, {"STORE_IF", Action::kStore, "", -1, {I, F, V}, {r, w, n}}},
    {115, {"STORE_FI", Action::kStore, "", -1, {F, I, V}, {r, w, n}}},
    {116, {"ADD_I", Action::kBinary, "+", 3, {I, I, I}, {r, r, w}}},
    {117, {"ADD_FI", Action::kBinary, "+", 3, {F, I, F}, {r, r, w}}},
    {118, {"ADD_IF", Action::kBinary, "+", 3, {I, F, F}, {r, r, w}}},
    {119, {"SUB_I", Action::kBinary, "-", 3, {I, I, I}, {r, r, w}}},
    {120, {"SUB_FI", Action::kBinary, "-", 3, {F, I, F}, {r, r, w}}},
    {121, {"SUB_IF", Action::kBinary, "-", 3, {I, F, F}, {r, r, w}}},
    {122, {"CONV_ITOF", Action::kConvert, "", -1, {I, V, F}, {r, n, w}}},
    {123, {"CONV_FTOI", Action::kConvert, "", -1, {F, V, I}, {r, n, w}}},
    {124, {"LOADP_ITOF", Action::kLoadPointer, "", -1, {P, V, F}, {r, n, w}}},
    {125, {"LOADP_FTOI", Action::kLoadPointer, "", -1, {P, V, I}, {r, n, w}}},
    {126, {"LOAD_I", Action::kLoad, "", -1, {E, D, I}, {r, r, w}}},
    {127, {"STOREP_I", Action::kStorePointer, "", -1, {I, P, I}, {r, r, r}}},
    {128, {"STOREP_IF", Action::kStorePointer, "", -1, {I, P, I}, {r, r, r}}},
    {129, {"STOREP_FI", Action::kStorePointer, "", -1, {F, P, I}, {r, r, r}}},
    {130, {"BITAND_I", Action::kBinary, "&", 2, {I, I, I}, {r, r, w}}},
    {131, {"BITOR_I", Action::kBinary, "|", 2, {I, I, I}, {r, r, w}}},
    {132, {"MUL_I", Action::kBinary, "*", 2, {I, I, I}, {r, r, w}}},
    {133, {"DIV_I", Action::kBinary, "/", 2, {I, I, I}, {r, r, w}}},
    {134, {"EQ_I", Action::kBinary, "==", 4, {I, I, I}, {r, r, w}}},
    {135, {"NE_I", Action::kBinary, "!=", 4, {I, I, I}, {r, r, w}}},
    {136, {"IFNOT_S", Action::kIfNot, "", -1, {S, V, V}, {r, j, n}}},
    {137, {"IF_S", Action::kIf, "", -1, {S, V, V}, {r, j, n}}},
    {138, {"NOT_I", Action::kNot, "", -1, {I, V, I}, {r, n, w}}},
    {139, {"DIV_VF", Action::kBinary, "/", 2, {W, F, W}, {r, r, w}}},
    {140, {"BITXOR_I", Action::kBinary, "^", 2, {I, I, I}, {r, r, w}}},
    {141, {"RSHIFT_I", Action::kBinary, ">>", 2, {I, I, I}, {r, r, w}}},
    {142, {"LSHIFT_I", Action::kBinary, "<<", 2, {I, I, I}, {r, r, w}}},
    {143, {"GLOBALADDRESS", Action::kGlobalAddress, "", -1, {V, I, P}, {k, r, w}}},
    {144, {"ADD_PIW", Action::kBinary, "+", 3, {P, I, P}, {r, r, w}}},
    {145, {"LOADA_F", Action::kLoadArray, "", -1, {V, I, F}, {k, r, w}}},
    {146, {"LOADA_V", Action::kLoadArray, "", -1, {V, I, W}, {k, r, w}}},
    {147, {"LOADA_S", Action::kLoadArray, "", -1, {V, I, S}, {k, r, w}}},
    {148, {"LOADA_ENT", Action::kLoadArray, "", -1, {V, I, E}, {k, r, w}}},
    {149, {"LOADA_FLD", Action::kLoadArray, "", -1, {V, I, D}, {k, r, w}}},
    {150, {"LOADA_FNC", Action::kLoadArray, "", -1, {V, I, X}, {k, r, w}}},
    {151, {"LOADA_I", Action::kLoadArray, "", -1, {V, I, I}, {k, r, w}}},
    {152, {"STORE_P", Action::kStore, "", -1, {P, P, V}, {r, w, n}}},
    {153, {"LOAD_P", Action::kLoad, "", -1, {E, D, P}, {r, r, w}}},
    {154, {"LOADP_F", Action::kLoadPointer, "", -1, {P, I, F}, {r, r, w}}},
    {155, {"LOADP_V", Action::kLoadPointer, "", -1, {P, I, W}, {r, r, w}}},
    {156, {"LOADP_S", Action::kLoadPointer, "", -1, {P, I, S}, {r, r, w}}},
    {157, {"LOADP_ENT", Action::kLoadPointer, "", -1, {P, I, E}, {r, r, w}}},
    {158, {"LOADP_FLD", Action::kLoadPointer, "", -1, {P, I, D}, {r, r, w}}},
    {159, {"LOADP_FNC", Action::kLoadPointer, "", -1, {P, I, X}, {r, r, w}}},
    {160, {"LOADP_I", Action::kLoadPointer, "", -1, {P, I, I}, {r, r, w}}},
    {161, {"LE_I", Action::kBinary, "<=", 4, {I, I, I}, {r, r, w}}},
    {162, {"GE_I", Action::kBinary, ">=", 4, {I, I, I}, {r, r, w}}},
    {163, {"LT_I", Action::kBinary, "<", 4, {I, I, I}, {r, r, w}}},
    {164, {"GT_I", Action::kBinary, ">", 4, {I, I, I}, {r, r, w}}},
    {165, {"LE_IF", Action::kBinary, "<=", 4, {I, F, I}, {r, r, w}}},
    {166, {"GE_IF", Action::kBinary, ">=", 4, {I, F, I}, {r, r, w}}},
    {167, {"LT_IF", Action::kBinary, "<", 4, {I, F, I}, {r, r, w}}},
    {168, {"GT_IF", Action::kBinary, ">", 4, {I, F, I}, {r, r, w}}},
    {169, {"LE_FI", Action::kBinary, "<=", 4, {F, I, I}, {r, r, w}}},
    {170, {"GE_FI", Action::kBinary, ">=", 4, {F, I, I}, {r, r, w}}},
    {171, {"LT_FI", Action::kBinary, "<", 4, {F, I, I}, {r, r, w}}},
    {172, {"GT_FI", Action::kBinary, ">", 4, {F, I, I}, {r, r, w}}},
    {173, {"EQ_IF", Action::kBinary, "==", 4, {I, F, I}, {r, r, w}}},
    {174, {"EQ_FI", Action::kBinary, "==", 4, {F, I, I}, {r, r, w}}},
    {175, {"ADD_SF", Action::kBinary, "+", 3, {S, F, S}, {r, r, w}}},
    {176, {"SUB_S", Action::kBinary, "-", 3, {S, S, I}, {r, r, w}}},
    {177, {"STOREP_C", Action::kStorePointer, "", -1, {F, P, I}, {r, r, r}}},
    {178, {"LOADP_C", Action::kLoadPointer, "", -1, {P, F, F}, {r, r, w}}},
    {179, {"MUL_IF", Action::kBinary, "*", 2, {I, F, F}, {r, r, w}}},
    {180, {"MUL_FI", Action::kBinary, "*", 2, {F, I, F}, {r, r, w}}},
    {181, {"MUL_VI", Action::kBinary, "*", 2, {W, I, W}, {r, r, w}}},
    {182, {"MUL_IV", Action::kBinary, "*", 2, {I, W, W}, {r, r, w}}},
    {183, {"DIV_IF", Action::kBinary, "/", 2, {I, F, F}, {r, r, w}}},
    {184, {"DIV_FI", Action::kBinary, "/", 2, {F, I, F}, {r, r, w}}},
    {185, {"BITAND_IF", Action::kBinary, "&", 2, {I, F, I}, {r, r, w}}},
    {186, {"BITOR_IF", Action::kBinary, "|", 2, {I, F, I}, {r, r, w}}},
    {187, {"BITAND_FI", Action::kBinary, "&", 2, {F, I, I}, {r, r, w}}},
    {188, {"BITOR_FI", Action::kBinary, "|", 2, {F, I, I}, {r, r, w}}},
    {189, {"AND_I", Action::kBinary, "&&", 6, {I, I, I}, {r, r, w}}},
    {190, {"OR_I", Action::kBinary, "||", 6, {I, I, I}, {r, r, w}}},
    {191, {"AND_IF", Action::kBinary, "&&", 6, {I, F, I}, {r, r, w}}},
    {192, {"OR_IF", Action::kBinary, "||", 6, {I, F, I}, {r, r, w}}},
    {193, {"AND_FI", Action::kBinary, "&&", 6, {F, I, I}, {r, r, w}}},
    {194, {"OR_FI", Action::kBinary, "||", 6, {F, I, I}, {r, r, w}}},
    {195, {"NE_IF", Action::kBinary, "!=", 4, {I, F, I}, {r, r, w}}},
    {196, {"NE_FI", Action::kBinary, "!=", 4, {F, I, I}, {r, r, w}}},
    {197, {"GSTOREP_I", Action::kGlobalStore, "", -1, {I, I, V}, {r, r, n}}},
    {198, {"GSTOREP_F", Action::kGlobalStore, "", -1, {F, I, V}, {r, r, n}}},
    {199, {"GSTOREP_ENT", Action::kGlobalStore, "", -1, {E, I, V}, {r, r, n}}},
    {200, {"GSTOREP_FLD", Action::kGlobalStore, "", -1, {D, I, V}, {r, r, n}}},
    {201, {"GSTOREP_S", Action::kGlobalStore, "", -1, {S, I, V}, {r, r, n}}},
    {202, {"GSTOREP_FNC", Action::kGlobalStore, "", -1, {X, I, V}, {r, r, n}}},
    {203, {"GSTOREP_V", Action::kGlobalStore, "", -1, {W, I, V}, {r, r, n}}},
    {205, {"GLOAD_I", Action::kGlobalLoad, "", -1, {I, V, I}, {r, n, w}}},
    {206, {"GLOAD_F", Action::kGlobalLoad, "", -1, {I, V, F}, {r, n, w}}},
    {207, {"GLOAD_FLD", Action::kGlobalLoad, "", -1, {I, V, D}, {r, n, w}}},
    {208, {"GLOAD_ENT", Action::kGlobalLoad, "", -1, {I, V, E}, {r, n, w}}},
    {209, {"GLOAD_S", Action::kGlobalLoad, "", -1, {I, V, S}, {r, n, w}}},
    {210, {"GLOAD_FNC", Action::kGlobalLoad, "", -1, {I, V, X}, {r, n, w}}},
    // The index a BOUNDCHECK tests is not a use of its own: the access after it reads it.
    {211, {"BOUNDCHECK", Action::kBoundCheck, "", -1, {I, V, V}, {n, k, k}}},
    {213, {"PUSH", Action::kPush, "", -1, {I, V, P}, {r, n, w}}},
    {215, {"SWITCH_I", Action::kSwitch, "", -1, {I, V, V}, {r, j, n}}},
    {216, {"GLOAD_V", Action::kGlobalLoad, "", -1, {I, V, W}, {r, n, w}}},
    {217, {"IF_F", Action::kIf, "", -1, {F, V, V}, {r, j, n}}},
    {218, {"IFNOT_F", Action::kIfNot, "", -1, {F, V, V}, {r, j, n}}},
    {219, {"STOREF_V", Action::kStoreField, "", -1, {E, D, W}, {r, r, r}}},
    {220, {"STOREF_F", Action::kStoreField, "", -1, {E, D, F}, {r, r, r}}},
    {221, {"STOREF_S", Action::kStoreField, "", -1, {E, D, S}, {r, r, r}}},
    {222, {"STOREF_I", Action::kStoreField, "", -1, {E, D, I}, {r, r, r}}},
    {223, {"STOREP_I8", Action::kStorePointer, "", -1, {I, P, I}, {r, r, r}}},
    {224, {"LOADP_U8", Action::kLoadPointer, "", -1, {P, I, I}, {r, r, w}}},
    {225, {"LE_U", Action::kBinary, "<=", 4, {U, U, I}, {r, r, w}}},
    {226, {"LT_U", Action::kBinary, "<", 4, {U, U, I}, {r, r, w}}},
    {227, {"DIV_U", Action::kBinary, "/", 2, {U, U, U}, {r, r, w}}},
    {228, {"RSHIFT_U", Action::kBinary, ">>", 2, {U, U, U}, {r, r, w}}},
    {229, {"ADD_I64", Action::kBinary, "+", 3, {L, L, L}, {r, r, w}}},
    {230, {"SUB_I64", Action::kBinary, "-", 3, {L, L, L}, {r, r, w}}},
    {231, {"MUL_I64", Action::kBinary, "*", 2, {L, L, L}, {r, r, w}}},
    {232, {"DIV_I64", Action::kBinary, "/", 2, {L, L, L}, {r, r, w}}},
    {233, {"BITAND_I64", Action::kBinary, "&", 2, {L, L, L}, {r, r, w}}},
    {234, {"BITOR_I64", Action::kBinary, "|", 2, {L, L, L}, {r, r, w}}},
    {235, {"BITXOR_I64", Action::kBinary, "^", 2, {L, L, L}, {r, r, w}}},
    {236, {"LSHIFT_I64I", Action::kBinary, "<<", 2, {L, I, L}, {r, r, w}}},
    {237, {"RSHIFT_I64I", Action::kBinary, ">>", 2, {L, I, L}, {r, r, w}}},
    {238, {"LE_I64", Action::kBinary, "<=", 4, {L, L, I}, {r, r, w}}},
    {239, {"LT_I64", Action::kBinary, "<", 4, {L, L, I}, {r, r, w}}},
    {240, {"EQ_I64", Action::kBinary, "==", 4, {L, L, I}, {r, r, w}}},
    {241, {"NE_I64", Action::kBinary, "!=", 4, {L, L, I}, {r, r, w}}},
    {242, {"LE_U64", Action::kBinary, "<=", 4, {UL, UL, I}, {r, r, w}}},
    {243, {"LT_U64", Action::kBinary, "<", 4, {UL, UL, I}, {r, r, w}}},
    {244, {"DIV_U64", Action::kBinary, "/", 2, {UL, UL, UL}, {r, r, w}}},
    {245, {"RSHIFT_U64I", Action::kBinary, ">>", 2, {UL, I, UL}, {r, r, w}}},
    {246, {"STORE_I64", Action::kStore, "", -1, {L, L, V}, {r, w, n}}},
    {247, {"STOREP_I64", Action::kStorePointer, "", -1, {L, P, I}, {r, r, r}}},
    {248, {"STOREF_I64", Action::kStoreField, "", -1, {E, D, L}, {r, r, r}}},
    {249, {"LOAD_I64", Action::kLoad, "", -1, {E, D, L}, {r, r, w}}},
    {250, {"LOADA_I64", Action::kLoadArray, "", -1, {V, I, L}, {k, r, w}}},
    {251, {"LOADP_I64", Action::kLoadPointer, "", -1, {P, I, L}, {r, r, w}}},
    {252, {"CONV_UI64", Action::kConvert, "", -1, {U, V, L}, {r, n, w}}},
    {253, {"CONV_II64", Action::kConvert, "", -1, {I, V, L}, {r, n, w}}},
    {254, {"CONV_I64I", Action::kConvert, "", -1, {L, V, I}, {r, n, w}}},
    {255, {"CONV_FD", Action::kConvert, "", -1, {F, V, DB}, {r, n, w}}},
    {256, {"CONV_DF", Action::kConvert, "", -1, {DB, V, F}, {r, n, w}}},
    {257, {"CONV_I64F", Action::kConvert, "", -1, {L, V, F}, {r, n, w}}},
    {258, {"CONV_FI64", Action::kConvert, "", -1, {F, V, L}, {r, n, w}}},
    {259, {"CONV_I64D", Action::kConvert, "", -1, {L, V, DB}, {r, n, w}}},
    {260, {"CONV_DI64", Action::kConvert, "", -1, {DB, V, L}, {r, n, w}}},
    {261, {"ADD_D", Action::kBinary, "+", 3, {DB, DB, DB}, {r, r, w}}},
    {262, {"SUB_D", Action::kBinary, "-", 3, {DB, DB, DB}, {r, r, w}}},
    {263, {"MUL_D", Action::kBinary, "*", 2, {DB, DB, DB}, {r, r, w}}},
    {264, {"DIV_D", Action::kBinary, "/", 2, {DB, DB, DB}, {r, r, w}}},
    {265, {"LE_D", Action::kBinary, "<=", 4, {DB, DB, I}, {r, r, w}}},
    {266, {"LT_D", Action::kBinary, "<", 4, {DB, DB, I}, {r, r, w}}},
    {267, {"EQ_D", Action::kBinary, "==", 4, {DB, DB, I}, {r, r, w}}},
    {268, {"NE_D", Action::kBinary, "!=", 4, {DB, DB, I}, {r, r, w}}},
    {269, {"STOREP_I16", Action::kStorePointer, "", -1, {I, P, I}, {r, r, r}}},
    {270, {"LOADP_I16", Action::kLoadPointer, "", -1, {P, I, I}, {r, r, w}}},
    {271, {"LOADP_U16", Action::kLoadPointer, "", -1, {P, I, I}, {r, r, w}}},
    {272, {"LOADP_I8", Action::kLoadPointer, "", -1, {P, I, I}, {r, r, w}}},
    {273, {"BITEXTEND_I", Action::kBitField, "", -1, {I, I, I}, {r, r, w}}},
    {274, {"BITEXTEND_U", Action::kBitField, "", -1, {I, I, I}, {r, r, w}}},
    {275, {"BITCOPY_I", Action::kBitField, "", -1, {I, I, I}, {r, r, rw}}},
    {276, {"CONV_UF", Action::kConvert, "", -1, {U, V, F}, {r, n, w}}},
    {277, {"CONV_FU", Action::kConvert, "", -1, {F, V, U}, {r, n, w}}},
    {278, {"CONV_U64D", Action::kConvert, "", -1, {UL, V, DB}, {r, n, w}}},
    {279, {"CONV_DU64", Action::kConvert, "", -1, {DB, V, UL}, {r, n, w}}},
    {280, {"CONV_U64F", Action::kConvert, "", -1, {UL, V, F}, {r, n, w}}},
    {281, {"CONV_FU64", Action::kConvert, "", -1, {F, V, UL}, {r, n, w}}},
};
constexpr uint32_t kOpcodeLimit = 282;

Action classic_action(uint32_t op) {
  using namespace image;
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

std::vector<InstructionRow> make_rows() {
  std::vector<InstructionRow> rows(
      kOpcodeLimit + 1, InstructionRow{"", Action::kUnknown, "", -1, {V, V, V}, {n, n, n}});
  for (uint32_t op = 0; op < image::OPCODE_COUNT; ++op) {
    const image::OpcodeRow& classic = image::OpcodeTable[op];
    InstructionRow& row = rows[op];
    row.name = classic.name;
    row.action = classic_action(op);
    row.symbol = classic.symbol;
    row.priority = static_cast<int8_t>(classic.priority);
    row.tag[0] = static_cast<int8_t>(classic.type_a);
    row.tag[1] = static_cast<int8_t>(classic.type_b);
    row.tag[2] = static_cast<int8_t>(classic.type_c);
  }
  for (const ExtendedRow& extended : ExtendedTable) {
    rows[extended.op] = extended.row;
  }
  return rows;
}

}  // namespace

const InstructionRow& instruction_row(uint32_t op) {
  static const std::vector<InstructionRow> rows = make_rows();
  return rows[op < kOpcodeLimit ? op : kOpcodeLimit];
}

int arguments_in_operands(const image::Statement& statement, bool hexen2_calls) {
  const uint32_t op = statement.op;
  const bool carried = op >= 105 ? op <= 112 : hexen2_calls && op > image::OP_CALL0;
  if (!carried || action_of(op) != Action::kCall) {
    return 0;
  }
  return call_arguments(op) >= 2 ? 2 : 1;
}

int64_t jump_target(const image::Statement& statement, int64_t position) {
  switch (action_of(statement.op)) {
    case Action::kGoto:
      return position + statement.a;
    case Action::kCaseRange:
      return position + statement.c;
    default:
      return position + statement.b;
  }
}

StaticAccess static_access(const image::Statement& statement, bool hexen2_calls) {
  StaticAccess access{};
  auto read = [&access](int32_t offset, int size) {
    access.reads[access.read_count++] = CellRange{offset, static_cast<int8_t>(size)};
  };
  const InstructionRow& row = instruction_row(statement.op);
  const int32_t operand[3] = {statement.a, statement.b, statement.c};
  const Action action = row.action;
  if (statement.op >= image::OPCODE_COUNT && action != Action::kCall && action != Action::kRandom) {
    // The extended instructions read and write as their rows say.
    for (int x = 0; x < 3; ++x) {
      if (row.role[x] == Role::kRead || row.role[x] == Role::kReadWrite) {
        read(operand[x], value_cells(row.tag[x]));
      }
    }
    for (int x = 0; x < 3; ++x) {
      if (row.role[x] == Role::kWrite || row.role[x] == Role::kReadWrite) {
        access.write = CellRange{operand[x], static_cast<int8_t>(value_cells(row.tag[x]))};
      }
    }
    return access;
  }
  switch (action) {
    case Action::kBinary:
      read(statement.a, cells_of(row.tag[0]));
      read(statement.b, cells_of(row.tag[1]));
      access.write = CellRange{statement.c, static_cast<int8_t>(cells_of(row.tag[2]))};
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
      access.write = CellRange{statement.c, static_cast<int8_t>(cells_of(row.tag[2]))};
      break;
    case Action::kStore:
      read(statement.a, cells_of(row.tag[0]));
      access.write = CellRange{statement.b, static_cast<int8_t>(cells_of(row.tag[1]))};
      break;
    case Action::kStorePointer:
      read(statement.a, cells_of(row.tag[1]));
      read(statement.b, 1);
      if (statement.c != 0) {
        read(statement.c, 1);  // FTE's word index into what b points at
      }
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
    case Action::kCall: {
      read(statement.a, 1);
      const int carried = arguments_in_operands(statement, hexen2_calls);
      if (carried >= 1) {
        read(statement.b, 1);
      }
      if (carried >= 2) {
        read(statement.c, 1);
      }
      for (int x = carried; x < call_arguments(statement.op); ++x) {
        read(parameter_cell(x), 1);
      }
      access.write = CellRange{image::OFS_RETURN, 3};
      break;
    }
    case Action::kRandom:
      for (int x = 0; x < 2; ++x) {
        if (row.role[x] == Role::kRead) {
          read(operand[x], value_cells(row.tag[x]));
        }
      }
      // Hexen II's randoms leave their result in the return cells.
      access.write = CellRange{statement.c != 0 ? statement.c : image::OFS_RETURN,
                               static_cast<int8_t>(value_cells(row.tag[2]))};
      break;
    case Action::kState:
      read(statement.a, 1);
      read(statement.b, 1);
      break;
    default:
      break;
  }
  return access;
}

}  // namespace compilable
