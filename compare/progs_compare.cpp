// Compares two progs.dat files: bytes, header, fields, named globals, and each function's code.
#include "compare/progs_compare.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <unordered_map>
#include <utility>

#include "image/opcodes.h"
#include "image/program_image.h"
#include "support/console.h"
#include "support/error.h"
#include "support/input_file.h"
#include "support/scratch.h"

namespace compare {

namespace {

constexpr int kHeaderFields = 15;
constexpr const char* HeaderFieldNames[] = {
    "version",       "crc",           "ofs_statements", "numstatements", "ofs_globaldefs",
    "numglobaldefs", "ofs_fielddefs", "numfielddefs",   "ofs_functions", "numfunctions",
    "ofs_strings",   "numstrings",    "ofs_globals",    "numglobals",    "entityfields",
};
static_assert(std::size(HeaderFieldNames) == kHeaderFields);

// What an instruction does with each operand (read a cell, write a cell, jump by the value
// relative to itself, or nothing: '-') and the type of each cell.
// Types are as the virtual machine uses them: STOREP's value comes first, NOT_S reads a string.
struct OperandRow {
  const char* roles;  // for a, b and c
  image::TypeTag type_a;
  image::TypeTag type_b;
  image::TypeTag type_c;
};
constexpr image::TypeTag kVoid = image::ev_void, kString = image::ev_string,
                         kFloat = image::ev_float, kVector = image::ev_vector,
                         kEntity = image::ev_entity, kField = image::ev_field,
                         kFunction = image::ev_function, kPointer = image::ev_pointer;
constexpr OperandRow OperandTable[] = {
    {"r--", kVoid, kVoid, kVoid},           // DONE
    {"rrw", kFloat, kFloat, kFloat},        // MUL_F
    {"rrw", kVector, kVector, kFloat},      // MUL_V
    {"rrw", kFloat, kVector, kVector},      // MUL_FV
    {"rrw", kVector, kFloat, kVector},      // MUL_VF
    {"rrw", kFloat, kFloat, kFloat},        // DIV_F
    {"rrw", kFloat, kFloat, kFloat},        // ADD_F
    {"rrw", kVector, kVector, kVector},     // ADD_V
    {"rrw", kFloat, kFloat, kFloat},        // SUB_F
    {"rrw", kVector, kVector, kVector},     // SUB_V
    {"rrw", kFloat, kFloat, kFloat},        // EQ_F
    {"rrw", kVector, kVector, kFloat},      // EQ_V
    {"rrw", kString, kString, kFloat},      // EQ_S
    {"rrw", kEntity, kEntity, kFloat},      // EQ_E
    {"rrw", kFunction, kFunction, kFloat},  // EQ_FNC
    {"rrw", kFloat, kFloat, kFloat},        // NE_F
    {"rrw", kVector, kVector, kFloat},      // NE_V
    {"rrw", kString, kString, kFloat},      // NE_S
    {"rrw", kEntity, kEntity, kFloat},      // NE_E
    {"rrw", kFunction, kFunction, kFloat},  // NE_FNC
    {"rrw", kFloat, kFloat, kFloat},        // LE
    {"rrw", kFloat, kFloat, kFloat},        // GE
    {"rrw", kFloat, kFloat, kFloat},        // LT
    {"rrw", kFloat, kFloat, kFloat},        // GT
    {"rrw", kEntity, kField, kFloat},       // LOAD_F
    {"rrw", kEntity, kField, kVector},      // LOAD_V
    {"rrw", kEntity, kField, kString},      // LOAD_S
    {"rrw", kEntity, kField, kEntity},      // LOAD_ENT
    {"rrw", kEntity, kField, kField},       // LOAD_FLD
    {"rrw", kEntity, kField, kFunction},    // LOAD_FNC
    {"rrw", kEntity, kField, kPointer},     // ADDRESS
    {"rw-", kFloat, kFloat, kVoid},         // STORE_F
    {"rw-", kVector, kVector, kVoid},       // STORE_V
    {"rw-", kString, kString, kVoid},       // STORE_S
    {"rw-", kEntity, kEntity, kVoid},       // STORE_ENT
    {"rw-", kField, kField, kVoid},         // STORE_FLD
    {"rw-", kFunction, kFunction, kVoid},   // STORE_FNC
    {"rr-", kFloat, kPointer, kVoid},       // STOREP_F
    {"rr-", kVector, kPointer, kVoid},      // STOREP_V
    {"rr-", kString, kPointer, kVoid},      // STOREP_S
    {"rr-", kEntity, kPointer, kVoid},      // STOREP_ENT
    {"rr-", kField, kPointer, kVoid},       // STOREP_FLD
    {"rr-", kFunction, kPointer, kVoid},    // STOREP_FNC
    {"r--", kVoid, kVoid, kVoid},           // RETURN: the type is the function's
    {"r-w", kFloat, kVoid, kFloat},         // NOT_F
    {"r-w", kVector, kVoid, kFloat},        // NOT_V
    {"r-w", kString, kVoid, kFloat},        // NOT_S
    {"r-w", kEntity, kVoid, kFloat},        // NOT_ENT
    {"r-w", kFunction, kVoid, kFloat},      // NOT_FNC
    {"rj-", kFloat, kVoid, kVoid},          // IF
    {"rj-", kFloat, kVoid, kVoid},          // IFNOT
    {"r--", kFunction, kVoid, kVoid},       // CALL0
    {"r--", kFunction, kVoid, kVoid},       // CALL1
    {"r--", kFunction, kVoid, kVoid},       // CALL2
    {"r--", kFunction, kVoid, kVoid},       // CALL3
    {"r--", kFunction, kVoid, kVoid},       // CALL4
    {"r--", kFunction, kVoid, kVoid},       // CALL5
    {"r--", kFunction, kVoid, kVoid},       // CALL6
    {"r--", kFunction, kVoid, kVoid},       // CALL7
    {"r--", kFunction, kVoid, kVoid},       // CALL8
    {"rr-", kFloat, kFunction, kVoid},      // STATE: frame number, think function
    {"j--", kVoid, kVoid, kVoid},           // GOTO
    {"rrw", kFloat, kFloat, kFloat},        // AND
    {"rrw", kFloat, kFloat, kFloat},        // OR
    {"rrw", kFloat, kFloat, kFloat},        // BITAND
    {"rrw", kFloat, kFloat, kFloat},        // BITOR
};
static_assert(std::size(OperandTable) == 66);
// Opcodes past the table: every operand is compared as an untyped cell, apart from the
// jumps of the extended instructions (IF_S, IF_F and their negations, SWITCH, CASE,
// CASERANGE) and the bounds BOUNDCHECK holds.
constexpr OperandRow kUnknownOperands = {"rrr", kVoid, kVoid, kVoid};
constexpr OperandRow kJumpB = {"rj-", kVoid, kVoid, kVoid};
constexpr OperandRow kJumpC = {"rrj", kVoid, kVoid, kVoid};
constexpr OperandRow kBounds = {"r--", kVoid, kVoid, kVoid};

const OperandRow& operands_of(int64_t op) {
  if (op >= 0 && op < static_cast<int64_t>(std::size(OperandTable))) {
    return OperandTable[op];
  }
  switch (op) {
    case 98:
    case 99:
    case 100:
    case 101:
    case 102:
    case 103:
    case 136:
    case 137:
    case 215:
    case 217:
    case 218:
      return kJumpB;
    case 104:
      return kJumpC;
    case 211:
      return kBounds;
    default:
      return kUnknownOperands;
  }
}

const char* roles_of(int64_t op) { return operands_of(op).roles; }

int slot_type(int64_t op, int slot) {
  const OperandRow& row = operands_of(op);
  return slot == 0 ? row.type_a : slot == 1 ? row.type_b : row.type_c;
}

bool known_opcode(int64_t op) {
  return op >= 0 && op < static_cast<int64_t>(std::size(image::OpcodeTable));
}

int64_t operand(const image::Statement& statement, int slot) {
  return slot == 0 ? statement.a : slot == 1 ? statement.b : statement.c;
}

// Layout facts of the format.
constexpr int64_t kReservedCells = 28;  // null, return value, eight parameters
constexpr int64_t kFirstParameter = 4;

// Operands are 16-bit words in the file; a cell above 32767 may arrive sign-extended. Wider
// operands of a damaged or newer file all read as one cell past the limit, so that the cell
// tables stay the size of the format's.
constexpr int64_t kCellLimit = int64_t{1} << 17;
int64_t cell_of(int64_t value) {
  return std::min(value < 0 ? (value & 0xFFFF) : value, kCellLimit);
}
int64_t jump_of(int64_t value) { return static_cast<int16_t>(value); }

// The type an operand is read or written as. qcc (and fteqcc without nonvec_parms) copies
// every argument with STORE_V, one-cell values included, so such a copy reads one untyped
// cell; a vector's other cells are compared where the vector is computed.
constexpr int64_t kStoreV = 32;
int read_type(const image::Statement& statement, int slot) {
  const int64_t target = cell_of(statement.b);
  if (slot == 0 && statement.op == kStoreV && target >= kFirstParameter &&
      target < kReservedCells) {
    return image::ev_void;
  }
  return slot_type(statement.op, slot);
}

enum CellKind : uint8_t {
  kReserved,  // return value and parameters: the same offset in every program
  kNamed,     // a named global: compared by name (named constants also by value)
  kConstant,  // an unnamed cell nothing writes: compared by type and value
  kVariable,  // parameters, locals and temporaries: renumbered one to one within a function
};

constexpr int kNoDef = -1;

constexpr int kSaveGlobalFlag = 1 << 15;
constexpr const char* TypeNames[] = {
    "void", "string", "float", "vector", "entity", "field", "function", "pointer",
};

int cells_of_type(int type) { return type == image::ev_vector ? 3 : 1; }

struct Program {
  std::string path;
  std::vector<unsigned char> bytes;
  int32_t header[kHeaderFields];
  image::ProgramImage image;
  std::vector<int32_t> cell_def;        // first definition covering the cell, or kNoDef
  std::vector<std::string> cell_name;   // "name", or "name+1" and "name+2" in a vector
  std::vector<uint8_t> cell_component;  // 1 or 2 for the later cells of a vector
  std::vector<uint8_t> cell_in_locals;  // inside some function's parameters and locals
  std::vector<uint8_t> cell_fixed;      // neither an instruction nor a call writes it
  std::vector<uint8_t> cell_kind;
  std::vector<int32_t> code_end;      // per function: one past its last instruction
  std::vector<int32_t> field_def_at;  // per field offset: first field definition there
  std::vector<std::string> function_key;
};

std::string text_at(const image::ProgramImage& program, int64_t offset) {
  if (offset < 0 || offset >= static_cast<int64_t>(program.strings.size())) {
    return "";
  }
  const char* start = &program.strings[static_cast<size_t>(offset)];
  return std::string(start, strnlen(start, program.strings.size() - static_cast<size_t>(offset)));
}

uint32_t cell_bits(const Program& program, int64_t cell) {
  const std::vector<uint32_t>& globals = program.image.globals;
  return cell >= 0 && cell < static_cast<int64_t>(globals.size()) ? globals[cell] : 0;
}

int32_t header_field(const std::vector<unsigned char>& bytes, int index) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) {
    value = value << 8 | bytes[static_cast<size_t>(4 * index + i)];
  }
  return static_cast<int32_t>(value);
}

