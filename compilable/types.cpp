// Types of everything the source declares, from the program's definitions where it has them
// and from how values are used otherwise: parameters, returns, variables and each expression.
#include "compilable/types.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "compilable/builtins.h"
#include "compilable/instructions.h"
#include "image/opcodes.h"

namespace compilable {

int32_t function_in_cell(const image::ProgramImage& program, int64_t cell) {
  const int32_t index = image::global_int(cell);
  return index > 0 && index < static_cast<int32_t>(program.functions.size()) ? index : -1;
}

int32_t function_constant(const image::ProgramImage& program, const ProgramFacts& facts,
                          const image::DefRecord& def) {
  if (def_tag(def) != image::ev_function || def.ofs < 0 || def.ofs >= facts.cell_count ||
      facts.written[def.ofs]) {
    return -1;
  }
  const int32_t function = function_in_cell(program, def.ofs);
  if (function < 0) {
    return -1;
  }
  const bool saved = (def.type & image::DEF_SAVEGLOBAL) != 0;
  const char* own_name = image::string_at(program.functions[function].s_name);
  if (saved && own_name[0] != '\0' && std::strcmp(def_name(def), own_name) != 0) {
    return -1;
  }
  return function;
}

Type def_type(const image::ProgramImage& program, const ProgramFacts& facts,
              const image::DefRecord& def) {
  const int tag = value_tag(facts, def_tag(def));
  Type type{static_cast<int8_t>(tag), kUnknownTag, -1};
  const bool variable = def.ofs >= 0 && def.ofs < facts.cell_count &&
                        (facts.written[def.ofs] || facts.area_owner[def.ofs] > 0);
  if (tag == image::ev_field && variable) {
    return type;  // a parameter or variable of field type: its uses tell which field type
  }
  if (tag == image::ev_field) {
    const size_t index = static_cast<size_t>(&def - program.globaldefs.data());
    const int32_t field = index < facts.field_of_global.size() ? facts.field_of_global[index] : -1;
    if (field >= 0) {
      const int field_tag = def_tag(program.fielddefs[field]);
      type.field_tag = static_cast<int8_t>(value_tag(facts, field_tag));
      if (field_tag == image::ev_function) {
        type.signature = field_signature(program, program.fielddefs[field].ofs);
      }
    }
  } else if (tag == image::ev_function) {
    const int32_t function = variable ? -1 : function_constant(program, facts, def);
    type.signature = function >= 0 ? function : cell_signature(program, facts, def.ofs);
  }
  return type;
}

namespace {

struct Classes {
  std::vector<int32_t> parent;
  std::vector<Type> type;
  int32_t conflicts;

