// Writes one function record: the globals in front of it, then its declaration or body.
#include "classic/function_emitter.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

#include "classic/block_marks.h"
#include "classic/expression_slots.h"
#include "classic/global_emitter.h"
#include "classic/instructions.h"
#include "classic/literals.h"
#include "classic/names.h"
#include "classic/output.h"
#include "classic/signatures.h"
#include "classic/statement_translator.h"
#include "image/opcodes.h"
#include "image/program_index.h"
#include "support/console.h"
#include "support/error.h"

namespace classic {

int find_function_by_name(const char* name) { return image::first_function_index(name); }

void decompile_function(int function_index) {
  emit_globals_before(function_index,
                      image::string_at(image::program.functions[function_index].s_name));
  emit_function_body(function_index);
}

namespace {

// The frame-state header " = [ frame, think ]" of a body that opens with an unmarked STATE.
std::string frame_state_header(const image::FunctionRecord& function) {
  const image::Statement& state = image::statement_at(function.first_statement);
  const std::optional<image::DefRecord> frame = find_globaldef_by_offset(state.a);
  if (!frame) {
    support::fatal_error("Fatal Error - Can't determine frame number.");
  }
  std::string think;
  operand_text(function, state.b, kNoType, think);
  return " = [ " + format_literal(frame->type, frame->ofs) + ", " + think + " ]";
}

void emit_locals(const image::FunctionRecord& function) {
  const int64_t parameters = image::parameter_cells(function);
  if (function.locals <= 0 || function.locals <= parameters) {
    return;
  }
  // Only offsets that have a definition can give a line, so the walk steps between them;
  // none lies at or beyond kOffsetLimit, however far the local area reaches.
  const int64_t end =
      std::min<int64_t>(int64_t{function.parm_start} + function.locals, image::kOffsetLimit);
  for (int64_t o = image::next_defined_offset(int64_t{function.parm_start} + parameters); o < end;
       o = image::next_defined_offset(o + 1)) {
    const std::optional<image::DefRecord> def = find_globaldef_by_offset(o);
    if (is_immediate(*def)) {
      continue;
    }
    if (def->type == image::ev_function) {
      support::console_write("Warning Fields and functions must be global\n");
      continue;
    }
    output_pieces({"\tlocal ", declaration_text(*def), ";\n"});
    if (def->type == image::ev_vector) {
      o += 2;
    }
  }
  output_write("\n");
}

}  // namespace

void emit_function_body(int function_index) {
  const image::FunctionRecord& function = image::program.functions[function_index];
  const std::string& signature = signatures.texts[function_index];
  if (function.first_statement <= 0) {
    output_printf("%s = #%lld; \n", signature.c_str(),
                  -static_cast<long long>(function.first_statement));
    return;
  }
  mark_blocks(function);
  output_pieces({"\n", signature});
  // Slots are cleared before the header so that a think function without a definition
  // cannot pick up text left by the previous function.
  slot_clear_all();
  const bool leading_state = op_word_at(function.first_statement) == image::OP_STATE;
  if (leading_state) {
    output_write(frame_state_header(function));
  } else {
    output_write(" =");
  }
  output_write("\n{\n");
  emit_locals(function);

  int indent = 1;
  for (int64_t p = function.first_statement + (leading_state ? 1 : 0);; ++p) {
    translate_statement(function, p, indent);
    if (op_word_at(p) == image::OP_DONE) {
      break;
    }
  }
  if (indent != 1) {
    support::console_write("Warning: Indentation structure corrupt\n");
  }
  output_write("};\n");
}

}  // namespace classic
