// One function's reachable instructions cut into blocks, with the jumps between them.
#include "compilable/flow_graph.h"

#include <string>

#include "compilable/instructions.h"
#include "support/error.h"

namespace compilable {

namespace {

std::string function_label(const image::ProgramImage& program, int32_t function_index) {
  const char* name = image::string_at(program.functions[function_index].s_name);
  return name[0] != '\0' ? name : "function" + std::to_string(function_index);
}

bool is_branch(Action action) {
  return action == Action::kIf || action == Action::kIfNot || action == Action::kCase ||
         action == Action::kCaseRange;
}

bool is_jump(Action action) {
  return action == Action::kGoto || action == Action::kSwitch || is_branch(action);
}

bool ends_block(Action action) {
  return is_jump(action) || action == Action::kReturn || action == Action::kDone;
}

void check_operands(const image::ProgramImage& program, const ProgramFacts& facts,
                    int32_t function_index, int64_t position) {
  const StaticAccess access = static_access(program.statements[position], facts.hexen2_calls);
  auto check = [&](const CellRange& range) {
    // A vector operand takes three cells: the last two must be globals too.
    const int64_t last = int64_t{range.offset} + range.size - 1;
    if (range.offset < 0 || last >= facts.cell_count) {
      const std::string cells =
          range.size > 1 && range.offset >= 0 && range.offset < facts.cell_count
              ? "cells " + std::to_string(range.offset) + " to " + std::to_string(last)
              : "cell " + std::to_string(range.offset);
      support::fatal_error(
          "Fatal Error - %s: instruction %lld names %s, outside the %d global "
          "cells.\n",
          function_label(program, function_index).c_str(), static_cast<long long>(position),
          cells.c_str(), facts.cell_count);
    }
  };
  for (int k = 0; k < access.read_count; ++k) {
    CellRange read = access.reads[k];
    if (k == 0 && program.statements[position].op == image::OP_STORE_V) {
      // qcc copies its last one-cell temporary into a parameter with STORE_V, reading two
      // cells past the globals; the copy's width is decided by what the cell holds.
      read.size = 1;
    }
    check(read);
  }
  if (access.write.size > 0) {
    check(access.write);
  }
}

}  // namespace

FlowGraph build_flow_graph(const image::ProgramImage& program, const ProgramFacts& facts,
                           int32_t function_index) {
  const image::FunctionRecord& function = program.functions[function_index];
  FlowGraph graph{};
  graph.function = function_index;
  graph.first = function.first_statement;
  graph.end = facts.code_end[function_index];
  const int64_t size = int64_t{graph.end} - graph.first;
  const std::string label = function_label(program, function_index);
  if (size <= 0 || graph.first >= program.numstatements) {
    support::fatal_error("Fatal Error - %s: its code starts past the last instruction.\n",
                         label.c_str());
  }
  // Every value takes one cell or three; the parameters are copied in and read with their
  // record's sizes, so any other size leaves them meaningless.
  for (int k = 0; k < parameter_count(function); ++k) {
    if (function.parm_size[k] != 1 && function.parm_size[k] != 3) {
      support::fatal_error("Fatal Error - %s: parameter %d takes %d cells, not 1 or 3.\n",
                           label.c_str(), k + 1, function.parm_size[k]);
    }
  }

  // Reachable instructions, and which of them start a block.
  std::vector<uint8_t> reached(static_cast<size_t>(size), 0);
  std::vector<uint8_t> leader(static_cast<size_t>(size), 0);
  std::vector<int64_t> pending{graph.first};
  leader[0] = 1;
  auto visit = [&](int64_t from, int64_t target, bool jump) {
    if (target < graph.first || target >= graph.end) {
      if (jump) {
        support::fatal_error(
            "Fatal Error - %s: the jump at instruction %lld leaves the function.\n", label.c_str(),
            static_cast<long long>(from));
      }
      support::fatal_error(
          "Fatal Error - %s: instruction %lld runs past the end of the function.\n", label.c_str(),
          static_cast<long long>(from));
    }
    if (jump) {
      leader[target - graph.first] = 1;
    }
    if (!reached[target - graph.first]) {
      reached[target - graph.first] = 1;
      pending.push_back(target);
    }
  };
  reached[0] = 1;
  graph.switch_of.assign(static_cast<size_t>(size), -1);
  while (!pending.empty()) {
    const int64_t position = pending.back();
    pending.pop_back();
    const image::Statement& statement = program.statements[position];
    const Action action = action_of(statement.op);
    if (action == Action::kUnknown) {
      support::fatal_error("Fatal Error - %s: unknown opcode %u at instruction %lld.\n",
                           label.c_str(), statement.op, static_cast<long long>(position));
    }
    check_operands(program, facts, function_index, position);
    switch (action) {
      case Action::kGoto:
        visit(position, jump_target(statement, position), true);
        break;
      case Action::kSwitch: {
        // The case table the switch jumps to compares the value the switch read.
        const int64_t table = jump_target(statement, position);
        visit(position, table, true);
        for (int64_t q = table; q >= graph.first && q < graph.end; ++q) {
          const Action row = action_of(program.statements[q].op);
          if (row != Action::kCase && row != Action::kCaseRange) {
            break;
          }
          graph.switch_of[q - graph.first] = static_cast<int32_t>(position);
        }
        break;
      }
      case Action::kIf:
      case Action::kIfNot:
      case Action::kCase:
      case Action::kCaseRange:
        if ((action == Action::kCase || action == Action::kCaseRange) &&
            graph.switch_of[position - graph.first] < 0) {
          support::fatal_error(
              "Fatal Error - %s: the case at instruction %lld follows no switch.\n", label.c_str(),
              static_cast<long long>(position));
        }
        visit(position, jump_target(statement, position), true);
        visit(position, position + 1, true);
        break;
      case Action::kReturn:
      case Action::kDone:
        break;
      default:
        visit(position, position + 1, false);
        break;
    }
  }

  // A jump nothing reaches (after a return, before an else) still marks where the code it
  // jumps over ends, which the structure of the source follows.
  for (int64_t i = 0; i < size; ++i) {
    const image::Statement& statement = program.statements[graph.first + i];
    const Action action = action_of(statement.op);
    if (!reached[i] && is_jump(action)) {
      const int64_t target = jump_target(statement, graph.first + i);
      if (target >= graph.first && target < graph.end && reached[target - graph.first]) {
        leader[target - graph.first] = 1;
      }
    }
  }

  // Blocks in position order.
  graph.block_at.assign(static_cast<size_t>(size), -1);
  for (int64_t i = 0; i < size; ++i) {
    if (!reached[i]) {
      continue;
    }
    const bool starts = leader[i] || i == 0 || !reached[i - 1] ||
                        ends_block(action_of(program.statements[graph.first + i - 1].op));
    if (starts) {
      graph.blocks.push_back(Block{static_cast<int32_t>(graph.first + i),
                                   static_cast<int32_t>(graph.first + i),
                                   BlockExit::kFall,
                                   {-1, -1},
                                   {}});
    }
    graph.blocks.back().last = static_cast<int32_t>(graph.first + i);
    graph.block_at[i] = static_cast<int32_t>(graph.blocks.size()) - 1;
  }
  for (size_t b = 0; b < graph.blocks.size(); ++b) {
    Block& block = graph.blocks[b];
    const image::Statement& last = program.statements[block.last];
    switch (action_of(last.op)) {
      case Action::kGoto:
      case Action::kSwitch:
        block.exit = BlockExit::kGoto;
        block.successors[0] = block_of(graph, jump_target(last, block.last));
        break;
      case Action::kIf:
      case Action::kIfNot:
      case Action::kCase:
      case Action::kCaseRange:
        block.exit = BlockExit::kBranch;
        block.successors[0] = block_of(graph, block.last + 1);
        block.successors[1] = block_of(graph, jump_target(last, block.last));
        break;
      case Action::kReturn:
      case Action::kDone:
        block.exit = BlockExit::kReturn;
        break;
      default:
        block.exit = BlockExit::kFall;
        block.successors[0] = block_of(graph, block.last + 1);
        break;
    }
  }
  for (size_t b = 0; b < graph.blocks.size(); ++b) {
    for (int32_t successor : graph.blocks[b].successors) {
      if (successor >= 0) {
        std::vector<int32_t>& predecessors = graph.blocks[successor].predecessors;
        if (predecessors.empty() || predecessors.back() != static_cast<int32_t>(b)) {
          predecessors.push_back(static_cast<int32_t>(b));
        }
      }
    }
  }
  return graph;
}

}  // namespace compilable
