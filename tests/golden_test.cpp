// Whole runs of complete programs compared with the expected console text and files.
//
// The expected files under tests/golden/<program>/ (console.txt, progs.src and every .qc
// file) were written from the programs below by working through the decompiler's rules by
// hand, and each was then read line by line against those rules before it was checked in:
// the run summary from the built file's sizes and counts, the walk of the global area in
// front of every function, the builtin and signature lines, locals, the body of each
// function instruction by instruction, the choice of output file and the console lines.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "image/opcodes.h"
#include "tests/example_programs.h"
#include "tests/progs_builder.h"
#include "tests/run_harness.h"

namespace {

using namespace image;
using tests::ProgsBuilder;

constexpr uint16_t kSaved = DEF_SAVEGLOBAL;

// A builtin declared by its function global at ofs; its parameters follow from ofs + 1.
void builtin(ProgsBuilder& b, int ofs, const std::string& name, int number,
             std::vector<uint8_t> parm_sizes) {
  b.add_function_global(ofs, name, static_cast<int>(b.functions.size()));
  b.add_function(-number, ofs + 1, 0, name, "defs.qc", parm_sizes);
}

// A field global and the field definition of the same name.
void field(ProgsBuilder& b, int ofs, const std::string& name, uint16_t type, int field_ofs) {
  b.add_globaldef(ev_field, static_cast<uint16_t>(ofs), name);
  b.add_fielddef(type, static_cast<uint16_t>(field_ofs), name);
  b.set_int(ofs, field_ofs);
}

// The road of W_Precache: a constant and a prototype in front of it, a string stored into
// the first parameter and a builtin called with it; then nested calls through parameter
// cells and a field written through its address.
ProgsBuilder weapons_program() {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(ev_entity, 28, "self");
  field(b, 29, "owner", ev_entity, 0);
  builtin(b, 30, "precache_sound", 19, {1});
  builtin(b, 32, "precache_model", 20, {1});
  builtin(b, 34, "spawn", 14, {});
  builtin(b, 35, "setmodel", 3, {1, 1});
  builtin(b, 38, "dprint", 25, {1});
  builtin(b, 40, "ftos", 26, {1});

  b.add_globaldef(ev_float, 42, "WEAPON_ROCKET");
  b.set_float(42, 8);
  b.add_function_global(43, "W_FireRocket", 8);
  b.add_function_global(44, "W_Precache", 7);
  int first = b.add_statement(OP_STORE_S, 45, OFS_PARM0);
  b.add_statement(OP_CALL1, 30);
  b.add_statement(OP_STORE_S, 46, OFS_PARM0);
  b.add_statement(OP_CALL1, 32);
  b.add_statement(OP_DONE);
  b.add_function(first, 45, 0, "W_Precache", "weapons.qc");
  b.add_immediate_string(45, "weapons/r_exp3.wav");
  b.add_immediate_string(46, "progs/missile.mdl");
  b.add_immediate_float(47, 1);

  b.add_globaldef(ev_entity, 48, "missile");
  first = b.add_statement(OP_CALL0, 34);
  b.add_statement(OP_STORE_ENT, OFS_RETURN, 48);
  b.add_statement(OP_ADDRESS, 48, 29, 49);
  b.add_statement(OP_STOREP_ENT, 28, 49);
  b.add_statement(OP_STORE_ENT, 48, OFS_PARM0);
  b.add_statement(OP_STORE_S, 46, OFS_PARM0 + 3);
  b.add_statement(OP_CALL2, 35);
  b.add_statement(OP_ADD_F, 42, 47, 49);
  b.add_statement(OP_STORE_F, 49, OFS_PARM0);
  b.add_statement(OP_CALL1, 40);
  b.add_statement(OP_STORE_S, OFS_RETURN, OFS_PARM0);
  b.add_statement(OP_CALL1, 38);
  b.add_statement(OP_DONE);
  b.add_function(first, 48, 2, "W_FireRocket", "weapons.qc");

  b.add_globaldef(ev_float | kSaved, 50, "deathmatch");
  b.add_function_global(51, "main", 9);
  first = b.add_statement(OP_CALL0, 44);
  b.add_statement(OP_CALL0, 43);
  b.add_statement(OP_DONE);
  b.add_function(first, 52, 0, "main", "world.qc");
  return b;
}

// Loops with nested blocks, frame functions, warnings, numbered fallback files and two
// records that share a name.
ProgsBuilder monsters_program() {
  ProgsBuilder b = tests::new_program();
  // helper_b's body comes first in the instruction array, so that nothing before its
  // RETURN names offset 1 and its return type cannot be found.
  const int helper_b_first = b.add_statement(OP_CALL0, 43);
  b.add_statement(OP_RETURN, OFS_RETURN);
  b.add_statement(OP_DONE);

  b.add_globaldef(ev_entity, 28, "self");
  b.add_globaldef(ev_float | kSaved, 29, "time");
  field(b, 30, "enemy", ev_entity, 0);
  field(b, 31, "health", ev_float, 1);
  field(b, 32, "velocity", ev_vector, 2);
  field(b, 33, "velocity_x", ev_float, 2);
  field(b, 34, "velocity_y", ev_float, 3);
  field(b, 35, "velocity_z", ev_float, 4);
  field(b, 36, "th_pain", ev_function, 5);
  builtin(b, 37, "vlen", 12, {3});
  builtin(b, 41, "mystery", 64, {1});
  builtin(b, 43, "random", 7, {});

  // ai/fight.qc
  b.add_globaldef(ev_float, 44, "SPEED");
  b.set_float(44, 300);
  b.add_globaldef(ev_vector | kSaved, 45, "spot");
  b.set_vector(45, 1, 2, 3);
  b.add_function_global(48, "ai_chase", 4);
  b.add_globaldef(ev_float, 49, "dist");
  b.add_globaldef(ev_vector, 50, "dir");
  b.add_globaldef(ev_float, 50, "dir_x");
  b.add_globaldef(ev_float, 51, "dir_y");
  b.add_globaldef(ev_float, 52, "dir_z");
  b.add_globaldef(ev_function, 53, "fp");
  b.add_immediate_float(56, 0);
  b.add_immediate_float(60, 1);
  b.add_immediate_float(61, 2);
  int first = b.add_statement(OP_LOAD_V, 28, 32, 50);
  b.add_statement(OP_GT, 49, 56, 54);
  b.add_statement(OP_LOAD_F, 28, 31, 55);
  b.add_statement(OP_GT, 55, 56, 57);
  b.add_statement(OP_AND, 54, 57, 54);
  b.add_statement(OP_IFNOT, 54, 11);
  b.add_statement(OP_GT, 50, 44, 58);
  b.add_statement(OP_IFNOT, 58, 6);
  b.add_statement(OP_STORE_V, 50, OFS_PARM0);
  b.add_statement(OP_CALL1, 37);
  b.add_statement(OP_SUB_F, 49, OFS_RETURN, 59);
  b.add_statement(OP_STORE_F, 59, 49);
  b.add_statement(OP_GOTO, 3);
  b.add_statement(OP_SUB_F, 49, 60, 59);
  b.add_statement(OP_STORE_F, 59, 49);
  b.add_statement(OP_GOTO, -14);
  b.add_statement(OP_MUL_F, 49, 61, 59);
  b.add_statement(OP_RETURN, 59);
  b.add_statement(OP_DONE);
  b.add_function(first, 49, 13, "ai_chase", "ai\\fight.qc", {1});

  // monsters/dog.qc: dog_run2 opens with a STATE that its do-while loop jumps back to.
  b.add_function_global(62, "dog_run1", 5);
  b.add_function_global(63, "dog_run2", 6);
  b.add_immediate_float(64, 1);
  b.add_immediate_float(65, 10);
  first = b.add_statement(OP_STATE, 64, 63);
  b.add_statement(OP_STORE_F, 65, OFS_PARM0);
  b.add_statement(OP_CALL1, 48);
  b.add_statement(OP_DONE);
  b.add_function(first, 66, 0, "dog_run1", "monsters/dog.qc");
  b.add_immediate_float(67, 2);
  b.add_immediate_float(68, 1);
  b.add_immediate_float(69, 50);
  first = b.add_statement(OP_STATE, 67, 62);
  b.add_statement(OP_LOAD_F, 28, 31, 70);
  b.add_statement(OP_SUB_F, 70, 68, 71);
  b.add_statement(OP_ADDRESS, 28, 31, 72);
  b.add_statement(OP_STOREP_F, 71, 72);
  b.add_statement(OP_LOAD_F, 28, 31, 70);
  b.add_statement(OP_GT, 70, 69, 71);
  b.add_statement(OP_IF, 71, -7);
  b.add_statement(OP_DONE);
  b.add_function(first, 70, 3, "dog_run2", "monsters/dog.qc");

  // Source-file names that are no file names and functions in no known row: "bad name.qc",
  // "other#.qc" and "bad name.qc" again.
  b.add_globaldef(ev_float, 73, "x");
  b.add_globaldef(ev_float, 74, "y");
  b.add_immediate_float(77, 1);
  first = b.add_statement(OP_NOT_F, 73, 0, 75);
  b.add_statement(OP_OR, 75, 74, 76);
  b.add_statement(OP_IFNOT, 76, 2);
  b.add_statement(OP_RETURN, 73);
  b.add_statement(OP_ADD_F, 74, 77, 75);
  b.add_statement(OP_RETURN, 75);
  b.add_statement(OP_DONE);
  b.add_function(first, 73, 5, "helper_a", "bad name.qc", {1, 1});
  b.add_function(helper_b_first, 78, 0, "helper_b", "other#.qc");
  first = b.add_statement(OP_STORE_F, 44, OFS_PARM0);
  b.add_statement(OP_CALL1, 41);
  b.add_statement(OP_DONE);
  b.add_function(first, 79, 0, "helper_a", "bad name.qc", {1});

  // world.qc: nested calls as arguments, and an if block inside a do-while loop.
  b.add_globaldef(ev_float, 80, "counter");
  b.set_float(80, 3);
  b.add_function_global(81, "main", 10);
  b.add_function_global(82, "helper_a", 7);
  b.add_globaldef(ev_float, 83, "best");
  b.add_immediate_float(86, 1);
  b.add_immediate_float(87, 3);
  b.add_immediate_float(88, 0);
  first = b.add_statement(OP_STORE_V, 45, OFS_PARM0);
  b.add_statement(OP_CALL1, 37);
  b.add_statement(OP_STORE_F, OFS_RETURN, 84);
  b.add_statement(OP_STORE_F, 44, OFS_PARM0);
  b.add_statement(OP_CALL1, 48);
  b.add_statement(OP_STORE_F, OFS_RETURN, 85);
  b.add_statement(OP_STORE_F, 84, OFS_PARM0);
  b.add_statement(OP_STORE_F, 85, OFS_PARM0 + 3);
  b.add_statement(OP_CALL2, 82);
  b.add_statement(OP_STORE_F, OFS_RETURN, 80);
  b.add_statement(OP_SUB_F, 80, 86, 84);
  b.add_statement(OP_STORE_F, 84, 80);
  b.add_statement(OP_EQ_F, 80, 87, 84);
  b.add_statement(OP_IFNOT, 84, 3);
  b.add_statement(OP_CALL0, 62);
  b.add_statement(OP_CALL0, 63);
  b.add_statement(OP_GT, 80, 88, 84);
  b.add_statement(OP_IF, 84, -7);
  b.add_statement(OP_DONE);
  b.add_function(first, 83, 6, "main", "world.qc");
  return b;
}

// A run that ends in its second function: what was written stays.
ProgsBuilder broken_program() {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(ev_float | kSaved, 28, "x");
  b.add_immediate_float(29, 1);
  int first = b.add_statement(OP_STORE_F, 29, 28);
  b.add_statement(OP_DONE);
  b.add_function(first, 30, 0, "first", "a.qc");
  first = b.add_statement(OP_IFNOT, 28, 0);
  b.add_statement(OP_DONE);
  b.add_function(first, 30, 0, "second", "b.qc");
  return b;
}

struct GoldenCase {
  const char* name;  // folder under tests/golden
  ProgsBuilder (*program)();
  int status;
  bool compilable;  // run with -c
};

// The compilable engine's golden files were written by a run of the engine and then read
// line by line against the program: every declaration, statement and console line.
const GoldenCase GoldenCases[] = {
    {"example", tests::example_program, 0, false},
    {"weapons", weapons_program, 0, false},
    {"monsters", monsters_program, 0, false},
    {"broken", broken_program, 1, false},
    {"example_compilable", tests::example_program, 0, true},
};

void expect_same_lines(const std::string& want, const std::string& got) {
  const std::vector<std::string> want_lines = tests::split_lines(want);
  const std::vector<std::string> got_lines = tests::split_lines(got);
  for (size_t i = 0; i < want_lines.size() && i < got_lines.size(); ++i) {
    EXPECT_EQ(want_lines[i], got_lines[i]) << "line " << i + 1;
  }
  EXPECT_EQ(want_lines.size(), got_lines.size()) << "number of lines";
  // The lines can agree while the last newline differs.
  EXPECT_EQ(want, got);
}

TEST(GoldenRun, OutputMatchesTheExpectedFiles) {
  namespace fs = std::filesystem;
  for (const GoldenCase& c : GoldenCases) {
    SCOPED_TRACE(c.name);
    const fs::path folder = fs::path(PROGS2QC_SOURCE_DIR) / "tests" / "golden" / c.name;
    ASSERT_TRUE(fs::is_directory(folder)) << folder;
    std::set<std::string> want_files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
      const std::string file = entry.path().filename().string();
      if (file != "console.txt") {
        want_files.insert(file);
      }
    }

    const ProgsBuilder program = c.program();
    std::vector<std::string> args = {"progs2qc"};
    if (c.compilable) {
      args.push_back("-c");
    }
    const tests::RunResult result =
        tests::run_in_temp_dir(args, [&program] { program.write("progs.dat"); });
    EXPECT_EQ(c.status, result.status);
    {
      SCOPED_TRACE("console");
      expect_same_lines(tests::read_file((folder / "console.txt").string()), result.console);
    }
    std::set<std::string> got_files;
    for (const auto& [file, bytes] : result.files) {
      got_files.insert(file);
    }
    EXPECT_EQ(want_files, got_files);
    for (const std::string& file : want_files) {
      SCOPED_TRACE(file);
      auto written = result.files.find(file);
      if (written != result.files.end()) {
        expect_same_lines(tests::read_file((folder / file).string()), written->second);
      }
    }
  }
}

// A signature's return type is settled before its parameters are named, so a function that
// warns about both reports its return type first.
TEST(WholeRun, ReturnTypeWarningPrecedesParameterWarnings) {
  ProgsBuilder b = tests::new_program();
  b.add_function_global(28, "random", 1);
  b.add_function(-7, 29, 0, "random", "defs.qc");
  // Nothing before the RETURN names offset 1 and nothing calls f.
  const int first = b.add_statement(OP_CALL0, 28);
  b.add_statement(OP_RETURN, OFS_RETURN);
  b.add_statement(OP_DONE);
  b.add_function(first, 30, 1, "f", "test.qc", {1});

  const tests::RunResult result = tests::run_program(b);
  EXPECT_EQ(0, result.status);
  const std::vector<std::string> lines = tests::split_lines(result.console);
  ASSERT_GE(lines.size(), 14u) << result.console;
  EXPECT_EQ("Warning: Could not determine return type for f", lines[12]);
  EXPECT_EQ("No parameter names with offset 30", lines[13]);
}

}  // namespace
