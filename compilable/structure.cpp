// Turns a function's flow graph into nested if/else, while, do-while, break and continue,
// with && and || where conditions short-circuit; code that has no such shape is written as
// a loop over a state variable.
#include "compilable/structure.h"

#include <algorithm>
#include <utility>

#include "compilable/instructions.h"
#include "image/opcodes.h"

namespace compilable {

namespace {

// The flow graph as the structuring sees it: branches by truth, with merged conditions.
struct Shape {
  bool alive;
  bool branch;
  bool returns;
  int32_t condition;  // branch: the expression tested
  int32_t when_true;  // branch: successor when the condition holds
  int32_t when_false;
  int32_t next;  // no branch: the successor, -1 after a return
  int32_t fall;  // the successor placed right after the block, -1 when none
  std::vector<int32_t> predecessors;
};

struct Loop {
  int32_t header;
  int32_t parent;                // enclosing loop, -1
  std::vector<int32_t> latches;  // sources of the jumps back to the header
};

// Where break and continue go inside the loop being written.
struct LoopContext {
  int32_t break_target;
  int32_t continue_target;
};

struct Structurer {
  const image::ProgramImage& program;
  const ProgramFacts& facts;
  const FlowGraph& graph;
  FunctionCode& code;
  StructuredBody body;
  std::vector<Shape> shapes;
  std::vector<int32_t> idom;
  std::vector<int32_t> pre;   // dominator-tree pre-order number
  std::vector<int32_t> post;  // one past the last pre-order number of its subtree
  std::vector<int32_t> by_pre;
  std::vector<int32_t> loop_of;      // innermost loop of each block, -1
  std::vector<int32_t> header_loop;  // the loop a block heads, -1
  std::vector<Loop> loops;
  int64_t budget;
  bool failed;
  int32_t nesting;                   // regions being written, one inside the other
  std::vector<int32_t> expr_depths;  // as far as expression_depth has looked
};

// The deepest nesting of statements the source is written with: writing a region, and
// later printing it, recurses once per level; a function nested deeper is written as a
// state loop. Real programs stay far below it.
constexpr int32_t kDeepestNesting = 1000;
// How many if/else levels folding the arms that end in DONE may add (see fold_done_arms).
constexpr int kMostFolds = 64;

int32_t add_node(Structurer& s, NodeKind kind, int32_t ref) {
  s.body.nodes.push_back(Node{kind, ref, {}, {}});
  return static_cast<int32_t>(s.body.nodes.size()) - 1;
}

int32_t add_expr(FunctionCode& code, ExprKind kind, uint32_t op, int32_t ref,
                 std::initializer_list<int32_t> operands) {
  Expr expr{kind,
            -1,
            op,
            ref,
            -1,
            static_cast<int32_t>(code.operands.size()),
            static_cast<int32_t>(operands.size()),
            kUnknownType};
  for (int32_t operand : operands) {
    code.operands.push_back(operand);
  }
  code.exprs.push_back(expr);
  return static_cast<int32_t>(code.exprs.size()) - 1;
}

// Whether an operand is the constant 0: an anonymous one, or a named constant no
// instruction writes.
bool is_zero_constant(const Structurer& s, int32_t expr) {
  const Expr& e = s.code.exprs[expr];
  if (e.kind != ExprKind::kConstant && e.kind != ExprKind::kGlobal) {
    return false;
  }
  if (e.component >= 0 || e.ref <= 0 || e.ref >= s.facts.cell_count ||
      image::global_cell(e.ref) != 0) {
    return false;
  }
  if (e.kind == ExprKind::kConstant) {
    return true;
  }
  const int32_t def = s.facts.named_cover[e.ref];
  return def >= 0 && !s.facts.written[e.ref] &&
         (s.program.globaldefs[def].type & image::DEF_SAVEGLOBAL) == 0;
}

// The opposite of a condition. "x != 0" becomes "!x": fteqcc compiles "if (!x)" into a
// test of x != 0 that jumps when it holds, and "!x" means the same for every float.
int32_t negate(Structurer& s, int32_t condition) {
  FunctionCode& code = s.code;
  const Expr& e = code.exprs[condition];
  if (e.kind == ExprKind::kBinary && e.op == image::OP_NE_F &&
      is_zero_constant(s, code.operands[e.first_operand + 1])) {
    return add_expr(code, ExprKind::kNot, image::OP_NOT_F, -1, {code.operands[e.first_operand]});
  }
  return add_expr(code, ExprKind::kNot, image::OP_NOT_F, -1, {condition});
}

void build_shapes(Structurer& s) {
  const size_t count = s.graph.blocks.size();
  s.shapes.assign(count, Shape{true, false, false, -1, -1, -1, -1, -1, {}});
  for (size_t b = 0; b < count; ++b) {
    const Block& block = s.graph.blocks[b];
    Shape& shape = s.shapes[b];
    shape.predecessors = block.predecessors;
    switch (block.exit) {
      case BlockExit::kBranch: {
        const BlockCode& code = s.code.blocks[b];
        if (block.successors[0] == block.successors[1]) {
          // Both ways lead to the same place: only the condition's computation remains.
          s.code.stmts.push_back(Stmt{StmtKind::kExpr, code.condition, -1, block.last});
          s.code.blocks[b].statements.push_back(static_cast<int32_t>(s.code.stmts.size()) - 1);
          shape.next = block.successors[0];
          shape.fall = block.successors[0];
          break;
        }
        shape.branch = true;
        shape.condition = code.condition;
        shape.when_true = code.jump_when_true ? block.successors[1] : block.successors[0];
        shape.when_false = code.jump_when_true ? block.successors[0] : block.successors[1];
        shape.fall = block.successors[0];
        break;
      }
      case BlockExit::kReturn:
        shape.returns = true;
        break;
      default:
        shape.next = block.successors[0];
        shape.fall = block.exit == BlockExit::kFall ? block.successors[0] : -1;
        break;
    }
  }
}

void replace_predecessor(Shape& shape, int32_t from, int32_t to) {
  for (int32_t& p : shape.predecessors) {
    if (p == from) {
      p = to;
    }
  }
  std::sort(shape.predecessors.begin(), shape.predecessors.end());
  shape.predecessors.erase(std::unique(shape.predecessors.begin(), shape.predecessors.end()),
                           shape.predecessors.end());
}

// Whether the code placed just before the block jumps over it: the end of a then-branch
// whose else-branch starts at the block.
bool has_else_before(const Structurer& s, int32_t block) {
  const int32_t first = s.graph.blocks[block].first;
  if (first <= s.graph.first || block_of(s.graph, first - 1) < 0) {
    return false;
  }
  const Block& before = s.graph.blocks[block_of(s.graph, first - 1)];
  return before.exit == BlockExit::kGoto && before.successors[0] != block;
}

// Whether the block is a row of a switch's case table (CASE or CASERANGE).
bool is_case_row(const Structurer& s, int32_t block) {
  const Block& flow = s.graph.blocks[block];
  return s.graph.switch_of[flow.last - s.graph.first] >= 0;
}

// A branch whose one successor is a block that only tests another condition and shares a
// target with it is one condition joined by && or ||; a shared target of && that is no
// else-branch is left as nested tests. The rows of a case table stay as they are.
void merge_conditions(Structurer& s) {
  // A merge changes only the block that merges: the block it takes in had no other
  // predecessor, and its targets get this one in its place. So blocks before it stay as
  // they were, and the block is tried again at once before the scan goes on.
  for (size_t b = 0; b < s.shapes.size(); ++b) {
    bool changed = true;
    while (changed) {
      changed = false;
      Shape& first = s.shapes[b];
      if (!first.alive || !first.branch || is_case_row(s, static_cast<int32_t>(b))) {
        break;
      }
      for (int side = 0; side < 2 && !changed; ++side) {
        const int32_t middle = side == 0 ? first.when_true : first.when_false;
        if (middle < 0 || middle == static_cast<int32_t>(b)) {
          continue;
        }
        Shape& second = s.shapes[middle];
        if (!second.alive || !second.branch || second.predecessors.size() != 1 ||
            is_case_row(s, middle) || !s.code.blocks[middle].statements.empty() || middle == 0) {
          continue;
        }
        const int32_t shared = side == 0 ? first.when_false : first.when_true;
        if (side == 0 && !has_else_before(s, shared)) {
          continue;  // if (a) if (b) ...: nested tests say the same without &&
        }
        // Joined with a negation around the second, the condition is two levels deeper.
        if (std::max(expression_depth(s.code, s.expr_depths, first.condition),
                     expression_depth(s.code, s.expr_depths, second.condition)) +
                2 >=
            kDeepestExpression) {
          continue;  // left as nested tests
        }
        if (second.when_false != shared && second.when_true != shared) {
          continue;
        }
        const int32_t other = second.when_true == shared ? second.when_false : second.when_true;
        const int32_t keep_true = side == 0 ? other : shared;
        const int32_t keep_false = side == 0 ? shared : other;
        if (keep_true == middle || keep_false == middle) {
          continue;  // the second test loops on itself
        }
        int32_t condition = second.condition;
        if ((side == 0) == (second.when_true == shared)) {
          condition = negate(s, condition);
        }
        const uint32_t op = side == 0 ? image::OP_AND : image::OP_OR;
        first.condition = add_expr(s.code, ExprKind::kBinary, op, -1, {first.condition, condition});
        const int32_t fall = second.fall;
        first.when_true = keep_true;
        first.when_false = keep_false;
        first.fall = fall == keep_true || fall == keep_false ? fall : first.fall;
        second.alive = false;
        for (int32_t target : {second.when_true, second.when_false}) {
          replace_predecessor(s.shapes[target], middle, static_cast<int32_t>(b));
        }
        changed = true;
      }
    }
  }
}

std::vector<int32_t> successors(const Shape& shape) {
  std::vector<int32_t> out;
  if (shape.branch) {
    out.push_back(shape.when_true);
    if (shape.when_false != shape.when_true) {
      out.push_back(shape.when_false);
    }
  } else if (shape.next >= 0) {
    out.push_back(shape.next);
  }
  return out;
}

// Dominators by the iterative method over reverse postorder; false when some jump goes
// back into a loop other than through its header.
bool find_dominators(Structurer& s) {
  const int32_t count = static_cast<int32_t>(s.shapes.size());
  std::vector<int32_t> order;  // postorder
  std::vector<int32_t> rpo(count, -1);
  std::vector<uint8_t> state(count, 0);
  std::vector<std::pair<int32_t, size_t>> stack{{0, 0}};
  state[0] = 1;
  while (!stack.empty()) {
    auto& [b, next] = stack.back();
    const std::vector<int32_t> succ = successors(s.shapes[b]);
    if (next < succ.size()) {
      const int32_t t = succ[next++];
      if (state[t] == 0) {
        state[t] = 1;
        stack.emplace_back(t, 0);
      }
      continue;
    }
    state[b] = 2;
    order.push_back(b);
    stack.pop_back();
  }
  for (size_t k = 0; k < order.size(); ++k) {
    rpo[order[k]] = static_cast<int32_t>(order.size() - 1 - k);
  }
  s.idom.assign(count, -1);
  s.idom[0] = 0;
  auto intersect = [&](int32_t x, int32_t y) {
    while (x != y) {
      while (rpo[x] > rpo[y]) {
        x = s.idom[x];
      }
      while (rpo[y] > rpo[x]) {
        y = s.idom[y];
      }
    }
    return x;
  };
  bool changed = true;
  while (changed) {
    changed = false;
    for (size_t k = order.size(); k-- > 0;) {
      const int32_t b = order[k];
      if (b == 0) {
        continue;
      }
      int32_t dom = -1;
      for (int32_t p : s.shapes[b].predecessors) {
        if (!s.shapes[p].alive || rpo[p] < 0 || s.idom[p] < 0) {
          continue;
        }
        dom = dom < 0 ? p : intersect(p, dom);
      }
      if (dom != s.idom[b]) {
        s.idom[b] = dom;
        changed = true;
      }
    }
  }
  // Pre-order numbers of the dominator tree: a block's subtree is one run of them.
  std::vector<std::vector<int32_t>> children(count);
  for (int32_t b = 1; b < count; ++b) {
    if (s.shapes[b].alive && s.idom[b] >= 0 && rpo[b] >= 0) {
      children[s.idom[b]].push_back(b);
    }
  }
  s.pre.assign(count, -1);
  s.post.assign(count, -1);
  s.by_pre.clear();
  std::vector<std::pair<int32_t, size_t>> walk{{0, 0}};
  s.pre[0] = 0;
  s.by_pre.push_back(0);
  while (!walk.empty()) {
    auto& [b, next] = walk.back();
    if (next < children[b].size()) {
      const int32_t c = children[b][next++];
      s.pre[c] = static_cast<int32_t>(s.by_pre.size());
      s.by_pre.push_back(c);
      walk.emplace_back(c, 0);
      continue;
    }
    s.post[b] = static_cast<int32_t>(s.by_pre.size());
    walk.pop_back();
  }
  // A retreating edge must go to a dominator.
  for (int32_t b = 0; b < count; ++b) {
    if (!s.shapes[b].alive || rpo[b] < 0) {
      continue;
    }
    for (int32_t t : successors(s.shapes[b])) {
      const bool retreating = rpo[t] <= rpo[b];
      const bool dominates = s.pre[t] <= s.pre[b] && s.pre[b] < s.post[t];
      if (retreating && !dominates) {
        return false;
      }
    }
  }
  return true;
}

bool dominates(const Structurer& s, int32_t x, int32_t y) {
  return s.pre[x] >= 0 && s.pre[y] >= 0 && s.pre[x] <= s.pre[y] && s.pre[y] < s.post[x];
}

void find_loops(Structurer& s) {
  const int32_t count = static_cast<int32_t>(s.shapes.size());
  s.loop_of.assign(count, -1);
  s.header_loop.assign(count, -1);
  s.loops.clear();
  // Headers in dominator pre-order, so that an enclosing loop is found before its inner ones.
  for (int32_t h : s.by_pre) {
    std::vector<int32_t> latches;
    for (int32_t p : s.shapes[h].predecessors) {
      if (s.shapes[p].alive && dominates(s, h, p)) {
        latches.push_back(p);
      }
    }
    if (latches.empty()) {
      continue;
    }
    const int32_t index = static_cast<int32_t>(s.loops.size());
    s.loops.push_back(Loop{h, s.loop_of[h], latches});
    s.header_loop[h] = index;
    std::vector<int32_t> work = latches;
    s.loop_of[h] = index;
    while (!work.empty()) {
      const int32_t b = work.back();
      work.pop_back();
      if (s.loop_of[b] == index) {
        continue;
      }
      s.loop_of[b] = index;
      for (int32_t p : s.shapes[b].predecessors) {
        if (s.shapes[p].alive && dominates(s, h, p) && s.loop_of[p] != index) {
          work.push_back(p);
        }
      }
    }
  }
}

bool in_loop(const Structurer& s, int32_t block, int32_t loop) {
  for (int32_t l = s.loop_of[block]; l >= 0; l = s.loops[l].parent) {
    if (l == loop) {
      return true;
    }
  }
  return false;
}

// The blocks the region of `start` leaves to: the successors outside the part of the graph
// that `start` dominates. A start with other predecessors is itself where the region ends.
std::vector<int32_t> region_exits(Structurer& s, int32_t start, int32_t from) {
  std::vector<int32_t> exits;
  bool own = start != 0 && s.idom[start] == from;
  for (int32_t p : s.shapes[start].predecessors) {
    own = own && (p == from || !s.shapes[p].alive || dominates(s, start, p));  // or a jump back
  }
  if (!own) {
    exits.push_back(start);
    return exits;
  }
  for (int32_t k = s.pre[start]; k < s.post[start]; ++k) {
    const int32_t b = s.by_pre[k];
    --s.budget;
    for (int32_t t : successors(s.shapes[b])) {
      if (!dominates(s, start, t) && std::find(exits.begin(), exits.end(), t) == exits.end()) {
        exits.push_back(t);
      }
    }
  }
  return exits;
}

std::vector<int32_t> emit_region(Structurer& s, int32_t start, int32_t follow,
                                 const LoopContext& context, int32_t entered_loop);

// Where the else-branch of an if ends, when the code placed just before it is a GOTO over it
// that nothing reaches (the then-branch returned first): the block it jumps to, -1 when that
// is the unreachable end, -2 when there is no such GOTO.
int32_t explicit_else_end(const Structurer& s, int32_t then_start, int32_t else_start) {
  const int64_t before = int64_t{s.graph.blocks[else_start].first} - 1;
  if (before < s.graph.first || block_of(s.graph, before) >= 0 ||
      s.graph.blocks[then_start].first > before) {
    return -2;
  }
  const image::Statement& statement = s.program.statements[before];
  if (action_of(statement.op) != Action::kGoto) {
    return -2;
  }
  const int64_t target = jump_target(statement, before);
  if (target <= before || target >= s.graph.end) {
    return -2;
  }
  return block_of(s.graph, target);
}

int32_t statement_node(Structurer& s, int32_t stmt) {
  return add_node(s, NodeKind::kStatement, stmt);
}

void emit_block_statements(Structurer& s, int32_t block, std::vector<int32_t>& out) {
  for (int32_t stmt : s.code.blocks[block].statements) {
    out.push_back(statement_node(s, stmt));
  }
  const Block& flow = s.graph.blocks[block];
  if (s.shapes[block].returns &&
      (s.code.blocks[block].statements.empty() ||
       s.code.stmts[s.code.blocks[block].statements.back()].kind != StmtKind::kReturn)) {
    // The function's end (DONE) in the middle of the code must still stop it there.
    s.code.stmts.push_back(Stmt{StmtKind::kReturn, -1, 1, flow.last});
    out.push_back(statement_node(s, static_cast<int32_t>(s.code.stmts.size()) - 1));
  }
}

// Where a jump to `target` goes in the code being written: nowhere new (the region's end),
// a break or continue, or on to the block.
bool leave_for(Structurer& s, int32_t target, int32_t follow, const LoopContext& context,
               std::vector<int32_t>& out) {
  if (target == follow) {
    return true;
  }
  if (target == context.break_target) {
    out.push_back(add_node(s, NodeKind::kBreak, -1));
    return true;
  }
  if (target == context.continue_target) {
    out.push_back(add_node(s, NodeKind::kContinue, -1));
    return true;
  }
  return false;
}

void emit_loop(Structurer& s, int32_t header, const LoopContext& outer, int32_t& next,
               std::vector<int32_t>& out) {
  const int32_t loop = s.header_loop[header];
  const Loop& info = s.loops[loop];
  // Exits: successors of the loop's blocks outside it.
  std::vector<int32_t> exits;
  for (int32_t k = s.pre[header]; k < s.post[header]; ++k) {
    const int32_t b = s.by_pre[k];
    --s.budget;
    if (!in_loop(s, b, loop)) {
      continue;
    }
    for (int32_t t : successors(s.shapes[b])) {
      if (!in_loop(s, t, loop) && std::find(exits.begin(), exits.end(), t) == exits.end()) {
        exits.push_back(t);
      }
    }
  }
  // An exit whose code only ends the function (a return inside the loop) is written inside
  // the loop; the loop goes on to one of the others. A loop with no other exit than its own
  // test goes on nowhere else, so that no break is needed to leave it (qcc has none).
  std::vector<int32_t> onward;
  for (int32_t e : exits) {
    const bool own = dominates(s, header, e) && s.shapes[e].predecessors.size() == 1;
    if (!own || !region_exits(s, e, s.idom[e]).empty()) {
      onward.push_back(e);
    }
  }
  // The loop's own test may still leave to an exit that only ends the function.
  auto goes_on = [&](int32_t e) {
    const std::vector<int32_t>& ways = onward.empty() ? exits : onward;
    return std::find(ways.begin(), ways.end(), e) != ways.end();
  };
  const Shape& head = s.shapes[header];
  int32_t follow = -1;
  // A header that only tests is a while loop, which goes on where the test leaves it; a
  // header that also does work is the body of a do-while, whose test may leave by a break.
  if (head.branch && s.code.blocks[header].statements.empty() &&
      in_loop(s, head.when_true, loop) != in_loop(s, head.when_false, loop) &&
      goes_on(in_loop(s, head.when_true, loop) ? head.when_false : head.when_true)) {
    follow = in_loop(s, head.when_true, loop) ? head.when_false : head.when_true;
  } else if (info.latches.size() == 1 && s.shapes[info.latches[0]].branch) {
    const Shape& latch = s.shapes[info.latches[0]];
    if (latch.when_true == header || latch.when_false == header) {
      const int32_t other = latch.when_true == header ? latch.when_false : latch.when_true;
      if (!in_loop(s, other, loop) && goes_on(other)) {
        follow = other;
      }
    }
  }
  if (follow < 0 && !onward.empty()) {
    // The exit placed furthest on.
    follow = *std::max_element(onward.begin(), onward.end(), [&](int32_t x, int32_t y) {
      return s.graph.blocks[x].first < s.graph.blocks[y].first;
    });
  }
  next = follow;
  const LoopContext inner{follow, header};

  // while (condition) { body }: the header only tests.
  if (head.branch && s.code.blocks[header].statements.empty() &&
      in_loop(s, head.when_true, loop) != in_loop(s, head.when_false, loop)) {
    const bool stays_when_true = in_loop(s, head.when_true, loop);
    const int32_t condition = stays_when_true ? head.condition : negate(s, head.condition);
    const int32_t node = add_node(s, NodeKind::kWhile, condition);
    // A test that jumps to itself loops with nothing in its body.
    const int32_t stay = stays_when_true ? head.when_true : head.when_false;
    std::vector<int32_t> body =
        stay == header ? std::vector<int32_t>() : emit_region(s, stay, header, inner, -1);
    s.body.nodes[node].body = std::move(body);
    out.push_back(node);
    return;
  }
  // do { body } while (condition): the one jump back is a branch at the end.
  if (info.latches.size() == 1) {
    const int32_t latch = info.latches[0];
    const Shape& tail = s.shapes[latch];
    if (tail.branch && (tail.when_true == header || tail.when_false == header) &&
        (tail.when_true == follow || tail.when_false == follow)) {
      const int32_t condition =
          tail.when_true == header ? tail.condition : negate(s, tail.condition);
      const int32_t node = add_node(s, NodeKind::kDoWhile, condition);
      std::vector<int32_t> body;
      if (latch != header) {
        // continue would skip statements the test block runs before its test.
        const int32_t continue_target = s.code.blocks[latch].statements.empty() ? latch : -3;
        body = emit_region(s, header, latch, LoopContext{follow, continue_target}, header);
      }
      for (int32_t stmt : s.code.blocks[latch].statements) {
        body.push_back(statement_node(s, stmt));
      }
      s.body.nodes[node].body = std::move(body);
      out.push_back(node);
      return;
    }
  }
  // while (1) { body } with breaks.
  const int32_t one = add_expr(s.code, ExprKind::kLiteral, 0, 1, {});
  const int32_t node = add_node(s, NodeKind::kWhile, one);
  std::vector<int32_t> body = emit_region(s, header, -2, inner, header);
  if (!body.empty() && s.body.nodes[body.back()].kind == NodeKind::kContinue) {
    body.pop_back();
  }
  s.body.nodes[node].body = std::move(body);
  out.push_back(node);
  (void)outer;
}

// switch (value) { case ...: ... } from the block that ends in SWITCH: its case table (CASE
// rows, then a GOTO to the default case or past the table) jumps back to the bodies placed
// between the switch and the table, which end in a GOTO past the table for each break.
// Returns the block the code goes on with, -1 when it does not; sets failed when the code has
// another shape.
int32_t emit_switch(Structurer& s, int32_t block, const LoopContext& context,
                    std::vector<int32_t>& out) {
  const int32_t table = s.shapes[block].next;
  std::vector<std::pair<int32_t, int32_t>> cases;  // test, body
  int32_t row = table;
  while (row >= 0 && is_case_row(s, row)) {
    const Shape& shape = s.shapes[row];
    if (!shape.alive || !shape.branch || !s.code.blocks[row].statements.empty()) {
      s.failed = true;
      return -1;
    }
    cases.emplace_back(shape.condition, shape.when_true);
    row = shape.when_false;
  }
  const int32_t table_first = s.graph.blocks[table].first;
  if (row < 0 || cases.empty() || s.graph.blocks[row].first < table_first) {
    s.failed = true;
    return -1;
  }
  // The table ends in a GOTO to the default case (or past the table), or, with no default,
  // runs on past its last row.
  int32_t after = row;
  int32_t fallback = row;
  const Block& last_row = s.graph.blocks[row];
  if (last_row.exit == BlockExit::kGoto && last_row.first == last_row.last &&
      s.code.blocks[row].statements.empty()) {
    const int64_t after_position = int64_t{last_row.last} + 1;
    after = after_position < s.graph.end ? block_of(s.graph, after_position) : -1;
    fallback = s.shapes[row].next;
  }
  // The bodies in the order they are placed, which is the order of the source.
  std::vector<int32_t> starts;
  for (const auto& [test, body] : cases) {
    starts.push_back(body);
  }
  if (fallback != after) {
    starts.push_back(fallback);
  }
  auto position = [&s](int32_t b) { return s.graph.blocks[b].first; };
  std::sort(starts.begin(), starts.end(),
            [&](int32_t x, int32_t y) { return position(x) < position(y); });
  starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  for (int32_t start : starts) {
    if (start < 0 || position(start) <= s.graph.blocks[block].last ||
        position(start) >= table_first) {
      s.failed = true;
      return -1;
    }
  }
  const int32_t node = add_node(s, NodeKind::kSwitch, s.code.blocks[block].switch_value);
  const LoopContext inside{after, context.continue_target};
  for (size_t i = 0; i < starts.size(); ++i) {
    int32_t last_label = -1;
    for (const auto& [test, body] : cases) {
      if (body == starts[i]) {
        last_label = add_node(s, NodeKind::kCase, test);
        s.body.nodes[node].body.push_back(last_label);
      }
    }
    if (starts[i] == fallback) {
      last_label = add_node(s, NodeKind::kCase, -1);
      s.body.nodes[node].body.push_back(last_label);
    }
    // A body runs on into the next one unless it breaks; the last one always jumps.
    const int32_t follow = i + 1 < starts.size() ? starts[i + 1] : table;
    std::vector<int32_t> nodes = emit_region(s, starts[i], follow, inside, -1);
    s.body.nodes[last_label].body = std::move(nodes);
  }
  out.push_back(node);
  return after;
}

// The statements from `start` until the flow reaches `follow`. `entered_loop` is a loop
// header already being written, which is not opened again.
std::vector<int32_t> emit_region(Structurer& s, int32_t start, int32_t follow,
                                 const LoopContext& context, int32_t entered_loop) {
  std::vector<int32_t> out;
  int32_t b = start;
  bool first = true;
  if (++s.nesting > kDeepestNesting) {
    s.failed = true;
  }
  while (b >= 0 && !s.failed) {
    if (--s.budget < 0) {
      s.failed = true;
      break;
    }
    if (!first && leave_for(s, b, follow, context, out)) {
      break;
    }
    if (s.header_loop[b] >= 0 && !(first && b == entered_loop)) {
      int32_t next = -1;
      emit_loop(s, b, context, next, out);
      first = false;
      if (next < 0) {
        break;
      }
      b = next;
      continue;
    }
    first = false;
    emit_block_statements(s, b, out);
    const Shape& shape = s.shapes[b];
    if (shape.returns) {
      break;
    }
    if (s.code.blocks[b].switch_value >= 0) {
      const int32_t after = emit_switch(s, b, context, out);
      if (after < 0 || s.failed || leave_for(s, after, follow, context, out)) {
        break;
      }
      b = after;
      continue;
    }
    if (!shape.branch) {
      const int32_t target = shape.next;
      if (leave_for(s, target, follow, context, out)) {
        break;
      }
      if (!dominates(s, b, target) && s.shapes[target].predecessors.size() > 1) {
        s.failed = true;  // a jump into the middle of code written elsewhere
        break;
      }
      b = target;
      continue;
    }
    // if (condition) { then } else { otherwise }, the block placed next being "then".
    const bool then_is_true = shape.fall != shape.when_false;
    const int32_t then_start = then_is_true ? shape.when_true : shape.when_false;
    const int32_t else_start = then_is_true ? shape.when_false : shape.when_true;
    const int32_t condition = then_is_true ? shape.condition : negate(s, shape.condition);
    auto is_target = [&](int32_t t) {
      return t == context.break_target || t == context.continue_target;
    };
    // A branch that starts where the region ends leads nowhere else.
    std::vector<int32_t> then_exits =
        then_start == follow ? std::vector<int32_t>{follow} : region_exits(s, then_start, b);
    std::vector<int32_t> else_exits =
        else_start == follow ? std::vector<int32_t>{follow} : region_exits(s, else_start, b);
    std::vector<int32_t> all = then_exits;
    for (int32_t t : else_exits) {
      if (std::find(all.begin(), all.end(), t) == all.end()) {
        all.push_back(t);
      }
    }
    int32_t join = -1;
    const int32_t else_end = explicit_else_end(s, then_start, else_start);
    if (then_exits.empty() && else_end != -2 && else_end != then_start) {
      // The first branch never falls through, yet a jump over the second one is still
      // there: the source had an else.
      join = else_end;
    } else if (then_exits.empty() && else_start != then_start) {
      // The first branch never falls through: what follows the test is simply the rest.
      join = else_start;
    } else if (all.size() == 1) {
      join = all[0];
    } else {
      std::vector<int32_t> plain;
      for (int32_t t : all) {
        if (!is_target(t) && t != follow) {
          plain.push_back(t);
        }
      }
      if (plain.size() == 1) {
        join = plain[0];
      } else if (plain.empty()) {
        join = std::find(all.begin(), all.end(), follow) != all.end() ? follow : -1;
      } else {
        s.failed = true;
        break;
      }
    }
    const int32_t node = add_node(s, NodeKind::kIf, condition);
    std::vector<int32_t> then_nodes;
    std::vector<int32_t> else_nodes;
    if (!leave_for(s, then_start, join, context, then_nodes)) {
      then_nodes = emit_region(s, then_start, join, context, -1);
    }
    if (!leave_for(s, else_start, join, context, else_nodes)) {
      else_nodes = emit_region(s, else_start, join, context, -1);
    }
    if (then_nodes.empty()) {
      // Nothing to do when the condition holds: test its opposite instead.
      s.body.nodes[node].ref = negate(s, condition);
      then_nodes.swap(else_nodes);
    }
    s.body.nodes[node].body = std::move(then_nodes);
    s.body.nodes[node].otherwise = std::move(else_nodes);
    if (s.body.nodes[node].body.empty()) {
      // Neither branch does anything: the condition is still computed.
      s.body.nodes[node].kind = NodeKind::kStatement;
      s.code.stmts.push_back(Stmt{StmtKind::kExpr, condition, -1, s.graph.blocks[b].last});
      s.body.nodes[node].ref = static_cast<int32_t>(s.code.stmts.size()) - 1;
    }
    out.push_back(node);
    if (join < 0 || join == follow) {
      break;
    }
    if (leave_for(s, join, follow, context, out)) {
      break;
    }
    b = join;
  }
  --s.nesting;
  return out;
}

// The whole function as one loop over a state variable that names the block to run next.
void emit_state_loop(Structurer& s) {
  s.body = StructuredBody{};
  FunctionCode& code = s.code;
  code.state_loop = true;
  code.variables.push_back(
      Variable{VariableKind::kValue, -1, 1, -1, Type{image::ev_float, kUnknownTag, -1}});
  const int32_t state = static_cast<int32_t>(code.variables.size()) - 1;
  auto state_read = [&]() { return add_expr(code, ExprKind::kVariable, 0, state, {}); };
  auto set_state = [&](int32_t block) {
    const int32_t assign =
        add_expr(code, ExprKind::kAssign, image::OP_STORE_F, -1,
                 {state_read(), add_expr(code, ExprKind::kLiteral, 0, block, {})});
    code.stmts.push_back(Stmt{StmtKind::kExpr, assign, -1, -1});
    return add_node(s, NodeKind::kStatement, static_cast<int32_t>(code.stmts.size()) - 1);
  };
  s.body.top.push_back(set_state(0));
  const int32_t loop = add_node(s, NodeKind::kWhile, add_expr(code, ExprKind::kLiteral, 0, 1, {}));
  int32_t chain = -1;  // the if whose else receives the next case
  std::vector<int32_t> cases;
  for (size_t b = 0; b < s.graph.blocks.size(); ++b) {
    const Block& block = s.graph.blocks[b];
    std::vector<int32_t> body;
    for (int32_t stmt : code.blocks[b].statements) {
      body.push_back(add_node(s, NodeKind::kStatement, stmt));
    }
    switch (block.exit) {
      case BlockExit::kBranch: {
        const BlockCode& branch = code.blocks[b];
        if (block.successors[0] == block.successors[1]) {
          body.push_back(set_state(block.successors[0]));
          break;
        }
        const int32_t when_true = branch.jump_when_true ? block.successors[1] : block.successors[0];
        const int32_t when_false =
            branch.jump_when_true ? block.successors[0] : block.successors[1];
        const int32_t test = add_node(s, NodeKind::kIf, branch.condition);
        // Made before either list is reached: adding a node may move the nodes.
        const int32_t then_state = set_state(when_true);
        const int32_t else_state = set_state(when_false);
        s.body.nodes[test].body.push_back(then_state);
        s.body.nodes[test].otherwise.push_back(else_state);
        body.push_back(test);
        break;
      }
      case BlockExit::kReturn:
        if (body.empty() || code.stmts[s.body.nodes[body.back()].ref].kind != StmtKind::kReturn) {
          code.stmts.push_back(Stmt{StmtKind::kReturn, -1, 0, block.last});
          body.push_back(
              add_node(s, NodeKind::kStatement, static_cast<int32_t>(code.stmts.size()) - 1));
        }
        break;
      default:
        body.push_back(set_state(block.successors[0]));
        break;
    }
    const int32_t is_this = add_expr(
        code, ExprKind::kBinary, image::OP_EQ_F, -1,
        {state_read(), add_expr(code, ExprKind::kLiteral, 0, static_cast<int32_t>(b), {})});
    const int32_t test = add_node(s, NodeKind::kIf, is_this);
    s.body.nodes[test].body = std::move(body);
    if (chain < 0) {
      cases.push_back(test);
    } else {
      s.body.nodes[chain].otherwise.push_back(test);
    }
    chain = test;
  }
  s.body.nodes[loop].body = cases;
  s.body.top.push_back(loop);
}

// Whether the nodes end in a return made by a DONE in the middle of the code.
bool ends_in_done(const Structurer& s, const std::vector<int32_t>& nodes) {
  if (nodes.empty()) {
    return false;
  }
  const Node& last = s.body.nodes[nodes.back()];
  if (last.kind != NodeKind::kStatement) {
    return false;
  }
  const Stmt& stmt = s.code.stmts[last.ref];
  return stmt.kind == StmtKind::kReturn && stmt.expr < 0 && stmt.extra == 1;
}

// fteqcc's compound jumps turn a jump to the function's closing DONE into a DONE of its own,
// so "if (a) x; else y;" ends its first arm in a DONE. (Where DONE may also be a "return;",
// the program says nothing of which it was, and it is left as a return.) In a list that runs to the
// function's end, an if whose only arm ends so, with code after it, is written as the if/else it
// was; the code after it becomes the else arm, which runs to the end too; a DONE that ends such a
// list after other code is the end itself. Each fold nests the code after it one level deeper:
// `folds` bounds how much deeper anything gets.
void fold_done_arms(Structurer& s, std::vector<int32_t>& list, int folds) {
  if (folds >= kMostFolds) {
    return;
  }
  if (list.size() > 1 && ends_in_done(s, list)) {
    list.pop_back();
  }
  for (size_t i = 0; i < list.size(); ++i) {
    if (s.body.nodes[list[i]].kind != NodeKind::kIf) {
      continue;
    }
    Node& node = s.body.nodes[list[i]];
    const bool last = i + 1 == list.size();
    const bool folds_here =
        !last && node.otherwise.empty() && node.body.size() > 1 && ends_in_done(s, node.body);
    if (folds_here) {
      node.otherwise.assign(list.begin() + static_cast<std::ptrdiff_t>(i) + 1, list.end());
      list.resize(i + 1);
    } else if (!last) {
      continue;
    }
    fold_done_arms(s, s.body.nodes[list[i]].body, folds + folds_here);
    fold_done_arms(s, s.body.nodes[list[i]].otherwise, folds + folds_here);
    return;
  }
}

}  // namespace

StructuredBody structure_function(const image::ProgramImage& program, const ProgramFacts& facts,
                                  const FlowGraph& graph, FunctionCode& code) {
  Structurer s{program, facts, graph, code, {}, {}, {}, {}, {}, {}, {}, {}, {}, 0, false, 0, {}};
  build_shapes(s);
  const size_t expr_mark = code.exprs.size();
  const size_t operand_mark = code.operands.size();
  const size_t stmt_mark = code.stmts.size();
  merge_conditions(s);
  s.budget = 64 * static_cast<int64_t>(graph.blocks.size()) + 4096;
  if (!find_dominators(s)) {
    s.failed = true;
  } else {
    find_loops(s);
    s.body.top = emit_region(s, 0, -1, LoopContext{-3, -3}, -1);
    if (!s.body.top.empty()) {
      const Node& last = s.body.nodes[s.body.top.back()];
      if (last.kind == NodeKind::kStatement && code.stmts[last.ref].kind == StmtKind::kReturn &&
          code.stmts[last.ref].expr < 0 && code.stmts[last.ref].extra == 1) {
        s.body.top.pop_back();  // the function's own end
      }
    }
    if (!facts.done_may_return) {
      fold_done_arms(s, s.body.top, 0);
    }
  }
  if (s.failed) {
    code.exprs.resize(expr_mark);
    code.operands.resize(operand_mark);
    code.stmts.resize(stmt_mark);
    emit_state_loop(s);
  }
  return std::move(s.body);
}

}  // namespace compilable
