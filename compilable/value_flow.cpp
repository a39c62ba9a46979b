// Where the values of one function's unnamed cells come from and go: each write of such a
// cell starts a value, and the writes and reads that meet join into one web.
#include "compilable/value_flow.h"

#include <algorithm>
#include <numeric>

namespace compilable {

bool is_tracked(const TrackedCells& tracked, const image::FunctionRecord& function, int64_t cell) {
  if (cell >= image::OFS_RETURN && cell < image::RESERVED_OFS) {
    return true;
  }
  const ProgramFacts& facts = *tracked.facts;
  if (cell < image::RESERVED_OFS || cell >= facts.cell_count) {
    return false;
  }
  if (facts.named_cover[cell] >= 0 || !facts.written[cell] || (*tracked.shared)[cell]) {
    return false;
  }
  const int64_t parameters_end = int64_t{function.parm_start} + image::parameter_cells(function);
  return cell < function.parm_start || cell >= parameters_end;
}

namespace {

// Disjoint sets of web elements: instructions' writes, and values arriving at a block.
struct Sets {
  std::vector<int32_t> parent;
  int32_t add() {
    parent.push_back(static_cast<int32_t>(parent.size()));
    return parent.back();
  }
  int32_t find(int32_t x) {
    while (parent[x] != x) {
      parent[x] = parent[parent[x]];
      x = parent[x];
    }
    return x;
  }
  void join(int32_t x, int32_t y) {
    x = find(x);
    y = find(y);
    if (x != y) {
      parent[std::max(x, y)] = std::min(x, y);
    }
  }
};

// The size of what a flexible read or copy moves at an untracked cell: its definition's, a
// component's 1, or 0 when nothing defines the cell.
int defined_size(const image::ProgramImage& program, const ProgramFacts& facts, int64_t cell) {
  int32_t def = facts.named_cover[cell];
  if (def >= 0 && program.globaldefs[def].ofs != cell) {
    return 1;
  }
  if (def < 0) {
    def = any_def_at(facts, cell);
  }
  return def >= 0 ? covered_size(facts, program.globaldefs[def]) : 0;
}

// Whether a STORE_V copies into a variable of one cell (its definition covers only that
// cell): the three cells it copies are three separate values.
bool is_struct_copy(const image::ProgramImage& program, const ProgramFacts& facts,
                    const TrackedCells& tracked, const image::FunctionRecord& function,
                    const image::Statement& statement) {
  const int64_t target = statement.b;
  if (target < 0 || target + 2 >= facts.cell_count || is_tracked(tracked, function, target)) {
    return false;
  }
  const int32_t def = facts.named_cover[target];
  return def >= 0 && program.globaldefs[def].ofs == target &&
         covered_size(facts, program.globaldefs[def]) == 1;
}

}  // namespace

ValueFlow find_value_flow(const image::ProgramImage& program, const FlowGraph& graph,
                          const TrackedCells& tracked, std::vector<int32_t>& dense_of) {
  const ProgramFacts& facts = *tracked.facts;
  const image::FunctionRecord& function = program.functions[graph.function];
  const int64_t size = int64_t{graph.end} - graph.first;
  ValueFlow flow{};
  flow.access.assign(static_cast<size_t>(size), Access{});
  flow.read_web.assign(static_cast<size_t>(size) * kReadSlots, -1);
  flow.write_web.assign(static_cast<size_t>(size), -1);
  auto tracked_cell = [&](int64_t cell) { return is_tracked(tracked, function, cell); };

  // Dense numbering of the tracked cells this function touches.
  std::vector<int32_t> cells;  // dense index -> cell; dense_of maps back and is cleared on return
  dense_of.resize(static_cast<size_t>(facts.cell_count), -1);
  auto dense = [&](int64_t cell) {
    if (dense_of[cell] < 0) {
      dense_of[cell] = static_cast<int32_t>(cells.size());
      cells.push_back(static_cast<int32_t>(cell));
    }
    return dense_of[cell];
  };

  // The widest value each tracked cell receives in this function, for copies whose width
  // depends on what they copy.
  std::vector<int8_t> widest;
  for (const Block& block : graph.blocks) {
    for (int64_t p = block.first; p <= block.last; ++p) {
      const CellRange write = static_access(program.statements[p], facts.hexen2_calls).write;
      if (write.size > 0 && tracked_cell(write.offset)) {
        const int32_t d = dense(write.offset);
        widest.resize(cells.size(), 0);
        widest[d] = std::max<int8_t>(widest[d], write.size);
      }
    }
  }
  widest.resize(cells.size(), 0);

  // Resolved accesses, block by block, with the width of the last write of each cell.
  std::vector<int8_t> current;
  std::vector<int32_t> current_base;  // the first cell of the write covering the cell
  std::vector<int64_t> current_at;    // the position of that write
  std::vector<int32_t> touched;
  for (const Block& block : graph.blocks) {
    for (int64_t p = block.first; p <= block.last; ++p) {
      const image::Statement& statement = program.statements[p];
      const StaticAccess fixed = static_access(statement, facts.hexen2_calls);
      const Action action = action_of(statement.op);
      Access& access = flow.access[p - graph.first];
      auto flexible_size = [&](int64_t cell, int fallback) -> int8_t {
        if (tracked_cell(cell)) {
          const int32_t d = dense(cell);
          widest.resize(cells.size(), 0);
          current.resize(cells.size(), 0);
          current_base.resize(cells.size(), -1);
          current_at.resize(cells.size(), -1);
          if (current[d] == 1 && fallback == 3) {
            // A vector put together in this block, then copied whole: its parts written one
            // by one in order (x, y, z), or a vector written whole and then its x again.
            bool in_order = true;
            bool over_whole = true;
            for (int64_t k = 1; k < 3; ++k) {
              const bool written = cell + k < facts.cell_count && tracked_cell(cell + k) &&
                                   current_base.size() > static_cast<size_t>(dense(cell + k)) &&
                                   current[dense(cell + k)] > 0;
              const int32_t part = written ? dense(cell + k) : -1;
              in_order = in_order && written && current_base[part] == cell + k &&
                         current_at[part] > current_at[k == 1 ? d : dense(cell + k - 1)];
              over_whole = over_whole && written && current_base[part] == cell;
            }
            if (in_order || over_whole) {
              return 3;
            }
          }
          if (current[d] != 0) {
            return current[d] > 0 ? current[d] : int8_t{1};
          }
          return widest[d] > 0 ? widest[d] : 1;
        }
        const int named = defined_size(program, facts, cell);
        return static_cast<int8_t>(named > 0 ? named : fallback);
      };
      switch (action) {
        case Action::kCall: {
          access.reads[kSlotA] = fixed.reads[0];
          const int carried = arguments_in_operands(statement, facts.hexen2_calls);
          // The function called, when the instruction names one the program never changes.
          const int32_t called =
              statement.a > 0 && statement.a < facts.cell_count && !facts.written[statement.a]
                  ? image::global_int(statement.a)
                  : -1;
          const bool known = called > 0 &&
                             called < static_cast<int32_t>(program.functions.size()) &&
                             program.functions[called].numparms >= 0;
          for (int k = 0; k < call_arguments(statement.op); ++k) {
            // The first arguments may travel in b and c: three cells are copied whatever
            // they hold, so the parameter's size tells what the argument is.
            const int64_t cell =
                k < carried ? (k == 0 ? statement.b : statement.c) : parameter_cell(k);
            int8_t width = flexible_size(cell, 1);
            if (k < carried && known && k < program.functions[called].numparms && k < 8) {
              width = program.functions[called].parm_size[k] == 3 ? 3 : 1;
            }
            access.reads[argument_slot(k)] = CellRange{static_cast<int32_t>(cell), width};
          }
          break;
        }
        case Action::kCase:
        case Action::kCaseRange: {
          // The value the switch read, compared with the case's bounds.
          const image::Statement& opening = program.statements[graph.switch_of[p - graph.first]];
          const auto width = static_cast<int8_t>(value_cells(instruction_row(opening.op).tag[0]));
          access.reads[kSlotA] = CellRange{opening.a, width};
          access.reads[kSlotB] = CellRange{statement.a, width};
          if (action == Action::kCaseRange) {
            access.reads[kSlotC] = CellRange{statement.b, width};
          }
          break;
        }
        case Action::kStore:
          access.reads[kSlotA] = fixed.reads[0];
          if (statement.op == image::OP_STORE_V) {
            access.reads[kSlotA].size = flexible_size(statement.a, 3);
            if (int64_t{statement.a} + 2 >= facts.cell_count) {
              access.reads[kSlotA].size = 1;  // the globals end before a vector would
            }
            if (access.reads[kSlotA].size == 3 &&
                is_struct_copy(program, facts, tracked, function, statement)) {
              // Three cells copied into three named one-cell variables (fteqcc copies a
              // struct that way): three reads of one cell each.
              for (int k = 0; k < 3; ++k) {
                access.reads[k == 0 ? kSlotA : argument_slot(k)] = CellRange{statement.a + k, 1};
              }
            }
          }
          break;
        case Action::kReturn:
          if (fixed.read_count > 0) {
            const bool vector = (*tracked.vector_results)[graph.function] != 0;
            access.reads[kSlotA] =
                CellRange{statement.a, flexible_size(statement.a, vector ? 3 : 1)};
            if (vector && tracked_cell(statement.a)) {
              access.reads[kSlotA].size = 3;
            }
          }
          break;
        default:
          if (statement.op >= image::OPCODE_COUNT) {
            // Extended instructions: operand a, b and c in slots A, B and C.
            const InstructionRow& row = instruction_row(statement.op);
            const int32_t operand[3] = {statement.a, statement.b, statement.c};
            const int slot[3] = {kSlotA, kSlotB, kSlotC};
            for (int k = 0; k < 3; ++k) {
              if (k == 2 && action == Action::kStorePointer && statement.c == 0) {
                continue;  // no word index
              }
              if (row.role[k] == Role::kRead || row.role[k] == Role::kReadWrite) {
                access.reads[slot[k]] =
                    CellRange{operand[k], static_cast<int8_t>(value_cells(row.tag[k]))};
              }
            }
            break;
          }
          for (int k = 0; k < fixed.read_count && k < 3; ++k) {
            access.reads[k] = fixed.reads[k];  // a, b, and a STOREP's word index in slot C
          }
          break;
      }
      access.write = fixed.write;
      if (action == Action::kStore && statement.op == image::OP_STORE_V) {
        access.write.size = access.reads[kSlotA].size;
      }
      // Each written cell remembers the width of the write that starts at it, or that it is
      // inside a wider write.
      for (int k = 0; k < access.write.size; ++k) {
        const int64_t cell = int64_t{access.write.offset} + k;
        if (cell >= facts.cell_count || !tracked_cell(cell)) {
          continue;
        }
        const int32_t d = dense(cell);
        current.resize(cells.size(), 0);
        current_base.resize(cells.size(), -1);
        current_at.resize(cells.size(), -1);
        if (current[d] == 0) {
          touched.push_back(d);
        }
        current[d] = static_cast<int8_t>(k == 0 ? access.write.size : 1);
        // The rest of a call's result, whose width only its reads tell, is part of no vector
        // put together cell by cell.
        current_base[d] = action == Action::kCall && k > 0 ? -1 : access.write.offset;
        current_at[d] = p;
      }
    }
    for (int32_t d : touched) {
      current[d] = 0;
    }
    touched.clear();
  }
  widest.resize(cells.size(), 0);

  // Liveness of the tracked cells between blocks, for the cells some block reads before
  // writing them; the others never carry a value across a block boundary.
  const size_t block_count = graph.blocks.size();
  const size_t cell_total = cells.size();
  std::vector<int32_t> last_def(cell_total, -1);  // position of the last write in the block
  std::vector<int32_t> crossing_index(cell_total, -1);
  std::vector<int32_t> crossing;                          // cells read before written in some block
  std::vector<std::vector<int32_t>> upward(block_count);  // per block, dense cells read first
  std::vector<std::vector<int32_t>> killed(block_count);
  auto for_each_cell = [](const CellRange& range, auto&& visit) {
    for (int k = 0; k < range.size; ++k) {
      visit(int64_t{range.offset} + k);
    }
  };
  for (size_t b = 0; b < block_count; ++b) {
    const Block& block = graph.blocks[b];
    for (int64_t p = block.first; p <= block.last; ++p) {
      const Access& access = flow.access[p - graph.first];
      for (const CellRange& read : access.reads) {
        for_each_cell(read, [&](int64_t cell) {
          if (!tracked_cell(cell)) {
            return;
          }
          const int32_t d = dense(cell);
          last_def.resize(cells.size(), -1);
          crossing_index.resize(cells.size(), -1);
          if (last_def[d] < 0) {
            if (crossing_index[d] < 0) {
              crossing_index[d] = static_cast<int32_t>(crossing.size());
              crossing.push_back(d);
            }
            upward[b].push_back(crossing_index[d]);
          }
        });
      }
      for_each_cell(access.write, [&](int64_t cell) {
        if (tracked_cell(cell)) {
          const int32_t d = dense(cell);
          last_def.resize(cells.size(), -1);
          if (last_def[d] < 0) {
            killed[b].push_back(d);
          }
          last_def[d] = static_cast<int32_t>(p);
        }
      });
    }
    for (int32_t d : killed[b]) {
      last_def[d] = -1;
    }
  }
  // killed[] holds dense cells; keep only the crossing ones, by their crossing index.
  crossing_index.resize(cells.size(), -1);
  const size_t words = (crossing.size() + 63) / 64;
  std::vector<uint64_t> kill_bits(block_count * words, 0);
  std::vector<uint64_t> live_in(block_count * words, 0);
  std::vector<uint64_t> upward_bits(block_count * words, 0);
  for (size_t b = 0; b < block_count; ++b) {
    for (int32_t d : killed[b]) {
      const int32_t x = crossing_index[d];
      if (x >= 0) {
        kill_bits[b * words + x / 64] |= uint64_t{1} << (x % 64);
      }
    }
    for (int32_t x : upward[b]) {
      upward_bits[b * words + x / 64] |= uint64_t{1} << (x % 64);
    }
  }
  if (words > 0) {
    std::vector<int32_t> work;
    std::vector<uint8_t> queued(block_count, 1);
    for (size_t b = block_count; b-- > 0;) {
      work.push_back(static_cast<int32_t>(b));
    }
    std::vector<uint64_t> out(words);
    while (!work.empty()) {
      const int32_t b = work.back();
      work.pop_back();
      queued[b] = 0;
      std::fill(out.begin(), out.end(), 0);
      for (int32_t s : graph.blocks[b].successors) {
        if (s >= 0) {
          for (size_t w = 0; w < words; ++w) {
            out[w] |= live_in[s * words + w];
          }
        }
      }
      bool changed = false;
      for (size_t w = 0; w < words; ++w) {
        const uint64_t in = upward_bits[b * words + w] | (out[w] & ~kill_bits[b * words + w]);
        if (in != live_in[b * words + w]) {
          live_in[b * words + w] = in;
          changed = true;
        }
      }
      if (changed) {
        for (int32_t pred : graph.blocks[b].predecessors) {
          if (!queued[pred]) {
            queued[pred] = 1;
            work.push_back(pred);
          }
        }
      }
    }
  }
  auto live_at = [&](size_t block, int32_t x) {
    return (live_in[block * words + x / 64] >> (x % 64)) & 1;
  };

  // Web elements: one per writing instruction, one per value arriving at a block.
  Sets sets;
  std::vector<int32_t> write_element(static_cast<size_t>(size), -1);
  std::vector<int32_t> arrival_start(block_count + 1, 0);  // arrival elements of each block
  std::vector<int32_t> arrival_cell;                       // crossing index of each
  for (size_t b = 0; b < block_count; ++b) {
    arrival_start[b] = static_cast<int32_t>(arrival_cell.size());
    for (size_t x = 0; x < crossing.size(); ++x) {
      if (live_at(b, static_cast<int32_t>(x))) {
        arrival_cell.push_back(static_cast<int32_t>(x));
        sets.add();
      }
    }
  }
  arrival_start[block_count] = static_cast<int32_t>(arrival_cell.size());
  auto arrival = [&](size_t block, int32_t x) -> int32_t {
    auto first = arrival_cell.begin() + arrival_start[block];
    auto last = arrival_cell.begin() + arrival_start[block + 1];
    auto found = std::lower_bound(first, last, x);
    return found != last && *found == x ? static_cast<int32_t>(found - arrival_cell.begin()) : -1;
  };
  const int32_t first_write_element = static_cast<int32_t>(sets.parent.size());
  for (int64_t i = 0; i < size; ++i) {
    const CellRange& write = flow.access[i].write;
    if (graph.block_at[i] >= 0 && write.size > 0 && tracked_cell(write.offset)) {
      write_element[i] = sets.add();
    }
  }

  // Reads within blocks: the last earlier write of the cell in the block, else the value
  // arriving at the block. Each read slot keeps the element of its first cell; a read whose
  // cells come from different writes, or from inside a wider write, is read in pieces.
  std::vector<int32_t> slot_element(static_cast<size_t>(size) * kReadSlots, -1);
  std::vector<uint8_t> element_pieces(sets.parent.size(), 0);
  std::vector<int32_t> cell_element(cells.size(), -1);
  std::vector<int32_t> cell_base(cells.size(), -1);  // the first cell of the write it holds
  std::vector<int32_t> block_touched;
  for (size_t b = 0; b < block_count; ++b) {
    const Block& block = graph.blocks[b];
    for (int64_t p = block.first; p <= block.last; ++p) {
      const int64_t i = p - graph.first;
      const Access& access = flow.access[i];
      for (int slot = 0; slot < kReadSlots; ++slot) {
        const CellRange& read = access.reads[slot];
        if (read.size == 0 || !tracked_cell(read.offset)) {
          continue;
        }
        int32_t first_element = -1;
        bool pieces = false;
        for (int k = 0; k < read.size; ++k) {
          const int64_t cell = int64_t{read.offset} + k;
          if (!tracked_cell(cell)) {
            pieces = true;
            continue;
          }
          const int32_t d = dense(cell);
          int32_t element = cell_element[d];
          if (element < 0) {
            element = arrival(b, crossing_index[d]);
          } else if (cell_base[d] != read.offset) {
            pieces = true;
          }
          if (element < 0) {
            continue;  // never written on any path here: nothing to join
          }
          if (k == 0) {
            first_element = element;
          } else if (first_element < 0 || sets.find(element) != sets.find(first_element)) {
            pieces = true;
            if (first_element >= 0) {
              sets.join(element, first_element);
            } else {
              first_element = element;
            }
          }
        }
        slot_element[i * kReadSlots + slot] = first_element;
        if (pieces && first_element >= 0) {
          element_pieces.resize(sets.parent.size(), 0);
          element_pieces[first_element] = 1;
        }
      }
      const CellRange& write = access.write;
      if (write_element[i] >= 0) {
        for (int k = 0; k < write.size; ++k) {
          const int64_t cell = int64_t{write.offset} + k;
          if (!tracked_cell(cell)) {
            continue;
          }
          const int32_t d = dense(cell);
          if (cell_element[d] < 0) {
            block_touched.push_back(d);
          } else if (cell_base[d] != write.offset && cell_element[d] >= 0) {
            // A write over part of an earlier, differently placed value.
            element_pieces[write_element[i]] = 1;
          }
          cell_element[d] = write_element[i];
          cell_base[d] = write.offset;
        }
      }
    }
    // Values leaving the block join the values arriving at each successor.
    for (int32_t s : block.successors) {
      if (s < 0) {
        continue;
      }
      for (int32_t e = arrival_start[s]; e < arrival_start[s + 1]; ++e) {
        const int32_t d = crossing[arrival_cell[e]];
        const int32_t leaving =
            cell_element[d] >= 0 ? cell_element[d] : arrival(b, arrival_cell[e]);
        if (leaving >= 0) {
          sets.join(e, leaving);
        }
      }
    }
    for (int32_t d : block_touched) {
      cell_element[d] = -1;
      cell_base[d] = -1;
    }
    block_touched.clear();
  }

  // One web per set that holds a write or a read.
  std::vector<int32_t> web_of_root(sets.parent.size(), -1);
  element_pieces.resize(sets.parent.size(), 0);
  auto web_for = [&](int32_t element, int32_t cell, int8_t width) {
    const int32_t root = sets.find(element);
    if (web_of_root[root] < 0) {
      web_of_root[root] = static_cast<int32_t>(flow.webs.size());
      flow.webs.push_back(Web{cell, 0, false, false, false, {}, 0});
    }
    Web& web = flow.webs[web_of_root[root]];
    web.size = std::max(web.size, width);
    if (element_pieces[element]) {
      web.pieces = true;
    }
    return web_of_root[root];
  };
  for (int64_t i = 0; i < size; ++i) {
    if (write_element[i] >= 0) {
      const CellRange& write = flow.access[i].write;
      // A call's result takes the return cells whatever it is; its reads tell its width.
      const bool call = action_of(program.statements[graph.first + i].op) == Action::kCall;
      const int32_t w = web_for(write_element[i], write.offset, call ? int8_t{1} : write.size);
      flow.write_web[i] = w;
      flow.webs[w].defs.push_back(static_cast<int32_t>(graph.first + i));
      if (flow.webs[w].cell != write.offset) {
        flow.webs[w].pieces = true;
      }
    }
  }
  for (int64_t i = 0; i < size; ++i) {
    for (int slot = 0; slot < kReadSlots; ++slot) {
      const int32_t element = slot_element[i * kReadSlots + slot];
      if (element < 0) {
        continue;
      }
      const CellRange& read = flow.access[i].reads[slot];
      const int32_t w = web_for(element, read.offset, read.size);
      flow.read_web[i * kReadSlots + slot] = w;
      Web& web = flow.webs[w];
      ++web.use_count;
      if (web.cell != read.offset) {
        web.pieces = true;
      }
      if (element < first_write_element) {
        web.crosses_blocks = true;  // it reads a value arriving at its block
      }
    }
  }
  for (int32_t e = 0; e < first_write_element; ++e) {
    const int32_t root = sets.find(e);
    if (web_of_root[root] >= 0) {
      flow.webs[web_of_root[root]].crosses_blocks = true;
    }
  }
  for (int32_t e = arrival_start[0]; e < arrival_start[1]; ++e) {
    const int32_t root = sets.find(e);
    if (web_of_root[root] >= 0) {
      flow.webs[web_of_root[root]].from_entry = true;
    }
  }
  for (int32_t cell : cells) {
    dense_of[cell] = -1;
  }
  return flow;
}

void note_vector_results(const image::ProgramImage& program, const FlowGraph& graph,
                         const ValueFlow& flow, std::vector<uint8_t>& vector_results) {
  std::vector<uint8_t> wide(flow.webs.size(), 0);
  const int64_t size = int64_t{graph.end} - graph.first;
  for (int64_t i = 0; i < size; ++i) {
    // Only reads whose width the opcode fixes: copies, returns and arguments take any width.
    const Action action = action_of(program.statements[graph.first + i].op);
    if (action == Action::kStore || action == Action::kReturn || action == Action::kCall) {
      continue;
    }
    for (int slot = 0; slot < kReadSlots; ++slot) {
      const int32_t web = flow.read_web[i * kReadSlots + slot];
      if (web >= 0 && flow.access[i].reads[slot].size == 3) {
        wide[web] = 1;
      }
    }
  }
  for (int64_t i = 0; i < size; ++i) {
    const image::Statement& statement = program.statements[graph.first + i];
    const int32_t web = flow.write_web[i];
    if (web < 0 || !wide[web] || action_of(statement.op) != Action::kCall) {
      continue;
    }
    const int32_t callee = image::global_int(statement.a);
    if (callee > 0 && callee < static_cast<int32_t>(vector_results.size())) {
      vector_results[callee] = 1;
    }
  }
}

void note_shared_cells(const ValueFlow& flow, std::vector<uint8_t>& shared) {
  for (const Web& web : flow.webs) {
    if (!web.from_entry) {
      continue;
    }
    for (int k = 0; k < web.size; ++k) {
      const int64_t cell = int64_t{web.cell} + k;
      if (cell >= image::RESERVED_OFS && cell < static_cast<int64_t>(shared.size())) {
        shared[cell] = 1;
      }
    }
  }
}

}  // namespace compilable