std::vector<unsigned char> read_whole_file(const std::string& path) {
  const int fd = support::open_for_reading(path.c_str());
  const int64_t size = support::file_size(fd);
  support::seek_to(fd, 0);
  std::vector<unsigned char> bytes(static_cast<size_t>(size));
  support::read_exact(fd, bytes.data(), bytes.size());
  support::close_input();
  return bytes;
}

// Whether a named cell starts with a value: any of its cells, all three for a vector.
bool holds_value(const Program& program, size_t cell) {
  const image::DefRecord& def = program.image.globaldefs[program.cell_def[cell]];
  const size_t first = cell - program.cell_component[cell];
  const int width = cells_of_type(def.type & ~kSaveGlobalFlag);
  for (int k = 0; k < width; ++k) {
    if (cell_bits(program, static_cast<int64_t>(first) + k) != 0) {
      return true;
    }
  }
  return false;
}

void index_cells(Program& program) {
  const image::ProgramImage& image = program.image;
  int64_t cells = static_cast<int64_t>(image.globals.size());
  for (int32_t i = 0; i < image.numstatements; ++i) {
    for (int slot = 0; slot < 3; ++slot) {
      cells = std::max(cells, cell_of(operand(image.statements[i], slot)) + 3);
    }
  }
  for (const image::DefRecord& def : image.globaldefs) {
    cells = std::max<int64_t>(cells, def.ofs + 3);
  }
  const size_t size = static_cast<size_t>(cells);
  program.cell_def.assign(size, kNoDef);
  program.cell_component.assign(size, 0);
  program.cell_in_locals.assign(size, 0);
  program.cell_fixed.assign(size, 0);
  program.cell_kind.assign(size, kVariable);

  for (size_t i = 0; i < image.globaldefs.size(); ++i) {
    int32_t& def = program.cell_def[image.globaldefs[i].ofs];
    if (def == kNoDef) {
      def = static_cast<int32_t>(i);
    }
  }
  // A vector's later cells are named after the vector, whether or not the compiler also
  // defined _y and _z names for them.
  for (size_t i = 0; i < image.globaldefs.size(); ++i) {
    const image::DefRecord& def = image.globaldefs[i];
    if ((def.type & ~kSaveGlobalFlag) == image::ev_vector) {
      for (int k = 1; k <= 2; ++k) {
        program.cell_def[def.ofs + k] = static_cast<int32_t>(i);
        program.cell_component[def.ofs + k] = static_cast<uint8_t>(k);
      }
    }
  }
  program.cell_name.assign(size, "");
  for (size_t i = 0; i < size; ++i) {
    if (program.cell_def[i] != kNoDef) {
      const int component = program.cell_component[i];
      program.cell_name[i] = text_at(image, image.globaldefs[program.cell_def[i]].s_name);
      if (component != 0) {
        program.cell_name[i] += support::scratch_printf("+%d", component);
      }
    }
  }
  // Where a compiler dropped a vector's definition but kept NAME_x, NAME_y and NAME_z, the
  // cells are named as the vector's.
  for (const image::DefRecord& def : image.globaldefs) {
    const std::string& name = program.cell_name[def.ofs];
    const size_t stem = name.size() >= 2 ? name.size() - 2 : 0;
    if (stem == 0 || name.compare(stem, 2, "_x") != 0 || program.cell_component[def.ofs] != 0 ||
        program.cell_name[def.ofs + 1] != name.substr(0, stem) + "_y" ||
        program.cell_name[def.ofs + 2] != name.substr(0, stem) + "_z") {
      continue;
    }
    program.cell_name[def.ofs] = name.substr(0, stem);
    program.cell_name[def.ofs + 1] = program.cell_name[def.ofs] + "+1";
    program.cell_name[def.ofs + 2] = program.cell_name[def.ofs] + "+2";
  }

  // A function's area holds its parameters and locals; qcc counts no parameters in `locals`
  // when a function has no other locals. Parameter cells are written by every call.
  std::vector<int32_t> area_change(size + 1, 0), parameter_change(size + 1, 0);
  for (const image::FunctionRecord& function : image.functions) {
    if (function.first_statement <= 0) {
      continue;
    }
    int64_t parameters = 0;
    for (int i = 0; i < std::clamp(function.numparms, 0, 8); ++i) {
      parameters += function.parm_size[i];
    }
    const int64_t start = std::clamp<int64_t>(function.parm_start, 0, cells);
    const int64_t area_end = std::clamp<int64_t>(
        function.parm_start + std::max<int64_t>(function.locals, parameters), 0, cells);
    const int64_t parameters_end = std::clamp<int64_t>(function.parm_start + parameters, 0, cells);
    if (start < area_end) {
      ++area_change[static_cast<size_t>(start)];
      --area_change[static_cast<size_t>(area_end)];
    }
    if (start < parameters_end) {
      ++parameter_change[static_cast<size_t>(start)];
      --parameter_change[static_cast<size_t>(parameters_end)];
    }
  }
  std::vector<uint8_t> written(size, 0);
  int32_t areas = 0, parameter_ranges = 0;
  for (size_t i = 0; i < size; ++i) {
    areas += area_change[i];
    parameter_ranges += parameter_change[i];
    program.cell_in_locals[i] = areas > 0;
    written[i] = parameter_ranges > 0;
  }
  for (int32_t i = 0; i < image.numstatements; ++i) {
    const image::Statement& statement = image.statements[i];
    const char* roles = roles_of(statement.op);
    for (int slot = 0; slot < 3; ++slot) {
      if (roles[slot] != 'w') {
        continue;
      }
      const int64_t cell = cell_of(operand(statement, slot));
      const int width = cells_of_type(slot_type(statement.op, slot));
      for (int k = 0; k < width; ++k) {
        written[static_cast<size_t>(cell + k)] = 1;
      }
    }
  }

  // Constants and temporaries share the locals areas with locals and parameters (fteqcc),
  // and qcc allocates a global met in a function's body inside that function's area, so the
  // area alone does not make a variable. An unnamed cell that nothing writes is a constant;
  // a named one in an area is a global when it holds a value before the program runs.
  for (size_t i = 0; i < size; ++i) {
    const int32_t def = program.cell_def[i];
    const std::string name = def == kNoDef ? "" : text_at(image, image.globaldefs[def].s_name);
    uint8_t& kind = program.cell_kind[i];
    program.cell_fixed[i] = !written[i];
    if (i < static_cast<size_t>(kReservedCells)) {
      kind = kReserved;
    } else if (name.empty() || name == "IMMEDIATE") {
      kind = written[i] ? kVariable : kConstant;
    } else if (!program.cell_in_locals[i] || (!written[i] && holds_value(program, i))) {
      kind = kNamed;
    } else {
      kind = kVariable;
    }
  }
}

