// The entry point of a run: load, summary, naming of unnamed functions, output.
#include "driver/run.h"

#include <string>

#include "compilable/engine.h"
#include "core/expression_slots.h"
#include "core/output.h"
#include "driver/output_files.h"
#include "image/program_image.h"
#include "render/literals.h"
#include "render/signatures.h"
#include "support/console.h"
#include "support/error.h"
#include "support/input_file.h"
#include "support/scratch.h"

namespace driver {

void reset_run() {
  support::reset_input_file();
  image::reset_program_image();
  render::reset_signatures();
  render::reset_literal_cache();
  core::reset_output();
  core::reset_expression_slots();
  reset_output_files();
}

void name_anonymous_functions() {
  for (int i = 1; i < image::program.numfunctions; ++i) {
    if (image::string_at(image::program.functions[i].s_name)[0] == '\0') {
      image::rename_function(i, support::scratch_printf("function%i", i));
    }
  }
}

static void print_summary(const char* path, const image::LoadResult& loaded) {
  const image::ProgramImage& p = image::program;
  support::console_printf("Decompiling...\n");
  support::console_printf("Read Data from %s:\n", path);
  support::console_printf("Total Size is %6i\n", static_cast<int32_t>(loaded.file_size));
  support::console_printf("Version Code is %i\n", loaded.version);
  support::console_printf("CRC is %i\n", loaded.crc);
  support::console_printf("%6i strofs\n", p.strofs);
  support::console_printf("%6i numstatements\n", p.numstatements);
  support::console_printf("%6i numfunctions\n", p.numfunctions);
  support::console_printf("%6i numglobaldefs\n", p.numglobaldefs);
  support::console_printf("%6i numfielddefs\n", p.numfielddefs);
  support::console_printf("%6i numpr_globals\n", p.numpr_globals);
  support::console_printf("----------------------\n");
}

int run_decompiler(int argc, const char* const* argv) {
  reset_run();
  int status = 0;
  try {
    const bool compilable = argc > 1 && std::string(argv[1]) == "--compilable";
    if (compilable) {
      --argc;
      ++argv;
    }
    const char* path = argc > 1 ? argv[1] : "progs.dat";
    const image::LoadResult loaded = image::load_program_image(path);
    if (compilable) {
      print_summary(path, loaded);
      compilable::decompile_program(image::program);
      throw support::FatalCondition{0, ""};
    }
    remember_input_file(path);
    print_summary(path, loaded);
    name_anonymous_functions();
    decompile_all_functions();
  } catch (const support::FatalCondition& condition) {
    support::console_write(condition.message);
    status = condition.exit_status;
  }
  // Closing flushes whatever a failed run had written, so its files keep their text.
  reset_run();
  support::console_flush();
  return status;
}

}  // namespace driver
