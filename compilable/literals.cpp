// Literal texts both compilers read back to the same value: floats in the shortest plain
// decimal that gives the same 32-bit value, and quoted strings.
#include "compilable/literals.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace compilable {

namespace {

// The decimal digits of %.*e output spread out without an exponent.
std::string plain_decimal(const char* scientific) {
  std::string digits;
  bool negative = false;
  const char* p = scientific;
  if (*p == '-') {
    negative = true;
    ++p;
  }
  for (; *p != '\0' && *p != 'e'; ++p) {
    if (*p != '.') {
      digits += *p;
    }
  }
  const int exponent = *p == 'e' ? std::atoi(p + 1) : 0;
  while (digits.size() > 1 && digits.back() == '0') {
    digits.pop_back();
  }
  // The value is 0.digits x 10^(exponent + 1).
  const int point = exponent + 1;
  std::string text;
  if (point <= 0) {
    text = "0." + std::string(static_cast<size_t>(-point), '0') + digits;
  } else if (static_cast<size_t>(point) >= digits.size()) {
    text = digits + std::string(static_cast<size_t>(point) - digits.size(), '0');
  } else {
    text = digits.substr(0, static_cast<size_t>(point)) + "." +
           digits.substr(static_cast<size_t>(point));
  }
  return negative ? "-" + text : text;
}

}  // namespace

bool float_text(float value, std::string& text) {
  if (std::isnan(value) || std::isinf(value)) {
    text = "0";
    return false;
  }
  if (value == 0.0f) {
    text = std::signbit(value) ? "-0" : "0";
    return true;
  }
  // Both compilers read a literal as a double and store it as a float.
  for (int precision = 1; precision <= 9; ++precision) {
    char scientific[64];
    std::snprintf(scientific, sizeof scientific, "%.*e", precision - 1, static_cast<double>(value));
    text = plain_decimal(scientific);
    if (static_cast<float>(std::strtod(text.c_str(), nullptr)) == value) {
      return true;
    }
  }
  return true;  // nine digits always read back
}

QuotedString quote_string(const char* value) {
  QuotedString quoted{"\"", false};
  for (const char* p = value; *p != '\0'; ++p) {
    switch (*p) {
      case '\n':
        quoted.text += "\\n";
        break;
      case '"':
        quoted.text += "\\\"";
        break;
      case '\\':
        quoted.text += "\\\\";
        quoted.fteqcc_only = true;
        break;
      default:
        quoted.text += *p;
        break;
    }
  }
  quoted.text += '"';
  return quoted;
}

}  // namespace compilable
