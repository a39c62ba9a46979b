// Turns one instruction of a marked body into QuakeC text on the current output.
#include "core/statement_translator.h"

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "core/block_marks.h"
#include "core/expression_slots.h"
#include "core/output.h"
#include "image/opcodes.h"
#include "render/literals.h"
#include "render/names.h"
#include "support/console.h"
#include "support/error.h"

namespace core {

namespace {

void write_line(int indent, std::initializer_list<std::string_view> pieces) {
  emit_indent(indent);
  output_pieces(pieces);
}

std::string join(std::initializer_list<std::string_view> pieces) {
  size_t length = 0;
  for (std::string_view piece : pieces) {
    length += piece.size();
  }
  std::string text;
  text.reserve(length);
  for (std::string_view piece : pieces) {
    text += piece;
  }
  return text;
}

bool writes_coordinate(const std::string& callee, const std::string& argument) {
  if (callee != "WriteCoord") {
    return false;
  }
  return argument == "org" || argument == "trace_endpos" || argument == "p1" || argument == "p2" ||
         argument == "o";
}

// Whether a call's text is also a statement of its own: neither of the next two
// instructions reads its result, or the next is a CALL0 and the one after does not read
// offset 1 in both operands.
bool call_stands_alone(int64_t position) {
  const image::Statement& s1 = image::statement_at(position + 1);
  const image::Statement& s2 = image::statement_at(position + 2);
  if (s1.a != 1 && s1.b != 1 && s2.a != 1 && s2.b != 1) {
    return true;
  }
  return s1.op == image::OP_CALL0 && !(s2.a == 1 && s2.b == 1);
}

void translate_call(const image::FunctionRecord& function, int64_t position, int indent) {
  const image::Statement& statement = image::statement_at(position);
  const int arguments = statement.op - image::OP_CALL0;
  const std::string callee = operand_text(function, statement.a, render::kNoType);
  std::string text = callee + " (";
  for (int i = 0; i < arguments; ++i) {
    std::string argument = operand_text(function, image::OFS_PARM0 + 3 * i, render::kNoType);
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

void translate_statement(const image::FunctionRecord& function, int64_t position, int& indent) {
  const image::Statement& statement = image::statement_at(position);
  for (int i = 0; i < statement.close_count; ++i) {
    --indent;
    write_line(indent, {"}\n"});
  }
  for (int i = 0; i < statement.do_count; ++i) {
    write_line(indent, {"do\n"});
    write_line(indent, {"{\n"});
    ++indent;
  }
  image::strip_block_marks(position);

  const int op = statement.op;
  if (op == image::OP_DONE) {
    return;
  }
  if (op >= image::OPCODE_COUNT) {
    support::console_write("Warning: Unknown command\n");
    return;
  }
  const image::OpcodeRow& row = image::OpcodeTable[op];
  const bool is_operator = (op >= image::OP_MUL_F && op <= image::OP_GT) ||
                           (op >= image::OP_AND && op <= image::OP_BITOR);
  if (is_operator || (op >= image::OP_INDIRECT_F && op <= image::OP_ADDRESS)) {
    std::string a = operand_text(function, statement.a, row.type_a);
    std::string b = operand_text(function, statement.b, row.type_b);
    std::optional<std::string> c = render::operand_name(statement.c, row.type_c);
    if (is_operator) {
      if (c) {
        write_line(indent, {*c, " = ", a, " ", row.symbol, " ", b, ";\n"});
      } else {
        slot_store(function, statement.c, join({"(", a, " ", row.symbol, " ", b, ")"}));
      }
    } else if (c) {
      write_line(indent, {*c, " = ", a, ".", b, ";\n"});
    } else {
      slot_store(function, statement.c, join({a, ".", b}));
    }
  } else if (op >= image::OP_NOT_F && op <= image::OP_NOT_FNC) {
    std::string a = operand_text(function, statement.a, row.type_a);
    slot_store(function, statement.c, "!" + a);
  } else if (op >= image::OP_STORE_F && op <= image::OP_STORE_FNC) {
    std::string a = operand_text(function, statement.a, row.type_a);
    std::optional<std::string> b = render::operand_name(statement.b, row.type_b);
    if (b) {
      write_line(indent, {*b, " = ", a, ";\n"});
    } else {
      slot_store(function, statement.b, a);
    }
  } else if (op >= image::OP_STOREP_F && op <= image::OP_STOREP_FNC) {
    std::string a = operand_text(function, statement.a, row.type_b);
    std::string b = operand_text(function, statement.b, row.type_b);
    write_line(indent, {b, " = ", a, ";\n"});
  } else if (op == image::OP_RETURN) {
    if (statement.a != 0) {
      std::string a = operand_text(function, statement.a, row.type_a);
      write_line(indent, {"return (", a, ");\n"});
    } else {
      write_line(indent, {"return;\n"});
    }
  } else if (op == image::OP_IF) {
    std::string a = operand_text(function, statement.a, render::kNoType);
    --indent;
    output_write("\n");
    write_line(indent, {"} while (", a, ");\n"});
  } else if (op == image::OP_IFNOT) {
    std::string a = operand_text(function, statement.a, render::kNoType);
    if (statement.b < 1) {
      support::fatal_error("Found a negative IFNOT jump.\n");
    }
    const char* head = ifnot_opens_while(position) ? "while" : "if";
    write_line(indent, {head, " (", a, ")\n"});
    write_line(indent, {"{\n"});
    ++indent;
  } else if (op >= image::OP_CALL0 && op <= image::OP_CALL8) {
    translate_call(function, position, indent);
  } else if (op == image::OP_STATE) {
    const image::DefRecord* frame = render::find_globaldef_by_offset(statement.a);
    if (frame == nullptr) {
      support::fatal_error("Error - Can't determine frame number.\n");
    }
    std::string think = operand_text(function, statement.b, render::kNoType);
    write_line(indent,
               {"state [ ", render::format_literal(frame->type, frame->ofs), ", ", think, " ];\n"});
  } else if (op == image::OP_GOTO) {
    --indent;
    write_line(indent, {"}\n"});
    if (statement.a > 0) {
      write_line(indent, {"else\n"});
      write_line(indent, {"{\n"});
      ++indent;
    }
  }
}

}  // namespace core
