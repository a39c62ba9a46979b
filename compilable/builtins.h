// The engine's builtin functions as Quake's own game code declares them: names for builtins
// a program left unnamed, and types where the program's calls tell nothing.
#pragma once

#include <cstdint>
#include <iterator>

#include "image/opcodes.h"

namespace compilable {

struct BuiltinRow {
  int32_t number;
  const char* name;
  image::TypeTag returns;
  int parameter_count;
  image::TypeTag parameters[8];
};

using image::ev_entity;
using image::ev_float;
using image::ev_string;
using image::ev_vector;
using image::ev_void;

// Builtin 18's second parameter is a field; written as a float here and typed by its calls.
inline constexpr BuiltinRow BuiltinTable[] = {
    {1, "makevectors", ev_void, 1, {ev_vector}},
    {2, "setorigin", ev_void, 2, {ev_entity, ev_vector}},
    {3, "setmodel", ev_void, 2, {ev_entity, ev_string}},
    {4, "setsize", ev_void, 3, {ev_entity, ev_vector, ev_vector}},
    {6, "break", ev_void, 0, {}},
    {7, "random", ev_float, 0, {}},
    {8, "sound", ev_void, 5, {ev_entity, ev_float, ev_string, ev_float, ev_float}},
    {9, "normalize", ev_vector, 1, {ev_vector}},
    {10, "error", ev_void, 1, {ev_string}},
    {11, "objerror", ev_void, 1, {ev_string}},
    {12, "vlen", ev_float, 1, {ev_vector}},
    {13, "vectoyaw", ev_float, 1, {ev_vector}},
    {14, "spawn", ev_entity, 0, {}},
    {15, "remove", ev_void, 1, {ev_entity}},
    {16, "traceline", ev_void, 4, {ev_vector, ev_vector, ev_float, ev_entity}},
    {17, "checkclient", ev_entity, 0, {}},
    {18, "find", ev_entity, 3, {ev_entity, ev_float, ev_string}},
    {19, "precache_sound", ev_string, 1, {ev_string}},
    {20, "precache_model", ev_string, 1, {ev_string}},
    {21, "stuffcmd", ev_void, 2, {ev_entity, ev_string}},
    {22, "findradius", ev_entity, 2, {ev_vector, ev_float}},
    {23, "bprint", ev_void, 1, {ev_string}},
    {24, "sprint", ev_void, 2, {ev_entity, ev_string}},
    {25, "dprint", ev_void, 1, {ev_string}},
    {26, "ftos", ev_string, 1, {ev_float}},
    {27, "vtos", ev_string, 1, {ev_vector}},
    {28, "coredump", ev_void, 0, {}},
    {29, "traceon", ev_void, 0, {}},
    {30, "traceoff", ev_void, 0, {}},
    {31, "eprint", ev_void, 1, {ev_entity}},
    {32, "walkmove", ev_float, 2, {ev_float, ev_float}},
    {34, "droptofloor", ev_float, 0, {}},
    {35, "lightstyle", ev_void, 2, {ev_float, ev_string}},
    {36, "rint", ev_float, 1, {ev_float}},
    {37, "floor", ev_float, 1, {ev_float}},
    {38, "ceil", ev_float, 1, {ev_float}},
    {40, "checkbottom", ev_float, 1, {ev_entity}},
    {41, "pointcontents", ev_float, 1, {ev_vector}},
    {43, "fabs", ev_float, 1, {ev_float}},
    {44, "aim", ev_vector, 2, {ev_entity, ev_float}},
    {45, "cvar", ev_float, 1, {ev_string}},
    {46, "localcmd", ev_void, 1, {ev_string}},
    {47, "nextent", ev_entity, 1, {ev_entity}},
    {48, "particle", ev_void, 4, {ev_vector, ev_vector, ev_float, ev_float}},
    {49, "ChangeYaw", ev_void, 0, {}},
    {51, "vectoangles", ev_vector, 1, {ev_vector}},
    {52, "WriteByte", ev_void, 2, {ev_float, ev_float}},
    {53, "WriteChar", ev_void, 2, {ev_float, ev_float}},
    {54, "WriteShort", ev_void, 2, {ev_float, ev_float}},
    {55, "WriteLong", ev_void, 2, {ev_float, ev_float}},
    {56, "WriteCoord", ev_void, 2, {ev_float, ev_float}},
    {57, "WriteAngle", ev_void, 2, {ev_float, ev_float}},
    {58, "WriteString", ev_void, 2, {ev_float, ev_string}},
    {59, "WriteEntity", ev_void, 2, {ev_float, ev_entity}},
    {67, "movetogoal", ev_void, 1, {ev_float}},
    {68, "precache_file", ev_string, 1, {ev_string}},
    {69, "makestatic", ev_void, 1, {ev_entity}},
    {70, "changelevel", ev_void, 1, {ev_string}},
    {72, "cvar_set", ev_void, 2, {ev_string, ev_string}},
    {73, "centerprint", ev_void, 2, {ev_entity, ev_string}},
    {74, "ambientsound", ev_void, 4, {ev_vector, ev_string, ev_float, ev_float}},
    {75, "precache_model2", ev_string, 1, {ev_string}},
    {76, "precache_sound2", ev_string, 1, {ev_string}},
    {77, "precache_file2", ev_string, 1, {ev_string}},
    {78, "setspawnparms", ev_void, 1, {ev_entity}},
};

// The row of a builtin number, or null.
const BuiltinRow* find_builtin(int64_t number);

}  // namespace compilable
