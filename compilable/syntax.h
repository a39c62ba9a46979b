// The source tree of one function, as the later steps build, type and print it.
#pragma once

#include <cassert>
#include <cstdint>
#include <vector>

namespace compilable {

// A value's type: an image type tag, with the value type of a field, and for functions the
// function record whose signature it has (-1 when unknown).
struct Type {
  int8_t tag;        // ev_void .. ev_pointer, or kUnknownTag
  int8_t field_tag;  // for ev_field and ev_pointer: the type of the field's value
  int32_t signature;
};
constexpr int8_t kUnknownTag = -1;
constexpr Type kUnknownType{kUnknownTag, kUnknownTag, -1};
inline bool same_type(const Type& x, const Type& y) {
  return x.tag == y.tag && x.field_tag == y.field_tag;
}

enum class ExprKind : uint8_t {
  kGlobal,    // a global variable or named constant: cell, component
  kConstant,  // a value written as a literal: cell (its value is read as `type` says)
  kVariable,  // one of the function's variables: variable, component
  kField,     // a field named by the global cell that holds its offset: cell
  kFunction,  // a function's name: function record index in `ref`
  kBinary,    // op; operands 0, 1
  kNot,       // op; operand 0
  kLoad,      // op; entity operand 0, field operand 1
  kCall,      // op; callee operand 0, arguments from operand 1
  kAssign,    // op (the store); target operand 0, value operand 1; its value is the value
  kLiteral,   // a whole number written as itself: the number in `ref`
  // Extended instructions:
  kConvert,    // op; operand 0 as the op's result type
  kElement,    // op; the element of the array at global cell `ref` at index operand 0
  kDeref,      // op; what pointer operand 0 points at, at word index operand 1 when present
  kIntrinsic,  // op; an instruction written as a built-in call: operands as arguments
};

struct Expr {
  ExprKind kind;
  int8_t component;       // kGlobal, kVariable: -1 the whole value, else the vector component read
  uint32_t op;            // the instruction's opcode where one made the node
  int32_t ref;            // cell, variable or function index
  int32_t position;       // the instruction that made the node, -1 for leaves
  int32_t first_operand;  // operands: FunctionCode::operands[first_operand .. + operand_count)
  int32_t operand_count;
  Type type;  // filled in by the typing step
};

enum class StmtKind : uint8_t {
  kExpr,    // expr: a call, an assignment, or a value computed for nothing
  kReturn,  // expr, or -1 for a bare return; extra 1: the function's own end (DONE)
  kState,   // frame expr, think function in `extra`
  kLocal,   // a local declaration placed here: variable in `extra`
};

struct Stmt {
  StmtKind kind;
  int32_t expr;
  int32_t extra;
  int32_t position;  // the instruction that made it
};

// What one block of the flow graph turned into: its statements in order, and the condition
// of its final IF or IFNOT.
struct BlockCode {
  std::vector<int32_t> statements;
  int32_t condition;    // expression, or -1 when the block does not branch
  bool jump_when_true;  // IF (true) or IFNOT (false)
  // The type the test reads the condition as (IF_F, IF_S and their negations), or
  // kUnknownTag when it tests the raw word.
  int8_t condition_tag = -1;
  // A block that ends in a SWITCH: the value it switches on, else -1.
  int32_t switch_value = -1;
};

enum class VariableKind : uint8_t {
  kParameter,  // the function's parameter at `cell`
  kNamed,      // a local the program names, at `cell`
  kValue,      // a value kept in a variable because it is used more than once or elsewhere
};

struct Variable {
  VariableKind kind;
  int32_t cell;  // its first cell in the program
  int8_t size;   // cells
  int32_t def;   // the global definition that names it, or -1
  Type type;
};

struct FunctionCode {
  int32_t function;
  std::vector<Expr> exprs;
  std::vector<int32_t> operands;  // expression indices, in runs
  std::vector<Stmt> stmts;
  std::vector<BlockCode> blocks;  // by flow-graph block
  std::vector<Variable> variables;
  int32_t frame_header;  // the STATE statement that opens the body, or -1
  bool state_loop;       // written as a loop over a state variable
};

// The deepest expression the source is written with: the steps that walk an expression
// recurse once per level, so a value nested deeper is kept in a variable instead. Real
// programs stay far below it.
constexpr int32_t kDeepestExpression = 1000;

// The levels of an expression (a leaf is 1). `depths` remembers those of the expressions
// before it and grows with the list: operands always come before what uses them.
inline int32_t expression_depth(const FunctionCode& code, std::vector<int32_t>& depths,
                                int32_t expr) {
  for (size_t e = depths.size(); e <= static_cast<size_t>(expr); ++e) {
    const Expr& made = code.exprs[e];
    int32_t deepest = 0;
    for (int k = 0; k < made.operand_count; ++k) {
      const int32_t operand = code.operands[made.first_operand + k];
      assert(static_cast<size_t>(operand) < e);
      deepest = depths[operand] > deepest ? depths[operand] : deepest;
    }
    depths.push_back(deepest + 1);
  }
  return depths[expr];
}

}  // namespace compilable
