// Programs at the format's full scale, laid out as a QuakeC compiler lays them out.
#include "tests/large_programs.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "image/opcodes.h"

namespace tests {

namespace {

using image::ev_entity;
using image::ev_field;
using image::ev_float;
using image::ev_function;
using image::ev_string;
using image::ev_vector;
using image::ev_void;

using image::OP_ADD_F;
using image::OP_ADD_V;
using image::OP_ADDRESS;
using image::OP_AND;
using image::OP_BITAND;
using image::OP_BITOR;
using image::OP_CALL0;
using image::OP_CALL1;
using image::OP_CALL2;
using image::OP_CALL5;
using image::OP_DIV_F;
using image::OP_DONE;
using image::OP_EQ_E;
using image::OP_EQ_F;
using image::OP_GE;
using image::OP_GOTO;
using image::OP_GT;
using image::OP_IF;
using image::OP_IFNOT;
using image::OP_LE;
using image::OP_LOAD_ENT;
using image::OP_LOAD_F;
using image::OP_LOAD_FLD;
using image::OP_LOAD_FNC;
using image::OP_LOAD_S;
using image::OP_LOAD_V;
using image::OP_LT;
using image::OP_MUL_F;
using image::OP_MUL_VF;
using image::OP_NE_F;
using image::OP_NOT_ENT;
using image::OP_NOT_F;
using image::OP_OR;
using image::OP_RETURN;
using image::OP_STATE;
using image::OP_STORE_ENT;
using image::OP_STORE_F;
using image::OP_STORE_FLD;
using image::OP_STORE_FNC;
using image::OP_STORE_S;
using image::OP_STORE_V;
using image::OP_STOREP_ENT;
using image::OP_STOREP_F;
using image::OP_STOREP_FLD;
using image::OP_STOREP_FNC;
using image::OP_STOREP_S;
using image::OP_STOREP_V;
using image::OP_SUB_F;

constexpr uint16_t kSaved = image::DEF_SAVEGLOBAL;
constexpr int kParm0 = image::OFS_PARM0;  // argument k is at kParm0 + 3k
constexpr int kReturn = image::OFS_RETURN;
constexpr int kSelf = 28;  // the first system globals: self, other, world, time
constexpr int kTime = 31;

// The format's capacities; a program of e eighths gets e/8 of each.
struct Limits {
  int numfunctions;  // function records, record 0 included
  int numstatements;
  int cells;
  int defs;
  int strings;
  int fielddefs;
};

// The STORE, STOREP and INDIRECT rows of each type that a program moves.
struct TypeOpcodes {
  image::Opcode store;
  image::Opcode store_pointer;
  image::Opcode load;
};

TypeOpcodes opcodes_of(uint16_t tag) {
  switch (tag) {
    case ev_vector:
      return {OP_STORE_V, OP_STOREP_V, OP_LOAD_V};
    case ev_string:
      return {OP_STORE_S, OP_STOREP_S, OP_LOAD_S};
    case ev_entity:
      return {OP_STORE_ENT, OP_STOREP_ENT, OP_LOAD_ENT};
    case ev_field:
      return {OP_STORE_FLD, OP_STOREP_FLD, OP_LOAD_FLD};
    case ev_function:
      return {OP_STORE_FNC, OP_STOREP_FNC, OP_LOAD_FNC};
    default:
      return {OP_STORE_F, OP_STOREP_F, OP_LOAD_F};
  }
}

uint16_t store_op(uint16_t tag) { return static_cast<uint16_t>(opcodes_of(tag).store); }

uint16_t storep_op(uint16_t tag) { return static_cast<uint16_t>(opcodes_of(tag).store_pointer); }

uint16_t indirect_op(uint16_t tag) { return static_cast<uint16_t>(opcodes_of(tag).load); }

int cells_of(uint16_t tag) { return tag == ev_vector ? 3 : 1; }

uint16_t tag_of_letter(char letter) {
  switch (letter) {
    case 'f':
      return ev_float;
    case 'v':
      return ev_vector;
    case 's':
      return ev_string;
    case 'e':
      return ev_entity;
    case 'd':
      return ev_field;
    default:
      return ev_void;
  }
}

// The engine's builtins: number, name, one letter per parameter (f float, v vector,
// s string, e entity, d field) and the letter of the result (blank for none).
struct BuiltinRow {
  int number;
  const char* name;
  const char* params;
  char returns;
};

constexpr BuiltinRow Builtins[] = {
    {1, "makevectors", "v", ' '},
    {2, "setorigin", "ev", ' '},
    {3, "setmodel", "es", ' '},
    {4, "setsize", "evv", ' '},
    {6, "break", "", ' '},
    {7, "random", "", 'f'},
    {8, "sound", "efsff", ' '},
    {9, "normalize", "v", 'v'},
    {10, "error", "s", ' '},
    {11, "objerror", "s", ' '},
    {12, "vlen", "v", 'f'},
    {13, "vectoyaw", "v", 'f'},
    {14, "spawn", "", 'e'},
    {15, "remove", "e", ' '},
    {16, "traceline", "vvfe", ' '},
    {17, "checkclient", "", 'e'},
    {18, "find", "eds", 'e'},
    {19, "precache_sound", "s", 's'},
    {20, "precache_model", "s", 's'},
    {21, "stuffcmd", "es", ' '},
    {22, "findradius", "vf", 'e'},
    {23, "bprint", "s", ' '},
    {24, "sprint", "es", ' '},
    {25, "dprint", "s", ' '},
    {26, "ftos", "f", 's'},
    {27, "vtos", "v", 's'},
    {28, "coredump", "", ' '},
    {29, "traceon", "", ' '},
    {30, "traceoff", "", ' '},
    {31, "eprint", "e", ' '},
    {32, "walkmove", "ff", 'f'},
    {34, "droptofloor", "ff", 'f'},
    {35, "lightstyle", "fs", ' '},
    {36, "rint", "f", 'f'},
    {37, "floor", "f", 'f'},
    {38, "ceil", "f", 'f'},
    {40, "checkbottom", "e", 'f'},
    {41, "pointcontents", "v", 'f'},
    {43, "fabs", "f", 'f'},
    {44, "aim", "ef", 'v'},
    {45, "cvar", "s", 'f'},
    {46, "localcmd", "s", ' '},
    {47, "nextent", "e", 'e'},
    {48, "particle", "vvff", ' '},
    {49, "ChangeYaw", "", ' '},
    {51, "vectoangles", "v", 'v'},
    {52, "WriteByte", "ff", ' '},
    {53, "WriteChar", "ff", ' '},
    {54, "WriteShort", "ff", ' '},
    {55, "WriteLong", "ff", ' '},
    {56, "WriteCoord", "ff", ' '},
    {57, "WriteAngle", "ff", ' '},
    {58, "WriteString", "fs", ' '},
    {59, "WriteEntity", "fe", ' '},
    {67, "movetogoal", "f", ' '},
    {68, "precache_file", "s", 's'},
    {69, "makestatic", "e", ' '},
    {70, "changelevel", "s", ' '},
    {72, "cvar_set", "ss", ' '},
    {73, "centerprint", "es", ' '},
    {74, "ambientsound", "vsff", ' '},
    {75, "precache_model2", "s", 's'},
    {76, "precache_sound2", "s", 's'},
    {77, "precache_file2", "s", 's'},
    {78, "setspawnparms", "e", ' '},
    {79, "logfrag", "ee", ' '},
    {80, "infokey", "es", 's'},
    {81, "stof", "s", 'f'},
};

// The engine's global variables and entity fields, as every program declares them.
struct SystemRow {
  const char* name;
  char type;
};

constexpr SystemRow SystemGlobals[] = {
    {"self", 'e'},
    {"other", 'e'},
    {"world", 'e'},
    {"time", 'f'},
    {"frametime", 'f'},
    {"force_retouch", 'f'},
    {"mapname", 's'},
    {"deathmatch", 'f'},
    {"coop", 'f'},
    {"teamplay", 'f'},
    {"serverflags", 'f'},
    {"total_secrets", 'f'},
    {"total_monsters", 'f'},
    {"found_secrets", 'f'},
    {"killed_monsters", 'f'},
    {"parm1", 'f'},
    {"parm2", 'f'},
    {"parm3", 'f'},
    {"parm4", 'f'},
    {"parm5", 'f'},
    {"parm6", 'f'},
    {"parm7", 'f'},
    {"parm8", 'f'},
    {"parm9", 'f'},
    {"v_forward", 'v'},
    {"v_up", 'v'},
    {"v_right", 'v'},
    {"trace_allsolid", 'f'},
    {"trace_startsolid", 'f'},
    {"trace_fraction", 'f'},
    {"trace_endpos", 'v'},
    {"trace_plane_normal", 'v'},
    {"trace_plane_dist", 'f'},
    {"trace_ent", 'e'},
    {"trace_inopen", 'f'},
    {"trace_inwater", 'f'},
    {"msg_entity", 'e'},
};

// The most used fields first: small programs keep only the head of the list.
constexpr SystemRow SystemFields[] = {
    {"origin", 'v'},     {"health", 'f'},     {"think", 'n'},      {"nextthink", 'f'},
    {"enemy", 'e'},      {"classname", 's'},  {"velocity", 'v'},   {"angles", 'v'},
    {"frame", 'f'},      {"touch", 'n'},      {"use", 'n'},        {"th_pain", 'n'},
    {"model", 's'},      {"movetype", 'f'},   {"solid", 'f'},      {"flags", 'f'},
    {"owner", 'e'},      {"takedamage", 'f'}, {"target", 's'},     {"targetname", 's'},
    {"goalentity", 'e'}, {"ideal_yaw", 'f'},  {"yaw_speed", 'f'},  {"max_health", 'f'},
    {"th_stand", 'n'},   {"th_walk", 'n'},    {"th_run", 'n'},     {"th_die", 'n'},
    {"mins", 'v'},       {"maxs", 'v'},       {"modelindex", 'f'}, {"ltime", 'f'},
    {"skin", 'f'},       {"effects", 'f'},    {"weapon", 'f'},     {"items", 'f'},
    {"deadflag", 'f'},   {"netname", 's'},    {"spawnflags", 'f'}, {"message", 's'},
    {"noise", 's'},      {"chain", 'e'},      {"frags", 'f'},      {"armorvalue", 'f'},
    {"waterlevel", 'f'}, {"watertype", 'f'},  {"dmg_take", 'f'},   {"sounds", 'f'},
    {"wait", 'f'},       {"delay", 'f'},      {"speed", 'f'},      {"attack_finished", 'f'},
    {"view_ofs", 'v'},   {"movedir", 'v'},    {"blocked", 'n'},    {"aiment", 'e'},
};

constexpr const char* EngineFunctions[] = {
    "StartFrame",        "PlayerPreThink",   "PlayerPostThink", "ClientKill",     "ClientConnect",
    "PutClientInServer", "ClientDisconnect", "SetNewParms",     "SetChangeParms",
};

constexpr const char* AiFunctions[] = {
    "ai_stand", "ai_walk", "ai_run",     "ai_face", "ai_charge",
    "ai_pain",  "ai_back", "ai_forward", "ai_turn", "ai_painforward",
};

// Names the decompiler knows the file of, for functions whose file name is unusable.
constexpr const char* KnownNames[] = {
    "button_wait",   "anglemod",           "boss_face",    "info_intermission",
    "CanDamage",     "dog_bite",           "door_blocked", "Laser_Touch",
    "knight_attack", "hknight_shot",       "SUB_regen",    "info_null",
    "monster_use",   "OgreGrenadeExplode", "SUB_Null",     "trigger_reactivate",
    "W_Precache",    "LaunchMissile",      "main",         "plat_spawn_inside_trigger",
};

constexpr const char* UnusableFiles[] = {
    "old-ai.qc", "my subs.qc",  "weap~1.qc",   "",
    "misc#2.qc", "ctf:flag.qc", "bot's.qc",    "q+.qc",
    "x@y.qc",    "fight(2).qc", "temp,1.qc",   "a&b.qc",
    "100%.qc",   "tab\t.qc",    "euro\xe9.qc", "semi;colon.qc",
};

constexpr const char* MonsterStems[] = {
    "army",     "dog",     "demon",    "fish",    "hknight",  "knight",   "ogre",   "shalrath",
    "shambler", "soldier", "tarbaby",  "wizard",  "zombie",   "enforcer", "boss",   "oldone",
    "grunt",    "fiend",   "vore",     "spawn",   "scrag",    "rotfish",  "lord",   "chthon",
    "gremlin",  "scourge", "centroid", "phantom", "mummy",    "dragon",   "wrath",  "drole",
    "guardian", "golem",   "imp",      "wraith",  "ghoul",    "hound",    "spider", "bat",
    "rat",      "croc",    "gaunt",    "harpy",   "minotaur", "cyclops",  "hydra",  "wyvern",
    "troll",    "orc",     "goblin",   "kobold",  "lich",     "sentry",   "turret", "drone",
};

constexpr const char* OtherStems[] = {
    "weapons", "items",  "triggers", "doors",    "plats",    "buttons",  "misc",         "subs",
    "combat",  "fight",  "world",    "spectate", "teamplay", "ctf",      "bot",          "hook",
    "admin",   "motd",   "vote",     "maplist",  "runes",    "observer", "camera",       "effects",
    "sounds",  "lights", "waypoint", "physics",  "gibs",     "secrets",  "intermission", "scores",
};

constexpr const char* Animations[] = {
    "stand", "walk", "run",  "atk",  "pain",  "death", "fire", "swim", "jump",  "melee",
    "shot",  "idle", "turn", "leap", "magic", "smash", "die",  "fly",  "paina", "painb",
};

constexpr const char* Words[] = {
    "attack", "health", "speed", "range",   "delay",  "count",   "angle",   "target", "light",
    "door",   "plat",   "train", "button",  "secret", "water",   "lava",    "slime",  "fire",
    "ammo",   "rocket", "nail",  "shell",   "cell",   "armor",   "quad",    "ring",   "suit",
    "key",    "rune",   "bolt",  "grenade", "laser",  "spike",   "shot",    "axe",    "jump",
    "pain",   "death",  "stand", "walk",    "melee",  "missile", "idle",    "sight",  "search",
    "touch",  "think",  "spawn", "frag",    "score",  "level",   "skill",   "wait",   "sound",
    "model",  "effect", "trail", "blood",   "gib",    "flash",   "explode", "bounce", "fly",
    "swim",   "drop",   "push",  "lock",    "open",   "close",   "fade",    "beam",   "spark",
};

constexpr const char* ParamNames[] = {
    "dist", "targ", "attacker", "damage", "org", "dir", "value", "inflictor", "ent", "amount",
};

constexpr const char* LocalNames[] = {
    "r", "d", "e", "t", "i", "head", "spot", "len", "best", "oldself", "dmg", "frac",
};

constexpr float FloatValues[] = {
    0,    1,    2,     3,    4,    5,    6,   7,   8,    10,   12,    15,    16,
    20,   24,   25,    30,   32,   40,   50,  64,  80,   100,  120,   128,   150,
    200,  250,  256,   300,  400,  500,  600, 800, 1000, 0.1f, 0.2f,  0.25f, 0.3f,
    0.5f, 0.6f, 0.75f, 0.8f, 0.9f, 1.5f, -1,  -2,  -10,  2.5f, 0.05f, 0.01f, 1e6f,
};

constexpr const char* SoundNames[] = {
    "misc/null.wav",     "weapons/r_exp3.wav", "items/damage.wav",  "player/pain1.wav",
    "doors/drclos4.wav", "misc/talk.wav",      "weapons/lock4.wav", "ambience/windfly.wav",
};

constexpr const char* MessageWords[] = {
    "You",  "need",    "the",    "silver",     "key",   "to",    "open",     "this",  "door",
    "gold", "rune",    "secret", "area",       "found", "level", "complete", "press", "fire",
    "jump", "welcome", "arena",  "\"quoted\"", "frag",  "limit", "time",     "left",  "\n",
};

// splitmix64: the same seed gives the same program on every platform.
struct Random {
  uint64_t state;
};

uint64_t next_random(Random& random) {
  uint64_t z = (random.state += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

struct Callable {
  int def_ofs;
  std::vector<uint16_t> params;
  uint16_t returns;
};

enum class Returns { kNothing, kTemporary, kNamed, kCallResult, kEntity };

struct FunctionPlan {
  std::string name;  // empty: an unnamed function, without a global
  Returns returns = Returns::kNothing;
  int params = -1;            // -1: chosen at random
  bool tail_temp = false;     // the area ends with a temporary that the body names
  bool alias_return = false;  // returns a call's result through the cell 27 below parm_start
  bool defer_body = false;    // the body goes after the next function's in the statements
  bool bare = false;          // the body is its return alone
  bool float_params = false;  // every parameter is a float
};

// One function body under construction, with jumps relative to its own first instruction.
struct Body {
  std::vector<RawStatement> code;
  std::vector<int> temps;
  std::vector<int> free_temps;
  int vector_temp = -1;
  std::vector<int> floats;  // parameters and locals
  std::vector<int> entities;
  std::vector<int> vectors;
  int area_cells = 0;  // cells the area may still take for immediates and vectors
};

struct Generator {
  ProgsBuilder b;
  Random random;
  Limits limits;
  int cursor = 0;
  int next_field = 0;
  std::set<std::string> names;
  std::map<uint32_t, int> float_immediates;
  std::map<std::string, int> string_immediates;
  std::vector<int> message_cells;
  std::map<std::string, int> pending_defs;  // declared ahead, defined later
  int32_t file_name = 0;

  std::vector<int> float_globals;  // readable: constants and variables
  std::vector<int> float_targets;
  std::vector<int> unstored_targets;
  std::vector<int> string_globals;
  std::vector<int> string_targets;
  std::vector<int> vector_globals;
  std::vector<int> vector_targets;
  std::vector<int> entity_globals;
  std::vector<int> float_fields;
  std::vector<int> vector_fields;
  std::vector<int> string_fields;
  std::vector<int> entity_fields;
  std::vector<int> function_fields;

  std::vector<Callable> callables;
  std::map<std::string, int> builtin;  // builtin name → callable
  std::vector<int> ai_with_distance;
  std::vector<int> ai_plain;
  std::vector<int> plain_calls;  // callables without parameters
  std::vector<int> must_read;    // callables whose result a later function must read

  std::vector<RawStatement> deferred;
  int deferred_record = -1;

  int frames_left = 0;
  int ordinary_left = 0;
  int global_cells_left = 0;  // named globals and fields still to declare
  int unnamed_left = 0;
  int messages_left = 0;
  int pairs_left = 0;
  int frames_made = 0;
  int frame_statements = 0;

  int below(int n) { return n <= 1 ? 0 : static_cast<int>(next_random(random) % uint64_t(n)); }
  bool percent(int p) { return below(100) < p; }
  int pick(const std::vector<int>& list) { return list[below(static_cast<int>(list.size()))]; }
  template <typename T, size_t N>
  const T& pick(const T (&table)[N]) {
    return table[below(static_cast<int>(N))];
  }

  int statements_used() const { return static_cast<int>(b.statements.size() + deferred.size()); }
  int defs_used() const { return static_cast<int>(b.globaldefs.size()); }
  int fielddefs_used() const { return static_cast<int>(b.fielddefs.size()); }
  int records_left() const { return limits.numfunctions - static_cast<int>(b.functions.size()); }

  int alloc(int cells) {
    int ofs = cursor;
    cursor += cells;
    return ofs;
  }

  std::string unique(const std::string& base) {
    std::string name = base;
    for (int n = 2; names.count(name) != 0; ++n) {
      name = base + std::to_string(n);
    }
    names.insert(name);
    return name;
  }

  void add_def(uint16_t type, int ofs, const std::string& name) {
    b.add_globaldef(type, static_cast<uint16_t>(ofs), name);
  }

  // A vector global brings the definitions of its three components along.
  void add_vector_defs(uint16_t type, int ofs, const std::string& name) {
    add_def(type, ofs, name);
    add_def(ev_float, ofs, name + "_x");
    add_def(ev_float, ofs + 1, name + "_y");
    add_def(ev_float, ofs + 2, name + "_z");
  }

  int function_def(const std::string& name) {
    auto pending = pending_defs.find(name);
    if (pending != pending_defs.end()) {
      int ofs = pending->second;
      pending_defs.erase(pending);
      return ofs;
    }
    int ofs = alloc(1);
    add_def(ev_function, ofs, name);
    return ofs;
  }

  void declare_prototype(const std::string& name) {
    int ofs = alloc(1);
    add_def(ev_function, ofs, name);
    pending_defs[name] = ofs;
  }

  int add_record(int32_t first_statement, int parm_start, int locals, const std::string& name,
                 const std::vector<uint8_t>& parm_sizes) {
    RawFunction function{};
    function.first_statement = first_statement;
    function.parm_start = parm_start;
    function.locals = locals;
    function.s_name = b.add_string(name);
    function.s_file = file_name;
    function.numparms = static_cast<int32_t>(parm_sizes.size());
    for (size_t i = 0; i < parm_sizes.size() && i < 8; ++i) {
      function.parm_size[i] = parm_sizes[i];
    }
    b.functions.push_back(function);
    return static_cast<int>(b.functions.size()) - 1;
  }

  int place_body(const std::vector<RawStatement>& code) {
    int first = static_cast<int>(b.statements.size());
    b.statements.insert(b.statements.end(), code.begin(), code.end());
    return first;
  }

  // --- Global declarations ---

  void declare_field(uint16_t type, const std::string& field_name) {
    int ofs = alloc(type == ev_vector ? 4 : 1);
    add_def(ev_field, ofs, field_name);
    b.set_int(ofs, next_field);
    b.add_fielddef(type, static_cast<uint16_t>(next_field), field_name);
    if (type == ev_vector) {
      const char* axes[] = {"_x", "_y", "_z"};
      for (int k = 0; k < 3; ++k) {
        add_def(ev_field, ofs + 1 + k, field_name + axes[k]);
        b.set_int(ofs + 1 + k, next_field + k);
        b.add_fielddef(ev_float, static_cast<uint16_t>(next_field + k), field_name + axes[k]);
      }
    }
    next_field += cells_of(type);
    switch (type) {
      case ev_float:
        float_fields.push_back(ofs);
        break;
      case ev_vector:
        vector_fields.push_back(ofs);
        break;
      case ev_string:
        string_fields.push_back(ofs);
        break;
      case ev_entity:
        entity_fields.push_back(ofs);
        break;
      default:
        function_fields.push_back(ofs);
        break;
    }
  }

  std::string upper(std::string text) {
    for (char& c : text) {
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
  }

  // Declares one global or field that fits in `room` cells and returns the cells it took.
  int declare_global(const std::string& stem, int room, int field_percent) {
    const std::string word = pick(Words);
    if (percent(field_percent) && fielddefs_used() + 4 <= limits.fielddefs) {
      uint16_t types[] = {ev_float,  ev_float,  ev_float,   ev_vector,
                          ev_string, ev_entity, ev_function};
      uint16_t type = types[below(7)];
      if (type == ev_vector && room < 4) {
        type = ev_float;
      }
      declare_field(type, unique(word + "_" + pick(Words)));
      return type == ev_vector ? 4 : 1;
    }
    const int roll = below(100);
    if (roll < 34) {
      int ofs = alloc(1);
      add_def(ev_float, ofs, unique(upper(stem + "_" + word)));
      const float base = FloatValues[below(std::size(FloatValues))];
      b.set_float(ofs, base + static_cast<float>(below(4)));
      float_globals.push_back(ofs);
      return 1;
    }
    if (roll < 60) {
      int ofs = alloc(1);
      add_def(ev_float, ofs, unique(stem + "_" + word));
      b.set_float(ofs, static_cast<float>(1 + below(50)));
      float_globals.push_back(ofs);
      float_targets.push_back(ofs);
      unstored_targets.push_back(ofs);
      return 1;
    }
    if (roll < 72) {
      int ofs = alloc(1);
      add_def(ev_float | kSaved, ofs, unique(stem + "_" + word + "_state"));
      float_globals.push_back(ofs);
      float_targets.push_back(ofs);
      return 1;
    }
    if (roll < 82) {
      int ofs = alloc(1);
      add_def(ev_string, ofs, unique(upper(stem + "_" + word) + "_TEXT"));
      b.set_int(ofs, b.add_string(std::string(word) + " of the " + stem));
      string_globals.push_back(ofs);
      return 1;
    }
    if (roll < 87) {
      int ofs = alloc(1);
      add_def(ev_string | kSaved, ofs, unique(stem + "_" + word + "_name"));
      string_globals.push_back(ofs);
      string_targets.push_back(ofs);
      return 1;
    }
    if (roll < 95 && room >= 3) {
      int ofs = alloc(3);
      bool saved = percent(30);
      add_vector_defs(
          saved ? ev_vector | kSaved : ev_vector, ofs,
          saved ? unique(stem + "_" + word + "_vec") : unique(upper(stem + "_" + word) + "_VEC"));
      if (saved) {
        vector_targets.push_back(ofs);
      } else {
        const float x = static_cast<float>(below(64)) - 32;
        const float y = static_cast<float>(below(64));
        b.set_vector(ofs, x, y, static_cast<float>(below(3)) * 8);
      }
      vector_globals.push_back(ofs);
      return 3;
    }
    int ofs = alloc(1);
    add_def(ev_entity | kSaved, ofs, unique(stem + "_" + word + "_ent"));
    entity_globals.push_back(ofs);
    return 1;
  }

  // Declares globals and fields taking exactly `cells` cells; fields take their share of
  // what is left to declare.
  void globals_block(const std::string& stem, int cells) {
    const int field_room = limits.fielddefs - fielddefs_used() - 4;
    const int field_percent =
        global_cells_left > 0 ? std::clamp(field_room * 100 / global_cells_left, 0, 70) : 0;
    while (cells > 0) {
      cells -= declare_global(stem, cells, field_percent);
    }
  }

  // --- Values and expressions inside a body ---

  void emit(Body& body, uint16_t op, int a = 0, int b_operand = 0, int c = 0) {
    body.code.push_back(RawStatement{op, static_cast<int16_t>(a), static_cast<int16_t>(b_operand),
                                     static_cast<int16_t>(c)});
  }

  int temp(Body& body) {
    if (!body.free_temps.empty()) {
      int ofs = body.free_temps.back();
      body.free_temps.pop_back();
      return ofs;
    }
    int ofs = alloc(1);
    body.temps.push_back(ofs);
    return ofs;
  }

  void release(Body& body, int ofs) {
    if (std::find(body.temps.begin(), body.temps.end(), ofs) != body.temps.end() &&
        std::find(body.free_temps.begin(), body.free_temps.end(), ofs) == body.free_temps.end()) {
      body.free_temps.push_back(ofs);
    }
  }

  void release_all(Body& body) { body.free_temps = body.temps; }

  int vector_temp(Body& body) {
    if (body.vector_temp < 0) {
      body.vector_temp = alloc(3);
      body.area_cells -= 3;
    }
    return body.vector_temp;
  }

  int float_immediate(Body& body, float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    auto found = float_immediates.find(bits);
    if (found != float_immediates.end()) {
      return found->second;
    }
    int ofs = alloc(1);
    body.area_cells -= 1;
    add_def(ev_float, ofs, "IMMEDIATE");
    b.set_float(ofs, value);
    float_immediates[bits] = ofs;
    return ofs;
  }

  int string_immediate(Body& body, const std::string& text) {
    auto found = string_immediates.find(text);
    if (found != string_immediates.end()) {
      return found->second;
    }
    int ofs = alloc(1);
    body.area_cells -= 1;
    add_def(ev_string, ofs, "IMMEDIATE");
    b.set_int(ofs, b.add_string(text));
    string_immediates[text] = ofs;
    return ofs;
  }

  // A long text whose bytes are written once the whole program is known.
  int message_immediate() {
    int ofs = alloc(1);
    add_def(ev_string, ofs, "IMMEDIATE");
    message_cells.push_back(ofs);
    return ofs;
  }

  int entity_leaf(Body& body) {
    if (!body.entities.empty() && percent(40)) {
      return pick(body.entities);
    }
    if (percent(60)) {
      return kSelf;
    }
    return pick(entity_globals);
  }

  int entity_value(Body& body, bool allow_call) {
    if (allow_call && percent(10)) {
      return call(body, builtin[percent(50) ? "spawn" : "nextent"], 0);
    }
    if (!entity_fields.empty() && percent(20)) {
      int ent = entity_leaf(body);
      int t = temp(body);
      emit(body, indirect_op(ev_entity), ent, pick(entity_fields), t);
      return t;
    }
    return entity_leaf(body);
  }

  int float_leaf(Body& body) {
    const int roll = below(100);
    if (roll < 25 && !body.floats.empty()) {
      return pick(body.floats);
    }
    if (roll < 52 && !float_globals.empty()) {
      return pick(float_globals);
    }
    if (roll < 56 && !vector_globals.empty()) {
      return pick(vector_globals);  // read as its first component
    }
    if (roll < 70 && !float_fields.empty()) {
      int ent = entity_value(body, false);
      release(body, ent);
      int t = temp(body);
      emit(body, OP_LOAD_F, ent, pick(float_fields), t);
      return t;
    }
    return float_immediate(body, FloatValues[below(std::size(FloatValues))]);
  }

  int float_callable() {
    for (int tries = 0; tries < 8; ++tries) {
      int k = below(static_cast<int>(callables.size()));
      if (callables[k].returns == ev_float) {
        return k;
      }
    }
    return builtin["random"];
  }

  int float_expr(Body& body, int depth, bool allow_call) {
    if (depth <= 0 || percent(25)) {
      if (allow_call && percent(15)) {
        return call(body, float_callable(), 1);
      }
      return float_leaf(body);
    }
    static constexpr uint16_t Operators[] = {
        OP_ADD_F, OP_ADD_F, OP_ADD_F, OP_SUB_F, OP_SUB_F, OP_MUL_F, OP_MUL_F, OP_DIV_F,  OP_LT,
        OP_GT,    OP_LE,    OP_GE,    OP_EQ_F,  OP_NE_F,  OP_AND,   OP_OR,    OP_BITAND, OP_BITOR,
    };
    const uint16_t op = pick(Operators);
    int a = float_expr(body, depth - 1, false);
    int b_value = float_expr(body, depth - 1, allow_call);
    release(body, a);
    release(body, b_value);
    int t = temp(body);
    emit(body, op, a, b_value, t);
    return t;
  }

  int string_value(Body& body) {
    const int roll = below(100);
    if (roll < 30 && !string_globals.empty()) {
      return pick(string_globals);
    }
    if (roll < 40 && !string_fields.empty()) {
      int t = temp(body);
      const int ent = entity_leaf(body);
      emit(body, indirect_op(ev_string), ent, pick(string_fields), t);
      return t;
    }
    return string_immediate(body, pick(SoundNames));
  }

  int vector_value(Body& body) {
    if (!body.vectors.empty() && percent(30)) {
      return pick(body.vectors);
    }
    if (!vector_fields.empty() && percent(25) && (body.vector_temp >= 0 || body.area_cells >= 3)) {
      int t = vector_temp(body);
      const int ent = entity_leaf(body);
      emit(body, indirect_op(ev_vector), ent, pick(vector_fields), t);
      return t;
    }
    return pick(vector_globals);
  }

  int value(Body& body, uint16_t tag) {
    switch (tag) {
      case ev_float:
        return float_expr(body, below(2), false);
      case ev_entity:
        return entity_value(body, false);
      case ev_string:
        return string_value(body);
      case ev_vector:
        return vector_value(body);
      default:
        return string_fields.empty() ? pick(float_fields) : pick(string_fields);
    }
  }

  // Stores the arguments and calls; the result is at offset 1 until the next call.
  int call(Body& body, int k, int nesting) {
    const Callable callee = callables[k];
    const int count = static_cast<int>(callee.params.size());
    for (int i = 0; i < count; ++i) {
      const int parm = kParm0 + 3 * i;
      const uint16_t tag = callee.params[i];
      if (i == 0 && tag == ev_float && nesting < 2 && percent(8)) {
        call(body, float_callable(), nesting + 1);
        emit(body, OP_STORE_F, kReturn, parm);
        continue;
      }
      int v = value(body, tag);
      emit(body, store_op(tag), v, parm);
      release(body, v);
    }
    emit(body, static_cast<uint16_t>(OP_CALL0 + count), callee.def_ofs);
    return kReturn;
  }

  // The operand an IFNOT or IF tests.
  int condition(Body& body) {
    const int roll = below(100);
    if (roll < 32) {
      static constexpr uint16_t Comparisons[] = {OP_LT, OP_GT, OP_LE, OP_GE, OP_EQ_F, OP_NE_F};
      int a = float_expr(body, 1, false);
      int b_value = float_expr(body, 0, true);
      release(body, a);
      release(body, b_value);
      int t = temp(body);
      emit(body, pick(Comparisons), a, b_value, t);
      return t;
    }
    if (roll < 46) {
      call(body, builtin["random"], 1);
      int limit = float_immediate(body, FloatValues[36 + below(8)]);
      int t = temp(body);
      emit(body, OP_LT, kReturn, limit, t);
      return t;
    }
    if (roll < 58) {
      int a = float_leaf(body);
      release(body, a);
      int t = temp(body);
      emit(body, OP_NOT_F, a, 0, t);
      return t;
    }
    if (roll < 68) {
      int e = entity_value(body, false);
      if (percent(50)) {
        return e;
      }
      release(body, e);
      int t = temp(body);
      emit(body, OP_NOT_ENT, e, 0, t);
      return t;
    }
    if (roll < 76) {
      int a = entity_leaf(body);
      int b_value = entity_leaf(body);
      int t = temp(body);
      emit(body, OP_EQ_E, a, b_value, t);
      return t;
    }
    if (roll < 88 && !body.floats.empty()) {
      return pick(body.floats);
    }
    return float_expr(body, 2, false);
  }

  // --- Statements ---

  int float_target(Body& body) {
    if (!body.floats.empty() && percent(45)) {
      return pick(body.floats);
    }
    if (!unstored_targets.empty() && percent(60)) {
      int ofs = unstored_targets.back();
      unstored_targets.pop_back();
      return ofs;
    }
    if (!float_targets.empty()) {
      return pick(float_targets);
    }
    return body.floats.empty() ? kTime : pick(body.floats);
  }

  void store_float(Body& body, int v, int target) {
    RawStatement* last = body.code.empty() ? nullptr : &body.code.back();
    bool is_operator = last != nullptr && last->c == v &&
                       ((last->op >= OP_MUL_F && last->op <= OP_GT) ||
                        (last->op >= OP_AND && last->op <= OP_BITOR));
    if (is_operator && std::find(body.temps.begin(), body.temps.end(), v) != body.temps.end() &&
        percent(30)) {
      last->c = static_cast<int16_t>(target);
    } else {
      emit(body, OP_STORE_F, v, target);
    }
  }

  void field_store(Body& body, uint16_t tag, int field, int v_ready) {
    int ent = entity_leaf(body);
    int address = temp(body);
    emit(body, OP_ADDRESS, ent, field, address);
    int v = v_ready;
    if (v < 0) {
      v = tag == ev_float ? float_expr(body, 1 + below(2), true) : value(body, tag);
    }
    emit(body, storep_op(tag), v, address);
  }

  void simple_statement(Body& body) {
    const int roll = below(100);
    if (roll < 22) {
      int v = float_expr(body, 1 + below(2), true);
      store_float(body, v, float_target(body));
    } else if (roll < 36 && !float_fields.empty()) {
      field_store(body, ev_float, pick(float_fields), -1);
    } else if (roll < 52) {
      call(body, below(static_cast<int>(callables.size())), 0);
    } else if (roll < 60) {
      int k = float_callable();
      call(body, k, 0);
      emit(body, OP_STORE_F, kReturn, float_target(body));
    } else if (roll < 66 && !function_fields.empty() && !float_fields.empty()) {
      int address = temp(body);
      emit(body, OP_ADDRESS, kSelf, pick(float_fields), address);
      int t = temp(body);
      emit(body, OP_ADD_F, kTime, float_immediate(body, 0.1f), t);
      emit(body, OP_STOREP_F, t, address);
      emit(body, OP_ADDRESS, kSelf, pick(function_fields), address);
      emit(body, storep_op(ev_function), callables[pick(plain_calls)].def_ofs, address);
    } else if (roll < 74) {
      if (!body.entities.empty() && percent(50)) {
        int v = entity_value(body, true);
        emit(body, store_op(ev_entity), v, pick(body.entities));
      } else if (!entity_fields.empty()) {
        field_store(body, ev_entity, pick(entity_fields), -1);
      } else {
        call(body, builtin["remove"], 0);
      }
    } else if (roll < 82) {
      if (!string_targets.empty() && percent(40)) {
        const int v = string_value(body);
        emit(body, store_op(ev_string), v, pick(string_targets));
      } else if (!string_fields.empty()) {
        const int field = pick(string_fields);
        field_store(body, ev_string, field, string_value(body));
      } else {
        call(body, builtin["bprint"], 0);
      }
    } else if (roll < 88) {
      if (!vector_targets.empty() && percent(40)) {
        const int v = vector_value(body);
        emit(body, store_op(ev_vector), v, pick(vector_targets));
      } else if (!vector_fields.empty() && (body.vector_temp >= 0 || body.area_cells >= 3)) {
        int v = vector_temp(body);
        const int direction = pick(vector_globals);
        emit(body, OP_MUL_VF, direction, float_expr(body, 0, false), v);
        field_store(body, ev_vector, pick(vector_fields), v);
      } else {
        call(body, builtin["makevectors"], 0);
      }
    } else {
      call(body, builtin["sound"], 0);
    }
    release_all(body);
  }

  void if_statement(Body& body, int depth, Returns returns) {
    int c = condition(body);
    const int p = static_cast<int>(body.code.size());
    emit(body, OP_IFNOT, c);
    release_all(body);
    const int then_count = 1 + below(2);
    for (int i = 0; i < then_count; ++i) {
      statement(body, depth + 1, returns);
    }
    if (returns == Returns::kNothing && percent(8)) {
      emit(body, OP_RETURN);
    }
    if (percent(35)) {
      const int g = static_cast<int>(body.code.size());
      emit(body, OP_GOTO);
      body.code[p].b = static_cast<int16_t>(g + 1 - p);
      const int else_count = 1 + below(2);
      for (int i = 0; i < else_count; ++i) {
        statement(body, depth + 1, returns);
      }
      body.code[g].a = static_cast<int16_t>(body.code.size() - g);
    } else {
      body.code[p].b = static_cast<int16_t>(body.code.size() - p);
    }
  }

  void while_statement(Body& body, int depth, Returns returns) {
    const int start = static_cast<int>(body.code.size());
    int c = condition(body);
    const int p = static_cast<int>(body.code.size());
    emit(body, OP_IFNOT, c);
    release_all(body);
    const int count = 1 + below(3);
    for (int i = 0; i < count; ++i) {
      statement(body, depth + 1, returns);
    }
    if (!body.floats.empty()) {
      int counter = pick(body.floats);
      int t = temp(body);
      emit(body, OP_ADD_F, counter, float_immediate(body, 1), t);
      emit(body, OP_STORE_F, t, counter);
      release_all(body);
    }
    const int g = static_cast<int>(body.code.size());
    emit(body, OP_GOTO, start - g);
    body.code[p].b = static_cast<int16_t>(g + 1 - p);
  }

  void do_statement(Body& body, int depth, Returns returns) {
    const int start = static_cast<int>(body.code.size());
    const int count = 1 + below(3);
    for (int i = 0; i < count; ++i) {
      statement(body, depth + 1, returns);
    }
    int c = condition(body);
    const int p = static_cast<int>(body.code.size());
    emit(body, OP_IF, c, start - p);
    release_all(body);
  }

  void statement(Body& body, int depth, Returns returns) {
    const int roll = below(100);
    if (depth < 2 && roll < 16) {
      if_statement(body, depth, returns);
    } else if (depth < 1 && roll < 21) {
      while_statement(body, depth, returns);
    } else if (depth < 1 && roll < 25) {
      do_statement(body, depth, returns);
    } else {
      simple_statement(body);
    }
  }

  void message_statement(Body& body) {
    const int roll = below(4);
    if (roll == 0) {
      emit(body, store_op(ev_entity), kSelf, kParm0);
      emit(body, store_op(ev_string), message_immediate(), kParm0 + 3);
      emit(body, OP_CALL2, callables[builtin["centerprint"]].def_ofs);
    } else if (roll == 1) {
      emit(body, store_op(ev_entity), entity_leaf(body), kParm0);
      emit(body, store_op(ev_string), message_immediate(), kParm0 + 3);
      emit(body, OP_CALL2, callables[builtin["sprint"]].def_ofs);
    } else {
      emit(body, store_op(ev_string), message_immediate(), kParm0);
      emit(body, OP_CALL1, callables[builtin[roll == 2 ? "bprint" : "dprint"]].def_ofs);
    }
    release_all(body);
  }

  // --- Functions ---

  int statements_allowance() {
    const int average = frames_made > 0 ? (frame_statements + frames_made - 1) / frames_made : 5;
    const int room = limits.numstatements - statements_used() - 48 - frames_left * average;
    return std::clamp(room / std::max(ordinary_left, 1), 4, 400);
  }

  int cells_allowance() {
    const int room = limits.cells - cursor - 24 - frames_left * 11 / 10 - global_cells_left -
                     messages_left - ordinary_left;
    return std::clamp(room / std::max(ordinary_left, 1), 0, 16);
  }

  int ordinary_function(const FunctionPlan& plan) {
    const int target_statements = statements_allowance();
    int area = cells_allowance();
    const int def_ofs = plan.name.empty() ? -1 : function_def(plan.name);
    Body body;
    const int parm_start = cursor;
    std::vector<uint8_t> parm_sizes;
    std::vector<uint16_t> param_types;
    const int params = plan.params >= 0 ? plan.params : std::min(below(4), area / 3);
    const int first_param_name = below(static_cast<int>(std::size(ParamNames)));
    for (int i = 0; i < params; ++i) {
      const int roll = below(100);
      uint16_t tag = roll < 65   ? ev_float
                     : roll < 85 ? ev_entity
                     : roll < 93 ? ev_string
                                 : ev_vector;
      if (plan.float_params || (tag == ev_vector && area < 6)) {
        tag = ev_float;
      }
      const int ofs = alloc(cells_of(tag));
      const std::string name = ParamNames[(first_param_name + 3 * i) % std::size(ParamNames)];
      if (tag == ev_vector) {
        add_vector_defs(ev_vector, ofs, name);
        body.vectors.push_back(ofs);
      } else {
        add_def(tag, ofs, name);
        if (tag == ev_float) {
          body.floats.push_back(ofs);
        } else if (tag == ev_entity) {
          body.entities.push_back(ofs);
        }
      }
      parm_sizes.push_back(static_cast<uint8_t>(cells_of(tag)));
      param_types.push_back(tag);
      area -= cells_of(tag);
    }
    const int local_count = plan.bare ? 0 : area >= 4 ? below(3) : area >= 3 ? below(2) : 0;
    const int first_name = below(static_cast<int>(std::size(LocalNames)));
    for (int i = 0; i < local_count; ++i) {
      uint16_t tag = percent(70) ? ev_float : ev_entity;
      const int ofs = alloc(1);
      add_def(tag, ofs, LocalNames[(first_name + i) % std::size(LocalNames)]);
      (tag == ev_float ? body.floats : body.entities).push_back(ofs);
      area -= 1;
    }
    body.area_cells = area - 2;
    Returns returns = plan.alias_return || plan.tail_temp ? Returns::kNothing : plan.returns;
    // Early "return;" lines would decide the return type before the final RETURN does.
    const Returns early = plan.alias_return ? Returns::kTemporary : returns;
    if (returns == Returns::kNamed && body.floats.empty()) {
      returns = Returns::kTemporary;
    }
    if (returns == Returns::kEntity && body.entities.empty()) {
      returns = Returns::kTemporary;
    }
    while (!must_read.empty() && !plan.bare) {
      int k = must_read.back();
      must_read.pop_back();
      call(body, k, 0);
      emit(body, OP_STORE_F, kReturn, float_target(body));
      release_all(body);
    }
    if (!plan.bare && messages_left > 0 && below(std::max(ordinary_left, 1)) < messages_left) {
      message_statement(body);
      --messages_left;
    }
    while (!plan.bare && static_cast<int>(body.code.size()) + 6 < target_statements) {
      statement(body, 0, early);
    }
    if (plan.tail_temp) {
      int t = alloc(1);
      body.temps.push_back(t);
      int a = body.floats.empty() ? pick(float_globals) : pick(body.floats);
      emit(body, OP_MUL_F, a, pick(float_globals), t);
      emit(body, OP_STORE_F, t, float_target(body));
    }
    switch (returns) {
      case Returns::kNothing:
        break;
      case Returns::kTemporary:
        emit(body, OP_RETURN, float_expr(body, 1 + below(2), true));
        break;
      case Returns::kNamed:
        emit(body, OP_RETURN, pick(body.floats));
        break;
      case Returns::kCallResult:
        call(body, float_callable(), 0);
        emit(body, OP_RETURN, kReturn);
        break;
      case Returns::kEntity:
        emit(body, OP_RETURN, pick(body.entities));
        break;
    }
    if (plan.alias_return) {
      // The result parked at offset 1 is read back through the cell that shares its slot.
      call(body, float_callable(), 0);
      emit(body, OP_RETURN, parm_start - 27);
    }
    emit(body, OP_DONE);

    const int locals = cursor - parm_start;
    int first = 0;
    if (!plan.defer_body) {
      first = place_body(body.code);
    }
    const int index = add_record(first, parm_start, locals, plan.name, parm_sizes);
    if (plan.defer_body) {
      deferred = body.code;
      deferred_record = index;
    } else if (deferred_record >= 0) {
      b.functions[deferred_record].first_statement = place_body(deferred);
      deferred.clear();
      deferred_record = -1;
    }
    if (def_ofs >= 0) {
      b.set_int(def_ofs, index);
      uint16_t result = returns == Returns::kNothing  ? ev_void
                        : returns == Returns::kEntity ? ev_entity
                                                      : ev_float;
      if (plan.alias_return) {
        result = ev_float;
      }
      callables.push_back(Callable{def_ofs, param_types, result});
      if (param_types.empty()) {
        plain_calls.push_back(static_cast<int>(callables.size()) - 1);
      }
    }
    --ordinary_left;
    return index;
  }

  Returns random_returns() {
    const int roll = below(100);
    return roll < 40   ? Returns::kNothing
           : roll < 65 ? Returns::kTemporary
           : roll < 80 ? Returns::kCallResult
           : roll < 92 ? Returns::kNamed
                       : Returns::kEntity;
  }

  // A monster animation: each frame function names its frame and the next frame function,
  // whose global the compiler allocates right there, inside the current function's area.
  void frame_chain(const std::string& prefix, int count, int& frame_number) {
    int def_ofs = function_def(prefix + "1");
    const int head = def_ofs;
    for (int k = 1; k <= count; ++k) {
      const std::string name = prefix + std::to_string(k);
      Body body;
      body.area_cells = 2;
      const int parm_start = cursor;
      const int frame = float_immediate(body, static_cast<float>(frame_number++));
      int next = head;
      if (k < count) {
        next = alloc(1);
        add_def(ev_function, next, prefix + std::to_string(k + 1));
      }
      emit(body, OP_STATE, frame, next);
      const int room = limits.numstatements - statements_used() - 48 - ordinary_left * 4;
      const int roll = below(100);
      if (roll < 8 && room > frames_left * 13) {
        call(body, builtin["random"], 1);
        int t = temp(body);
        emit(body, OP_LT, kReturn, float_immediate(body, 0.2f), t);
        const int p = static_cast<int>(body.code.size());
        emit(body, OP_IFNOT, t);
        emit(body, store_op(ev_entity), kSelf, kParm0);
        emit(body, OP_STORE_F, float_immediate(body, 2), kParm0 + 3);
        emit(body, store_op(ev_string), string_immediate(body, pick(SoundNames)), kParm0 + 6);
        emit(body, OP_STORE_F, float_immediate(body, 1), kParm0 + 9);
        emit(body, OP_STORE_F, float_immediate(body, 3), kParm0 + 12);
        emit(body, OP_CALL5, callables[builtin["sound"]].def_ofs);
        body.code[p].b = static_cast<int16_t>(body.code.size() - p);
      }
      if (roll < 55 && room > frames_left * 4) {
        emit(body, OP_STORE_F, float_immediate(body, static_cast<float>(below(20))), kParm0);
        emit(body, OP_CALL1, callables[pick(ai_with_distance)].def_ofs);
      } else if (roll < 93 || room <= frames_left * 4) {
        emit(body, OP_CALL0, callables[pick(ai_plain)].def_ofs);
      } else {
        emit(body, OP_CALL0, callables[pick(ai_plain)].def_ofs);
        emit(body, OP_CALL0, callables[pick(plain_calls)].def_ofs);
      }
      emit(body, OP_DONE);
      const int first = place_body(body.code);
      const int index = add_record(first, parm_start, cursor - parm_start, name, {});
      b.set_int(def_ofs, index);
      if (deferred_record >= 0) {
        b.functions[deferred_record].first_statement = place_body(deferred);
        deferred.clear();
        deferred_record = -1;
      }
      frame_statements += static_cast<int>(body.code.size());
      ++frames_made;
      --frames_left;
      def_ofs = next;
    }
  }

  std::string chain_prefix(const std::string& stem, const std::string& anim, int count) {
    for (int n = 0;; ++n) {
      std::string prefix =
          stem + "_" + anim +
          (n == 0 ? "" : std::string(1, char('a' + n % 26)) + std::to_string(n / 26));
      bool free = true;
      for (int k = 1; k <= count && free; ++k) {
        free = names.count(prefix + std::to_string(k)) == 0;
      }
      if (free) {
        for (int k = 1; k <= count; ++k) {
          names.insert(prefix + std::to_string(k));
        }
        return prefix;
      }
    }
  }

  // --- The program ---

  void prefix() {
    file_name = b.add_string("defs.qc");
    cursor = 28;
    for (const SystemRow& row : SystemGlobals) {
      const uint16_t tag = tag_of_letter(row.type);
      const int ofs = alloc(cells_of(tag));
      names.insert(row.name);
      if (tag == ev_vector) {
        add_vector_defs(tag | kSaved, ofs, row.name);
        vector_globals.push_back(ofs);
      } else {
        add_def(tag | kSaved, ofs, row.name);
        if (tag == ev_float) {
          float_globals.push_back(ofs);
          if (std::strncmp(row.name, "parm", 4) == 0) {
            float_targets.push_back(ofs);
          }
        } else if (tag == ev_entity) {
          entity_globals.push_back(ofs);
        } else if (tag == ev_string) {
          string_globals.push_back(ofs);
        }
      }
    }
    for (const char* name : EngineFunctions) {
      names.insert(name);
      declare_prototype(name);
    }
    add_def(ev_void, alloc(1), "end_sys_globals");
    const int system_fielddefs = limits.fielddefs * 3 / 5;
    for (const SystemRow& row : SystemFields) {
      const uint16_t tag = row.type == 'n' ? uint16_t{ev_function} : tag_of_letter(row.type);
      if (fielddefs_used() + (tag == ev_vector ? 4 : 1) > system_fielddefs) {
        break;
      }
      names.insert(row.name);
      declare_field(tag, row.name);
    }
    add_def(ev_void, alloc(1), "end_sys_fields");
    globals_block("defs", std::max(8, limits.cells / 160));
    for (const BuiltinRow& row : Builtins) {
      names.insert(row.name);
      const int def_ofs = function_def(row.name);
      std::vector<uint8_t> sizes;
      Callable callable{def_ofs, {}, tag_of_letter(row.returns)};
      for (const char* letter = row.params; *letter != '\0'; ++letter) {
        sizes.push_back(static_cast<uint8_t>(cells_of(tag_of_letter(*letter))));
        callable.params.push_back(tag_of_letter(*letter));
      }
      // A builtin's parameters take no cells: its area is empty.
      const int index = add_record(-row.number, cursor, 0, row.name, sizes);
      b.set_int(def_ofs, index);
      builtin[row.name] = static_cast<int>(callables.size());
      callables.push_back(callable);
    }
  }

  std::vector<std::string> file_names(int count, int unusable) {
    std::vector<std::string> files;
    const int monster_stems = static_cast<int>(std::size(MonsterStems));
    const int other_stems = static_cast<int>(std::size(OtherStems));
    int monsters = 0;
    int others = 0;
    for (int i = 0; i < count; ++i) {
      std::string name;
      if (i % 3 != 2) {
        name = MonsterStems[monsters % monster_stems];
        if (monsters >= monster_stems) {
          name += std::to_string(monsters / monster_stems + 1);
        }
        name = (monsters % 7 == 3 ? "src\\monsters\\" : "monsters/") + name;
        ++monsters;
      } else {
        name = OtherStems[others % other_stems];
        if (others >= other_stems) {
          name += std::to_string(others / other_stems + 1);
        }
        ++others;
      }
      files.push_back(name + ".qc");
    }
    for (int i = 0; i < unusable; ++i) {
      const size_t at = 2 + (static_cast<size_t>(i) * 37 + 11) % (files.size() - 2);
      files.insert(files.begin() + static_cast<long>(at),
                   UnusableFiles[static_cast<size_t>(i) % std::size(UnusableFiles)]);
    }
    return files;
  }

  std::string stem_of(const std::string& file) {
    size_t start = file.find_last_of("/\\");
    start = start == std::string::npos ? 0 : start + 1;
    std::string stem;
    for (size_t i = start; i < file.size() && file[i] != '.'; ++i) {
      if (std::isalnum(static_cast<unsigned char>(file[i]))) {
        stem += file[i];
      }
    }
    return stem.empty() ? "misc" : stem;
  }

  void source_file(const std::string& file, bool unusable, int files_left,
                   std::vector<std::string>& known_names) {
    file_name = b.add_string(file);
    const std::string stem = stem_of(file);
    const bool last = files_left == 1;
    const bool monster = file.find("monsters") != std::string::npos;
    // Monster files hold most frame functions, the others most ordinary functions; each
    // share is taken of what is left, so the totals come out right whatever the draws.
    const int frame_share = frames_left / files_left;
    const int ordinary_share = ordinary_left / files_left;
    int frames = last      ? frames_left
                 : monster ? frame_share + below(frame_share * 4 / 5 + 1)
                           : below(frame_share * 2 / 5 + 1);
    int ordinary = last      ? ordinary_left
                   : monster ? ordinary_share * 3 / 5 + below(ordinary_share * 3 / 5 + 1)
                             : ordinary_share * 6 / 5 + below(ordinary_share * 4 / 5 + 2);
    frames = std::min(frames, frames_left);
    ordinary = std::min(ordinary, ordinary_left);
    const bool pair = pairs_left > 0 && ordinary >= 2 && (pairs_left >= files_left || percent(15));
    int global_cells = global_cells_left / files_left;

    std::vector<std::pair<std::string, int>> chains;
    for (int left = frames; left > 0;) {
      int count = std::min(left, 3 + below(12));
      chains.emplace_back(chain_prefix(stem, pick(Animations), count), count);
      left -= count;
    }
    std::vector<FunctionPlan> plans;
    for (int i = 0; i < ordinary; ++i) {
      FunctionPlan plan;
      if (i == 0 && unusable && !known_names.empty() && percent(60)) {
        plan.name = known_names.back();
        known_names.pop_back();
        names.insert(plan.name);
      } else if (i >= 2 && unnamed_left > 0 && percent(5)) {
        --unnamed_left;
      } else {
        plan.name = unique(stem + "_" + pick(Words));
      }
      plan.returns = random_returns();
      plans.push_back(plan);
    }
    // Prototypes at the top of the file, as monster files declare their frame functions.
    for (const auto& chain : chains) {
      if (percent(50)) {
        declare_prototype(chain.first + "1");
      }
    }
    for (size_t i = pair ? 2 : 0; i < plans.size(); ++i) {
      if (!plans[i].name.empty() && percent(30)) {
        declare_prototype(plans[i].name);
      }
    }
    int block = std::min(global_cells, 2 + below(std::max(global_cells, 1)));
    globals_block(stem, block);
    global_cells_left -= block;
    global_cells -= block;

    size_t next_chain = 0;
    size_t next_plan = 0;
    if (pair) {
      // The last cell of the first function's area lies 27 cells below the second one's
      // parm_start: 25 cells of globals and the second function's own global between them.
      FunctionPlan tail = plans[0];
      tail.params = 0;
      tail.tail_temp = true;
      tail.defer_body = true;
      const int tail_index = ordinary_function(tail);
      const RawFunction& tail_record = b.functions[tail_index];
      const int tail_cell = tail_record.parm_start + tail_record.locals - 1;
      globals_block(stem, 25);
      global_cells_left -= 25;
      FunctionPlan alias = plans[1];
      alias.alias_return = true;
      const int alias_index = ordinary_function(alias);
      if (b.functions[alias_index].parm_start - 27 != tail_cell) {
        throw std::logic_error("large_program: the returned cell is not the temporary");
      }
      must_read.push_back(static_cast<int>(callables.size()) - 1);
      --pairs_left;
      next_plan = 2;
    }
    int frame_number = 0;
    while (next_chain < chains.size() || next_plan < plans.size()) {
      const bool take_chain =
          next_plan >= plans.size() ||
          (next_chain < chains.size() &&
           below(static_cast<int>(chains.size() + plans.size())) < static_cast<int>(chains.size()));
      if (take_chain) {
        frame_chain(chains[next_chain].first, chains[next_chain].second, frame_number);
        ++next_chain;
      } else {
        ordinary_function(plans[next_plan]);
        ++next_plan;
      }
      if (global_cells > 0 && percent(30)) {
        block = std::min(global_cells, 1 + below(6));
        globals_block(stem, block);
        global_cells_left -= block;
        global_cells -= block;
      }
    }
  }

  void fill_messages() {
    if (message_cells.empty()) {
      return;
    }
    const int room = limits.strings - static_cast<int>(b.strings.size()) - 64;
    const int each = std::max(8, room / static_cast<int>(message_cells.size()) - 1);
    uint64_t hash = 0x5151;
    for (int ofs : message_cells) {
      std::string text;
      while (static_cast<int>(text.size()) < each) {
        hash = hash * 6364136223846793005ull + 1442695040888963407ull;
        if (!text.empty()) {
          text += ' ';
        }
        text += MessageWords[(hash >> 33) % std::size(MessageWords)];
      }
      text.resize(static_cast<size_t>(each));
      b.set_int(ofs, b.add_string(text));
    }
  }

  void check(bool within, const char* what) {
    if (!within) {
      throw std::runtime_error(std::string("large_program: too many ") + what);
    }
  }
};

}  // namespace

ProgsBuilder large_program(int eighths) {
  if (eighths < 1 || eighths > 8) {
    throw std::invalid_argument("large_program: eighths must be 1 to 8");
  }
  Generator g;
  g.b = new_program();
  g.random = Random{0x51ab1e5eedull + static_cast<uint64_t>(eighths)};
  g.limits = Limits{8191 * eighths / 8 + 1, 65536 * eighths / 8,  16384 * eighths / 8,
                    16384 * eighths / 8,    500000 * eighths / 8, 1024 * eighths / 8};
  g.names.insert("IMMEDIATE");
  g.prefix();

  const int functions = g.records_left();
  const int files = std::max(40, 320 * eighths / 8);
  const int unusable = std::max(2, 16 * eighths / 8);
  const int field_cells = (g.limits.fielddefs - g.fielddefs_used()) * 9 / 10;
  g.global_cells_left = g.limits.cells / 10 + field_cells;
  g.messages_left = std::max(8, 300 * eighths / 8);
  g.pairs_left = 4 * eighths;
  g.unnamed_left = eighths;
  const int fixed_cells = functions + g.global_cells_left + g.messages_left + 160;
  const int area_cells = g.limits.cells - g.cursor - fixed_cells;
  g.ordinary_left = std::clamp(area_cells * 10 / 38, 40, functions / 2);
  g.frames_left = functions - g.ordinary_left;

  // The first function returns a call's result directly: no instruction before its RETURN
  // names offset 1, so its return type comes from the places that call it.
  g.file_name = g.b.add_string("ai.qc");
  FunctionPlan first;
  first.name = g.unique("random_value");
  first.params = 0;
  first.returns = Returns::kCallResult;
  first.bare = true;
  g.ordinary_function(first);
  g.must_read.push_back(static_cast<int>(g.callables.size()) - 1);
  for (const char* name : AiFunctions) {
    FunctionPlan plan;
    plan.name = g.unique(name);
    const bool distance =
        plan.name != "ai_stand" && plan.name != "ai_face" && plan.name != "ai_turn";
    plan.params = distance ? 1 : 0;
    plan.float_params = true;
    plan.returns = g.percent(30) ? Returns::kTemporary : Returns::kNothing;
    g.ordinary_function(plan);
    (distance ? g.ai_with_distance : g.ai_plain)
        .push_back(static_cast<int>(g.callables.size()) - 1);
  }
  g.file_name = g.b.add_string("client.qc");
  for (const char* name : EngineFunctions) {
    FunctionPlan plan;
    plan.name = name;
    plan.params = 0;
    g.ordinary_function(plan);
  }
  std::vector<std::string> known(std::begin(KnownNames), std::end(KnownNames));
  std::vector<std::string> list = g.file_names(files, unusable);
  for (size_t i = 0; i < list.size() && g.records_left() > 0; ++i) {
    const bool is_unusable = std::find(std::begin(UnusableFiles), std::end(UnusableFiles),
                                       list[i]) != std::end(UnusableFiles);
    g.source_file(list[i], is_unusable, static_cast<int>(list.size() - i), known);
  }
  g.fill_messages();
  g.b.globals.resize(static_cast<size_t>(g.cursor), 0);

  g.check(static_cast<int>(g.b.functions.size()) <= g.limits.numfunctions, "functions");
  g.check(static_cast<int>(g.b.statements.size()) <= g.limits.numstatements, "statements");
  g.check(g.cursor <= g.limits.cells, "global cells");
  g.check(g.defs_used() <= g.limits.defs, "global definitions");
  g.check(static_cast<int>(g.b.strings.size()) <= g.limits.strings, "string bytes");
  g.check(g.fielddefs_used() <= g.limits.fielddefs, "field definitions");
  return g.b;
}

}  // namespace tests
