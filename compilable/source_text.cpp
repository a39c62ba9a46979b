// The QuakeC text of types, expressions, statements and whole functions, written so that
// qcc and fteqcc read it the same way.
#include "compilable/source_text.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <unordered_set>
#include <utility>

#include "compilable/instructions.h"
#include "compilable/literals.h"
#include "image/opcodes.h"

namespace compilable {

namespace {

constexpr const char* ComponentSuffix[] = {"_x", "_y", "_z"};

const char* base_type_name(int tag) {
  switch (tag) {
    case image::ev_void:
      return "void";
    case image::ev_string:
      return "string";
    case image::ev_vector:
      return "vector";
    case image::ev_entity:
      return "entity";
    case kIntegerTag:
      return "int";
    case kUnsignedTag:
      return "unsigned int";
    case kInt64Tag:
      return "long";
    case kUint64Tag:
      return "unsigned long";
    case kDoubleTag:
      return "double";
    default:
      return "float";
  }
}

std::string signature_text(const SourceContext& context, int32_t signature, int depth);

}  // namespace

std::string type_text(const SourceContext& context, const Type& type, int depth);

namespace {

std::string signature_text(const SourceContext& context, int32_t signature, int depth) {
  if (signature < 0 || signature >= static_cast<int32_t>(context.types.returns.size()) ||
      depth > 1) {
    return "void()";
  }
  const Type& returned = context.types.returns[signature];
  std::string text =
      returned.tag == image::ev_function ? "void" : type_text(context, returned, depth + 1);
  text += "(";
  const std::vector<Type>& parameters = context.types.parameters[signature];
  if (context.types.variadic[signature]) {
    return text + "...)";
  }
  for (size_t k = 0; k < parameters.size(); ++k) {
    if (k > 0) {
      text += ", ";
    }
    text += type_text(context, parameters[k], depth + 1) + " p" + std::to_string(k);
  }
  return text + ")";
}

// A constant whose use gives no type, whose bits make a tiny float that no program writes,
// and that points at the start of a text, is a string.
bool looks_like_string(const image::ProgramImage& program, int64_t cell) {
  const uint32_t bits = image::global_cell(cell);
  const int32_t offset = static_cast<int32_t>(bits);
  const bool tiny = bits != 0 && (bits & 0x7f800000u) == 0;
  return tiny && offset > 0 && offset < program.strofs && program.strings[offset - 1] == '\0';
}

}  // namespace

std::string type_text(const SourceContext& context, const Type& type, int depth) {
  switch (type.tag) {
    case image::ev_pointer:
      if (type.field_tag != image::ev_function && type.field_tag != kUnknownTag) {
        return std::string(base_type_name(type.field_tag)) + " *";
      }
      [[fallthrough]];
    case image::ev_field:
      if (type.field_tag == image::ev_function) {
        return "." + signature_text(context, type.signature, depth);
      }
      return std::string(".") + base_type_name(type.field_tag);
    case image::ev_function:
      return signature_text(context, type.signature, depth);
    default:
      return base_type_name(type.tag);
  }
}

namespace {

// The head of a function's declaration under a name, with the result type given.
std::string head_text(const SourceContext& context, int32_t function_index,
                      const std::vector<std::string>& parameter_names, const Type& returned,
                      const std::string& name, const std::string& result_type) {
  const image::FunctionRecord& function = context.program.functions[function_index];
  std::string parameters;
  if (function.numparms < 0 || (!has_body(function) && context.types.variadic[function_index])) {
    parameters = "...";  // qcc reads "..." only as a whole parameter list
  } else {
    const std::vector<Type>& types = context.types.parameters[function_index];
    for (size_t k = 0; k < types.size(); ++k) {
      if (k > 0) {
        parameters += ", ";
      }
      parameters += type_text(context, types[k]) + " " +
                    (k < parameter_names.size() ? parameter_names[k] : "p" + std::to_string(k));
    }
  }
  if (returned.tag == image::ev_field) {
    // ".float(...) name" would declare a field: a function returning a field is written
    // the way fteqcc reads it.
    return type_text(context, returned) + " " + name + "(" + parameters + ")";
  }
  const std::string result =
      returned.tag == image::ev_function ? result_type : type_text(context, returned);
  return result + "(" + parameters + ") " + name;
}

}  // namespace

std::string function_head(const SourceContext& context, int32_t function_index,
                          const std::vector<std::string>& parameter_names) {
  return head_text(context, function_index, parameter_names, context.types.returns[function_index],
                   context.names.functions[function_index],
                   context.names.result_types[function_index]);
}

std::string result_type_declarations(const SourceContext& context, int32_t function,
                                     int32_t& count) {
  std::string text;
  auto declare = [&](const Type& type, const std::string& name) {
    if (!name.empty()) {
      text += "typedef " + type_text(context, type) + " " + name + ";\n";
      ++count;
    }
  };
  declare(context.types.returns[function], context.names.result_types[function]);
  for (size_t k = 0; k < context.types.views[function].size(); ++k) {
    declare(context.types.views[function][k], context.names.view_result_types[function][k]);
  }
  return text;
}

std::string view_declarations(const SourceContext& context, int32_t function,
                              const std::vector<std::string>& parameter_names, bool prototype) {
  std::string text;
  const std::vector<Type>& views = context.types.views[function];
  for (size_t k = 0; k < views.size(); ++k) {
    text +=
        head_text(context, function, parameter_names, views[k], context.names.views[function][k],
                  context.names.view_result_types[function][k]);
    if (prototype) {
      text += ";\n";
      continue;
    }
    text += " =\n{\n\treturn " + context.names.functions[function] + " (";
    const size_t count = context.types.parameters[function].size();
    for (size_t p = 0; p < count; ++p) {
      text += (p > 0 ? ", " : "") +
              (p < parameter_names.size() ? parameter_names[p] : "p" + std::to_string(p));
    }
    text += ");\n};\n";
  }
  return text;
}

std::string constant_text(SourceContext& context, int64_t cell, const Type& type) {
  std::string text;
  switch (type.tag) {
    case image::ev_string: {
      const QuotedString quoted = quote_string(image::string_at(image::global_int(cell)));
      context.fteqcc_strings += quoted.fteqcc_only;
      return quoted.text;
    }
    case image::ev_vector: {
      text = "'";
      for (int k = 0; k < 3; ++k) {
        std::string component;
        if (!float_text(image::global_float(cell + k), component)) {
          ++context.unspellable;
        }
        text += (k > 0 ? " " : "") + component;
      }
      return text + "'";
    }
    case image::ev_entity:
      return "world";
    case image::ev_function: {
      const int32_t function = image::global_int(cell);
      if (function > 0 && function < static_cast<int32_t>(context.names.functions.size())) {
        return context.names.functions[function];
      }
      context.needs_null_function = true;
      return kNullFunctionName;
    }
    case image::ev_field:
    case image::ev_pointer: {
      const int32_t offset = image::global_int(cell);
      if (offset >= 0 && offset < static_cast<int32_t>(context.names.fields.size()) &&
          !context.names.fields[offset].empty()) {
        return context.names.fields[offset];
      }
      break;
    }
    case kIntegerTag:
    case kUnsignedTag:
      return std::to_string(image::global_int(cell)) + "i";  // fteqcc's integer literal
    case kUnknownTag:
      if (looks_like_string(context.program, cell)) {
        const QuotedString quoted = quote_string(image::string_at(image::global_int(cell)));
        context.fteqcc_strings += quoted.fteqcc_only;
        return quoted.text;
      }
      break;
    default:
      break;
  }
  if (!float_text(image::global_float(cell), text)) {
    ++context.unspellable;
  }
  return text;
}

namespace {

// Locals declared where qcc allocated them: before the first statement that allocates a
// cell after theirs. The first cell each node allocates is worked out in the order of the
// text, which is the order qcc reads and allocates in.
struct LocalPlacement {
  bool active;
  std::vector<int64_t> node_first;  // by node: the first cell its code allocates
  std::vector<int64_t> node_local;  // by node: the highest cell of a named local it uses, -1
  std::vector<int32_t> locals;      // named locals, in the order of their cells
  size_t next;                      // the next local to declare
  int64_t locals_end;               // parm_start + locals: where the last local statement was
  int32_t redeclare;                // a variable to declare again there, or -1
};

struct Printer {
  SourceContext& context;
  const FunctionCode& code;
  const StructuredBody& body;
  const std::vector<std::string>& variable_names;
  std::string out;
  LocalPlacement placement;
  bool assign_target = false;  // printing the target of an assignment
};

int32_t operand(const Printer& p, int32_t expr, int k) {
  return p.code.operands[p.code.exprs[expr].first_operand + k];
}

// Binding strength of an operator in qcc (smaller binds tighter) and in C (larger binds
// tighter); an operand is bracketed when either reading would otherwise differ.
int qcc_level(uint32_t op) { return instruction_row(op).priority; }

int c_level(uint32_t op) {
  using namespace image;
  if (op >= OPCODE_COUNT) {
    // The extended operators, by their symbol.
    static constexpr std::pair<const char*, int> Levels[] = {
        {"*", 13}, {"/", 13},  {"+", 12}, {"-", 12},  {"<<", 11}, {">>", 11},
        {"<", 10}, {"<=", 10}, {">", 10}, {">=", 10}, {"==", 9},  {"!=", 9},
        {"&", 8},  {"^", 7},   {"|", 6},  {"&&", 5},  {"||", 4}};
    const std::string symbol = instruction_row(op).symbol;
    for (const auto& [text, level] : Levels) {
      if (symbol == text) {
        return level;
      }
    }
    return 9;
  }
  switch (op) {
    case OP_MUL_F:
    case OP_MUL_V:
    case OP_MUL_FV:
    case OP_MUL_VF:
    case OP_DIV_F:
      return 13;
    case OP_ADD_F:
    case OP_ADD_V:
    case OP_SUB_F:
    case OP_SUB_V:
      return 12;
    case OP_LE:
    case OP_GE:
    case OP_LT:
    case OP_GT:
      return 10;
    case OP_BITAND:
      return 8;
    case OP_BITOR:
      return 6;
    case OP_AND:
      return 5;
    case OP_OR:
      return 4;
    default:
      return 9;  // == and !=
  }
}

bool is_primary(const Printer& p, int32_t expr) {
  switch (p.code.exprs[expr].kind) {
    case ExprKind::kGlobal:
    case ExprKind::kVariable:
    case ExprKind::kField:
    case ExprKind::kFunction:
    case ExprKind::kLoad:
      return true;
    case ExprKind::kConstant:
    case ExprKind::kLiteral:
    case ExprKind::kElement:
    case ExprKind::kIntrinsic:
      return true;
    default:
      return false;
  }
}

void print_expr(Printer& p, int32_t expr);

// The index of an array element as the source writes it: the compiler converts a float
// index to an int and scales it by the element's width itself.
void print_index(Printer& p, int32_t index, int width) {
  const Expr& e = p.code.exprs[index];
  if (e.kind == ExprKind::kConvert && e.op == 123) {  // CONV_FTOI
    print_index(p, operand(p, index, 0), width);
    return;
  }
  if (width > 1 && e.kind == ExprKind::kBinary && (e.op == image::OP_MUL_F || e.op == 132)) {
    const Expr& scale = p.code.exprs[operand(p, index, 1)];
    const bool by_width =
        (scale.kind == ExprKind::kConstant || scale.kind == ExprKind::kGlobal) &&
        scale.component < 0 &&
        (e.op == image::OP_MUL_F ? image::global_float(scale.ref) == static_cast<float>(width)
                                 : image::global_int(scale.ref) == width);
    if (by_width) {
      print_expr(p, operand(p, index, 0));
      return;
    }
  }
  print_expr(p, index);
}

// How an instruction written as a built-in call is spelled.
const char* intrinsic_name(uint32_t op) {
  switch (op) {
    case 92:
    case 93:
    case 94:
      return "random";
    case 95:
    case 96:
    case 97:
      return "randomv";
    default:
      return nullptr;
  }
}

// The view a call reads a function's result through, when it takes the result as another
// type than the function's declared one; else null.
const std::string* view_name(const Printer& p, const Expr& call, const Expr& callee) {
  int32_t function = callee.kind == ExprKind::kFunction ? callee.ref : -1;
  if (callee.kind == ExprKind::kGlobal && callee.component < 0) {
    const int32_t def = p.context.facts.named_cover[callee.ref];
    if (def >= 0 && p.context.program.globaldefs[def].ofs == callee.ref) {
      function =
          function_constant(p.context.program, p.context.facts, p.context.program.globaldefs[def]);
    }
  }
  // A constant that names no function record is the null function, which has no views.
  if (function <= 0 || function >= static_cast<int32_t>(p.context.types.views.size()) ||
      call.type.tag == kUnknownTag) {
    return nullptr;
  }
  const std::vector<Type>& views = p.context.types.views[function];
  for (size_t k = 0; k < views.size(); ++k) {
    if (same_type(views[k], call.type)) {
      return &p.context.names.views[function][k];
    }
  }
  return nullptr;
}

// " (a, b, ...)": the expression's operands from `first` on, as a call's arguments.
void print_arguments(Printer& p, int32_t expr, int first) {
  p.out += " (";
  for (int k = first; k < p.code.exprs[expr].operand_count; ++k) {
    if (k > first) {
      p.out += ", ";
    }
    print_expr(p, operand(p, expr, k));
  }
  p.out += ')';
}

void print_bracketed(Printer& p, int32_t expr, bool brackets) {
  if (brackets) {
    p.out += '(';
  }
  print_expr(p, expr);
  if (brackets) {
    p.out += ')';
  }
}

bool operand_needs_brackets(const Printer& p, uint32_t parent, int32_t child, bool right) {
  const Expr& e = p.code.exprs[child];
  switch (e.kind) {
    case ExprKind::kBinary: {
      const int q_parent = qcc_level(parent), q_child = qcc_level(e.op);
      const int c_parent = c_level(parent), c_child = c_level(e.op);
      const bool qcc = right ? q_child >= q_parent : q_child > q_parent;
      const bool c = right ? c_child <= c_parent : c_child < c_parent;
      return qcc || c;
    }
    case ExprKind::kNot:
      // qcc reads everything up to a comparison into the operand of '!'.
      return qcc_level(parent) <= 4;
    case ExprKind::kAssign:
    case ExprKind::kCall:
      return e.kind == ExprKind::kAssign;
    default:
      return false;
  }
}

std::string leaf_name(const Printer& p, const Expr& e) {
  switch (e.kind) {
    case ExprKind::kGlobal: {
      const int32_t array = p.context.facts.array_of[e.ref];
      if (array >= 0) {
        // An element of an array, read where it lies.
        const int width = p.context.facts.array_width[array];
        const int64_t at = e.ref - array + std::max<int>(e.component, 0);
        std::string name = p.context.names.cells[array] + "[" + std::to_string(at / width) + "]";
        return width == 3 && (e.component >= 0 || at % 3 != 0) ? name + ComponentSuffix[at % 3]
                                                               : name;
      }
      std::string name = p.context.names.cells[e.ref];
      if (name.empty()) {
        name = "global" + std::to_string(e.ref);
      }
      return e.component >= 0 ? name + ComponentSuffix[e.component] : name;
    }
    case ExprKind::kVariable: {
      const std::string& name = p.variable_names[e.ref];
      return e.component >= 0 ? name + ComponentSuffix[e.component] : name;
    }
    case ExprKind::kField: {
      if (!p.context.names.cells[e.ref].empty()) {
        return e.component >= 0 ? p.context.names.cells[e.ref] + ComponentSuffix[e.component]
                                : p.context.names.cells[e.ref];
      }
      const int32_t offset = image::global_int(e.ref);
      for (int back = 0; back < 3; ++back) {
        const int32_t start = offset - back;
        if (start >= 0 && start < static_cast<int32_t>(p.context.names.fields.size()) &&
            !p.context.names.fields[start].empty()) {
          const int component = back + std::max<int>(e.component, 0);
          return component == 0 ? p.context.names.fields[start]
                                : p.context.names.fields[start] + ComponentSuffix[component];
        }
      }
      return "field" + std::to_string(offset);
    }
    case ExprKind::kFunction:
      if (e.ref > 0 && e.ref < static_cast<int32_t>(p.context.names.functions.size())) {
        return p.context.names.functions[e.ref];
      }
      p.context.needs_null_function = true;
      return kNullFunctionName;
    default:
      return std::string();
  }
}

void print_expr(Printer& p, int32_t expr) {
  const Expr& e = p.code.exprs[expr];
  switch (e.kind) {
    case ExprKind::kGlobal:
    case ExprKind::kVariable:
    case ExprKind::kField:
    case ExprKind::kFunction:
      p.out += leaf_name(p, e);
      break;
    case ExprKind::kConstant:
      p.out += constant_text(p.context, e.ref, e.type);
      break;
    case ExprKind::kLiteral:
      p.out += std::to_string(e.ref);
      break;
    case ExprKind::kBinary: {
      const int32_t left = operand(p, expr, 0);
      const int32_t right = operand(p, expr, 1);
      print_bracketed(p, left, operand_needs_brackets(p, e.op, left, false));
      p.out += ' ';
      p.out += instruction_row(e.op).symbol;
      p.out += ' ';
      print_bracketed(p, right, operand_needs_brackets(p, e.op, right, true));
      break;
    }
    case ExprKind::kNot: {
      const int32_t value = operand(p, expr, 0);
      p.out += '!';
      print_bracketed(p, value, !is_primary(p, value));
      break;
    }
    case ExprKind::kLoad: {
      const int32_t entity = operand(p, expr, 0);
      const int32_t field = operand(p, expr, 1);
      if (e.op == image::OP_ADDRESS && !p.assign_target) {
        p.out += '&';  // an address kept as a value, not the target of a store through it
      }
      p.assign_target = false;
      print_bracketed(p, entity, !is_primary(p, entity));
      p.out += '.';
      print_bracketed(p, field, !is_primary(p, field));
      break;
    }
    case ExprKind::kCall: {
      const int32_t callee = operand(p, expr, 0);
      const std::string* view = view_name(p, e, p.code.exprs[callee]);
      if (view != nullptr) {
        p.out += *view;
      } else {
        print_bracketed(p, callee, !is_primary(p, callee));
      }
      print_arguments(p, expr, 1);
      break;
    }
    case ExprKind::kAssign: {
      p.assign_target = true;
      print_expr(p, operand(p, expr, 0));
      p.assign_target = false;
      const InstructionRow& row = instruction_row(e.op);
      const bool compound =
          row.action == Action::kCompound || row.action == Action::kCompoundPointer;
      p.out += compound ? std::string(" ") + row.symbol + " " : std::string(" = ");
      // Both compilers read the right of "=" only as far as its own priority goes:
      // "x = a && b" is "(x = a) && b".
      const int32_t value = operand(p, expr, 1);
      const Expr& v = p.code.exprs[value];
      print_bracketed(
          p, value, v.kind == ExprKind::kBinary && qcc_level(v.op) > qcc_level(image::OP_STORE_F));
      break;
    }
    case ExprKind::kConvert: {
      const int32_t value = operand(p, expr, 0);
      p.out += std::string("(") + base_type_name(instruction_row(e.op).tag[2]) + ")";
      print_bracketed(p, value, !is_primary(p, value));
      break;
    }
    case ExprKind::kElement: {
      const InstructionRow& row = instruction_row(e.op);
      if (row.action == Action::kGlobalAddress && !p.assign_target) {
        p.out += '&';
      }
      p.assign_target = false;
      const int64_t length = p.context.facts.array_length[e.ref];
      const int width = row.action == Action::kGlobalAddress ? p.context.facts.array_width[e.ref]
                                                             : value_cells(row.tag[2]);
      p.out += p.context.names.cells[e.ref].empty() ? "global" + std::to_string(e.ref)
                                                    : p.context.names.cells[e.ref];
      if (e.operand_count == 0) {
        break;  // the global itself
      }
      p.out += '[';
      print_index(p, operand(p, expr, 0), length > 0 ? width : 1);
      p.out += ']';
      break;
    }
    case ExprKind::kDeref: {
      p.assign_target = false;
      const int32_t pointer = operand(p, expr, 0);
      if (e.operand_count > 1) {
        print_bracketed(p, pointer, !is_primary(p, pointer));
        p.out += '[';
        print_expr(p, operand(p, expr, 1));
        p.out += ']';
      } else {
        p.out += '*';
        print_bracketed(p, pointer, !is_primary(p, pointer));
      }
      break;
    }
    case ExprKind::kIntrinsic: {
      if (e.op == 87) {  // THINKTIME
        p.out += "thinktime ";
        print_expr(p, operand(p, expr, 0));
        p.out += " : ";
        print_expr(p, operand(p, expr, 1));
        break;
      }
      const char* name = intrinsic_name(e.op);
      std::string spelled = name != nullptr ? name : instruction_row(e.op).name;
      if (name == nullptr) {
        // No source spells it: the instruction's own name, lower case, as a call.
        for (char& c : spelled) {
          c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        }
        spelled = "__" + spelled;
        ++p.context.unspelled_instructions;
      }
      p.out += spelled;
      print_arguments(p, expr, 0);
      break;
    }
  }
}

void indent(Printer& p, int depth) { p.out.append(static_cast<size_t>(depth), '\t'); }

void print_statement(Printer& p, int32_t stmt, int depth) {
  const Stmt& s = p.code.stmts[stmt];
  indent(p, depth);
  switch (s.kind) {
    case StmtKind::kExpr:
      print_expr(p, s.expr);
      p.out += ";\n";
      break;
    case StmtKind::kReturn:
      if (s.expr < 0) {
        p.out += "return;\n";
      } else {
        p.out += "return ";
        print_expr(p, s.expr);
        p.out += ";\n";
      }
      break;
    case StmtKind::kState:
      if (s.extra < 0) {
        print_expr(p, s.expr);  // a cycling header written as a statement
        p.out += ";\n";
        break;
      }
      p.out += "self.frame = ";
      print_expr(p, s.expr);
      p.out += ";\n";
      indent(p, depth);
      p.out += "self.think = ";
      print_expr(p, s.extra);
      p.out += ";\n";
      indent(p, depth);
      p.out += "self.nextthink = time + 0.1;\n";
      break;
    case StmtKind::kLocal: {
      const Variable& variable = p.code.variables[s.extra];
      p.out +=
          "local " + type_text(p.context, variable.type) + " " + p.variable_names[s.extra] + ";\n";
      break;
    }
  }
}

void print_nodes(Printer& p, const std::vector<int32_t>& nodes, int depth);

// A case label: a number as a number, though the program keeps it in a cell a named
// constant of some other meaning shares.
void print_label(Printer& p, int32_t expr) {
  const Expr& e = p.code.exprs[expr];
  std::string number;
  if (e.kind == ExprKind::kGlobal && e.component < 0 && e.type.tag == image::ev_float &&
      !p.context.facts.written[e.ref] && float_text(image::global_float(e.ref), number)) {
    p.out += number;
    return;
  }
  print_expr(p, expr);
}

void print_block(Printer& p, const std::vector<int32_t>& nodes, int depth) {
  indent(p, depth);
  p.out += "{\n";
  if (nodes.empty()) {
    // qcc reads no empty block; a value computed for nothing is no code at all.
    indent(p, depth + 1);
    p.out += "0;\n";
  }
  print_nodes(p, nodes, depth + 1);
  indent(p, depth);
  p.out += "}\n";
}

// The if whose else holds nothing but it, or -1: the chain is written "else if" after
// "else if", as long as a state loop's, in one loop rather than one call per link.
int32_t else_if_link(const Printer& p, const Node& node) {
  if (node.kind != NodeKind::kIf || node.otherwise.size() != 1 ||
      p.body.nodes[node.otherwise[0]].kind != NodeKind::kIf) {
    return -1;
  }
  return node.otherwise[0];
}

void print_node(Printer& p, int32_t index, int depth) {
  const Node& node = p.body.nodes[index];
  switch (node.kind) {
    case NodeKind::kStatement:
      print_statement(p, node.ref, depth);
      break;
    case NodeKind::kIf:
      indent(p, depth);
      for (int32_t link = index; link >= 0;) {
        const Node& test = p.body.nodes[link];
        p.out += "if (";
        print_expr(p, test.ref);
        p.out += ")\n";
        print_block(p, test.body, depth);
        if (test.otherwise.empty()) {
          break;
        }
        indent(p, depth);
        p.out += "else";
        link = else_if_link(p, test);
        if (link >= 0) {
          p.out += " ";
        } else {
          p.out += "\n";
          print_block(p, test.otherwise, depth);
        }
      }
      break;
    case NodeKind::kWhile:
      indent(p, depth);
      p.out += "while (";
      print_expr(p, node.ref);
      p.out += ")\n";
      print_block(p, node.body, depth);
      break;
    case NodeKind::kDoWhile:
      indent(p, depth);
      p.out += "do\n";
      print_block(p, node.body, depth);
      indent(p, depth);
      p.out += "while (";
      print_expr(p, node.ref);
      p.out += ");\n";
      break;
    case NodeKind::kBreak:
      indent(p, depth);
      p.out += "break;\n";
      break;
    case NodeKind::kContinue:
      indent(p, depth);
      p.out += "continue;\n";
      break;
    case NodeKind::kSwitch:
      indent(p, depth);
      p.out += "switch (";
      print_expr(p, node.ref);
      p.out += ")\n";
      indent(p, depth);
      p.out += "{\n";
      print_nodes(p, node.body, depth);
      indent(p, depth);
      p.out += "}\n";
      break;
    case NodeKind::kCase: {
      indent(p, depth);
      if (node.ref < 0) {
        p.out += "default:\n";
      } else {
        // The label from the case's test: "value == label", or a range as
        // "value >= low && value <= high".
        const Expr& test = p.code.exprs[node.ref];
        p.out += "case ";
        if (test.kind == ExprKind::kBinary && test.op == image::OP_AND) {
          print_label(p, operand(p, operand(p, node.ref, 0), 1));
          p.out += " .. ";
          print_label(p, operand(p, operand(p, node.ref, 1), 1));
        } else {
          print_label(p, operand(p, node.ref, 1));
        }
        p.out += ":\n";
      }
      print_nodes(p, node.body, depth + 1);
      break;
    }
  }
}

void declare_local(Printer& p, int32_t variable, int depth) {
  indent(p, depth);
  p.out += "local " + type_text(p.context, p.code.variables[variable].type) + " " +
           p.variable_names[variable] + ";\n";
}

// Declares the locals whose cells come before `first`, and at the cell where qcc's count of
// locals ends, a local declared there again when no local of its own ends there.
void declare_locals_before(Printer& p, int64_t first, int depth) {
  LocalPlacement& placement = p.placement;
  if (!placement.active) {
    return;
  }
  while (placement.next < placement.locals.size() &&
         p.code.variables[placement.locals[placement.next]].cell < first) {
    const Variable& local = p.code.variables[placement.locals[placement.next]];
    declare_local(p, placement.locals[placement.next], depth);
    if (local.cell + local.size == placement.locals_end) {
      placement.redeclare = -1;  // this local's statement ends the count
    }
    ++placement.next;
  }
  // Only between statements: a count that reaches the end of the code is fteqcc's, which
  // counts every temporary, not a local statement's.
  if (placement.redeclare >= 0 && first >= placement.locals_end && first != INT64_MAX &&
      placement.next == placement.locals.size()) {
    declare_local(p, placement.redeclare, depth);
    placement.redeclare = -1;
  }
}

void print_nodes(Printer& p, const std::vector<int32_t>& nodes, int depth) {
  for (int32_t node : nodes) {
    // Code that allocates nothing may go on either side of a local, unless it uses it.
    const int64_t used = p.placement.node_local[node];
    int64_t first = p.placement.node_first[node];
    if (used >= 0) {
      first = first == INT64_MAX ? used + 1 : std::max(first, used + 1);
    }
    if (first != INT64_MAX) {
      declare_locals_before(p, first, depth);
    }
    print_node(p, node, depth);
  }
}

// The frame-state header " = [frame, think]" when the body opens with a STATE of a number
// and a function, which is all qcc reads there.
bool frame_header(Printer& p, std::string& header) {
  if (p.code.frame_header < 0) {
    return false;
  }
  const Stmt& state = p.code.stmts[p.code.frame_header];
  if (state.extra < 0) {
    // Hexen II's cycling header: the frames from the first to the last.
    std::string first;
    std::string last;
    const Expr& cycle = p.code.exprs[state.expr];
    if (!float_text(image::global_float(p.code.exprs[operand(p, state.expr, 0)].ref), first) ||
        !float_text(image::global_float(p.code.exprs[operand(p, state.expr, 1)].ref), last) ||
        cycle.op != 85) {
      return false;
    }
    header = " = [++ " + first + " .. " + last + "]";
    return true;
  }
  const Expr& frame = p.code.exprs[state.expr];
  const Expr& think = p.code.exprs[state.extra];
  if (frame.kind != ExprKind::kConstant && frame.kind != ExprKind::kGlobal) {
    return false;
  }
  if (frame.kind == ExprKind::kGlobal && frame.component >= 0) {
    return false;
  }
  std::string number;
  if (!float_text(image::global_float(frame.ref), number)) {
    return false;
  }
  std::string think_name;
  if (think.kind == ExprKind::kFunction) {
    think_name = leaf_name(p, think);
  } else if ((think.kind == ExprKind::kConstant || think.kind == ExprKind::kGlobal) &&
             think.type.tag == image::ev_function) {
    const int32_t function = function_in_cell(p.context.program, think.ref);
    if (function <= 0) {
      return false;
    }
    think_name =
        think.kind == ExprKind::kGlobal ? leaf_name(p, think) : p.context.names.functions[function];
  } else {
    return false;
  }
  header = " = [" + number + ", " + think_name + "]";
  return true;
}

}  // namespace

std::string global_declaration(SourceContext& context, int64_t cell) {
  const std::string& name = context.names.cells[cell];
  const int32_t d = context.facts.named_cover[cell];
  if (d < 0) {
    return type_text(context, context.types.cells[cell]) + " " + name + ";\n";
  }
  const image::DefRecord& def = context.program.globaldefs[d];
  Type type = def_type(context.program, context.facts, def);
  if (context.facts.implied_vector[cell]) {
    type = Type{image::ev_vector, kUnknownTag, -1};
  }
  if (type.tag == image::ev_function && type.signature < 0) {
    type = context.types.cells[cell];
  }
  const bool saved = (def.type & image::DEF_SAVEGLOBAL) != 0;
  const int32_t length = context.facts.array_length[cell];
  if (length > 0) {
    // An array, with its elements' values when any is not zero.
    const int width = context.facts.array_width[cell];
    Type element = context.types.cells[cell];
    if (element.tag == kUnknownTag || element.tag == image::ev_pointer) {
      element = type;
    }
    std::string text =
        type_text(context, element) + " " + name + "[" + std::to_string(length) + "]";
    bool zero = true;
    for (int64_t k = 0; k < int64_t{length} * width; ++k) {
      zero = zero && image::global_cell(cell + k) == 0;
    }
    if (!zero && !context.facts.written[cell]) {
      text += " = {";
      for (int64_t k = 0; k < length; ++k) {
        text += (k > 0 ? ", " : "") + constant_text(context, cell + k * width, element);
      }
      text += "}";
    }
    return text + ";\n";
  }
  switch (type.tag) {
    case image::ev_pointer:
      // Declared as its uses type it (fteqcc reads "float *p;"), and not when none do.
      type = context.types.cells[cell];
      if (type.tag != image::ev_pointer || type.field_tag == kUnknownTag) {
        return std::string();
      }
      return type_text(context, type) + " " + name + ";\n";
    case image::ev_field:
    case image::ev_function:
    case image::ev_entity:  // no literal spells an entity or a void
    case image::ev_void:
      return type_text(context, type) + " " + name + ";\n";
    default: {
      // A saved global that no code writes keeps the value it starts with: the engine may
      // read it (FTE's physics_mode), and only a constant can carry it for both compilers.
      bool has_value = false;
      for (int k = 0; k < image::type_size(type.tag); ++k) {
        has_value = has_value || image::global_cell(cell + k) != 0;
      }
      if (context.facts.written[cell] || (saved && !has_value)) {
        return type_text(context, type) + " " + name + ";\n";
      }
      return type_text(context, type) + " " + name + " = " + constant_text(context, cell, type) +
             ";\n";
    }
  }
}

std::string alias_declaration(SourceContext& context, int32_t index) {
  const auto& [def_index, name] = context.names.aliases[index];
  const image::DefRecord& def = context.program.globaldefs[def_index];
  const Type type = def_type(context.program, context.facts, def);
  return type_text(context, type) + " " + name + " = " + constant_text(context, def.ofs, type) +
         ";\n";
}

std::string field_declaration(SourceContext& context, int32_t offset) {
  const int32_t field = context.facts.field_at[offset];
  int tag = def_tag(context.program.fielddefs[field]);
  Type type{image::ev_field, static_cast<int8_t>(value_tag(context.facts, tag)),
            tag == image::ev_function ? field_signature(context.program, offset) : -1};
  return type_text(context, type) + " " + context.names.fields[offset] + ";\n";
}

std::string function_declaration(SourceContext& context, int32_t function,
                                 const std::vector<std::string>& parameter_names, bool prototype) {
  const image::FunctionRecord& record = context.program.functions[function];
  std::string text = function_head(context, function, parameter_names);
  if (prototype || has_body(record)) {
    return text + ";\n";
  }
  return text + " = #" + std::to_string(-int64_t{record.first_statement}) + ";\n";
}

namespace {

// The first cell allocated by the instructions of an expression: results of operations, and
// anonymous constants of the function's area met for the first time.
void first_allocation(Printer& p, int32_t expr, std::unordered_set<int64_t>& seen, int64_t& first,
                      int64_t& local) {
  const Expr& e = p.code.exprs[expr];
  if (e.kind == ExprKind::kVariable && p.code.variables[e.ref].kind == VariableKind::kNamed) {
    local = std::max<int64_t>(local, p.code.variables[e.ref].cell);
  }
  const image::FunctionRecord& function = p.context.program.functions[p.code.function];
  if (e.position >= 0 &&
      (e.kind == ExprKind::kBinary || e.kind == ExprKind::kNot || e.kind == ExprKind::kLoad)) {
    const int64_t cell = p.context.program.statements[e.position].c;
    if (cell >= function.parm_start) {
      first = std::min(first, cell);
    }
  }
  if (e.kind == ExprKind::kConstant && e.ref >= function.parm_start &&
      e.ref < p.context.facts.cell_count && seen.count(e.ref) == 0 &&
      has_immediate_def(p.context.program, p.context.facts, e.ref)) {
    seen.insert(e.ref);
    first = std::min<int64_t>(first, e.ref);
  }
  for (int k = 0; k < e.operand_count; ++k) {
    first_allocation(p, operand(p, expr, k), seen, first, local);
  }
}

struct FirstCells {
  int64_t allocation;  // the first cell allocated
  int64_t local;       // the highest named local used, -1 for none
};

FirstCells first_of_nodes(Printer& p, const std::vector<int32_t>& nodes,
                          std::unordered_set<int64_t>& seen);

FirstCells first_of_node(Printer& p, int32_t index, std::unordered_set<int64_t>& seen) {
  const Node& node = p.body.nodes[index];
  FirstCells first{INT64_MAX, -1};
  auto add = [&first](const FirstCells& inner) {
    first.allocation = std::min(first.allocation, inner.allocation);
    first.local = std::max(first.local, inner.local);
  };
  switch (node.kind) {
    case NodeKind::kStatement: {
      const Stmt& stmt = p.code.stmts[node.ref];
      if (stmt.expr >= 0 && stmt.kind != StmtKind::kLocal) {
        first_allocation(p, stmt.expr, seen, first.allocation, first.local);
      }
      if (stmt.kind == StmtKind::kState && stmt.extra >= 0) {
        first_allocation(p, stmt.extra, seen, first.allocation, first.local);
      }
      break;
    }
    case NodeKind::kIf: {
      // An else-if chain link by link, in the order of the text; each link's cells include
      // those of the links after it.
      std::vector<int32_t> chain;
      std::vector<FirstCells> own;
      for (int32_t link = index; link >= 0; link = else_if_link(p, p.body.nodes[link])) {
        const Node& test = p.body.nodes[link];
        FirstCells cells{INT64_MAX, -1};
        first_allocation(p, test.ref, seen, cells.allocation, cells.local);
        const FirstCells body = first_of_nodes(p, test.body, seen);
        cells.allocation = std::min(cells.allocation, body.allocation);
        cells.local = std::max(cells.local, body.local);
        if (else_if_link(p, test) < 0) {
          const FirstCells otherwise = first_of_nodes(p, test.otherwise, seen);
          cells.allocation = std::min(cells.allocation, otherwise.allocation);
          cells.local = std::max(cells.local, otherwise.local);
        }
        chain.push_back(link);
        own.push_back(cells);
      }
      for (size_t k = chain.size(); k-- > 0;) {
        add(own[k]);
        p.placement.node_first[chain[k]] = first.allocation;
        p.placement.node_local[chain[k]] = first.local;
      }
      return first;
    }
    case NodeKind::kWhile:
      first_allocation(p, node.ref, seen, first.allocation, first.local);
      add(first_of_nodes(p, node.body, seen));
      break;
    case NodeKind::kDoWhile:
      add(first_of_nodes(p, node.body, seen));
      first_allocation(p, node.ref, seen, first.allocation, first.local);
      break;
    case NodeKind::kSwitch:
      first_allocation(p, node.ref, seen, first.allocation, first.local);
      add(first_of_nodes(p, node.body, seen));
      break;
    case NodeKind::kCase:
      add(first_of_nodes(p, node.body, seen));
      break;
    default:
      break;
  }
  p.placement.node_first[index] = first.allocation;
  p.placement.node_local[index] = first.local;
  return first;
}

FirstCells first_of_nodes(Printer& p, const std::vector<int32_t>& nodes,
                          std::unordered_set<int64_t>& seen) {
  FirstCells first{INT64_MAX, -1};
  for (int32_t node : nodes) {
    const FirstCells inner = first_of_node(p, node, seen);
    first.allocation = std::min(first.allocation, inner.allocation);
    first.local = std::max(first.local, inner.local);
  }
  return first;
}

}  // namespace

std::string function_text(SourceContext& context, const FunctionCode& code,
                          const StructuredBody& body, int32_t code_index, bool allocation_order) {
  const std::vector<std::string>& names = context.names.variables[code_index];
  Printer p{context, code, body, names, std::string(), LocalPlacement{}};
  p.placement.node_first.assign(body.nodes.size(), INT64_MAX);
  p.placement.node_local.assign(body.nodes.size(), -1);
  std::vector<std::string> parameter_names;
  for (size_t v = 0; v < code.variables.size(); ++v) {
    if (code.variables[v].kind == VariableKind::kParameter) {
      parameter_names.push_back(names[v]);
    }
  }
  p.out = function_head(context, code.function, parameter_names);
  std::string header;
  const bool has_header = frame_header(p, header);
  p.out += has_header ? header + "\n{\n" : " =\n{\n";
  const image::FunctionRecord& function = context.program.functions[code.function];
  LocalPlacement& placement = p.placement;
  placement.active = allocation_order;
  placement.redeclare = -1;
  for (size_t v = 0; v < code.variables.size(); ++v) {
    const Variable& variable = code.variables[v];
    if (variable.kind == VariableKind::kParameter) {
      continue;
    }
    if (allocation_order && variable.kind == VariableKind::kNamed) {
      placement.locals.push_back(static_cast<int32_t>(v));
    } else {
      declare_local(p, static_cast<int32_t>(v), 1);
    }
  }
  if (allocation_order) {
    std::sort(placement.locals.begin(), placement.locals.end(), [&](int32_t x, int32_t y) {
      return code.variables[x].cell < code.variables[y].cell;
    });
    // The constants met so far: a set, since the area may start anywhere in the ints.
    std::unordered_set<int64_t> seen;
    first_of_nodes(p, body.top, seen);
    // qcc counts as locals everything allocated up to its last local statement; where no
    // local of the program's ends there, one is declared again at that point, which
    // allocates nothing.
    placement.locals_end = int64_t{function.parm_start} + function.locals;
    if (function.locals > 0 && !code.variables.empty()) {
      const int32_t candidate = placement.locals.empty() ? 0 : placement.locals.back();
      const Variable& last = code.variables[candidate];
      // qcc declares no local of function or field type.
      const int tag = last.type.tag;
      const bool declarable =
          tag != image::ev_function && tag != image::ev_field && tag != image::ev_pointer;
      if (declarable &&
          (placement.locals.empty() || last.cell + last.size != placement.locals_end)) {
        placement.redeclare = candidate;
      }
    }
  }
  if (code.frame_header >= 0 && !has_header) {
    print_statement(p, code.frame_header, 1);
  }
  print_nodes(p, body.top, 1);
  declare_locals_before(p, INT64_MAX, 1);
  p.out += "};\n";
  return p.out;
}

}  // namespace compilable
