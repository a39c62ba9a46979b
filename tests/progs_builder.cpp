// Assembles progs.dat images in code, for tests, the example and the fuzzer's seeds.
#include "tests/progs_builder.h"

#include <cstring>
#include <fstream>
#include <stdexcept>

#include "image/opcodes.h"

namespace tests {

namespace {

void put32(std::vector<uint8_t>& out, uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    out.push_back(static_cast<uint8_t>(value >> (8 * i)));
  }
}

void put16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

enum class Width { k16, k32, kPadded32 };  // kPadded32: a 16-bit pad, the 16-bit word, then 32

struct FormatRow {
  Format format;
  int32_t version;
  int64_t header_size;
  uint32_t secondaryversion;
  Width statements;
  Width defs;
};
constexpr FormatRow FormatTable[] = {
    {Format::kVersion6, 6, 60, 0, Width::k16, Width::k16},
    {Format::kFteqccVersion6, 6, 92, 0, Width::k16, Width::k16},
    {Format::kFte16, 7, 92, 0x021B1461, Width::k16, Width::k16},
    {Format::kFte32, 7, 92, 0x65167402, Width::k32, Width::k32},
    {Format::kUhexen2, 7, 92, 0x37324855, Width::kPadded32, Width::kPadded32},
    {Format::kKk, 7, 92, 0x57514B4B, Width::k32, Width::k16},
};

const FormatRow& format_row(Format format) {
  for (const FormatRow& row : FormatTable) {
    if (row.format == format) {
      return row;
    }
  }
  throw std::invalid_argument("unknown format");
}

// The first word of a record: the op or the type, in the width's own way.
void put_word(std::vector<uint8_t>& out, Width width, uint32_t word) {
  if (width == Width::k32) {
    put32(out, word);
    return;
  }
  if (width == Width::kPadded32) {
    put16(out, 0);
  }
  put16(out, static_cast<uint16_t>(word));
}

void put_operand(std::vector<uint8_t>& out, Width width, int32_t value) {
  if (width == Width::k16) {
    put16(out, static_cast<uint16_t>(value));
  } else {
    put32(out, static_cast<uint32_t>(value));
  }
}

void put_statement(std::vector<uint8_t>& out, Width width, const RawStatement& statement) {
  put_word(out, width, statement.op);
  put_operand(out, width, statement.a);
  put_operand(out, width, statement.b);
  put_operand(out, width, statement.c);
}

void put_def(std::vector<uint8_t>& out, Width width, const RawDef& def) {
  put_word(out, width, static_cast<uint32_t>(def.type));
  put_operand(out, width, def.ofs);
  put32(out, static_cast<uint32_t>(def.s_name));
}

}  // namespace

int32_t ProgsBuilder::add_string(const std::string& text) {
  if (text.empty()) {
    return 0;
  }
  int32_t offset = static_cast<int32_t>(strings.size());
  strings += text;
  strings += '\0';
  return offset;
}

int ProgsBuilder::add_statement(uint32_t op, int a, int b, int c) {
  statements.push_back(RawStatement{op, a, b, c});
  return static_cast<int>(statements.size()) - 1;
}

int ProgsBuilder::add_function(int32_t first_statement, int32_t parm_start, int32_t locals,
                               const std::string& name, const std::string& file,
                               std::vector<uint8_t> parm_sizes) {
  RawFunction function{};
  function.first_statement = first_statement;
  function.parm_start = parm_start;
  function.locals = locals;
  function.s_name = add_string(name);
  function.s_file = add_string(file);
  function.numparms = static_cast<int32_t>(parm_sizes.size());
  for (size_t i = 0; i < parm_sizes.size() && i < 8; ++i) {
    function.parm_size[i] = parm_sizes[i];
  }
  functions.push_back(function);
  return static_cast<int>(functions.size()) - 1;
}

int ProgsBuilder::add_globaldef(int32_t type, int32_t ofs, const std::string& name) {
  globaldefs.push_back(RawDef{type, ofs, add_string(name)});
  return static_cast<int>(globaldefs.size()) - 1;
}

int ProgsBuilder::add_fielddef(int32_t type, int32_t ofs, const std::string& name) {
  fielddefs.push_back(RawDef{type, ofs, add_string(name)});
  return static_cast<int>(fielddefs.size()) - 1;
}

int ProgsBuilder::add_function_global(int ofs, const std::string& name, int function_index) {
  int index = add_globaldef(image::ev_function, ofs, name);
  set_int(ofs, function_index);
  return index;
}

int ProgsBuilder::add_immediate_float(int ofs, float value) {
  int index = add_globaldef(image::ev_float, ofs, "IMMEDIATE");
  set_float(ofs, value);
  return index;
}

