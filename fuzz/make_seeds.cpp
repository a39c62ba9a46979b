// Writes the fuzzer's seed programs, assembled by the test builder, into a directory.
#include <sys/stat.h>

#include <cstdio>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "image/opcodes.h"
#include "tests/example_programs.h"
#include "tests/progs_builder.h"

namespace {

using tests::ProgsBuilder;

// Known and unknown builtins, one of them unnamed.
ProgsBuilder builtins_only() {
  ProgsBuilder b = tests::new_program();
  b.add_function_global(28, "makevectors", 1);
  b.add_function(-1, 29, 0, "makevectors", "defs.qc", {3});
  b.add_function_global(32, "setorigin", 2);
  b.add_function(-2, 33, 0, "setorigin", "defs.qc", {1, 3});
  b.add_function_global(37, "infokey", 3);
  b.add_function(-80, 38, 0, "infokey", "defs.qc", {1, 1});
  b.add_function(-90, 40, 0, "", "");
  return b;
}

// A frame function whose think function comes after it, and a vector field.
ProgsBuilder frame_function() {
  ProgsBuilder b = tests::new_program();
  b.add_globaldef(image::ev_entity, 28, "self");
  b.add_globaldef(image::ev_float | image::DEF_SAVEGLOBAL, 29, "time");
  b.add_globaldef(image::ev_field, 30, "nextthink");
  b.add_fielddef(image::ev_float, 0, "nextthink");
  b.add_globaldef(image::ev_field, 31, "velocity");
  b.add_fielddef(image::ev_vector, 1, "velocity");
  b.add_function_global(35, "run1", 1);
  b.add_function_global(36, "run2", 2);
  b.add_immediate_float(37, 1);
  b.add_immediate_float(38, 0.1f);
  int first = b.add_statement(image::OP_STATE, 37, 36);
  b.add_statement(image::OP_ADD_F, 29, 38, 39);
  b.add_statement(image::OP_ADDRESS, 28, 30, 40);
  b.add_statement(image::OP_STOREP_F, 39, 40);
  b.add_statement(image::OP_DONE);
  b.add_function(first, 39, 2, "run1", "player/frames.qc");
  b.add_immediate_float(41, 2);
  first = b.add_statement(image::OP_STATE, 41, 35);
  b.add_statement(image::OP_RETURN);
  b.add_statement(image::OP_DONE);
  b.add_function(first, 42, 0, "run2", "player\\frames.qc");
  return b;
}

// if/else, while and do-while, nested, with a call whose result is used and one that
// stands alone, and a return type found from the call site.
ProgsBuilder loops() {
  ProgsBuilder b = tests::new_program();
  b.add_function_global(28, "random", 1);
  b.add_function(-7, 29, 0, "random", "defs.qc");
  b.add_globaldef(image::ev_float, 29, "total");
  b.add_globaldef(image::ev_vector, 30, "dir");
  b.add_function_global(33, "count", 2);
  b.add_globaldef(image::ev_float, 34, "n");
  b.add_globaldef(image::ev_float, 35, "i");
  b.add_immediate_float(39, 0);
  b.add_immediate_float(40, 1);
  b.add_immediate_float(41, 10);
  int first = b.add_statement(image::OP_STORE_F, 39, 35);
  b.add_statement(image::OP_LT, 35, 34, 36);
  b.add_statement(image::OP_IFNOT, 36, 9);
  b.add_statement(image::OP_CALL0, 28);
  b.add_statement(image::OP_GT, image::OFS_RETURN, 40, 37);
  b.add_statement(image::OP_IFNOT, 37, 3);
  b.add_statement(image::OP_ADD_F, 29, 40, 29);  // into a named global
  b.add_statement(image::OP_GOTO, 2);
  b.add_statement(image::OP_SUB_F, 29, 40, 29);
  b.add_statement(image::OP_ADD_F, 35, 40, 35);
  b.add_statement(image::OP_GOTO, -9);
  b.add_statement(image::OP_SUB_F, 35, 40, 35);
  b.add_statement(image::OP_GT, 35, 39, 38);
  b.add_statement(image::OP_IF, 38, -2);
  b.add_statement(image::OP_CALL0, 28);
  b.add_statement(image::OP_RETURN, 29);
  b.add_statement(image::OP_DONE);
  b.add_function(first, 34, 5, "count", "loops.qc", {1});
  b.add_function_global(42, "caller", 3);
  first = b.add_statement(image::OP_STORE_F, 41, image::OFS_PARM0);
  b.add_statement(image::OP_CALL1, 33);
  b.add_statement(image::OP_STORE_F, image::OFS_RETURN, 29);
  b.add_statement(image::OP_MUL_V, 30, 30, 43);  // the dot product of a vector with itself
  b.add_statement(image::OP_NOT_F, 43, 0, 44);
  b.add_statement(image::OP_RETURN, 44);
  b.add_statement(image::OP_DONE);
  b.add_function(first, 43, 2, "caller", "loops.qc");
  return b;
}

// The loops in another header and record layout, with the sections version 7 adds.
ProgsBuilder loops_as(tests::Format format) {
  ProgsBuilder b = loops();
  b.format = format;
  b.linenums.assign(b.statements.size(), 7);
  b.bodyless_functions = {"imported"};
  return b;
}

// Two functions in the source file "trap.qc", the name the fuzz target gives a link in
// every run's directory: the output of that name must not be opened through the link.
ProgsBuilder trap_file() {
  ProgsBuilder b = tests::new_program();
  b.add_function_global(28, "makevectors", 1);
  b.add_function(-1, 29, 0, "makevectors", "trap.qc", {3});
  b.add_globaldef(image::ev_float, 29, "x");
  b.add_function_global(30, "f", 2);
  const int first = b.add_statement(image::OP_STORE_F, 29, 31);
  b.add_statement(image::OP_RETURN, 31);
  b.add_statement(image::OP_DONE);
  b.add_function(first, 31, 1, "f", "trap.qc");
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds DIRECTORY\n");
    return 2;
  }
  const std::string directory = argv[1];
  ::mkdir(directory.c_str(), 0755);
  try {
    const std::vector<std::pair<const char*, ProgsBuilder>> seeds = {
        {"example.dat", tests::example_program()},
        {"builtins_only.dat", builtins_only()},
        {"frame_function.dat", frame_function()},
        {"loops.dat", loops()},
        {"empty.dat", tests::new_program()},
        {"loops_fte16.dat", loops_as(tests::Format::kFte16)},
        {"loops_fte32.dat", loops_as(tests::Format::kFte32)},
        {"loops_uhexen2.dat", loops_as(tests::Format::kUhexen2)},
        {"loops_kk.dat", loops_as(tests::Format::kKk)},
        {"trap_file.dat", trap_file()},
    };
    for (const auto& [name, program] : seeds) {
      program.write(directory + "/" + name);
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "make_seeds: %s\n", error.what());
    return 1;
  }
  return 0;
}