void index_functions(Program& program) {
  const image::ProgramImage& image = program.image;
  const int32_t count = image.numstatements;
  // The code of a function runs up to the next function's first instruction.
  std::vector<uint8_t> starts(static_cast<size_t>(count) + 1, 0);
  for (const image::FunctionRecord& function : image.functions) {
    if (function.first_statement > 0 && function.first_statement < count) {
      starts[static_cast<size_t>(function.first_statement)] = 1;
    }
  }
  std::vector<int32_t> next_start(static_cast<size_t>(count) + 1, count);
  for (int32_t i = count - 1; i >= 0; --i) {
    next_start[static_cast<size_t>(i)] =
        starts[static_cast<size_t>(i) + 1] ? i + 1 : next_start[i + 1];
  }
  program.code_end.assign(image.functions.size(), 0);
  program.function_key.assign(image.functions.size(), "");
  for (size_t i = 0; i < image.functions.size(); ++i) {
    const image::FunctionRecord& function = image.functions[i];
    if (function.first_statement > 0 && function.first_statement < count) {
      program.code_end[i] = next_start[static_cast<size_t>(function.first_statement)];
    } else {
      program.code_end[i] = std::max(function.first_statement, 0);
    }
    std::string name = text_at(image, function.s_name);
    if (name.empty() && function.first_statement <= 0) {
      name = support::scratch_printf("#builtin %d", -function.first_statement);
    }
    program.function_key[i] = name;
  }

  int32_t fields = 0;
  for (const image::DefRecord& def : image.fielddefs) {
    fields = std::max<int32_t>(fields, def.ofs + 1);
  }
  program.field_def_at.assign(static_cast<size_t>(fields), kNoDef);
  for (size_t i = 0; i < image.fielddefs.size(); ++i) {
    int32_t& def = program.field_def_at[image.fielddefs[i].ofs];
    if (def == kNoDef) {
      def = static_cast<int32_t>(i);
    }
  }
}

