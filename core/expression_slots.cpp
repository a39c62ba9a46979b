// Parked texts of unnamed temporaries, keyed by global offset re-based on the function.
#include "core/expression_slots.h"

#include "image/opcodes.h"
#include "render/names.h"
#include "support/error.h"

namespace core {

ExpressionSlots slots;

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
  slots.texts[index] = text;
  if (!slots.defined[index]) {
    slots.defined[index] = true;
    slots.used.push_back(index);
  }
}

std::string slot_fetch(const image::FunctionRecord& function, int64_t offset) {
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

std::string operand_text(const image::FunctionRecord& function, int64_t offset, int expected_type) {
  std::optional<std::string> name = render::operand_name(offset, expected_type);
  if (name) {
    return *name;
  }
  return slot_fetch(function, offset);
}

}  // namespace core