int ProgsBuilder::add_immediate_string(int ofs, const std::string& text) {
  int index = add_globaldef(image::ev_string, ofs, "IMMEDIATE");
  set_int(ofs, add_string(text));
  return index;
}

void ProgsBuilder::set_int(int ofs, int32_t value) {
  if (ofs < 0) {
    throw std::invalid_argument("negative global offset");
  }
  if (globals.size() <= static_cast<size_t>(ofs)) {
    globals.resize(static_cast<size_t>(ofs) + 1, 0);
  }
  globals[static_cast<size_t>(ofs)] = static_cast<uint32_t>(value);
}

void ProgsBuilder::set_float(int ofs, float value) {
  int32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  set_int(ofs, bits);
}

void ProgsBuilder::set_vector(int ofs, float x, float y, float z) {
  set_float(ofs, x);
  set_float(ofs + 1, y);
  set_float(ofs + 2, z);
}

std::vector<uint8_t> ProgsBuilder::bytes() const {
  const FormatRow& row = format_row(format);
  const int64_t base = row.header_size;
  std::vector<uint8_t> body;
  auto here = [&body, base] {
    return static_cast<int32_t>(base + static_cast<int64_t>(body.size()));
  };
  int32_t field[kHeaderFieldCount] = {};
  field[kVersion] = version.value_or(row.version);
  field[kCrc] = crc;
  body.insert(body.end(), banner.begin(), banner.end());
  field[kOfsStrings] = here();
  field[kNumStrings] = static_cast<int32_t>(strings.size());
  body.insert(body.end(), strings.begin(), strings.end());
  field[kOfsStatements] = here();
  field[kNumStatements] = static_cast<int32_t>(statements.size());
  for (const RawStatement& s : statements) {
    put_statement(body, row.statements, s);
  }
  field[kOfsFunctions] = here();
  field[kNumFunctions] = static_cast<int32_t>(functions.size());
  for (const RawFunction& f : functions) {
    put32(body, static_cast<uint32_t>(f.first_statement));
    put32(body, static_cast<uint32_t>(f.parm_start));
    put32(body, static_cast<uint32_t>(f.locals));
    put32(body, static_cast<uint32_t>(f.profile));
    put32(body, static_cast<uint32_t>(f.s_name));
    put32(body, static_cast<uint32_t>(f.s_file));
    put32(body, static_cast<uint32_t>(f.numparms));
    body.insert(body.end(), f.parm_size.begin(), f.parm_size.end());
  }
  field[kOfsGlobaldefs] = here();
  field[kNumGlobaldefs] = static_cast<int32_t>(globaldefs.size());
  for (const RawDef& def : globaldefs) {
    put_def(body, row.defs, def);
  }
  field[kOfsFielddefs] = here();
  field[kNumFielddefs] = static_cast<int32_t>(fielddefs.size());
  for (const RawDef& def : fielddefs) {
    put_def(body, row.defs, def);
  }
  field[kOfsGlobals] = here();
  field[kNumGlobals] = static_cast<int32_t>(globals.size());
  for (uint32_t cell : globals) {
    put32(body, cell);
  }
  const int field_count = static_cast<int>(row.header_size / 4);
  if (field_count > kOfsFiles) {
    if (!linenums.empty()) {
      field[kOfsLinenums] = here();
      for (int32_t line : linenums) {
        put32(body, static_cast<uint32_t>(line));
      }
    }
    // FTEQCC points here even when there are no names: the end of the sections.
    field[kOfsBodylessFuncs] = here();
    field[kNumBodylessFuncs] = static_cast<int32_t>(bodyless_functions.size());
    for (const std::string& name : bodyless_functions) {
      body.insert(body.end(), name.begin(), name.end());
      body.push_back(0);
    }
    field[kSecondaryVersion] = static_cast<int32_t>(row.secondaryversion);
  }
  body.insert(body.end(), trailer.begin(), trailer.end());
  for (int i = 0; i < field_count; ++i) {
    if (header_override[i]) {
      field[i] = *header_override[i];
    }
  }
  std::vector<uint8_t> out;
  for (int i = 0; i < field_count; ++i) {
    put32(out, static_cast<uint32_t>(field[i]));
  }
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

void ProgsBuilder::write(const std::string& path) const {
  std::vector<uint8_t> data = bytes();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!out) {
    throw std::runtime_error("cannot write " + path);
  }
}

ProgsBuilder new_program() {
  ProgsBuilder builder;
  builder.add_statement(0);
  builder.functions.push_back(RawFunction{});
  builder.globaldefs.push_back(RawDef{0, 0, 0});
  builder.fielddefs.push_back(RawDef{0, 0, 0});
  builder.globals.assign(28, 0);
  return builder;
}

}  // namespace tests
