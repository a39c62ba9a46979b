// Parked texts of unnamed temporaries, keyed by global offset re-based on the function.
#include "classic/expression_slots.h"

#include "classic/names.h"
#include "image/opcodes.h"
#include "support/error.h"

namespace classic {

ExpressionSlots slots;

// A parked text is nested into every instruction that reads it, as often as it is read,
// so crafted code can double a text with each instruction. Beyond this length (the
// longest in real programs is a few hundred bytes) the run ends instead of growing
// without bound.
constexpr size_t kMaxExpressionLength = 65536;

void reset_expression_slots() {
  slots.texts.assign(kSlotCount, std::string());
  slots.defined.assign(kSlotCount, false);
  slots.used.clear();
}

int64_t slot_index(const image::FunctionRecord& function, int64_t offset) {
  if (offset <= image::RESERVED_OFS) {
    return offset;
  }
  return offset - function.parm_start + image::RESERVED_OFS;
}

static int64_t checked_index(const image::FunctionRecord& function, int64_t offset) {
  int64_t index = slot_index(function, offset);
  if (index < 1 || index >= kSlotCount) {
    support::fatal_error("Fatal Error - Index (%lld) out of bounds.\n",
                         static_cast<long long>(index));
  }
  return index;
}

void slot_store(const image::FunctionRecord& function, int64_t offset, const std::string& text) {
  int64_t index = checked_index(function, offset);
  if (text.size() > kMaxExpressionLength) {
    support::fatal_error("Fatal Error - Expression too long.\n");
  }
  slots.texts[index] = text;
  if (!slots.defined[index]) {
    slots.defined[index] = true;
    slots.used.push_back(index);
  }
}

const std::string& slot_fetch(const image::FunctionRecord& function, int64_t offset) {
  int64_t index = checked_index(function, offset);
  if (!slots.defined[index]) {
    support::fatal_error("Fatal Error - %lld not defined.\n", static_cast<long long>(index));
  }
  return slots.texts[index];
}

void slot_clear_all() {
  for (int64_t index : slots.used) {
    slots.texts[index].clear();
    slots.defined[index] = false;
  }
  slots.used.clear();
}

void operand_text(const image::FunctionRecord& function, int64_t offset, int expected_type,
                  std::string& text) {
  if (!operand_name(offset, expected_type, text)) {
    text = slot_fetch(function, offset);
  }
}

}  // namespace classic
