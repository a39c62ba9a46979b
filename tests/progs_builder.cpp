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

void put_def(std::vector<uint8_t>& out, const RawDef& def) {
  put16(out, def.type);
  put16(out, def.ofs);
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

int ProgsBuilder::add_statement(uint16_t op, int a, int b, int c) {
  statements.push_back(
      RawStatement{op, static_cast<int16_t>(a), static_cast<int16_t>(b), static_cast<int16_t>(c)});
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

int ProgsBuilder::add_globaldef(uint16_t type, uint16_t ofs, const std::string& name) {
  globaldefs.push_back(RawDef{type, ofs, add_string(name)});
  return static_cast<int>(globaldefs.size()) - 1;
}

int ProgsBuilder::add_fielddef(uint16_t type, uint16_t ofs, const std::string& name) {
  fielddefs.push_back(RawDef{type, ofs, add_string(name)});
  return static_cast<int>(fielddefs.size()) - 1;
}

int ProgsBuilder::add_function_global(int ofs, const std::string& name, int function_index) {
  int index = add_globaldef(image::ev_function, static_cast<uint16_t>(ofs), name);
  set_int(ofs, function_index);
  return index;
}

int ProgsBuilder::add_immediate_float(int ofs, float value) {
  int index = add_globaldef(image::ev_float, static_cast<uint16_t>(ofs), "IMMEDIATE");
  set_float(ofs, value);
  return index;
}

int ProgsBuilder::add_immediate_string(int ofs, const std::string& text) {
  int index = add_globaldef(image::ev_string, static_cast<uint16_t>(ofs), "IMMEDIATE");
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
  std::vector<uint8_t> body;
  const uint32_t base = 60;
  int32_t field[15] = {};
  field[kVersion] = version;
  field[kCrc] = crc;
  field[kOfsStrings] = static_cast<int32_t>(base + body.size());
  field[kNumStrings] = static_cast<int32_t>(strings.size());
  body.insert(body.end(), strings.begin(), strings.end());
  field[kOfsStatements] = static_cast<int32_t>(base + body.size());
  field[kNumStatements] = static_cast<int32_t>(statements.size());
  for (const RawStatement& s : statements) {
    put16(body, s.op);
    put16(body, static_cast<uint16_t>(s.a));
    put16(body, static_cast<uint16_t>(s.b));
    put16(body, static_cast<uint16_t>(s.c));
  }
  field[kOfsFunctions] = static_cast<int32_t>(base + body.size());
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
  field[kOfsGlobaldefs] = static_cast<int32_t>(base + body.size());
  field[kNumGlobaldefs] = static_cast<int32_t>(globaldefs.size());
  for (const RawDef& def : globaldefs) {
    put_def(body, def);
  }
  field[kOfsFielddefs] = static_cast<int32_t>(base + body.size());
  field[kNumFielddefs] = static_cast<int32_t>(fielddefs.size());
  for (const RawDef& def : fielddefs) {
    put_def(body, def);
  }
  field[kOfsGlobals] = static_cast<int32_t>(base + body.size());
  field[kNumGlobals] = static_cast<int32_t>(globals.size());
  for (uint32_t cell : globals) {
    put32(body, cell);
  }
  for (int i = 0; i < 15; ++i) {
    if (header_override[i]) {
      field[i] = *header_override[i];
    }
  }
  std::vector<uint8_t> out;
  for (int32_t value : field) {
    put32(out, static_cast<uint32_t>(value));
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
