// Turns one function's instructions into statements and nested expressions, block by block:
// a value used once right where it was made is written in place; any other value is kept in
// a variable, so that everything is evaluated once and in the original order.
#include "compilable/expressions.h"

#include <algorithm>

#include "compilable/instructions.h"

namespace compilable {

bool is_local_kind(const image::DefRecord& def) {
  const int tag = def_tag(def);
  return tag != image::ev_function && tag != image::ev_field;
}

bool in_local_area(const image::FunctionRecord& function, int64_t cell) {
  const int64_t size = std::max<int64_t>(function.locals, image::parameter_cells(function));
  return cell >= function.parm_start && cell < int64_t{function.parm_start} + size;
}

namespace {

enum class WebMode : uint8_t {
  kInline,    // used once, later in its block: written where it is used
  kChain,     // stored into several places one after another: one chained assignment
  kVariable,  // kept in a variable
  kDead,      // never read
  kPointer,   // an address used more than once or later: its entity is kept in a variable
  kTwice,     // a call's result read as both operands of one instruction
};

// A value made but not yet used, in the order the values were made.
struct Pending {
  int32_t web;
  int32_t expr;
  int32_t insert_at;  // where in the block's statements it would be kept in a variable
  int32_t position;   // the instruction that made it
  bool stable;        // a variable read or an address of one: can be used in any order
  bool copy;          // a plain copy of a variable: no instruction of its own reads it
};

struct Builder {
  const image::ProgramImage& program;
  const ProgramFacts& facts;
  const FlowGraph& graph;
  const ValueFlow& flow;
  const TrackedCells& tracked;
  const image::FunctionRecord& function;
  FunctionCode code;
  std::vector<WebMode> web_mode;
  std::vector<int32_t> web_variable;
  std::vector<int32_t> web_address;   // kPointer: the address expression every use reads
  std::vector<uint8_t> web_one_cell;  // a call's result that only one-cell parameters take
  std::vector<int32_t> uses_left;
  std::vector<std::pair<int32_t, int32_t>> named_variables;  // (def, variable), by def
  std::vector<Pending> pending;
  int32_t block_index;
  int32_t last_call;  // position of the last call in the block
  // An assignment whose value the next store stores again: "a.f = b.g = c".
  int32_t chained_value;
  int32_t chained_at;
  std::vector<int32_t> depths;  // of the expressions, as far as expression_depth has looked
};

int32_t add_expr(Builder& b, ExprKind kind, uint32_t op, int32_t ref, int32_t position,
                 std::initializer_list<int32_t> operands, int8_t component = -1) {
  Expr expr{kind,
            component,
            op,
            ref,
            position,
            static_cast<int32_t>(b.code.operands.size()),
            static_cast<int32_t>(operands.size()),
            kUnknownType};
  for (int32_t operand : operands) {
    b.code.operands.push_back(operand);
  }
  b.code.exprs.push_back(expr);
  return static_cast<int32_t>(b.code.exprs.size()) - 1;
}

int32_t add_call(Builder& b, uint32_t op, int32_t position, int32_t callee,
                 const std::vector<int32_t>& arguments) {
  Expr expr{ExprKind::kCall,
            -1,
            op,
            -1,
            position,
            static_cast<int32_t>(b.code.operands.size()),
            static_cast<int32_t>(arguments.size()) + 1,
            kUnknownType};
  b.code.operands.push_back(callee);
  for (int32_t argument : arguments) {
    b.code.operands.push_back(argument);
  }
  b.code.exprs.push_back(expr);
  return static_cast<int32_t>(b.code.exprs.size()) - 1;
}

// An instruction written as a built-in call: its operands are the arguments.
int32_t add_intrinsic(Builder& b, uint32_t op, int32_t position,
                      const std::vector<int32_t>& arguments) {
  Expr expr{ExprKind::kIntrinsic,
            -1,
            op,
            -1,
            position,
            static_cast<int32_t>(b.code.operands.size()),
            static_cast<int32_t>(arguments.size()),
            kUnknownType};
  b.code.operands.insert(b.code.operands.end(), arguments.begin(), arguments.end());
  b.code.exprs.push_back(expr);
  return static_cast<int32_t>(b.code.exprs.size()) - 1;
}

int32_t operand_of(const Builder& b, int32_t expr, int k) {
  return b.code.operands[b.code.exprs[expr].first_operand + k];
}

int32_t add_variable(Builder& b, VariableKind kind, int32_t cell, int size, int32_t def) {
  b.code.variables.push_back(Variable{kind, cell, static_cast<int8_t>(size), def, kUnknownType});
  return static_cast<int32_t>(b.code.variables.size()) - 1;
}

int32_t add_stmt(Builder& b, StmtKind kind, int32_t expr, int32_t extra, int32_t position) {
  b.code.stmts.push_back(Stmt{kind, expr, extra, position});
  return static_cast<int32_t>(b.code.stmts.size()) - 1;
}

// Parameters and the locals the program names, in the order of their cells.
void declare_function_variables(Builder& b) {
  const image::FunctionRecord& function = b.function;
  int64_t cell = function.parm_start;
  for (int k = 0; k < parameter_count(function); ++k) {
    const int size = std::max<int>(function.parm_size[k], 1);
    const int32_t def = cell >= 0 && cell < b.facts.cell_count ? b.facts.named_cover[cell] : -1;
    const bool own = def >= 0 && b.program.globaldefs[def].ofs == cell;
    add_variable(b, VariableKind::kParameter, static_cast<int32_t>(cell), size, own ? def : -1);
    cell += function.parm_size[k];
  }
  const int64_t end =
      std::min<int64_t>(int64_t{function.parm_start} + function.locals, b.facts.cell_count);
  for (int64_t c = std::max<int64_t>(cell, 0); c < end; ++c) {
    const int32_t def = b.facts.named_cover[c];
    if (def < 0 || b.program.globaldefs[def].ofs != c ||
        !is_local_kind(b.program.globaldefs[def])) {
      continue;
    }
    const int size = value_cells(value_tag(b.facts, def_tag(b.program.globaldefs[def])));
    const int32_t variable =
        add_variable(b, VariableKind::kNamed, static_cast<int32_t>(c), size, def);
    b.named_variables.emplace_back(def, variable);
  }
}

// The variable of the function's parameter or named local holding the cell, or -1.
int32_t variable_holding(const Builder& b, int64_t cell, int8_t& component) {
  for (size_t v = 0; v < b.code.variables.size(); ++v) {
    const Variable& variable = b.code.variables[v];
    if (variable.kind == VariableKind::kValue) {
      break;  // parameters and named locals come first
    }
    if (cell >= variable.cell && cell < int64_t{variable.cell} + variable.size) {
      component = static_cast<int8_t>(cell - variable.cell);
      return static_cast<int32_t>(v);
    }
  }
  return -1;
}

// The expression for an untracked cell read with the given width.
int32_t leaf(Builder& b, int64_t cell, int size) {
  int8_t component = -1;
  if (in_local_area(b.function, cell)) {
    const int32_t variable = variable_holding(b, cell, component);
    if (variable >= 0) {
      const Variable& held = b.code.variables[variable];
      if (component == 0 && size == held.size) {
        component = -1;
      }
      return add_expr(b, ExprKind::kVariable, 0, variable, -1, {}, component);
    }
  }
  const int32_t named = cell >= 0 && cell < b.facts.cell_count ? b.facts.named_cover[cell] : -1;
  if (named >= 0) {
    const image::DefRecord& def = b.program.globaldefs[named];
    const int8_t at = static_cast<int8_t>(cell - def.ofs);
    const int covered = covered_size(b.facts, def);
    const bool whole = at == 0 && (size == covered || covered != 3);
    return add_expr(b, ExprKind::kGlobal, 0, static_cast<int32_t>(cell - at), -1, {},
                    whole ? -1 : at);
  }
  if (cell > 0 && cell < b.facts.cell_count && (*b.tracked.shared)[cell]) {
    return add_expr(b, ExprKind::kGlobal, 0, static_cast<int32_t>(cell), -1, {});
  }
  return add_expr(b, ExprKind::kConstant, 0, static_cast<int32_t>(cell), -1, {});
}

// Whether the field a global cell names (by the offset it holds) is a vector; a one-cell
// access through it reads or writes its first component.
bool is_vector_field(const Builder& b, int64_t cell) {
  const int32_t def = cell >= 0 && cell < b.facts.cell_count ? b.facts.named_cover[cell] : -1;
  if (def >= 0 && b.program.globaldefs[def].ofs == cell &&
      def_tag(b.program.globaldefs[def]) == image::ev_field) {
    const int32_t field = b.facts.field_of_global[def];
    return field >= 0 && def_tag(b.program.fielddefs[field]) == image::ev_vector;
  }
  const int32_t offset = image::global_int(cell);
  if (offset < 0 || offset >= b.facts.field_limit || b.facts.field_at[offset] < 0) {
    return false;
  }
  return def_tag(b.program.fielddefs[b.facts.field_at[offset]]) == image::ev_vector;
}

int32_t variable_of_web(Builder& b, int32_t web) {
  if (b.web_variable[web] < 0) {
    const Web& w = b.flow.webs[web];
    const int size = b.web_one_cell[web] ? 1 : w.size;
    b.web_variable[web] = add_variable(b, VariableKind::kValue, w.cell, size, -1);
  }
  return b.web_variable[web];
}

int32_t web_read(Builder& b, int32_t web, const CellRange& read) {
  const Web& w = b.flow.webs[web];
  if (read.offset < w.cell || read.offset >= int64_t{w.cell} + w.size) {
    // An access that starts past the cells of the value it joins (only crafted code reads
    // two values as one): no variable holds it, so it is read where it lies.
    return leaf(b, read.offset, read.size);
  }
  const int32_t variable = variable_of_web(b, web);
  int8_t component = static_cast<int8_t>(read.offset - w.cell);
  if (component == 0 && (read.size == w.size || w.size == 1)) {
    component = -1;
  }
  return add_expr(b, ExprKind::kVariable, 0, variable, -1, {}, component);
}

using Uses = std::vector<std::vector<std::pair<int32_t, int>>>;  // by web: (position, slot)

// The callee's parameter k takes one cell: the call names a function record directly.
bool takes_one_cell(const Builder& b, int32_t position, int k) {
  const image::Statement& call = b.program.statements[position];
  const int32_t callee = image::global_int(call.a);
  if (call.a <= 0 || call.a >= b.facts.cell_count || b.facts.written[call.a] || callee <= 0 ||
      callee >= static_cast<int32_t>(b.program.functions.size())) {
    return false;
  }
  const image::FunctionRecord& function = b.program.functions[callee];
  return k < parameter_count(function) && function.parm_size[k] == 1;
}

// Whether every def of the web is a call and every read copies it into a parameter cell that
// only calls taking one cell there read. qcc copies each argument with STORE_V as soon as it
// is made, so a result kept while another call is made is read three cells wide.
bool is_one_cell_result(const Builder& b, const Uses& uses, int32_t web) {
  const Web& w = b.flow.webs[web];
  if (w.size != 3 || uses[web].empty()) {
    return false;
  }
  for (int32_t def : w.defs) {
    if (action_of(b.program.statements[def].op) != Action::kCall) {
      return false;
    }
  }
  for (const auto& [position, slot] : uses[web]) {
    const image::Statement& copy = b.program.statements[position];
    const int32_t parameter = b.flow.write_web[position - b.graph.first];
    const int k = (copy.b - image::OFS_PARM0) / 3;
    if (copy.op != image::OP_STORE_V || slot != kSlotA || parameter < 0 ||
        copy.b < image::OFS_PARM0 || copy.b >= image::RESERVED_OFS ||
        (copy.b - image::OFS_PARM0) % 3 != 0 || uses[parameter].empty()) {
      return false;
    }
    for (const auto& [call, call_slot] : uses[parameter]) {
      if (action_of(b.program.statements[call].op) != Action::kCall ||
          call_slot != argument_slot(k) || !takes_one_cell(b, call, k)) {
        return false;
      }
    }
  }
  return true;
}

void decide_web_modes(Builder& b) {
  const size_t count = b.flow.webs.size();
  b.web_mode.assign(count, WebMode::kVariable);
  b.web_variable.assign(count, -1);
  b.web_address.assign(count, -1);
  b.web_one_cell.assign(count, 0);
  b.uses_left.assign(count, 0);
  Uses uses(count);
  const int64_t size = int64_t{b.graph.end} - b.graph.first;
  for (int64_t i = 0; i < size; ++i) {
    for (int slot = 0; slot < kReadSlots; ++slot) {
      const int32_t web = b.flow.read_web[i * kReadSlots + slot];
      if (web >= 0) {
        uses[web].emplace_back(static_cast<int32_t>(b.graph.first + i), slot);
      }
    }
  }
  // The value is one cell in its parameter cell too, where it waits for its call.
  for (size_t w = 0; w < count; ++w) {
    if (is_one_cell_result(b, uses, static_cast<int32_t>(w))) {
      b.web_one_cell[w] = 1;
      for (const auto& [position, slot] : uses[w]) {
        b.web_one_cell[b.flow.write_web[position - b.graph.first]] = 1;
      }
    }
  }
  for (size_t w = 0; w < count; ++w) {
    const Web& web = b.flow.webs[w];
    b.uses_left[w] = web.use_count;
    if (web.pieces || web.crosses_blocks || web.from_entry || web.defs.size() != 1) {
      continue;
    }
    if (web.use_count == 0) {
      b.web_mode[w] = WebMode::kDead;
    } else if (web.use_count == 1 && uses[w][0].first > web.defs[0]) {
      b.web_mode[w] = WebMode::kInline;
    } else if (web.use_count > 1) {
      bool chain = uses[w][0].first > web.defs[0];
      for (size_t u = 0; u < uses[w].size() && chain; ++u) {
        const auto [position, slot] = uses[w][u];
        const Action action = action_of(b.program.statements[position].op);
        chain = slot == kSlotA && (action == Action::kStore || action == Action::kStorePointer) &&
                b.flow.write_web[position - b.graph.first] < 0 &&
                (u == 0 || position == uses[w][u - 1].first + 1);
      }
      if (chain) {
        b.web_mode[w] = WebMode::kChain;
      }
    }
  }
  // qcc keeps one result cell, so "f() + g()" reads g's result twice; the first call's
  // result is never read.
  for (size_t w = 0; w < count; ++w) {
    const Web& web = b.flow.webs[w];
    if (web.cell == image::OFS_RETURN && web.defs.size() == 1 && web.use_count == 2 &&
        !web.crosses_blocks && !web.pieces && uses[w][0].first == uses[w][1].first &&
        uses[w][0].first > web.defs[0] &&
        action_of(b.program.statements[uses[w][0].first].op) == Action::kBinary) {
      b.web_mode[w] = WebMode::kTwice;
    }
  }
  for (size_t w = 0; w < count; ++w) {
    const Web& web = b.flow.webs[w];
    const bool address =
        !web.defs.empty() && std::all_of(web.defs.begin(), web.defs.end(), [&](int32_t d) {
          return b.program.statements[d].op == image::OP_ADDRESS;
        });
    if (address && b.web_mode[w] != WebMode::kInline) {
      b.web_mode[w] = WebMode::kPointer;
    }
  }
}

// Expressions read by a subtree, for the order checks.
struct Reads {
  bool globals;  // a global variable
  bool fields;   // a field of an entity
  bool call;
};

void collect_reads(const Builder& b, int32_t expr, Reads& reads) {
  const Expr& e = b.code.exprs[expr];
  switch (e.kind) {
    case ExprKind::kGlobal:
      reads.globals = true;
      break;
    case ExprKind::kLoad:
      reads.fields = reads.fields || e.op != image::OP_ADDRESS;  // an address reads no field
      break;
    case ExprKind::kCall:
      reads.call = true;
      break;
    default:
      break;
  }
  for (int k = 0; k < e.operand_count; ++k) {
    collect_reads(b, operand_of(b, expr, k), reads);
  }
}

bool reads_variable(const Builder& b, int32_t expr, const Expr& target) {
  const Expr& e = b.code.exprs[expr];
  if (e.kind == target.kind && e.ref == target.ref &&
      (e.kind == ExprKind::kVariable || e.kind == ExprKind::kGlobal)) {
    return true;
  }
  for (int k = 0; k < e.operand_count; ++k) {
    if (reads_variable(b, operand_of(b, expr, k), target)) {
      return true;
    }
  }
  return false;
}

// An address cannot live in a variable: its entity is kept in one instead, and `address`
// becomes the same field of that variable. Returns the assignment that keeps the entity.
int32_t keep_address(Builder& b, int32_t made, int32_t position, int32_t& address,
                     int32_t variable = -1) {
  const int32_t entity = operand_of(b, made, 0);
  const int32_t field = operand_of(b, made, 1);
  if (variable < 0) {
    variable = add_variable(b, VariableKind::kValue, -1, 1, -1);
    b.code.variables[variable].type = Type{image::ev_entity, kUnknownTag, -1};
  }
  const int32_t target = add_expr(b, ExprKind::kVariable, 0, variable, -1, {});
  const int32_t assign =
      add_expr(b, ExprKind::kAssign, image::OP_STORE_ENT, -1, position, {target, entity});
  const int32_t entity_read = add_expr(b, ExprKind::kVariable, 0, variable, -1, {});
  address = add_expr(b, ExprKind::kLoad, image::OP_ADDRESS, -1, position, {entity_read, field});
  return assign;
}

// Keeps every value still waiting for its use in a variable, in the order they were made,
// so that whatever comes next cannot overtake them.
void keep_pending_values(Builder& b) {
  BlockCode& block = b.code.blocks[b.block_index];
  int32_t shift = 0;
  for (Pending& item : b.pending) {
    if (item.stable) {
      continue;
    }
    const Expr& made = b.code.exprs[item.expr];
    int32_t kept;
    if (made.kind == ExprKind::kLoad && made.op == image::OP_ADDRESS) {
      kept = add_stmt(b, StmtKind::kExpr, keep_address(b, item.expr, item.position, item.expr), -1,
                      item.position);
    } else {
      const int32_t variable = variable_of_web(b, item.web);
      const int32_t target = add_expr(b, ExprKind::kVariable, 0, variable, -1, {});
      const int32_t assign =
          add_expr(b, ExprKind::kAssign, image::OP_STORE_F, -1, item.position, {target, item.expr});
      kept = add_stmt(b, StmtKind::kExpr, assign, -1, item.position);
      item.expr = add_expr(b, ExprKind::kVariable, 0, variable, -1, {});
      // Its remaining uses read the variable now.
      b.web_mode[item.web] = WebMode::kVariable;
    }
    block.statements.insert(block.statements.begin() + item.insert_at + shift, kept);
    ++shift;
    item.stable = true;
    item.copy = false;
  }
}

// Emits a statement, first keeping in variables the waiting values it could change.
void emit(Builder& b, StmtKind kind, int32_t expr, int32_t extra, int32_t position) {
  Reads effects{};
  if (expr >= 0) {
    collect_reads(b, expr, effects);
  }
  const Expr* written = nullptr;
  bool writes_field = false;
  if (expr >= 0 && b.code.exprs[expr].kind == ExprKind::kAssign) {
    const Expr& target = b.code.exprs[operand_of(b, expr, 0)];
    written = &target;
    writes_field = target.kind == ExprKind::kLoad;
  }
  for (const Pending& item : b.pending) {
    if (item.stable) {
      continue;
    }
    Reads reads{};
    collect_reads(b, item.expr, reads);
    const bool hazard = reads.call || (effects.call && (reads.globals || reads.fields)) ||
                        (writes_field && reads.fields) ||
                        (written != nullptr && reads_variable(b, item.expr, *written)) ||
                        kind == StmtKind::kState;
    if (hazard) {
      keep_pending_values(b);
      break;
    }
  }
  b.code.blocks[b.block_index].statements.push_back(add_stmt(b, kind, expr, extra, position));
}

// Evaluation order of an instruction's read slots: the order their values were made in.
int evaluation_order(Action action, uint32_t op, int* slots) {
  switch (action) {
    case Action::kBinary:
    case Action::kLoad:
    case Action::kAddress:
    case Action::kState:
      slots[0] = kSlotA;
      slots[1] = kSlotB;
      return 2;
    case Action::kStorePointer:
      slots[0] = kSlotB;  // the address is taken before the value is made
      slots[1] = kSlotC;  // and its word index
      slots[2] = kSlotA;
      return 3;
    case Action::kNot:
    case Action::kStore:
    case Action::kReturn:
    case Action::kIf:
    case Action::kIfNot:
    case Action::kConvert:
    case Action::kSwitch:
    case Action::kGlobalLoad:
    case Action::kPush:
      slots[0] = kSlotA;
      return 1;
    case Action::kCompoundPointer:
      slots[0] = kSlotB;  // the address is taken before the value is made
      slots[1] = kSlotA;
      return 2;
    case Action::kCompound:
    case Action::kCase:
    case Action::kLoadPointer:
    case Action::kGlobalStore:
    case Action::kRandom:
    case Action::kCycleState:
    case Action::kThinkTime:
      slots[0] = kSlotA;
      slots[1] = kSlotB;
      return 2;
    case Action::kCaseRange:
    case Action::kStoreField:
    case Action::kBitField:
      slots[0] = kSlotA;
      slots[1] = kSlotB;
      slots[2] = kSlotC;
      return 3;
    case Action::kGlobalAddress:
    case Action::kLoadArray:
    case Action::kFetchGlobal:
      slots[0] = kSlotB;
      return 1;
    case Action::kCall: {
      slots[0] = kSlotA;
      const int count = call_arguments(op);
      for (int k = 0; k < count; ++k) {
        slots[1 + k] = argument_slot(k);
      }
      return 1 + count;
    }
    default:
      return 0;
  }
}

int32_t find_pending(const Builder& b, int32_t web) {
  for (int32_t i = static_cast<int32_t>(b.pending.size()) - 1; i >= 0; --i) {
    if (b.pending[i].web == web) {
      return i;
    }
  }
  return -1;
}

// The operand expressions of the instruction at `position`, by slot; values waiting for
// this use are taken off the pending list.
void gather_operands(Builder& b, int64_t position, int32_t* operands) {
  const image::Statement& statement = b.program.statements[position];
  const int64_t i = position - b.graph.first;
  const Access& access = b.flow.access[i];
  int slots[kReadSlots];
  int count = evaluation_order(action_of(statement.op), statement.op, slots);
  if (action_of(statement.op) == Action::kStore && access.reads[argument_slot(1)].size > 0) {
    slots[count++] = argument_slot(1);  // the other two cells of a struct copy
    slots[count++] = argument_slot(2);
  }

  // The waiting values this instruction uses must be the newest unstable ones, in order;
  // otherwise writing them in place would change the order of evaluation.
  std::vector<int32_t> wanted;
  bool hazard = false;
  for (int k = 0; k < count; ++k) {
    const int32_t web = b.flow.read_web[i * kReadSlots + slots[k]];
    if (web < 0 || (b.web_mode[web] != WebMode::kInline && b.web_mode[web] != WebMode::kChain)) {
      continue;
    }
    const int32_t at = find_pending(b, web);
    if (at < 0) {
      continue;
    }
    const Pending& item = b.pending[at];
    if (!item.stable) {
      wanted.push_back(at);
    }
    if (item.copy) {
      // A copy reads its variable when it is used, not when it was made.
      const Expr& copied = b.code.exprs[item.expr];
      hazard = hazard || (copied.kind == ExprKind::kGlobal && b.last_call > item.position);
    }
  }
  std::vector<int32_t> unstable;
  for (int32_t at = 0; at < static_cast<int32_t>(b.pending.size()); ++at) {
    if (!b.pending[at].stable) {
      unstable.push_back(at);
    }
  }
  const bool in_order = wanted.size() <= unstable.size() &&
                        std::equal(wanted.begin(), wanted.end(), unstable.end() - wanted.size());
  // qcc keeps one result cell whose type the latest call sets, and stores arguments as it
  // goes, so a call must not come between another call's result and its use, and a call
  // with arguments must not come between an argument and its call.
  if (action_of(statement.op) == Action::kCall) {
    const bool takes_arguments = call_arguments(statement.op) > 0;
    for (int32_t at : unstable) {
      if (std::find(wanted.begin(), wanted.end(), at) != wanted.end()) {
        continue;
      }
      const Pending& item = b.pending[at];
      const int32_t cell = b.flow.webs[item.web].cell;
      const bool result = b.code.exprs[item.expr].kind == ExprKind::kCall;
      const bool argument = cell >= image::OFS_PARM0 && cell < image::RESERVED_OFS;
      hazard = hazard || result || (argument && takes_arguments);
    }
  }
  if (!in_order || hazard) {
    keep_pending_values(b);
  }

  std::fill(operands, operands + kReadSlots, -1);
  for (int k = 0; k < count; ++k) {
    const int slot = slots[k];
    const CellRange& read = access.reads[slot];
    if (read.size == 0) {
      continue;
    }
    const int32_t web = b.flow.read_web[i * kReadSlots + slot];
    if (web < 0) {
      operands[slot] = leaf(b, read.offset, read.size);
      continue;
    }
    if (b.web_mode[web] == WebMode::kPointer && b.web_address[web] >= 0) {
      operands[slot] = b.web_address[web];
      continue;
    }
    const int32_t at = find_pending(b, web);
    if (at >= 0 && (b.web_mode[web] == WebMode::kInline || b.web_mode[web] == WebMode::kChain)) {
      operands[slot] = b.pending[at].expr;
      --b.uses_left[web];
      b.pending.erase(b.pending.begin() + at);
      continue;
    }
    operands[slot] = web_read(b, web, read);
  }
}

void push_pending(Builder& b, int32_t web, int32_t expr, int64_t position, bool copy) {
  const Expr& e = b.code.exprs[expr];
  const bool stable = e.kind == ExprKind::kVariable && !copy;
  b.pending.push_back(Pending{web, expr,
                              static_cast<int32_t>(b.code.blocks[b.block_index].statements.size()),
                              static_cast<int32_t>(position), stable, copy});
  if (expression_depth(b.code, b.depths, expr) >= kDeepestExpression) {
    keep_pending_values(b);  // nested any deeper, it could not be written
  }
}

bool may_have_effect(const Builder& b, int32_t expr) {
  Reads reads{};
  collect_reads(b, expr, reads);
  return reads.call || b.code.exprs[expr].kind == ExprKind::kAssign;
}

// Hands a value to where the instruction writes it: a variable or global gets an
// assignment, a value used later waits, a value never read is still computed.
void deliver(Builder& b, int64_t position, int32_t value, bool is_store) {
  const int64_t i = position - b.graph.first;
  const CellRange& write = b.flow.access[i].write;
  const int32_t web = b.flow.write_web[i];
  if (write.size == 0) {
    return;
  }
  const uint32_t op = b.program.statements[position].op;
  if (web < 0) {
    const int32_t target = leaf(b, write.offset, write.size);
    const int32_t assign =
        add_expr(b, ExprKind::kAssign, op, -1, static_cast<int32_t>(position), {target, value});
    emit(b, StmtKind::kExpr, assign, -1, static_cast<int32_t>(position));
    return;
  }
  switch (b.web_mode[web]) {
    case WebMode::kInline:
    case WebMode::kChain:
    case WebMode::kTwice: {
      const Expr& e = b.code.exprs[value];
      const bool copy = is_store && (e.kind == ExprKind::kVariable || e.kind == ExprKind::kGlobal);
      push_pending(b, web, value, position, copy);
      break;
    }
    case WebMode::kVariable: {
      const int32_t target = web_read(b, web, write);
      const int32_t assign =
          add_expr(b, ExprKind::kAssign, op, -1, static_cast<int32_t>(position), {target, value});
      emit(b, StmtKind::kExpr, assign, -1, static_cast<int32_t>(position));
      break;
    }
    case WebMode::kDead: {
      const Expr& made = b.code.exprs[value];
      if (made.kind == ExprKind::kLoad && made.op != image::OP_ADDRESS) {
        // A field read for nothing is kept in a variable: qcc turns a statement that ends
        // in a field read into an address when an assignment follows.
        const int32_t target = web_read(b, web, write);
        const int32_t assign =
            add_expr(b, ExprKind::kAssign, op, -1, static_cast<int32_t>(position), {target, value});
        emit(b, StmtKind::kExpr, assign, -1, static_cast<int32_t>(position));
      } else if (!is_store || may_have_effect(b, value)) {
        emit(b, StmtKind::kExpr, value, -1, static_cast<int32_t>(position));
      }
      break;
    }
    case WebMode::kPointer: {
      // Every address of the web is taken of the entity one variable holds.
      if (b.web_variable[web] < 0) {
        b.web_variable[web] = add_variable(b, VariableKind::kValue, -1, 1, -1);
        b.code.variables[b.web_variable[web]].type = Type{image::ev_entity, kUnknownTag, -1};
      }
      int32_t address = -1;
      const int32_t assign =
          keep_address(b, value, static_cast<int32_t>(position), address, b.web_variable[web]);
      emit(b, StmtKind::kExpr, assign, -1, static_cast<int32_t>(position));
      b.web_address[web] = address;
      break;
    }
  }
}

// An argument copied into its parameter cell is still the value it copies: the call that
// reads the cell takes it in its place among the waiting values, which is how compilers
// that compute all arguments before storing any lay them out. A copy of a variable waits
// beside them; it is read when the same compiler stores it again.
bool pass_argument(Builder& b, int64_t position) {
  const int64_t i = position - b.graph.first;
  const CellRange& write = b.flow.access[i].write;
  const int32_t target = b.flow.write_web[i];
  if (write.offset < image::OFS_PARM0 || write.offset >= image::RESERVED_OFS || target < 0 ||
      (b.web_mode[target] != WebMode::kInline && b.web_mode[target] != WebMode::kChain)) {
    return false;
  }
  const int32_t source = b.flow.read_web[i * kReadSlots + kSlotA];
  if (source >= 0) {
    const int32_t at = find_pending(b, source);
    if (at < 0 || b.web_mode[source] != WebMode::kInline) {
      return false;
    }
    b.pending[at].web = target;
    b.pending[at].copy = false;
    return true;
  }
  const CellRange& read = b.flow.access[i].reads[kSlotA];
  const int32_t value = leaf(b, read.offset, read.size);
  push_pending(b, target, value, position, false);
  b.pending.back().stable = true;
  return true;
}

// Whether the next instruction stores the same variable through an address taken before
// this one: the source assigned both at once, "a.f = b = c".
bool stored_again(const Builder& b, int64_t position) {
  if (position + 1 > b.graph.blocks[b.block_index].last) {
    return false;
  }
  const image::Statement& here = b.program.statements[position];
  const image::Statement& next = b.program.statements[position + 1];
  if (action_of(next.op) != Action::kStorePointer || next.a != here.a ||
      b.flow.read_web[(position + 1 - b.graph.first) * kReadSlots + kSlotA] >= 0) {
    return false;
  }
  const int32_t pointer = b.flow.read_web[(position + 1 - b.graph.first) * kReadSlots + kSlotB];
  const int32_t at = pointer >= 0 ? find_pending(b, pointer) : -1;
  return at >= 0 && !b.pending[at].stable;
}

// Whether the value can go one level deeper into another expression.
bool can_nest(Builder& b, int32_t expr) {
  return expression_depth(b.code, b.depths, expr) + 1 < kDeepestExpression;
}

// "f() + g()" as qcc compiles it: the statement that called f for nothing becomes the left
// operand again, g's result the right one. False when the code is not of that shape.
bool rejoin_calls(Builder& b, int64_t position, int32_t* operands) {
  const int64_t i = position - b.graph.first;
  const int32_t web = b.flow.read_web[i * kReadSlots + kSlotA];
  if (web < 0 || b.web_mode[web] != WebMode::kTwice) {
    return false;
  }
  BlockCode& block = b.code.blocks[b.block_index];
  const int32_t at = find_pending(b, web);
  if (at < 0 || at != static_cast<int32_t>(b.pending.size()) - 1 || block.statements.empty()) {
    return false;
  }
  const Stmt& last = b.code.stmts[block.statements.back()];
  if (last.kind != StmtKind::kExpr || b.code.exprs[last.expr].kind != ExprKind::kCall ||
      last.position >= b.flow.webs[web].defs[0] ||
      b.pending[at].insert_at != static_cast<int32_t>(block.statements.size())) {
    return false;
  }
  std::fill(operands, operands + kReadSlots, -1);
  operands[kSlotA] = last.expr;
  operands[kSlotB] = b.pending[at].expr;
  block.statements.pop_back();
  b.pending.erase(b.pending.begin() + at);
  return true;
}

void translate(Builder& b, int64_t position) {
  const image::Statement& statement = b.program.statements[position];
  const Action action = action_of(statement.op);
  const int32_t at = static_cast<int32_t>(position);
  if (action == Action::kStore && pass_argument(b, position)) {
    return;
  }
  int32_t operands[kReadSlots];
  if (!(action == Action::kBinary && rejoin_calls(b, position, operands))) {
    const int32_t web = b.flow.read_web[(position - b.graph.first) * kReadSlots + kSlotA];
    if (web >= 0 && b.web_mode[web] == WebMode::kTwice) {
      b.web_mode[web] = WebMode::kVariable;
      keep_pending_values(b);
    }
    gather_operands(b, position, operands);
  }
  if (b.chained_at == position && b.chained_value >= 0) {
    operands[kSlotA] = b.chained_value;
    b.chained_value = -1;
  }
  switch (action) {
    case Action::kBinary:
      deliver(b, position,
              add_expr(b, ExprKind::kBinary, statement.op, -1, at,
                       {operands[kSlotA], operands[kSlotB]}),
              false);
      break;
    case Action::kNot:
      deliver(b, position, add_expr(b, ExprKind::kNot, statement.op, -1, at, {operands[kSlotA]}),
              false);
      break;
    case Action::kLoad:
    case Action::kAddress: {
      const int32_t field = b.code.exprs[operands[kSlotB]].kind == ExprKind::kGlobal ||
                                    b.code.exprs[operands[kSlotB]].kind == ExprKind::kConstant
                                ? add_expr(b, ExprKind::kField, 0, statement.b, -1, {})
                                : operands[kSlotB];
      if (action == Action::kLoad && statement.op != image::OP_LOAD_V &&
          b.code.exprs[field].kind == ExprKind::kField && is_vector_field(b, statement.b)) {
        b.code.exprs[field].component = 0;  // one cell of a vector field: its x
      }
      deliver(b, position,
              add_expr(b, ExprKind::kLoad, statement.op, -1, at, {operands[kSlotA], field}), false);
      break;
    }
    case Action::kStore: {
      const int32_t web = b.flow.read_web[(position - b.graph.first) * kReadSlots + kSlotA];
      const bool chained = web >= 0 && b.web_mode[web] == WebMode::kChain;
      if (chained && b.flow.write_web[position - b.graph.first] < 0) {
        const CellRange& write = b.flow.access[position - b.graph.first].write;
        const int32_t target = leaf(b, write.offset, write.size);
        const int32_t assign =
            add_expr(b, ExprKind::kAssign, statement.op, -1, at, {target, operands[kSlotA]});
        if (b.uses_left[web] > 0) {
          push_pending(b, web, assign, position, false);
        } else {
          emit(b, StmtKind::kExpr, assign, -1, at);
        }
        break;
      }
      const Access& access = b.flow.access[position - b.graph.first];
      if (access.reads[argument_slot(1)].size > 0) {
        // A struct copy: one assignment per cell, each into the variable named there.
        for (int k = 0; k < 3; ++k) {
          const int32_t value = operands[k == 0 ? kSlotA : argument_slot(k)];
          const int32_t target = leaf(b, int64_t{statement.b} + k, 1);
          emit(b, StmtKind::kExpr,
               add_expr(b, ExprKind::kAssign, image::OP_STORE_F, -1, at, {target, value}), -1, at);
        }
        break;
      }
      if (web < 0 && b.flow.write_web[position - b.graph.first] < 0 && stored_again(b, position) &&
          can_nest(b, operands[kSlotA])) {
        const CellRange& write = b.flow.access[position - b.graph.first].write;
        b.chained_value = add_expr(b, ExprKind::kAssign, statement.op, -1, at,
                                   {leaf(b, write.offset, write.size), operands[kSlotA]});
        b.chained_at = at + 1;
        break;
      }
      deliver(b, position, operands[kSlotA], true);
      break;
    }
    case Action::kStorePointer: {
      const int32_t web = b.flow.read_web[(position - b.graph.first) * kReadSlots + kSlotA];
      // FTE's word index after what b points at: a member of a struct, an element.
      int32_t target = operands[kSlotC] >= 0 && statement.c != 0
                           ? add_expr(b, ExprKind::kDeref, statement.op, -1, at,
                                      {operands[kSlotB], operands[kSlotC]})
                           : operands[kSlotB];
      const Expr& pointer = b.code.exprs[target];
      const bool address = (pointer.kind == ExprKind::kLoad && pointer.op == image::OP_ADDRESS) ||
                           pointer.kind == ExprKind::kElement || pointer.kind == ExprKind::kDeref;
      if (!address && b.facts.extended_instructions) {
        // Through a pointer variable: "*p = v". Classic programs have no such syntax, and
        // the compilers that read them store through "p = v".
        target = add_expr(b, ExprKind::kDeref, statement.op, -1, at, {target});
      }
      if (web < 0 && stored_again(b, position) && can_nest(b, operands[kSlotA])) {
        b.chained_value =
            add_expr(b, ExprKind::kAssign, statement.op, -1, at, {target, operands[kSlotA]});
        b.chained_at = at + 1;
        break;
      }
      if (statement.op != image::OP_STOREP_V && b.code.exprs[target].kind == ExprKind::kLoad) {
        Expr& field = b.code.exprs[operand_of(b, target, 1)];
        if (field.kind == ExprKind::kField && is_vector_field(b, field.ref)) {
          field.component = 0;
        }
      }
      const int32_t assign =
          add_expr(b, ExprKind::kAssign, statement.op, -1, at, {target, operands[kSlotA]});
      if (web >= 0 && b.web_mode[web] == WebMode::kChain && b.uses_left[web] > 0) {
        push_pending(b, web, assign, position, false);
      } else {
        emit(b, StmtKind::kExpr, assign, -1, at);
      }
      break;
    }
    case Action::kReturn:
      emit(b, StmtKind::kReturn, operands[kSlotA], -1, at);
      break;
    case Action::kIf:
    case Action::kIfNot: {
      BlockCode& block = b.code.blocks[b.block_index];
      block.condition = operands[kSlotA];
      block.jump_when_true = action == Action::kIf;
      if (statement.op >= image::OPCODE_COUNT) {
        block.condition_tag = instruction_row(statement.op).tag[0];
      }
      break;
    }
    case Action::kCall: {
      // qcc copies every argument with STORE_V, so a vector's first component passed to a
      // one-cell parameter reads like the whole vector: the callee's sizes tell.
      const int32_t callee_record = image::global_int(statement.a);
      const bool known = b.code.exprs[operands[kSlotA]].kind != ExprKind::kLoad &&
                         b.code.exprs[operands[kSlotA]].kind != ExprKind::kVariable &&
                         callee_record > 0 &&
                         callee_record < static_cast<int32_t>(b.program.functions.size());
      std::vector<int32_t> arguments;
      for (int k = 0; k < call_arguments(statement.op); ++k) {
        const int32_t argument = operands[argument_slot(k)];
        Expr& leaf_expr = b.code.exprs[argument];
        const bool whole_leaf =
            (leaf_expr.kind == ExprKind::kGlobal || (leaf_expr.kind == ExprKind::kVariable &&
                                                     b.code.variables[leaf_expr.ref].size == 3)) &&
            leaf_expr.component < 0;
        if (known && whole_leaf && k < parameter_count(b.program.functions[callee_record]) &&
            b.program.functions[callee_record].parm_size[k] == 1 &&
            b.flow.access[position - b.graph.first].reads[argument_slot(k)].size == 3) {
          leaf_expr.component = 0;
        }
        arguments.push_back(argument);
      }
      int32_t callee = operands[kSlotA];
      const Expr& target = b.code.exprs[callee];
      if (target.kind == ExprKind::kConstant || target.kind == ExprKind::kGlobal) {
        // A call of a function constant names the function.
        callee = target.kind == ExprKind::kConstant
                     ? add_expr(b, ExprKind::kFunction, 0, image::global_int(statement.a), -1, {})
                     : callee;
      }
      const int32_t call = add_call(b, statement.op, at, callee, arguments);
      b.last_call = at;
      deliver(b, position, call, false);
      break;
    }
    case Action::kConvert:
      deliver(b, position,
              add_expr(b, ExprKind::kConvert, statement.op, -1, at, {operands[kSlotA]}), false);
      break;
    case Action::kCase:
    case Action::kCaseRange: {
      // A row of a switch's case table: a test of the value the switch read.
      const uint32_t opening = b.program.statements[b.graph.switch_of[position - b.graph.first]].op;
      const bool integer = opening == 215;
      BlockCode& block = b.code.blocks[b.block_index];
      if (action == Action::kCase) {
        static constexpr uint32_t Equal[] = {image::OP_EQ_F, image::OP_EQ_V, image::OP_EQ_S,
                                             image::OP_EQ_E, image::OP_EQ_FNC};
        const uint32_t equal =
            integer ? 134 : Equal[opening >= 98 && opening <= 102 ? opening - 98 : 0];
        block.condition =
            add_expr(b, ExprKind::kBinary, equal, -1, at, {operands[kSlotA], operands[kSlotB]});
      } else {
        const int32_t low = add_expr(b, ExprKind::kBinary, integer ? 162 : image::OP_GE, -1, at,
                                     {operands[kSlotA], operands[kSlotB]});
        const int32_t high = add_expr(b, ExprKind::kBinary, integer ? 161 : image::OP_LE, -1, at,
                                      {operands[kSlotA], operands[kSlotC]});
        block.condition = add_expr(b, ExprKind::kBinary, image::OP_AND, -1, at, {low, high});
      }
      block.jump_when_true = true;
      break;
    }
    case Action::kStoreField: {
      const int32_t field = b.code.exprs[operands[kSlotB]].kind == ExprKind::kGlobal ||
                                    b.code.exprs[operands[kSlotB]].kind == ExprKind::kConstant
                                ? add_expr(b, ExprKind::kField, 0, statement.b, -1, {})
                                : operands[kSlotB];
      const int32_t target =
          add_expr(b, ExprKind::kLoad, image::OP_ADDRESS, -1, at, {operands[kSlotA], field});
      emit(b, StmtKind::kExpr,
           add_expr(b, ExprKind::kAssign, statement.op, -1, at, {target, operands[kSlotC]}), -1,
           at);
      break;
    }
    case Action::kLoadPointer: {
      const int32_t pointer = operands[kSlotA];
      const int32_t made =
          operands[kSlotB] >= 0 && statement.b != 0
              ? add_expr(b, ExprKind::kDeref, statement.op, -1, at, {pointer, operands[kSlotB]})
              : add_expr(b, ExprKind::kDeref, statement.op, -1, at, {pointer});
      deliver(b, position, made, false);
      break;
    }
    case Action::kGlobalAddress:
    case Action::kLoadArray:
    case Action::kFetchGlobal: {
      // GLOBALADDRESS with no index (global 0) takes the address of the global itself.
      const int32_t made =
          action == Action::kGlobalAddress && statement.b == 0
              ? add_expr(b, ExprKind::kElement, statement.op, statement.a, at, {})
              : add_expr(b, ExprKind::kElement, statement.op, statement.a, at, {operands[kSlotB]});
      deliver(b, position, made, false);
      break;
    }
    case Action::kCompound:
    case Action::kCompoundPointer: {
      const int32_t assign = add_expr(b, ExprKind::kAssign, statement.op, -1, at,
                                      {operands[kSlotB], operands[kSlotA]});
      if (action == Action::kCompoundPointer &&
          b.flow.access[position - b.graph.first].write.size > 0 && statement.c != 0) {
        deliver(b, position, assign, false);  // its new value is used
      } else {
        emit(b, StmtKind::kExpr, assign, -1, at);
      }
      break;
    }
    case Action::kRandom:
    case Action::kPush:
    case Action::kGlobalLoad:
    case Action::kBitField: {
      std::vector<int32_t> arguments;
      for (int slot : {kSlotA, kSlotB, kSlotC}) {
        if (operands[slot] >= 0) {
          arguments.push_back(operands[slot]);
        }
      }
      deliver(b, position, add_intrinsic(b, statement.op, at, arguments), false);
      break;
    }
    case Action::kCycleState:
    case Action::kThinkTime:
    case Action::kGlobalStore: {
      const int32_t made = add_intrinsic(b, statement.op, at, {operands[kSlotA], operands[kSlotB]});
      auto constant = [&](int32_t expr) {
        const ExprKind kind = b.code.exprs[expr].kind;
        return kind == ExprKind::kConstant || kind == ExprKind::kGlobal;
      };
      if (statement.op == 85 && position == b.function.first_statement && b.code.frame_header < 0 &&
          constant(operands[kSlotA]) && constant(operands[kSlotB])) {
        // Hexen II's cycling frame header, "[++ first .. last]".
        b.code.frame_header = add_stmt(b, StmtKind::kState, made, -1, at);
      } else {
        emit(b, StmtKind::kExpr, made, -1, at);
      }
      break;
    }
    case Action::kState:
      if (position == b.function.first_statement && b.code.frame_header < 0) {
        b.code.frame_header = add_stmt(b, StmtKind::kState, operands[kSlotA], operands[kSlotB], at);
      } else {
        emit(b, StmtKind::kState, operands[kSlotA], operands[kSlotB], at);
      }
      break;
    case Action::kSwitch:
      b.code.blocks[b.block_index].switch_value = operands[kSlotA];
      break;
    default:
      break;
  }
}

}  // namespace

FunctionCode build_function_code(const image::ProgramImage& program, const ProgramFacts& facts,
                                 const FlowGraph& graph, const ValueFlow& flow,
                                 const TrackedCells& tracked) {
  Builder b{program,
            facts,
            graph,
            flow,
            tracked,
            program.functions[graph.function],
            FunctionCode{},
            {},
            {},
            {},
            {},
            {},
            {},
            {},
            0,
            -1,
            -1,
            -1,
            {}};
  b.code.function = graph.function;
  b.code.frame_header = -1;
  b.code.state_loop = false;
  b.code.blocks.assign(graph.blocks.size(), BlockCode{{}, -1, false});
  declare_function_variables(b);
  decide_web_modes(b);
  for (size_t k = 0; k < graph.blocks.size(); ++k) {
    b.block_index = static_cast<int32_t>(k);
    b.pending.clear();
    b.last_call = -1;
    for (int64_t p = graph.blocks[k].first; p <= graph.blocks[k].last; ++p) {
      translate(b, p);
    }
    // A value still waiting has lost its use to a jump: compute it where it was made.
    if (!b.pending.empty()) {
      keep_pending_values(b);
    }
  }
  return b.code;
}

}  // namespace compilable
