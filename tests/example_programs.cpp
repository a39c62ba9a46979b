// Complete small programs, laid out as a QuakeC compiler lays them out.
#include "tests/example_programs.h"

#include "image/opcodes.h"

namespace tests {

using namespace image;

constexpr uint16_t kSaved = DEF_SAVEGLOBAL;

ProgsBuilder example_program() {
  ProgsBuilder b = new_program();

  // defs.qc: system globals, fields and builtins.
  b.add_globaldef(ev_entity, 28, "self");
  b.add_globaldef(ev_entity, 29, "world");
  b.add_globaldef(ev_float | kSaved, 30, "time");
  b.add_globaldef(ev_vector | kSaved, 31, "v_forward");
  b.add_globaldef(ev_field, 34, "origin");
  b.add_globaldef(ev_field, 35, "origin_x");
  b.add_globaldef(ev_field, 36, "origin_y");
  b.add_globaldef(ev_field, 37, "origin_z");
  b.add_globaldef(ev_field, 38, "health");
  b.add_globaldef(ev_field, 39, "think");
  b.add_globaldef(ev_field, 40, "th_pain");
  b.add_globaldef(ev_field, 41, "nextthink");
  b.add_fielddef(ev_vector, 0, "origin");
  b.add_fielddef(ev_float, 0, "origin_x");
  b.add_fielddef(ev_float, 1, "origin_y");
  b.add_fielddef(ev_float, 2, "origin_z");
  b.add_fielddef(ev_float, 3, "health");
  b.add_fielddef(ev_function, 4, "think");
  b.add_fielddef(ev_function, 5, "th_pain");
  b.add_fielddef(ev_float, 6, "nextthink");
  for (int ofs = 34; ofs <= 41; ++ofs) {
    b.set_int(ofs, ofs == 34 ? 0 : ofs - 34);
  }
  b.add_function_global(42, "makevectors", 1);
  b.add_function(-1, 43, 0, "makevectors", "defs.qc", {3});
  b.add_function_global(46, "precache_sound", 2);
  b.add_function(-19, 47, 0, "precache_sound", "defs.qc", {1});
  b.add_function_global(48, "random", 3);
  b.add_function(-7, 49, 0, "random", "defs.qc");
  b.add_function_global(49, "sound", 4);
  b.add_function(-8, 50, 0, "sound", "defs.qc", {1, 1, 1, 1, 1});

  // weapons.qc: the constants and variables of defs.qc land in front of W_Precache.
  b.add_globaldef(ev_float, 55, "pi");
  b.set_float(55, 3.14159f);
  b.add_globaldef(ev_string, 56, "version_text");
  b.set_int(56, b.add_string("v1.0\n"));
  b.add_globaldef(ev_float | kSaved, 57, "skill");
  b.add_globaldef(ev_float | kSaved, 58, "counter");
  b.set_float(58, 5);
  b.add_globaldef(ev_vector, 59, "spawn_origin");
  b.set_vector(59, 0, 0, -1);

  // void() W_Precache = { precache_sound ("weapons/r_exp3.wav"); };
  b.add_function_global(62, "W_Precache", 5);
  int first = b.add_statement(OP_STORE_S, 64, OFS_PARM0);
  b.add_statement(OP_CALL1, 46);
  b.add_statement(OP_DONE);
  b.add_function(first, 63, 0, "W_Precache", "weapons.qc");
  b.add_immediate_string(64, "weapons/r_exp3.wav");

  // float(float a, float b) max2 = { if (a > b) return a; else return b; };
  b.add_function_global(65, "max2", 6);
  b.add_globaldef(ev_float, 66, "a");
  b.add_globaldef(ev_float, 67, "b");
  first = b.add_statement(OP_GT, 66, 67, 68);
  b.add_statement(OP_IFNOT, 68, 3);
  b.add_statement(OP_RETURN, 66);
  b.add_statement(OP_GOTO, 2);
  b.add_statement(OP_RETURN, 67);
  b.add_statement(OP_DONE);
  b.add_function(first, 66, 3, "max2", "weapons.qc", {1, 1});

  // void() loop_test: a while loop and a do-while loop over a local.
  b.add_function_global(69, "loop_test", 7);
  b.add_globaldef(ev_float, 70, "i");
  b.add_immediate_float(74, 0);
  b.add_immediate_float(75, 10);
  b.add_immediate_float(76, 1);
  first = b.add_statement(OP_STORE_F, 74, 70);
  b.add_statement(OP_LT, 70, 75, 71);
  b.add_statement(OP_IFNOT, 71, 4);
  b.add_statement(OP_ADD_F, 70, 76, 72);
  b.add_statement(OP_STORE_F, 72, 70);
  b.add_statement(OP_GOTO, -4);
  b.add_statement(OP_SUB_F, 70, 76, 73);
  b.add_statement(OP_STORE_F, 73, 70);
  b.add_statement(OP_GT, 70, 74, 71);
  b.add_statement(OP_IF, 71, -3);
  b.add_statement(OP_DONE);
  b.add_function(first, 70, 4, "loop_test", "weapons.qc");

  // player/frames.qc: a frame function and the function it names before its body.
  b.add_function_global(77, "player_stand", 9);
  b.add_function_global(78, "player_run", 8);
  b.add_immediate_float(81, 1);
  b.add_immediate_float(82, 0.1f);
  first = b.add_statement(OP_STATE, 81, 77);
  b.add_statement(OP_ADD_F, 30, 82, 79);
  b.add_statement(OP_ADDRESS, 28, 41, 80);
  b.add_statement(OP_STOREP_F, 79, 80);
  b.add_statement(OP_DONE);
  b.add_function(first, 79, 2, "player_run", "player/frames.qc");

  b.add_globaldef(ev_float, 83, "r");
  b.add_immediate_float(85, 0.5f);
  b.add_immediate_float(86, 1);
  b.add_immediate_string(87, "misc/null.wav");
  b.add_immediate_float(88, 0);
  first = b.add_statement(OP_CALL0, 48);
  b.add_statement(OP_STORE_F, OFS_RETURN, 83);
  b.add_statement(OP_LT, 83, 85, 84);
  b.add_statement(OP_IFNOT, 84, 7);
  b.add_statement(OP_STORE_ENT, 28, OFS_PARM0);
  b.add_statement(OP_STORE_F, 86, OFS_PARM0 + 3);
  b.add_statement(OP_STORE_S, 87, OFS_PARM0 + 6);
  b.add_statement(OP_STORE_F, 86, OFS_PARM0 + 9);
  b.add_statement(OP_STORE_F, 88, OFS_PARM0 + 12);
  b.add_statement(OP_CALL5, 49);
  b.add_statement(OP_DONE);
  b.add_function(first, 83, 2, "player_stand", "player/frames.qc");

  // A source-file name that is no file name: sent to the file its function is known for.
  b.add_function_global(89, "SUB_Null", 10);
  first = b.add_statement(OP_RETURN, 0);
  b.add_statement(OP_DONE);
  b.add_function(first, 90, 0, "SUB_Null", "my-subs.qc");

  // No name and no source file: named function11 and sent to a numbered file.
  first = b.add_statement(OP_RETURN, 29);
  b.add_statement(OP_DONE);
  b.add_function(first, 90, 0, "", "");

  // world.qc
  b.add_globaldef(ev_float | kSaved, 90, "deathmatch");
  b.add_globaldef(ev_string, 91, "message_text");
  b.set_int(91, b.add_string("hello \"world\""));
  b.add_function_global(92, "main", 12);
  b.add_immediate_float(94, 2);
  first = b.add_statement(OP_CALL0, 62);
  b.add_statement(OP_STORE_F, 94, OFS_PARM0);
  b.add_statement(OP_STORE_F, 90, OFS_PARM0 + 3);
  b.add_statement(OP_CALL2, 65);
  b.add_statement(OP_STORE_F, OFS_RETURN, 90);
  b.add_statement(OP_DONE);
  b.add_function(first, 93, 0, "main", "world.qc");

  return b;
}

}  // namespace tests