Program load_program(const std::string& path) {
  Program program;
  program.path = path;
  program.bytes = read_whole_file(path);
  image::load_program_image(path.c_str(), image::Reading::kDetected);
  program.image = image::program;
  image::reset_program_image();
  for (int i = 0; i < kHeaderFields; ++i) {
    program.header[i] = header_field(program.bytes, i);
  }
  index_cells(program);
  index_functions(program);
  return program;
}

// Functions of A and B paired by name; same-named records pair in record order.
struct Matching {
  std::vector<int32_t> a_to_b;
  std::vector<int32_t> b_to_a;
};

Matching match_functions(const Program& a, const Program& b) {
  Matching matching;
  matching.a_to_b.assign(a.image.functions.size(), -1);
  matching.b_to_a.assign(b.image.functions.size(), -1);
  std::unordered_map<std::string, std::vector<int32_t>> by_key;
  for (size_t i = b.image.functions.size(); i-- > 1;) {  // record 0 is never a function
    by_key[b.function_key[i]].push_back(static_cast<int32_t>(i));
  }
  for (size_t i = 1; i < a.image.functions.size(); ++i) {
    auto found = by_key.find(a.function_key[i]);
    if (found == by_key.end() || found->second.empty()) {
      continue;
    }
    const int32_t partner = found->second.back();
    found->second.pop_back();
    matching.a_to_b[i] = partner;
    matching.b_to_a[static_cast<size_t>(partner)] = static_cast<int32_t>(i);
  }
  // Builtins left over (named on one side only, as when a compiler strips their names)
  // pair by builtin number.
  std::unordered_map<int32_t, int32_t> builtin_in_b;
  for (size_t i = 1; i < b.image.functions.size(); ++i) {
    const int32_t first = b.image.functions[i].first_statement;
    if (matching.b_to_a[i] < 0 && first <= 0) {
      builtin_in_b.emplace(first, static_cast<int32_t>(i));
    }
  }
  for (size_t i = 1; i < a.image.functions.size(); ++i) {
    auto found = builtin_in_b.find(a.image.functions[i].first_statement);
    if (matching.a_to_b[i] >= 0 || a.image.functions[i].first_statement > 0 ||
        found == builtin_in_b.end()) {
      continue;
    }
    matching.a_to_b[i] = found->second;
    matching.b_to_a[static_cast<size_t>(found->second)] = static_cast<int32_t>(i);
    builtin_in_b.erase(found);
  }
  return matching;
}

struct Pair {
  const Program& a;
  const Program& b;
  const Matching& matching;
};

int type_tag(int type_word) { return type_word & ~kSaveGlobalFlag; }

constexpr int kNoType = -1;

// The type a cell's definition gives it, or kNoType.
int defined_type(const Program& program, int64_t cell) {
  const int32_t def = program.cell_def[static_cast<size_t>(cell)];
  if (def == kNoDef) {
    return kNoType;
  }
  if (program.cell_component[static_cast<size_t>(cell)] != 0) {
    return image::ev_float;
  }
  return type_tag(program.image.globaldefs[def].type);
}

// The type a constant holds: its definition's where it has one, else the type it is read as.
int constant_type(const Program& program, int64_t cell, int read_as) {
  const int type = defined_type(program, cell);
  return type == kNoType ? read_as : type;
}

std::string field_name(const Program& program, uint32_t offset) {
  if (offset >= program.field_def_at.size() || program.field_def_at[offset] == kNoDef) {
    return "";
  }
  return text_at(program.image, program.image.fielddefs[program.field_def_at[offset]].s_name);
}

