// QuakeC signatures of all functions: builtin prototypes, return types and parameters.
#include "classic/signatures.h"

#include <algorithm>

#include "classic/instruction_index.h"
#include "classic/instructions.h"
#include "classic/names.h"
#include "image/opcodes.h"
#include "image/program_index.h"
#include "support/console.h"
#include "support/error.h"
#include "support/scratch.h"

namespace classic {

SignatureTable signatures;

void reset_signatures() { signatures = SignatureTable{}; }

namespace {

bool is_call(int64_t op_word) {
  return op_word >= 0 && op_word < image::OPCODE_COUNT &&
         image::OpcodeTable[op_word].kind == image::kCall;
}

// The row of an op word at signature time, when no marks are present; none above 65.
const image::OpcodeRow* row_of(int64_t op_word) {
  if (op_word < 0 || op_word >= image::OPCODE_COUNT) {
    return nullptr;
  }
  return &image::OpcodeTable[op_word];
}

const char* backward_search(uint16_t offset, int64_t return_index) {
  const int64_t p = last_user_before(offset, return_index);
  if (p < 1) {
    return nullptr;
  }
  const image::Statement& statement = image::statement_at(p);
  const image::OpcodeRow& row = image::OpcodeTable[op_word_at(p)];
  if (statement.a == offset) {
    return type_name(row.type_a);
  }
  return type_name(statement.b == offset ? row.type_b : row.type_c);
}

bool calls_function(int64_t position, int function_index) {
  return is_call(op_word_at(position)) &&
         image::global_int(image::statement_at(position).a) == function_index;
}

// The type a look-ahead instruction gives to a call's result, or null.
const char* result_type(int64_t position) {
  const image::OpcodeRow* row = row_of(op_word_at(position));
  const image::Statement& statement = image::statement_at(position);
  if (row != nullptr && statement.a == image::OFS_RETURN && row->type_a != image::ev_void) {
    return type_name(row->type_a);
  }
  if (row != nullptr && statement.b == image::OFS_RETURN && row->type_b != image::ev_void) {
    return type_name(row->type_b);
  }
  return nullptr;
}

// The straight walk over every instruction, kept to check the indexed search against.
const char* scan_call_site_search(int function_index) {
  const int64_t last = image::program.numstatements - 1;
  int64_t p = 0;
  while (p <= last) {
    if (!calls_function(p, function_index)) {
      ++p;
      continue;
    }
    int64_t q = p + 1;
    for (;; ++q) {
      if (q > last) {
        return nullptr;
      }
      const int64_t word = op_word_at(q);
      if (const char* type = result_type(q)) {
        return type;
      }
      if (word == image::OP_DONE || (is_call(word) && !calls_function(q, function_index))) {
        break;
      }
    }
    p = q + 1;
  }
  return nullptr;
}

// The same walk over the calls of the function only: each look-ahead jumps from stop to
// stop, and a look-ahead that ends resumes the walk behind it.
const char* call_site_search(int function_index) {
  if (image::lookup_mode.use_scans) {
    return scan_call_site_search(function_index);
  }
  const InstructionIndex& index = instruction_index;
  auto call = std::lower_bound(index.calls.begin(), index.calls.end(),
                               std::make_pair(function_index, int32_t{0}));
  const int64_t last = image::program.numstatements - 1;
  int64_t resume = 0;
  for (; call != index.calls.end() && call->first == function_index; ++call) {
    if (call->second < resume) {
      continue;
    }
    for (int64_t q = call->second + 1;; ++q) {
      if (q > last) {
        return nullptr;
      }
      q = index.next_stop[q];
      if (q > last) {
        return nullptr;
      }
      if (const char* type = result_type(q)) {
        return type;
      }
      if (!calls_function(q, function_index)) {
        resume = q + 1;
        break;
      }
    }
  }
  return nullptr;
}

// The return type of function_index judged from the instruction that last names the
// returned offset before the RETURN, else from what its callers do with offset 1.
const char* infer_return_type(uint16_t offset, int64_t return_index, int function_index) {
  const char* type = backward_search(offset, return_index);
  if (type == nullptr) {
    type = call_site_search(function_index);
  }
  if (type == nullptr) {
    support::console_printf("Warning: Could not determine return type for %s\n",
                            image::string_at(image::program.functions[function_index].s_name));
    type = "float";
  }
  return type;
}

std::string return_type(const image::FunctionRecord& function, int function_index) {
  const int64_t done = done_from(function.first_statement);
  const int64_t first_return = return_from(function.first_statement);
  if (first_return >= done) {
    return "void";
  }
  const int64_t named_return = named_return_from(function.first_statement);
  if (named_return < done) {
    return type_text(*find_globaldef_by_offset(image::statement_at(named_return).a));
  }
  const image::Statement& statement = image::statement_at(first_return);
  if (statement.a == 0) {
    return "void";
  }
  return infer_return_type(static_cast<uint16_t>(statement.a), first_return, function_index);
}

std::string parameter_list(const image::FunctionRecord& function) {
  std::string text;
  const int64_t total = image::parameter_cells(function);
  if (total <= 0) {
    return text;
  }
  const int64_t start = function.parm_start;
  const int64_t last = start + total - 1;
  for (int64_t o = start; o < start + total; ++o) {
    const std::optional<image::DefRecord> def = find_globaldef_by_offset(o);
    if (def) {
      if (def->type == image::ev_vector) {
        o += 2;
      }
      text += declaration_text(*def);
      if (o < last) {
        text += ", ";
      }
    } else {
      support::console_printf("No parameter names with offset %lld\n", static_cast<long long>(o));
      text += support::scratch_printf(o < last ? "float par%lld, " : "float par%lld",
                                      static_cast<long long>(o - start));
    }
  }
  return text;
}

}  // namespace

void build_signatures() {
  const int count = image::program.numfunctions;
  signatures.texts.assign(count > 0 ? std::min(count, kMaxFunctions) : 0, std::string());
  for (int i = 1; i < count; ++i) {
    if (i >= kMaxFunctions) {
      support::fatal_error("Fatal Error - too many functions.\n");
    }
    const image::FunctionRecord& function = image::program.functions[i];
    const char* name = image::string_at(function.s_name);
    std::string text;
    if (function.first_statement <= 0) {
      const int64_t number = -int64_t{function.first_statement};
      const char* prototype = number < static_cast<int64_t>(std::size(BuiltinPrototypes))
                                  ? BuiltinPrototypes[number]
                                  : nullptr;
      if (prototype != nullptr) {
        text = support::scratch_printf("%s %s", prototype, name);
      } else {
        text = support::scratch_printf("void () %s", name);
        support::console_printf("Warning: unknown builtin %s\n", name);
      }
    } else {
      // The return type's warning comes before the parameters' warnings.
      text = return_type(function, i) + " (";
      text += parameter_list(function) + ") " + name;
    }
    signatures.texts[i] = text;
  }
}

}  // namespace classic
