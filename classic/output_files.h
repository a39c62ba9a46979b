// Sends each function to its .qc file and writes the project list "progs.src".
#pragma once

#include <string>
#include <unordered_set>
#include <vector>

namespace classic {

struct KnownFunctionFile {
  const char* function_name;
  const char* file_name;
};

// Files of the original game code, for functions whose source-file name is unusable.
inline constexpr KnownFunctionFile KnownFunctionFiles[] = {
    {"makevectors", "defs.qc"},
    {"button_wait", "buttons.qc"},
    {"anglemod", "ai.qc"},
    {"boss_face", "boss.qc"},
    {"info_intermission", "client.qc"},
    {"CanDamage", "combat.qc"},
    {"demon1_stand1", "demon.qc"},
    {"dog_bite", "dog.qc"},
    {"door_blocked", "doors.qc"},
    {"Laser_Touch", "enforcer.qc"},
    {"knight_attack", "fight.qc"},
    {"f_stand1", "fish.qc"},
    {"hknight_shot", "hknight.qc"},
    {"SUB_regen", "items.qc"},
    {"knight_stand1", "knight.qc"},
    {"info_null", "misc.qc"},
    {"monster_use", "monsters.qc"},
    {"OgreGrenadeExplode", "ogre.qc"},
    {"old_idle1", "oldone.qc"},
    {"plat_spawn_inside_trigger", "plats.qc"},
    {"player_stand1", "player.qc"},
    {"shal_stand", "shalrath.qc"},
    {"sham_stand1", "shambler.qc"},
    {"army_stand1", "soldier.qc"},
    {"SUB_Null", "subs.qc"},
    {"tbaby_stand1", "tarbaby.qc"},
    {"trigger_reactivate", "triggers.qc"},
    {"W_Precache", "weapons.qc"},
    {"LaunchMissile", "wizard.qc"},
    {"main", "world.qc"},
    {"zombie_stand1", "zombie.qc"},
};
static_assert(std::size(KnownFunctionFiles) == 31);

constexpr size_t kMaxSourceFiles = 1001;

struct OutputFiles {
  std::vector<std::string> source_files;  // SourceFileList, in the order met
  std::unordered_set<std::string> source_file_set;
  std::string last_known_file;
  int fallback_file_counter;
};
extern OutputFiles output_files;
void reset_output_files();

// The engine's own tables over the freshly loaded image: the instruction table that will
// carry block marks, the type words whose save flags the walk clears, and the indexes of
// its lookups. Made once per run, before the signatures.
void prepare_program();

void decompile_all_functions();
std::string choose_output_file(int function_index);
bool remember_source_file(const std::string& name);
// The file of the first KnownFunctionFiles row for the function name, or null.
const char* lookup_known_function_file(const char* function_name);

}  // namespace classic
