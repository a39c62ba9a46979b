// Parked texts of unnamed temporaries, keyed by global offset re-based on the function.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/program_image.h"

namespace classic {

constexpr int kSlotCount = 4096;

struct ExpressionSlots {
  std::vector<std::string> texts;
  std::vector<bool> defined;
  std::vector<int64_t> used;  // indices stored since the last clear
};
extern ExpressionSlots slots;
void reset_expression_slots();

// Offsets up to 28 keep their number; the function's own area counts from 28 upward.
int64_t slot_index(const image::FunctionRecord& function, int64_t offset);
void slot_store(const image::FunctionRecord& function, int64_t offset, const std::string& text);
// The parked text; valid until the slot is stored to or cleared.
const std::string& slot_fetch(const image::FunctionRecord& function, int64_t offset);
void slot_clear_all();

// The operand's name or literal when a global definition has the offset, else its slot,
// into `text` (whose storage is reused).
void operand_text(const image::FunctionRecord& function, int64_t offset, int expected_type,
                  std::string& text);

}  // namespace classic
