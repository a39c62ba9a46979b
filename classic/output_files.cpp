// Sends each function to its .qc file and writes the project list "progs.src".
#include "classic/output_files.h"

#include <cstring>
#include <iterator>

#include "classic/function_emitter.h"
#include "classic/instruction_index.h"
#include "classic/instructions.h"
#include "classic/names.h"
#include "classic/output.h"
#include "classic/signatures.h"
#include "image/program_image.h"
#include "render/output_directory.h"
#include "support/console.h"
#include "support/error.h"

namespace classic {

OutputFiles output_files;

void reset_output_files() { output_files = OutputFiles{}; }

namespace {

struct KnownFunctionFile {
  const char* function_name;
  const char* file_name;
};

// Files of the original game code, for functions whose source-file name is unusable.
constexpr KnownFunctionFile KnownFunctionFiles[] = {
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

// The source-file list takes at most this many names, usable or not.
constexpr size_t kMaxSourceFiles = 1001;

bool is_name_character(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '!' ||
         c == '.' || c == '_';
}

// Flattens directory separators to dots; false at the first character no file name takes.
bool make_usable(std::string& candidate) {
  if (candidate.empty()) {
    return false;
  }
  for (char& c : candidate) {
    if (c == '/' || c == '\\') {
      c = '.';
    } else if (!is_name_character(static_cast<unsigned char>(c))) {
      return false;
    }
  }
  return true;
}

// Whether the name was met before in this run; a name met for the first time is added.
bool remember_source_file(const std::string& name) {
  if (output_files.source_files.size() >= kMaxSourceFiles) {
    support::fatal_error("Fatal Error - too many source files.\n");
  }
  if (output_files.source_file_set.count(name) != 0) {
    return true;
  }
  output_files.source_files.push_back(name);
  output_files.source_file_set.insert(name);
  return false;
}

// The file of the first KnownFunctionFiles row for the function name, or null.
const char* lookup_known_function_file(const char* function_name) {
  for (const KnownFunctionFile& row : KnownFunctionFiles) {
    if (std::strcmp(row.function_name, function_name) == 0) {
      return row.file_name;
    }
  }
  return nullptr;
}

std::string choose_output_file(int function_index) {
  const image::FunctionRecord& function = image::program.functions[function_index];
  std::string candidate;
  if (function.s_file >= 0 && function.s_file <= image::program.strofs) {
    candidate = image::string_at(function.s_file);
  }
  if (make_usable(candidate) && !render::is_reserved_name(candidate)) {
    return candidate;
  }
  if (!remember_source_file(candidate)) {
    output_files.last_known_file.clear();
    const char* known = lookup_known_function_file(image::string_at(function.s_name));
    if (known != nullptr) {
      output_files.last_known_file = known;
    } else {
      ++output_files.fallback_file_counter;
    }
  }
  if (!output_files.last_known_file.empty()) {
    return output_files.last_known_file;
  }
  return "vorn" + std::to_string(output_files.fallback_file_counter) + ".qc";
}

}  // namespace

void prepare_program() {
  load_instruction_table();
  copy_global_types();
  build_instruction_index();
}

void decompile_all_functions() {
  render::open_project_list();
  for (int i = 1; i < image::program.numfunctions; ++i) {
    const std::string name = choose_output_file(i);
    const bool created_before = remember_source_file(name);
    if (!created_before) {
      support::console_printf("decompiling %s...\n", name.c_str());
      render::add_to_project_list(name);
    }
    const int fd = render::open_source_file(
        name, created_before ? render::OpenMode::kAppend : render::OpenMode::kCreate);
    if (fd < 0) {
      support::fatal_error("Fatal Error - Could not open \"%s\" for output.\n", name.c_str());
    }
    open_output(fd);
    decompile_function(i);
    if (!close_output()) {
      support::fatal_error("Fatal Error - Could not close \"%s\" properly.\n", name.c_str());
    }
  }
  render::close_project_list();
}

}  // namespace classic