bool same_value(const Pair& pair, int64_t cell_a, int64_t cell_b, int type) {
  const uint32_t bits_a = cell_bits(pair.a, cell_a);
  const uint32_t bits_b = cell_bits(pair.b, cell_b);
  switch (type) {
    case image::ev_string:
      return text_at(pair.a.image, bits_a) == text_at(pair.b.image, bits_b);
    case image::ev_function:
      if (bits_a == 0 || bits_b == 0 || bits_a >= pair.matching.a_to_b.size()) {
        return bits_a == bits_b;
      }
      return pair.matching.a_to_b[bits_a] == static_cast<int32_t>(bits_b);
    case image::ev_field: {
      const std::string name_a = field_name(pair.a, bits_a);
      const std::string name_b = field_name(pair.b, bits_b);
      return name_a.empty() && name_b.empty() ? bits_a == bits_b : name_a == name_b;
    }
    case image::ev_vector:
      return bits_a == bits_b && cell_bits(pair.a, cell_a + 1) == cell_bits(pair.b, cell_b + 1) &&
             cell_bits(pair.a, cell_a + 2) == cell_bits(pair.b, cell_b + 2);
    default:
      return bits_a == bits_b;
  }
}

std::string float_text(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  if (std::isnan(value)) {
    return support::scratch_printf("nan:0x%08x", bits);
  }
  if (value == std::nearbyint(value) && std::fabs(value) < 1e9f &&
      !(value == 0 && std::signbit(value))) {
    return support::scratch_printf("%.0f", static_cast<double>(value));
  }
  // The shortest text that reads back to the same bits.
  for (int precision = 1; precision < 9; ++precision) {
    std::string text = support::scratch_printf("%.*g", precision, static_cast<double>(value));
    if (std::strtof(text.c_str(), nullptr) == value && std::signbit(value) == (text[0] == '-')) {
      return text;
    }
  }
  return support::scratch_printf("%.9g", static_cast<double>(value));
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c >= 0x7f) {
      out += support::scratch_printf("\\x%02x", c);
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string value_text(const Program& program, int64_t cell, int type) {
  const uint32_t bits = cell_bits(program, cell);
  switch (type) {
    case image::ev_string:
      return quoted(text_at(program.image, bits));
    case image::ev_function:
      if (bits == 0) {
        return "function 0";
      }
      if (bits < program.function_key.size() && !program.function_key[bits].empty()) {
        return program.function_key[bits];
      }
      return support::scratch_printf("function #%u", bits);
    case image::ev_field: {
      const std::string name = field_name(program, bits);
      return name.empty() ? support::scratch_printf("field #%u", bits) : "." + name;
    }
    case image::ev_vector:
      return "'" + float_text(bits) + " " + float_text(cell_bits(program, cell + 1)) + " " +
             float_text(cell_bits(program, cell + 2)) + "'";
    case image::ev_entity:
      return support::scratch_printf("entity %u", bits);
    case image::ev_pointer:
      return support::scratch_printf("pointer %u", bits);
    default:
      return float_text(bits);
  }
}

const char* type_text(int type_word) {
  const size_t tag = static_cast<size_t>(type_tag(type_word));
  return tag < std::size(TypeNames) ? TypeNames[tag] : "unknown type";
}

std::string def_type_text(int type_word) {
  std::string text = type_text(type_word);
  if (type_word & kSaveGlobalFlag) {
    text += " (saved)";
  }
  return text;
}

const std::string& def_name(const Program& program, int64_t cell) {
  return program.cell_name[static_cast<size_t>(cell)];
}

std::string cell_text(const Program& program, int64_t cell, int slot_type_tag) {
  switch (program.cell_kind[static_cast<size_t>(cell)]) {
    case kReserved: {
      if (cell == 0) {
        return "0";
      }
      const bool is_return = cell < kFirstParameter;
      const int64_t base = is_return ? 1 : kFirstParameter;
      const int64_t component = (cell - base) % 3;
      std::string name =
          is_return ? std::string("RETURN")
                    : support::scratch_printf("PARM%d", static_cast<int>((cell - base) / 3));
      return component == 0 ? name
                            : name + support::scratch_printf("+%d", static_cast<int>(component));
    }
    case kNamed:
      return def_name(program, cell);
    case kConstant:
      return value_text(program, cell, constant_type(program, cell, slot_type_tag));
    default:
      return def_name(program, cell) +
             support::scratch_printf("@%lld", static_cast<long long>(cell));
  }
}

std::string instruction_text(const Program& program, int32_t index) {
  const image::Statement& statement = program.image.statements[static_cast<size_t>(index)];
  const int64_t op = statement.op;
  std::string text = known_opcode(op)
                         ? image::OpcodeTable[op].name
                         : support::scratch_printf("op %lld", static_cast<long long>(op));
  const char* roles = roles_of(op);
  const char* separator = " ";
  for (int slot = 0; slot < 3; ++slot) {
    const int64_t value = operand(statement, slot);
    std::string part;
    if (roles[slot] == 'j') {
      part = support::scratch_printf("%+lld", static_cast<long long>(jump_of(value)));
    } else if (roles[slot] == '-') {
      if (value == 0) {
        continue;
      }
      part = support::scratch_printf("#%lld", static_cast<long long>(value));
    } else {
      part = cell_text(program, cell_of(value), read_type(statement, slot));
    }
    text += separator + part;
    separator = ", ";
  }
  return text;
}

// The one-to-one map between the variable cells of the two functions being compared. The
// stamps clear it for the next function without touching every cell.
struct CellMap {
  std::vector<int64_t> a_to_b;
  std::vector<int64_t> b_to_a;
  std::vector<uint32_t> stamp_a;
  std::vector<uint32_t> stamp_b;
  uint32_t stamp;
};

bool bind_cells(CellMap& map, int64_t cell_a, int64_t cell_b) {
  const size_t a = static_cast<size_t>(cell_a), b = static_cast<size_t>(cell_b);
  const bool known_a = map.stamp_a[a] == map.stamp, known_b = map.stamp_b[b] == map.stamp;
  if (known_a || known_b) {
    return known_a && known_b && map.a_to_b[a] == cell_b && map.b_to_a[b] == cell_a;
  }
  map.stamp_a[a] = map.stamp_b[b] = map.stamp;
  map.a_to_b[a] = cell_b;
  map.b_to_a[b] = cell_a;
  return true;
}

// Compared as the type a definition gives either of them (a compiler may drop constants'
// definitions), else as the type they are read as.
bool same_constant(const Pair& pair, int64_t cell_a, int64_t cell_b, int read_as) {
  const int type_a = defined_type(pair.a, cell_a), type_b = defined_type(pair.b, cell_b);
  if (type_a != kNoType && type_b != kNoType && type_a != type_b) {
    return false;
  }
  const int type = type_a != kNoType ? type_a : type_b != kNoType ? type_b : read_as;
  return same_value(pair, cell_a, cell_b, type);
}

// A named global that is a constant: nothing writes it, and it starts with a value or is
// not saved with the game (compilers save the globals declared without a value).
bool named_constant(const Program& program, int64_t cell) {
  const size_t index = static_cast<size_t>(cell);
  if (program.cell_kind[index] != kNamed || !program.cell_fixed[index]) {
    return false;
  }
  const image::DefRecord& def = program.image.globaldefs[program.cell_def[index]];
  return holds_value(program, index) || (def.type & kSaveGlobalFlag) == 0;
}

bool same_cell(const Pair& pair, CellMap& map, int64_t cell_a, int64_t cell_b, int type) {
  const uint8_t kind = pair.a.cell_kind[static_cast<size_t>(cell_a)];
  const uint8_t kind_b = pair.b.cell_kind[static_cast<size_t>(cell_b)];
  if (kind != kind_b) {
    // A compiler that strips constants' names leaves the same value in an unnamed cell.
    return (kind == kConstant || named_constant(pair.a, cell_a)) &&
           (kind_b == kConstant || named_constant(pair.b, cell_b)) &&
           same_constant(pair, cell_a, cell_b, type);
  }
  switch (kind) {
    case kReserved:
      return cell_a == cell_b;
    case kNamed:
      // fteqcc reads equal constants through one of their names (dupconstdefs).
      return def_name(pair.a, cell_a) == def_name(pair.b, cell_b) ||
             (named_constant(pair.a, cell_a) && named_constant(pair.b, cell_b) &&
              same_constant(pair, cell_a, cell_b, type));
    case kConstant:
      return same_constant(pair, cell_a, cell_b, type);
    default: {
      for (int k = 0; k < cells_of_type(type); ++k) {
        if (!bind_cells(map, cell_a + k, cell_b + k)) {
          return false;
        }
      }
      return true;
    }
  }
}

bool same_instruction(const Pair& pair, CellMap& map, const image::Statement& statement_a,
                      const image::Statement& statement_b) {
  if (statement_a.op != statement_b.op) {
    return false;
  }
  const char* roles = roles_of(statement_a.op);
  for (int slot = 0; slot < 3; ++slot) {
    const int64_t value_a = operand(statement_a, slot), value_b = operand(statement_b, slot);
    if (roles[slot] == '-') {
      continue;  // the machine never reads it (fteqcc leaves a cell number in IF's c)
    }
    if (roles[slot] == 'j') {
      if (value_a != value_b) {
        return false;
      }
    } else if (!same_cell(pair, map, cell_of(value_a), cell_of(value_b),
                          read_type(statement_a, slot))) {
      return false;
    }
  }
  return true;
}

bool same_bytes(const image::Statement& a, const image::Statement& b) {
  return a.op == b.op && a.a == b.a && a.b == b.b && a.c == b.c;
}

FunctionVerdict compare_function(const Pair& pair, CellMap& map, int32_t index_a, int32_t index_b) {
  const image::FunctionRecord& fa = pair.a.image.functions[static_cast<size_t>(index_a)];
  const image::FunctionRecord& fb = pair.b.image.functions[static_cast<size_t>(index_b)];
  FunctionVerdict verdict{pair.a.function_key[static_cast<size_t>(index_a)],
                          index_a,
                          index_b,
                          CodeVerdict::identical,
                          -1,
                          false,
                          false,
                          false};
  verdict.record_differs = fa.numparms != fb.numparms || fa.locals != fb.locals ||
                           std::memcmp(fa.parm_size, fb.parm_size, sizeof fa.parm_size) != 0;
  verdict.parm_start_differs = fa.parm_start != fb.parm_start;
  if (fa.first_statement <= 0 || fb.first_statement <= 0) {
    if (fa.first_statement != fb.first_statement) {
      verdict.code = CodeVerdict::different;
      verdict.first_difference = 0;
    }
    return verdict;
  }
  verdict.first_statement_differs = fa.first_statement != fb.first_statement;
  const int32_t length_a = pair.a.code_end[static_cast<size_t>(index_a)] - fa.first_statement;
  const int32_t length_b = pair.b.code_end[static_cast<size_t>(index_b)] - fb.first_statement;
  ++map.stamp;
  bool bytes_equal = length_a == length_b;
  for (int32_t i = 0; i < std::min(length_a, length_b); ++i) {
    const image::Statement& sa =
        pair.a.image.statements[static_cast<size_t>(fa.first_statement + i)];
    const image::Statement& sb =
        pair.b.image.statements[static_cast<size_t>(fb.first_statement + i)];
    bytes_equal = bytes_equal && same_bytes(sa, sb);
    if (!same_instruction(pair, map, sa, sb)) {
      verdict.code = CodeVerdict::different;
      verdict.first_difference = i;
      return verdict;
    }
  }
  if (length_a != length_b) {
    verdict.code = CodeVerdict::different;
    verdict.first_difference = std::min(length_a, length_b);
  } else if (!bytes_equal) {
    verdict.code = CodeVerdict::renumbered;
  }
  return verdict;
}

std::string record_text(int32_t index_a, int32_t index_b) {
  return index_a == index_b ? support::scratch_printf("record %d", index_a)
                            : support::scratch_printf("record %d / %d", index_a, index_b);
}

std::string display_name(const std::string& key) { return key.empty() ? "(unnamed)" : key; }

std::string parm_sizes_text(const image::FunctionRecord& function) {
  std::string text;
  for (uint8_t size : function.parm_size) {
    text += support::scratch_printf("%s%u", text.empty() ? "" : " ", size);
  }
  return text;
}

std::string code_line(const Program& program, const image::FunctionRecord& function, int32_t length,
                      int32_t position) {
  if (position >= length) {
    return "(end of code)";
  }
  return instruction_text(program, function.first_statement + position);
}

void report_function(const Pair& pair, const FunctionVerdict& verdict, std::string& out) {
  if (verdict.code == CodeVerdict::only_in_a || verdict.code == CodeVerdict::only_in_b) {
    const bool in_a = verdict.code == CodeVerdict::only_in_a;
    out += support::scratch_printf("  %s: only in %s (record %d)\n",
                                   display_name(verdict.name).c_str(), in_a ? "A" : "B",
                                   in_a ? verdict.index_a : verdict.index_b);
    return;
  }
  const image::FunctionRecord& fa = pair.a.image.functions[static_cast<size_t>(verdict.index_a)];
  const image::FunctionRecord& fb = pair.b.image.functions[static_cast<size_t>(verdict.index_b)];
  std::string notes;
  if (verdict.first_statement_differs) {
    notes += ", first_statement differs";
  }
  if (verdict.parm_start_differs) {
    notes += ", parm_start differs";
  }
  std::string name = display_name(verdict.name);
  const std::string& name_b = pair.b.function_key[static_cast<size_t>(verdict.index_b)];
  if (name_b != verdict.name) {
    name += " / " + display_name(name_b);
  }
  out += support::scratch_printf("  %s (%s): %s%s\n", name.c_str(),
                                 record_text(verdict.index_a, verdict.index_b).c_str(),
                                 verdict_text(verdict.code), notes.c_str());
  if (verdict.code == CodeVerdict::different) {
    if (fa.first_statement <= 0 || fb.first_statement <= 0) {
      auto side = [](const image::FunctionRecord& function) {
        return function.first_statement <= 0
                   ? support::scratch_printf("builtin #%d", -function.first_statement)
                   : support::scratch_printf("code at %d", function.first_statement);
      };
      out += "    A: " + side(fa) + "\n    B: " + side(fb) + "\n";
    } else {
      const int32_t length_a =
          pair.a.code_end[static_cast<size_t>(verdict.index_a)] - fa.first_statement;
      const int32_t length_b =
          pair.b.code_end[static_cast<size_t>(verdict.index_b)] - fb.first_statement;
      out += support::scratch_printf("    first difference at instruction %d of %d / %d\n",
                                     verdict.first_difference, length_a, length_b);
      out += "    A: " + code_line(pair.a, fa, length_a, verdict.first_difference) + "\n";
      out += "    B: " + code_line(pair.b, fb, length_b, verdict.first_difference) + "\n";
    }
  }
  if (fa.numparms != fb.numparms) {
    out += support::scratch_printf("    numparms %d / %d\n", fa.numparms, fb.numparms);
  }
  if (std::memcmp(fa.parm_size, fb.parm_size, sizeof fa.parm_size) != 0) {
    out += "    parm_size " + parm_sizes_text(fa) + " / " + parm_sizes_text(fb) + "\n";
  }
  if (fa.locals != fb.locals) {
    out += support::scratch_printf("    locals %d / %d\n", fa.locals, fb.locals);
  }
}

void compare_functions(const Pair& pair, Comparison& result, std::string& out) {
  CellMap map;
  const size_t cells_a = pair.a.cell_kind.size(), cells_b = pair.b.cell_kind.size();
  map.a_to_b.assign(cells_a, 0);
  map.stamp_a.assign(cells_a, 0);
  map.b_to_a.assign(cells_b, 0);
  map.stamp_b.assign(cells_b, 0);
  map.stamp = 0;
  FunctionCounts& counts = result.counts;
  for (size_t i = 1; i < pair.a.image.functions.size(); ++i) {
    const int32_t partner = pair.matching.a_to_b[i];
    if (partner < 0) {
      result.functions.push_back(FunctionVerdict{pair.a.function_key[i], static_cast<int32_t>(i),
                                                 -1, CodeVerdict::only_in_a, -1, false, false,
                                                 false});
      ++counts.only_in_a;
      continue;
    }
    result.functions.push_back(compare_function(pair, map, static_cast<int32_t>(i), partner));
    const FunctionVerdict& verdict = result.functions.back();
    ++counts.compared;
    counts.identical += verdict.code == CodeVerdict::identical;
    counts.renumbered += verdict.code == CodeVerdict::renumbered;
    counts.different += verdict.code == CodeVerdict::different;
    counts.records_differ += verdict.record_differs;
  }
  for (size_t i = 1; i < pair.b.image.functions.size(); ++i) {
    if (pair.matching.b_to_a[i] < 0) {
      result.functions.push_back(FunctionVerdict{pair.b.function_key[i], -1,
                                                 static_cast<int32_t>(i), CodeVerdict::only_in_b,
                                                 -1, false, false, false});
      ++counts.only_in_b;
    }
  }
  std::string lines;
  for (const FunctionVerdict& verdict : result.functions) {
    if (verdict.code != CodeVerdict::identical || verdict.record_differs) {
      report_function(pair, verdict, lines);
    }
  }
  if (!lines.empty()) {
    out += "functions:\n" + lines;
  }
}

void compare_header(const Pair& pair, Comparison& result, std::string& out) {
  std::string lines;
  for (int i = 0; i < kHeaderFields; ++i) {
    if (pair.a.header[i] != pair.b.header[i]) {
      lines += support::scratch_printf("  %s: %d / %d\n", HeaderFieldNames[i], pair.a.header[i],
                                       pair.b.header[i]);
      ++result.header_differences;
    }
  }
  if (!lines.empty()) {
    out += "header:\n" + lines;
  }
}

// Pairs definitions of the same name, in record order; the rest are only on one side.
template <typename Include, typename Compare>
int compare_defs(const Program& a, const std::vector<image::DefRecord>& defs_a, const Program& b,
                 const std::vector<image::DefRecord>& defs_b, Include include, Compare compare,
                 std::string& lines) {
  int differences = 0;
  std::unordered_map<std::string, std::vector<size_t>> by_name;
  std::vector<uint8_t> paired_b(defs_b.size(), 0);
  for (size_t i = defs_b.size(); i-- > 1;) {  // record 0 is the null definition
    if (include(b, defs_b[i])) {
      by_name[text_at(b.image, defs_b[i].s_name)].push_back(i);
    }
  }
  for (size_t i = 1; i < defs_a.size(); ++i) {
    if (!include(a, defs_a[i])) {
      continue;
    }
    const std::string name = text_at(a.image, defs_a[i].s_name);
    auto found = by_name.find(name);
    if (found == by_name.end() || found->second.empty()) {
      lines += "  " + display_name(name) + ": only in A\n";
      ++differences;
      continue;
    }
    const size_t partner = found->second.back();
    found->second.pop_back();
    paired_b[partner] = 1;
    const std::string difference = compare(defs_a[i], defs_b[partner]);
    if (!difference.empty()) {
      lines += "  " + display_name(name) + ": " + difference + "\n";
      ++differences;
    }
  }
  for (size_t i = 1; i < defs_b.size(); ++i) {
    if (!paired_b[i] && include(b, defs_b[i])) {
      lines += "  " + display_name(text_at(b.image, defs_b[i].s_name)) + ": only in B\n";
      ++differences;
    }
  }
  return differences;
}

void compare_fields(const Pair& pair, Comparison& result, std::string& out) {
  std::string lines;
  auto every_field = [](const Program&, const image::DefRecord&) { return true; };
  auto compare = [](const image::DefRecord& a, const image::DefRecord& b) {
    std::string text;
    if (a.type != b.type) {
      text += "type " + def_type_text(a.type) + " / " + def_type_text(b.type);
    }
    if (a.ofs != b.ofs) {
      text += support::scratch_printf("%soffset %u / %u", text.empty() ? "" : ", ", a.ofs, b.ofs);
    }
    return text;
  };
  result.field_differences = compare_defs(pair.a, pair.a.image.fielddefs, pair.b,
                                          pair.b.image.fielddefs, every_field, compare, lines);
  if (!lines.empty()) {
    out += "fields:\n" + lines;
  }
}

void compare_globals(const Pair& pair, Comparison& result, std::string& out) {
  std::string lines;
  // Named globals: the cells that code reads by name (locals and constants are compared
  // inside the functions).
  auto named_global = [](const Program& program, const image::DefRecord& def) {
    const std::string name = text_at(program.image, def.s_name);
    return !name.empty() && name != "IMMEDIATE" && program.cell_kind[def.ofs] == kNamed;
  };
  auto compare = [&pair](const image::DefRecord& a, const image::DefRecord& b) {
    if (a.type != b.type) {
      return "type " + def_type_text(a.type) + " / " + def_type_text(b.type);
    }
    if (!same_value(pair, a.ofs, b.ofs, type_tag(a.type))) {
      return "value " + value_text(pair.a, a.ofs, type_tag(a.type)) + " / " +
             value_text(pair.b, b.ofs, type_tag(b.type));
    }
    return std::string();
  };
  result.global_differences = compare_defs(pair.a, pair.a.image.globaldefs, pair.b,
                                           pair.b.image.globaldefs, named_global, compare, lines);
  if (!lines.empty()) {
    out += "named globals:\n" + lines;
  }
}

}  // namespace

