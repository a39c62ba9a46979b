// Printf-style formatting into text of any length.
#pragma once

#include <cstdarg>
#include <string>

namespace support {

[[gnu::format(printf, 1, 0)]] std::string vformat_text(const char* format, va_list args);

// Formats into a fresh text; no length limit, so nothing can be cut or overrun.
[[gnu::format(printf, 1, 2)]] std::string scratch_printf(const char* format, ...);

}  // namespace support
