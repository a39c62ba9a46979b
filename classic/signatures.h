// QuakeC signatures of all functions: builtin prototypes, return types and parameters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/program_image.h"

namespace classic {

constexpr int kMaxFunctions = 8192;

struct SignatureTable {
  std::vector<std::string> texts;  // indexed like the function records; entry 0 unused
};
extern SignatureTable signatures;
void reset_signatures();

// Prototype texts of the engine's builtins by builtin number; null where none is known.
inline constexpr const char* BuiltinPrototypes[] = {
    nullptr,
    "void (vector ang)",
    "void (entity e, vector o)",
    "void (entity e, string m)",
    "void (entity e, vector min, vector max)",
    nullptr,
    "void ()",
    "float ()",
    "void (entity e, float chan, string samp, float vol, float atten)",
    "vector (vector v)",
    "void (string e)",
    "void (string e)",
    "float (vector v)",
    "float (vector v)",
    "entity ()",
    "void (entity e)",
    "void (vector v1, vector v2, float nomonsters, entity forent)",
    "entity ()",
    "entity (entity start, .string fld, string match)",
    "string (string s)",
    "string (string s)",
    "void (entity client, string s)",
    "entity (vector org, float rad)",
    "void (string s)",
    "void (entity client, string s)",
    "void (string s)",
    "string (float f)",
    "string (vector v)",
    "void ()",
    "void ()",
    "void ()",
    "void (entity e)",
    "float (float yaw, float dist)",
    nullptr,
    "float (float yaw, float dist)",
    "void (float style, string value)",
    "float (float v)",
    "float (float v)",
    "float (float v)",
    nullptr,
    "float (entity e)",
    "float (vector v)",
    nullptr,
    "float (float f)",
    "vector (entity e, float speed)",
    "float (string s)",
    "void (string s)",
    "entity (entity e)",
    "void (vector o, vector d, float color, float count)",
    "void ()",
    nullptr,
    "vector (vector v)",
    "void (float to, float f)",
    "void (float to, float f)",
    "void (float to, float f)",
    "void (float to, float f)",
    "void (float to, float f)",
    "void (float to, float f)",
    "void (float to, string s)",
    "void (float to, entity s)",
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    "void (float step)",
    "string (string s)",
    "void (entity e)",
    "void (string s)",
    nullptr,
    "void (string var, string val)",
    "void (entity client, string s, ...)",
    "void (vector pos, string samp, float vol, float atten)",
    "string (string s)",
    "string (string s)",
    "string (string s)",
    "void (entity e)",
    "void(entity killer, entity killee)",
    "string(entity e, string key)",
    "float(string s)",
};
static_assert(std::size(BuiltinPrototypes) == 82);

// Fills the table for functions 1 .. numfunctions - 1, with warnings on the console.
void build_signatures();

}  // namespace classic