  int32_t add(const Type& t) {
    parent.push_back(static_cast<int32_t>(parent.size()));
    type.push_back(t);
    return parent.back();
  }
  int32_t find(int32_t x) {
    while (parent[x] != x) {
      parent[x] = parent[parent[x]];
      x = parent[x];
    }
    return x;
  }
  // Merges what is known of two types; false when their tags disagree.
  static bool meet(Type& into, const Type& from) {
    if (from.tag == kUnknownTag) {
      return true;
    }
    if (into.tag == kUnknownTag) {
      into = from;
      return true;
    }
    if (into.tag != from.tag) {
      return false;
    }
    if (into.field_tag != kUnknownTag && from.field_tag != kUnknownTag &&
        into.field_tag != from.field_tag) {
      return false;
    }
    if (into.field_tag == kUnknownTag) {
      into.field_tag = from.field_tag;
    }
    if (into.signature < 0) {
      into.signature = from.signature;
    }
    return true;
  }
  void join(int32_t x, int32_t y) {
    x = find(x);
    y = find(y);
    if (x == y) {
      return;
    }
    Type merged = type[x];
    if (!meet(merged, type[y])) {
      ++conflicts;
      return;  // kept apart: each side keeps its own type
    }
    parent[y] = x;
    type[x] = merged;
  }
  void require(int32_t x, const Type& t) {
    x = find(x);
    if (!meet(type[x], t)) {
      ++conflicts;
    }
  }
};

Type tag_type(int tag) { return Type{static_cast<int8_t>(tag), kUnknownTag, -1}; }

// A tag an instruction gives an operand; void says nothing (any type fits).
void require_tag(Classes& classes, int32_t x, int tag) {
  if (tag != image::ev_void) {
    classes.require(x, tag_type(tag));
  }
}

struct Typer {
  const image::ProgramImage& program;
  const ProgramFacts& facts;
  Classes classes;
  std::vector<int32_t> return_class;                  // by signature
  std::vector<std::vector<int32_t>> parameter_class;  // by signature
  std::vector<int32_t> call_count;                    // by signature: arguments of calls, -1 none
  std::vector<uint8_t> variadic;
  std::vector<int32_t> cell_class;  // lazily made
  std::vector<uint8_t> returns_value;
  // By signature: returns values of different types (fteqcc's generated array accessors
  // do). `mixed_known` comes from an earlier pass; `mixed_found` is what this pass saw.
  std::vector<uint8_t> mixed_known;
  std::vector<uint8_t> mixed_found;
  std::vector<std::pair<int32_t, int32_t>> mixed_calls;  // function called, class of the result
  std::vector<int32_t> zeros;  // the function's expressions to write as null values
  // The function's returns of a whole vector variable: function record, expression.
  std::vector<std::pair<int32_t, int32_t>> vector_returns;
};

// The parameter classes of a signature, grown to `count` for the slots of fields and
// variables, whose parameters are known only from their calls.
std::vector<int32_t>& parameters_of(Typer& t, int32_t signature, size_t count) {
  std::vector<int32_t>& parameters = t.parameter_class[signature];
  const bool record = signature < static_cast<int32_t>(t.program.functions.size());
  if (!record || !has_body(t.program.functions[signature])) {
    while (parameters.size() < count) {
      parameters.push_back(t.classes.add(kUnknownType));
    }
  }
  return parameters;
}

// A function value of one signature is stored where another is expected: their
// parameters and results are the same.
void join_signatures(Typer& t, int32_t into, int32_t from) {
  if (into < 0 || from < 0 || into == from) {
    return;
  }
  const size_t count = t.parameter_class[from].size();
  std::vector<int32_t>& target = parameters_of(t, into, count);
  for (size_t k = 0; k < count && k < target.size(); ++k) {
    t.classes.join(target[k], t.parameter_class[from][k]);
  }
  t.classes.join(t.return_class[into], t.return_class[from]);
}

int32_t cell_class(Typer& t, int64_t cell) {
  if (cell < 0 || cell >= static_cast<int64_t>(t.cell_class.size())) {
    return t.classes.add(kUnknownType);
  }
  if (t.cell_class[cell] < 0) {
    const int32_t def = t.facts.named_cover[cell];
    Type type = kUnknownType;
    if (def >= 0) {
      const image::DefRecord& record = t.program.globaldefs[def];
      type = record.ofs == cell ? def_type(t.program, t.facts, record) : tag_type(image::ev_float);
      if (record.ofs == cell && t.facts.implied_vector[cell]) {
        type = tag_type(image::ev_vector);
      }
      if (type.tag == image::ev_pointer) {
        type.field_tag = kUnknownTag;  // what it points at: the uses decide
      }
    }
    t.cell_class[cell] = t.classes.add(type);
  }
  return t.cell_class[cell];
}

// The signature of what an expression names as a function value, or -1: a function, a
// field of function type, or a variable of function type.
int32_t signature_of(const Typer& t, const FunctionCode& code, int32_t expr) {
  const Expr& e = code.exprs[expr];
  switch (e.kind) {
    case ExprKind::kFunction:
      // A constant naming no function record is written as the null function: no signature.
      return e.ref > 0 && e.ref < static_cast<int32_t>(t.program.functions.size()) ? e.ref : -1;
    case ExprKind::kGlobal:
    case ExprKind::kConstant: {
      const int32_t def =
          e.kind == ExprKind::kGlobal ? t.facts.named_cover[e.ref] : any_def_at(t.facts, e.ref);
      if (def >= 0 && def_tag(t.program.globaldefs[def]) != image::ev_function) {
        return -1;
      }
      if (def >= 0) {
        const int32_t function = function_constant(t.program, t.facts, t.program.globaldefs[def]);
        return function >= 0 ? function : cell_signature(t.program, t.facts, e.ref);
      }
      if (e.kind == ExprKind::kGlobal) {
        return cell_signature(t.program, t.facts, e.ref);  // a variable that holds functions
      }
      return t.facts.written[e.ref] ? -1 : function_in_cell(t.program, e.ref);
    }
    case ExprKind::kVariable: {
      const Variable& variable = code.variables[e.ref];
      return variable.cell >= 0 && variable.cell < t.facts.cell_count && e.component < 0
                 ? cell_signature(t.program, t.facts, variable.cell)
                 : -1;
    }
    case ExprKind::kLoad: {
      const Expr& field = code.exprs[code.operands[e.first_operand + 1]];
      if (field.kind != ExprKind::kField) {
        return -1;
      }
      const int32_t offset = image::global_int(field.ref);
      return offset >= 0 && offset < t.facts.field_limit ? field_signature(t.program, offset) : -1;
    }
    default:
      return -1;
  }
}

// A named constant 0 used where a value of another known type is needed: fteqcc shares
// one zero cell among constants of every type, so that "FALSE" may be a null function or
// entity. Such a use is written as that type's null value; true when `expr` is one.
bool zero_for(Typer& t, const FunctionCode& code, int32_t expr, int32_t needed,
              std::vector<int32_t>& expr_class) {
  Classes& c = t.classes;
  const Expr& e = code.exprs[expr];
  const Type wanted = c.type[c.find(needed)];
  if ((e.kind != ExprKind::kGlobal && e.kind != ExprKind::kConstant) || e.component >= 0 ||
      e.ref < 0 || e.ref >= t.facts.cell_count || t.facts.written[e.ref] ||
      image::global_int(e.ref) != 0 || wanted.tag == kUnknownTag) {
    return false;
  }
  Type both = wanted;
  if (Classes::meet(both, c.type[c.find(expr_class[expr])])) {
    return false;
  }
  expr_class[expr] = needed;
  t.zeros.push_back(expr);
  return true;
}

// Adds the function's constraints; returns the classes of its expressions and variables.
void type_function(Typer& t, const FunctionCode& code, std::vector<int32_t>& expr_class,
                   std::vector<int32_t>& variable_class) {
  Classes& c = t.classes;
  const int32_t self = code.function;
  variable_class.assign(code.variables.size(), -1);
  int parameter = 0;
  for (size_t v = 0; v < code.variables.size(); ++v) {
    const Variable& variable = code.variables[v];
    if (variable.kind == VariableKind::kParameter) {
      variable_class[v] = t.parameter_class[self][parameter++];
    } else {
      variable_class[v] = c.add(variable.type);
    }
    if (variable.def >= 0) {
      c.require(variable_class[v],
                def_type(t.program, t.facts, t.program.globaldefs[variable.def]));
    }
    if (variable.cell >= 0 && variable.cell < t.facts.cell_count) {
      // Should it hold functions, their signature is this cell's.
      Type& known = c.type[c.find(variable_class[v])];
      if (known.signature < 0) {
        known.signature = cell_signature(t.program, t.facts, variable.cell);
      }
    }
    if (variable.size == 3) {
      c.require(variable_class[v], tag_type(image::ev_vector));
    }
  }
  expr_class.assign(code.exprs.size(), -1);
  auto operand = [&](size_t e, int k) { return code.operands[code.exprs[e].first_operand + k]; };
  auto component_class = [&](int8_t component, int32_t whole) {
    return component < 0 ? whole : c.add(tag_type(image::ev_float));
  };
  // Leaves and results first: children always come before their parents in the list.
  for (size_t e = 0; e < code.exprs.size(); ++e) {
    const Expr& expr = code.exprs[e];
    switch (expr.kind) {
      case ExprKind::kGlobal:
        expr_class[e] = component_class(expr.component, cell_class(t, expr.ref));
        break;
      case ExprKind::kVariable:
        expr_class[e] = component_class(expr.component, variable_class[expr.ref]);
        break;
      case ExprKind::kConstant: {
        Type type = kUnknownType;
        const int32_t def = any_def_at(t.facts, expr.ref);
        if (def >= 0 && def_tag(t.program.globaldefs[def]) != image::ev_void) {
          type = def_type(t.program, t.facts, t.program.globaldefs[def]);  // not the null one
        }
        expr_class[e] = c.add(type);
        break;
      }
      case ExprKind::kField: {
        const int32_t def = t.facts.named_cover[expr.ref];
        Type type =
            def >= 0 ? def_type(t.program, t.facts, t.program.globaldefs[def]) : kUnknownType;
        if (def < 0) {
          // No definition: the field definition at the offset the cell holds.
          const int32_t offset = image::global_int(expr.ref);
          if (offset >= 0 && offset < t.facts.field_limit && t.facts.field_at[offset] >= 0) {
            const int tag = def_tag(t.program.fielddefs[t.facts.field_at[offset]]);
            type = Type{image::ev_field, static_cast<int8_t>(value_tag(t.facts, tag)), -1};
          }
        }
        if (expr.component >= 0) {
          type = Type{image::ev_field, image::ev_float, -1};
        }
        expr_class[e] = c.add(type);
        break;
      }
      case ExprKind::kFunction:
        expr_class[e] = c.add(Type{image::ev_function, kUnknownTag, expr.ref});
        break;
      case ExprKind::kLiteral:
        expr_class[e] = c.add(tag_type(image::ev_float));
        break;
      case ExprKind::kBinary: {
        const InstructionRow& row = instruction_row(expr.op);
        const bool logic = expr.op == image::OP_AND || expr.op == image::OP_OR;
        if (!logic) {
          require_tag(c, expr_class[operand(e, 0)], row.tag[0]);
          require_tag(c, expr_class[operand(e, 1)], row.tag[1]);
        }
        expr_class[e] = c.add(tag_type(row.tag[2]));
        break;
      }
      case ExprKind::kConvert:
        require_tag(c, expr_class[operand(e, 0)], instruction_row(expr.op).tag[0]);
        expr_class[e] = c.add(tag_type(instruction_row(expr.op).tag[2]));
        break;
      case ExprKind::kElement: {
        const InstructionRow& row = instruction_row(expr.op);
        if (expr.operand_count > 0) {
          require_tag(c, expr_class[operand(e, 0)], row.tag[1]);
        }
        if (row.action == Action::kGlobalAddress) {
          const Type element = c.type[c.find(cell_class(t, expr.ref))];
          expr_class[e] = c.add(Type{image::ev_pointer, element.tag, -1});
        } else {
          expr_class[e] = c.add(tag_type(row.tag[2]));
          require_tag(c, cell_class(t, expr.ref), row.tag[2]);  // the array's element type
        }
        break;
      }
      case ExprKind::kDeref: {
        const InstructionRow& row = instruction_row(expr.op);
        const bool store = row.action == Action::kStorePointer;
        require_tag(c, expr_class[operand(e, 0)], image::ev_pointer);
        if (expr.operand_count > 1) {
          require_tag(c, expr_class[operand(e, 1)], store ? row.tag[2] : row.tag[1]);
        }
        expr_class[e] = c.add(tag_type(store ? row.tag[0] : row.tag[2]));
        break;
      }
      case ExprKind::kIntrinsic: {
        const InstructionRow& row = instruction_row(expr.op);
        for (int k = 0; k < expr.operand_count && k < 3; ++k) {
          require_tag(c, expr_class[operand(e, k)], row.tag[k]);
        }
        expr_class[e] =
            c.add(tag_type(row.role[2] == Role::kNone ? int{image::ev_void} : int{row.tag[2]}));
        break;
      }
      case ExprKind::kNot: {
        const int tag = expr.op == image::OP_NOT_S ? int{image::ev_string}
                                                   : int{instruction_row(expr.op).tag[0]};
        if (expr.position >= 0) {
          c.require(expr_class[operand(e, 0)], tag_type(tag));
        }
        expr_class[e] = c.add(tag_type(image::ev_float));
        break;
      }
      case ExprKind::kLoad: {
        c.require(expr_class[operand(e, 0)], tag_type(image::ev_entity));
        const int32_t field = expr_class[operand(e, 1)];
        const Type field_type = c.type[c.find(field)];
        c.require(field, tag_type(image::ev_field));
        if (expr.op == image::OP_ADDRESS) {
          expr_class[e] =
              c.add(Type{image::ev_pointer, field_type.field_tag, field_type.signature});
        } else if (field_type.field_tag != kUnknownTag && expr.op != image::OP_LOAD_V) {
          // The field's own type: fteqcc reads every one-cell field with LOAD_F.
          expr_class[e] = c.add(Type{field_type.field_tag, kUnknownTag, field_type.signature});
        } else {
          const int tag = instruction_row(expr.op).tag[2];
          expr_class[e] = c.add(tag_type(tag));
          if (field_type.field_tag == kUnknownTag) {
            c.type[c.find(field)].field_tag = static_cast<int8_t>(tag);
          }
        }
        break;
      }
      case ExprKind::kCall: {
        const int32_t callee = signature_of(t, code, operand(e, 0));
        if (code.exprs[operand(e, 0)].kind != ExprKind::kLoad) {
          c.require(expr_class[operand(e, 0)], tag_type(image::ev_function));
        }
        if (callee >= 0) {
          const int32_t count = expr.operand_count - 1;
          // A call with no arguments fits any function for qcc, which counts arguments
          // only when there are some.
          if (count > 0 && t.call_count[callee] > 0 && t.call_count[callee] != count) {
            t.variadic[callee] = 1;
          }
          t.call_count[callee] = std::max(t.call_count[callee], count);
          std::vector<int32_t>& parameters = parameters_of(t, callee, static_cast<size_t>(count));
          const bool builtin = callee < static_cast<int32_t>(t.program.functions.size()) &&
                               !has_body(t.program.functions[callee]);
          for (int k = 0; k < count && k < static_cast<int>(parameters.size()); ++k) {
            Type both = c.type[c.find(parameters[k])];
            if (builtin && !Classes::meet(both, c.type[c.find(expr_class[operand(e, k + 1)])])) {
              // Called with differing types: only "..." accepts them all.
              const Type& known = c.type[c.find(parameters[k])];
              if (known.tag != kUnknownTag) {
                t.variadic[callee] = 1;
              }
            }
            if (!zero_for(t, code, operand(e, k + 1), parameters[k], expr_class)) {
              c.join(parameters[k], expr_class[operand(e, k + 1)]);
            }
          }
          if (t.mixed_known[callee] && callee < static_cast<int32_t>(t.program.functions.size())) {
            // Each call takes the result as its own uses need it.
            expr_class[e] = c.add(kUnknownType);
            t.mixed_calls.emplace_back(callee, expr_class[e]);
          } else {
            expr_class[e] = t.return_class[callee];
          }
        } else {
          expr_class[e] = c.add(kUnknownType);
        }
        break;
      }
      case ExprKind::kAssign: {
        const int32_t target = operand(e, 0);
        const int32_t value = operand(e, 1);
        const Expr& target_expr = code.exprs[target];
        const InstructionRow& row = instruction_row(expr.op);
        if (row.action == Action::kCompound || row.action == Action::kCompoundPointer ||
            (row.action == Action::kStore && row.tag[0] != row.tag[1])) {
          // b op= a, and the stores that convert: the operands keep types of their own.
          require_tag(c, expr_class[value], row.tag[0]);
          if (row.action != Action::kCompoundPointer) {
            require_tag(c, expr_class[target], row.tag[1]);
          }
          expr_class[e] = expr_class[target];
          break;
        }
        if (target_expr.kind == ExprKind::kLoad && target_expr.op == image::OP_ADDRESS) {
          // Through an address: the field's value type.
          const Type pointer = c.type[c.find(expr_class[target])];
          if (pointer.field_tag != kUnknownTag &&
              !zero_for(t, code, value, c.add(tag_type(pointer.field_tag)), expr_class)) {
            c.require(expr_class[value], tag_type(pointer.field_tag));
          }
        } else if (target_expr.kind == ExprKind::kElement &&
                   instruction_row(target_expr.op).action == Action::kGlobalAddress) {
          // Into an array's element: the array's element type.
          const int32_t element = cell_class(t, target_expr.ref);
          if (!zero_for(t, code, value, element, expr_class)) {
            c.join(element, expr_class[value]);
          }
        } else if (!zero_for(t, code, value, expr_class[target], expr_class)) {
          c.join(expr_class[target], expr_class[value]);
        }
        join_signatures(t, signature_of(t, code, target), signature_of(t, code, value));
        // Only the typed stores say what they store: fteqcc copies any one-cell value with
        // STORE_F, and an assignment made for another instruction's result says nothing.
        if ((expr.op >= image::OP_STORE_S && expr.op <= image::OP_STORE_FNC) ||
            (expr.op >= image::OPCODE_COUNT && row.action == Action::kStore)) {
          require_tag(c, expr_class[value], row.tag[0]);
        }
        expr_class[e] = expr_class[value];
        break;
      }
    }
  }
  for (const BlockCode& block : code.blocks) {
    if (block.condition >= 0 && block.condition_tag != kUnknownTag) {
      require_tag(c, expr_class[block.condition], block.condition_tag);
    }
  }
  for (const Stmt& stmt : code.stmts) {
    if (stmt.kind == StmtKind::kReturn && stmt.expr >= 0) {
      t.returns_value[self] = 1;
      if (t.mixed_known[self]) {
        continue;  // the callers' uses alone give the declared type
      }
      const Expr& returned = code.exprs[stmt.expr];
      if ((returned.kind == ExprKind::kVariable || returned.kind == ExprKind::kGlobal) &&
          returned.component < 0 && c.type[c.find(expr_class[stmt.expr])].tag == image::ev_vector) {
        // Returning a vector's first cell returns the whole vector: the callers decide.
        t.vector_returns.emplace_back(self, stmt.expr);
        continue;
      }
      Type both = c.type[c.find(t.return_class[self])];
      if (!Classes::meet(both, c.type[c.find(expr_class[stmt.expr])])) {
        t.mixed_found[self] = 1;
      }
      c.join(t.return_class[self], expr_class[stmt.expr]);
    } else if (stmt.kind == StmtKind::kState && stmt.extra >= 0) {
      // A cycling frame header has no think function: its operands are typed by its call.
      c.require(expr_class[stmt.expr], tag_type(image::ev_float));
      c.require(expr_class[stmt.extra], tag_type(image::ev_function));
    }
  }
}

// What is known of a class; a tag nothing decided stays unknown and is written as float.
Type resolved(Classes& classes, int32_t x) {
  Type type = classes.type[classes.find(x)];
  if ((type.tag == image::ev_field || type.tag == image::ev_pointer) &&
      type.field_tag == kUnknownTag) {
    type.field_tag = image::ev_float;
  }
  return type;
}

// By function record: whether some call uses the function's result.
std::vector<uint8_t> results_used(const Typer& t, const std::vector<FunctionCode>& functions) {
  std::vector<uint8_t> used_result(t.program.functions.size(), 0);
  for (const FunctionCode& code : functions) {
    std::vector<uint8_t> used(code.exprs.size(), 0);
    for (const Expr& e : code.exprs) {
      for (int k = 0; k < e.operand_count; ++k) {
        used[code.operands[e.first_operand + k]] = 1;
      }
    }
    for (const Stmt& stmt : code.stmts) {
      if (stmt.kind != StmtKind::kExpr && stmt.kind != StmtKind::kLocal && stmt.expr >= 0) {
        used[stmt.expr] = 1;
      }
    }
    for (const BlockCode& block : code.blocks) {
      if (block.condition >= 0) {
        used[block.condition] = 1;
      }
    }
    for (size_t e = 0; e < code.exprs.size(); ++e) {
      if (used[e] && code.exprs[e].kind == ExprKind::kCall) {
        const int32_t callee = signature_of(t, code, code.operands[code.exprs[e].first_operand]);
        if (callee >= 0 && callee < static_cast<int32_t>(used_result.size())) {
          used_result[callee] = 1;
        }
      }
    }
  }
  return used_result;
}

// One pass of typing. `mixed` marks the functions known to return values of different types
// (from an earlier pass); those found in this pass are added to it.
ProgramTypes type_program(const image::ProgramImage& program, const ProgramFacts& facts,
                          std::vector<FunctionCode>& functions, std::vector<uint8_t>& mixed) {
  Typer t{program, facts, Classes{{}, {}, 0}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}};
  const size_t count = program.functions.size();
  const size_t signatures = count + static_cast<size_t>(facts.field_limit + facts.cell_count);
  t.cell_class.assign(static_cast<size_t>(facts.cell_count), -1);
  t.return_class.resize(signatures);
  t.returns_value.assign(signatures, 0);
  mixed.resize(signatures, 0);
  t.mixed_known = mixed;
  t.mixed_found.assign(signatures, 0);
  t.parameter_class.resize(signatures);
  t.call_count.assign(signatures, -1);
  t.variadic.assign(signatures, 0);
  for (size_t f = 0; f < signatures; ++f) {
    t.return_class[f] = t.classes.add(kUnknownType);
  }
  for (size_t f = 0; f < count; ++f) {
    const image::FunctionRecord& function = program.functions[f];
    for (int k = 0; k < parameter_count(function); ++k) {
      const int32_t parameter = t.classes.add(kUnknownType);
      if (function.parm_size[k] == 3) {
        t.classes.require(parameter, tag_type(image::ev_vector));
      }
      t.parameter_class[f].push_back(parameter);
    }
  }
  // All functions are typed together: a call links the caller's values to the callee's
  // parameters and result.
  std::vector<std::vector<int32_t>> expr_classes(functions.size());
  std::vector<std::vector<int32_t>> variable_classes(functions.size());
  std::vector<std::vector<std::pair<int32_t, int32_t>>> vector_returns;
  for (size_t i = 0; i < functions.size(); ++i) {
    t.zeros.clear();
    type_function(t, functions[i], expr_classes[i], variable_classes[i]);
    for (int32_t expr : t.zeros) {
      functions[i].exprs[expr].kind = ExprKind::kConstant;
    }
    vector_returns.emplace_back(std::move(t.vector_returns));
    t.vector_returns.clear();
  }
  // A function returning a vector whose callers take a float returns the vector's x: the
  // same instruction, which the compilers write for a float return of that component.
  for (size_t i = 0; i < functions.size(); ++i) {
    for (const auto& [self, expr] : vector_returns[i]) {
      if (t.classes.type[t.classes.find(t.return_class[self])].tag == image::ev_float) {
        functions[i].exprs[expr].component = 0;
        expr_classes[i][expr] = t.return_class[self];
      } else {
        t.classes.join(t.return_class[self], expr_classes[i][expr]);
      }
    }
  }
  // Builtins the calls leave open take the types of Quake's own declarations.
  for (size_t f = 1; f < count; ++f) {
    const image::FunctionRecord& function = program.functions[f];
    const BuiltinRow* row =
        has_body(function) ? nullptr : find_builtin(-int64_t{function.first_statement});
    if (row == nullptr) {
      continue;
    }
    std::vector<int32_t>& parameters =
        parameters_of(t, static_cast<int32_t>(f), static_cast<size_t>(row->parameter_count));
    for (int k = 0; k < row->parameter_count && k < static_cast<int>(parameters.size()); ++k) {
      Type& known = t.classes.type[t.classes.find(parameters[k])];
      if (known.tag == kUnknownTag) {
        known = tag_type(row->parameters[k]);
      }
    }
    Type& returned = t.classes.type[t.classes.find(t.return_class[f])];
    if (returned.tag == kUnknownTag && row->returns != image::ev_void) {
      returned = tag_type(row->returns);
      t.returns_value[f] = 1;
    }
  }
  for (size_t f = 0; f < signatures; ++f) {
    mixed[f] = mixed[f] || t.mixed_found[f];
  }
  // A function of mixed results is declared with the type most of its calls take; the
  // calls that take another go through a view of that type.
  std::vector<std::vector<std::pair<Type, int32_t>>> taken(count);
  for (const auto& [function, x] : t.mixed_calls) {
    const Type type = resolved(t.classes, x);
    if (type.tag == kUnknownTag) {
      continue;
    }
    auto& list = taken[function];
    auto found = std::find_if(list.begin(), list.end(),
                              [&](const auto& entry) { return same_type(entry.first, type); });
    if (found == list.end()) {
      list.emplace_back(type, 1);
    } else {
      ++found->second;
    }
  }
  std::vector<std::vector<Type>> views(count);
  for (size_t f = 0; f < count; ++f) {
    auto& list = taken[f];
    if (list.empty() || program.functions[f].numparms < 0) {
      continue;
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const auto& x, const auto& y) { return x.second > y.second; });
    t.classes.require(t.return_class[f], list[0].first);
    for (size_t k = 1; k < list.size(); ++k) {
      views[f].push_back(list[k].first);
    }
  }
  for (size_t i = 0; i < functions.size(); ++i) {
    FunctionCode& code = functions[i];
    for (size_t e = 0; e < code.exprs.size(); ++e) {
      code.exprs[e].type = resolved(t.classes, expr_classes[i][e]);
    }
    for (size_t v = 0; v < code.variables.size(); ++v) {
      code.variables[v].type = resolved(t.classes, variable_classes[i][v]);
    }
  }
  ProgramTypes result{};
  result.returns.resize(signatures);
  result.parameters.resize(signatures);
  result.variadic = t.variadic;
  result.views = std::move(views);
  const std::vector<uint8_t> result_used = results_used(t, functions);
  for (size_t f = 0; f < signatures; ++f) {
    Type returned = t.classes.type[t.classes.find(t.return_class[f])];
    // A function of the program that returns no value is void even when its signature
    // meets others' that do (through a field such as .think), unless a call uses its result:
    // fteqcc wants the functions a frame header names to be void.
    const bool no_value =
        f < count && has_body(program.functions[f]) && !t.returns_value[f] && !result_used[f];
    const bool unknown = (returned.tag == kUnknownTag || no_value) && !t.returns_value[f];
    result.returns[f] = unknown ? tag_type(image::ev_void) : resolved(t.classes, t.return_class[f]);
    for (int32_t parameter : t.parameter_class[f]) {
      result.parameters[f].push_back(resolved(t.classes, parameter));
    }
  }
  result.cells.assign(static_cast<size_t>(facts.cell_count), kUnknownType);
  for (int64_t cell = 0; cell < facts.cell_count; ++cell) {
    if (t.cell_class[cell] >= 0) {
      result.cells[cell] = resolved(t.classes, t.cell_class[cell]);
    }
  }
  result.conflicts = t.classes.conflicts;
  return result;
}

}  // namespace

ProgramTypes infer_types(const image::ProgramImage& program, const ProgramFacts& facts,
                         std::vector<FunctionCode>& functions) {
  // A function that returns values of different types is found while typing. No type
  // declares it in the compilers at hand, so its result takes the type its callers use, and
  // its other returns only draw warnings; the program is typed again with that known.
  std::vector<std::vector<Type>> given(functions.size());
  for (size_t i = 0; i < functions.size(); ++i) {
    for (const Variable& variable : functions[i].variables) {
      given[i].push_back(variable.type);
    }
  }
  std::vector<uint8_t> mixed;
  ProgramTypes types = type_program(program, facts, functions, mixed);
  if (std::find(mixed.begin(), mixed.end(), 1) != mixed.end()) {
    for (size_t i = 0; i < functions.size(); ++i) {
      for (size_t v = 0; v < given[i].size(); ++v) {
        functions[i].variables[v].type = given[i][v];  // not what the first pass concluded
      }
    }
    types = type_program(program, facts, functions, mixed);
  }
  return types;
}

}  // namespace compilable
