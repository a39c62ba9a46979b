// Turns one instruction of a marked body into QuakeC text on the current output.
#include "classic/statement_translator.h"

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "classic/block_marks.h"
#include "classic/expression_slots.h"
#include "classic/instructions.h"
#include "classic/literals.h"
#include "classic/names.h"
#include "classic/output.h"
#include "image/opcodes.h"
#include "support/console.h"
#include "support/error.h"

namespace classic {

namespace {

void write_line(int indent, std::initializer_list<std::string_view> pieces) {
  emit_indent(indent);
  output_pieces(pieces);
}

// Working texts, reused from instruction to instruction so that their storage is too.
struct WorkingTexts {
  std::string a;
  std::string b;
  std::string c;
  std::string callee;
  std::string argument;
  std::string expression;
};
WorkingTexts working;

// Vectors of the original game code whose x component it passes to WriteCoord: the
// component shares the vector's offset, and a call's arguments carry no type that would
// tell the two apart, so these names get their "_x" here.
constexpr const char* kCoordinateWriter = "WriteCoord";
constexpr const char* CoordinateVectors[] = {"org", "trace_endpos", "p1", "p2", "o"};

// The expression text made of the pieces, in working.expression.
const std::string& join(std::initializer_list<std::string_view> pieces) {
  working.expression.clear();
  for (std::string_view piece : pieces) {
    working.expression += piece;
  }
  return working.expression;
}

bool writes_coordinate(const std::string& callee, const std::string& argument) {
  if (callee != kCoordinateWriter) {
    return false;
  }
  for (const char* vector : CoordinateVectors) {
    if (argument == vector) {
      return true;
    }
  }
  return false;
}

// Whether a call's text is also a statement of its own: neither of the next two
// instructions reads its result, or the next is a CALL0 and the one after does not read
// the result in both operands.
bool call_stands_alone(int64_t position) {
  constexpr int kResult = image::OFS_RETURN;
  const image::Statement& s1 = image::statement_at(position + 1);
  const image::Statement& s2 = image::statement_at(position + 2);
  if (s1.a != kResult && s1.b != kResult && s2.a != kResult && s2.b != kResult) {
    return true;
  }
  return instruction_at(position + 1).base_opcode == image::OP_CALL0 &&
         !(s2.a == kResult && s2.b == kResult);
}

void translate_call(const image::FunctionRecord& function, int64_t position, int indent) {
  const image::Statement& statement = image::statement_at(position);
  const int arguments = instruction_at(position).base_opcode - image::OP_CALL0;
  std::string& callee = working.callee;
  std::string& argument = working.argument;
  std::string& text = working.expression;
  operand_text(function, statement.a, kNoType, callee);
  text = callee;
  text += " (";
  for (int i = 0; i < arguments; ++i) {
    operand_text(function, image::OFS_PARM0 + 3 * i, kNoType, argument);
    text += argument;
    if (writes_coordinate(callee, argument)) {
      text += "_x";
    }
    if (i < arguments - 1) {
      text += ", ";
    }
  }
  text += ")";
  slot_store(function, image::OFS_RETURN, text);
  if (call_stands_alone(position)) {
    write_line(indent, {text, ";\n"});
  }
}

}  // namespace

void reset_statement_translator() { working = WorkingTexts{}; }

void translate_statement(const image::FunctionRecord& function, int64_t position, int& indent) {
  const Instruction& instruction = instruction_at(position);
  for (int i = 0; i < instruction.close_count; ++i) {
    --indent;
    write_line(indent, {"}\n"});
  }
  for (int i = 0; i < instruction.do_count; ++i) {
    write_line(indent, {"do\n"});
    write_line(indent, {"{\n"});
    ++indent;
  }
  strip_block_marks(position);

  const image::Statement& statement = image::statement_at(position);
  const int op = instruction.base_opcode;
  if (op >= image::OPCODE_COUNT) {
    support::console_write("Warning: Unknown command\n");
    return;
  }
  const image::OpcodeRow& row = image::OpcodeTable[op];
  switch (row.kind) {
    case image::kDone:
      break;
    case image::kBinary:
    case image::kLoad:
    case image::kAddress: {
      operand_text(function, statement.a, row.type_a, working.a);
      const std::string& a = working.a;
      operand_text(function, statement.b, row.type_b, working.b);
      const std::string& b = working.b;
      const bool c_named = operand_name(statement.c, row.type_c, working.c);
      const std::string& c = working.c;
      if (row.kind == image::kBinary) {
        if (c_named) {
          write_line(indent, {c, " = ", a, " ", row.symbol, " ", b, ";\n"});
        } else {
          slot_store(function, statement.c, join({"(", a, " ", row.symbol, " ", b, ")"}));
        }
      } else if (c_named) {
        write_line(indent, {c, " = ", a, ".", b, ";\n"});
      } else {
        slot_store(function, statement.c, join({a, ".", b}));
      }
      break;
    }
    case image::kNot:
      operand_text(function, statement.a, row.type_a, working.a);
      slot_store(function, statement.c, join({"!", working.a}));
      break;
    case image::kStore:
      operand_text(function, statement.a, row.type_a, working.a);
      if (operand_name(statement.b, row.type_b, working.b)) {
        write_line(indent, {working.b, " = ", working.a, ";\n"});
      } else {
        slot_store(function, statement.b, working.a);
      }
      break;
    case image::kStorePointer:
      // Both operands are read with the type of b: the value's type, not the pointer's.
      operand_text(function, statement.a, row.type_b, working.a);
      operand_text(function, statement.b, row.type_b, working.b);
      write_line(indent, {working.b, " = ", working.a, ";\n"});
      break;
    case image::kReturn:
      if (statement.a != 0) {
        operand_text(function, statement.a, row.type_a, working.a);
        write_line(indent, {"return (", working.a, ");\n"});
      } else {
        write_line(indent, {"return;\n"});
      }
      break;
    case image::kIf:
      operand_text(function, statement.a, kNoType, working.a);
      --indent;
      output_write("\n");
      write_line(indent, {"} while (", working.a, ");\n"});
      break;
    case image::kIfNot: {
      operand_text(function, statement.a, kNoType, working.a);
      if (statement.b < 1) {
        support::fatal_error("Found a negative IFNOT jump.\n");
      }
      const char* head = ifnot_opens_while(position) ? "while" : "if";
      write_line(indent, {head, " (", working.a, ")\n"});
      write_line(indent, {"{\n"});
      ++indent;
      break;
    }
    case image::kCall:
      translate_call(function, position, indent);
      break;
    case image::kState: {
      const std::optional<image::DefRecord> frame = find_globaldef_by_offset(statement.a);
      if (!frame) {
        support::fatal_error("Error - Can't determine frame number.\n");
      }
      operand_text(function, statement.b, kNoType, working.b);
      write_line(indent,
                 {"state [ ", format_literal(frame->type, frame->ofs), ", ", working.b, " ];\n"});
      break;
    }
    case image::kGoto:
      --indent;
      write_line(indent, {"}\n"});
      if (statement.a > 0) {
        write_line(indent, {"else\n"});
        write_line(indent, {"{\n"});
        ++indent;
      }
      break;
  }
}

}  // namespace classic