const char* verdict_text(CodeVerdict verdict) {
  switch (verdict) {
    case CodeVerdict::identical:
      return "identical";
    case CodeVerdict::renumbered:
      return "identical up to renumbering";
    case CodeVerdict::different:
      return "different";
    case CodeVerdict::only_in_a:
      return "only in A";
    default:
      return "only in B";
  }
}

std::string summary_line(const FunctionCounts& counts) {
  return support::scratch_printf(
      "functions: %d compared, %d identical, %d identical up to renumbering, %d different, "
      "%d only in A, %d only in B; %d with other numparms, parm_size or locals",
      counts.compared, counts.identical, counts.renumbered, counts.different, counts.only_in_a,
      counts.only_in_b, counts.records_differ);
}

Comparison compare_program_files(const std::string& path_a, const std::string& path_b) {
  Comparison result{};
  Program a, b;
  // The loader reports a damaged file as a fatal condition; here it is the command's answer.
  for (Program* program : {&a, &b}) {
    const std::string& path = program == &a ? path_a : path_b;
    try {
      *program = load_program(path);
    } catch (const support::FatalCondition& condition) {
      support::reset_input_file();
      image::reset_program_image();
      result.status = 2;
      result.report = "cannot read " + path + ":\n" + condition.message;
      return result;
    }
  }
  const Matching matching = match_functions(a, b);
  const Pair pair{a, b, matching};
  result.bytes_identical = a.bytes == b.bytes;
  result.status = result.bytes_identical ? 0 : 1;
  std::string& out = result.report;
  out += support::scratch_printf("A: %s (%zu bytes)\nB: %s (%zu bytes)\n", path_a.c_str(),
                                 a.bytes.size(), path_b.c_str(), b.bytes.size());
  out +=
      result.bytes_identical ? "The files are identical byte for byte.\n" : "The files differ.\n";
  const size_t heading = out.size();
  compare_header(pair, result, out);
  compare_fields(pair, result, out);
  compare_globals(pair, result, out);
  compare_functions(pair, result, out);
  if (!result.bytes_identical && out.size() == heading) {
    out +=
        "No difference in the sections compared: the bytes differ elsewhere (string area, "
        "order of definitions, or cells no code reads by name).\n";
  }
  out += summary_line(result.counts) + "\n";
  return result;
}

int run_progs_compare(int argc, const char* const* argv) {
  if (argc != 3) {
    support::console_write(
        "usage: progs_compare A.dat B.dat\n"
        "Exit status: 0 identical byte for byte, 1 different, 2 usage or unreadable file.\n");
    support::console_flush();
    return 2;
  }
  const Comparison comparison = compare_program_files(argv[1], argv[2]);
  support::console_write(comparison.report);
  support::console_flush();
  return comparison.status;
}

}  // namespace compare
