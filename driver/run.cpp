// The entry point of a run: command line, load, summary, naming of unnamed functions,
// then the engine that writes the files.
#include "driver/run.h"

#include "classic/expression_slots.h"
#include "classic/instruction_index.h"
#include "classic/instructions.h"
#include "classic/literals.h"
#include "classic/names.h"
#include "classic/output.h"
#include "classic/output_files.h"
#include "classic/signatures.h"
#include "classic/statement_translator.h"
#include "compilable/engine.h"
#include "driver/options.h"
#include "image/program_image.h"
#include "render/output_directory.h"
#include "support/console.h"
#include "support/error.h"
#include "support/input_file.h"
#include "support/scratch.h"

namespace driver {

void reset_run() {
  support::reset_input_file();
  image::reset_program_image();
  classic::reset_signatures();
  classic::reset_literal_cache();
  classic::reset_output();
  classic::reset_expression_slots();
  classic::reset_statement_translator();
  classic::reset_output_files();
  render::reset_output_directory();
  classic::reset_instruction_table();
  classic::reset_instruction_index();
  classic::reset_global_types();
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

// Reads the program, prints its summary, then has the engine write every file.
static void decompile(const Options& options) {
  if (!options.output_dir.empty()) {
    render::use_output_directory(options.output_dir);
  }
  const char* path = options.input_path.c_str();
  const bool classic = options.engine == Engine::kClassic;
  const image::LoadResult loaded = image::load_program_image(
      path, classic ? image::Reading::kClassic : image::Reading::kDetected);
  render::remember_input_file(path);
  print_summary(path, loaded);
  if (!classic) {
    support::console_printf("Format: %s\n", image::flavour_text(loaded).c_str());
  }
  switch (options.engine) {
    case Engine::kClassic:
      name_anonymous_functions();
      classic::prepare_program();
      classic::build_signatures();
      classic::decompile_all_functions();
      break;
    case Engine::kCompilable:
      compilable::decompile_program(image::program, loaded);
      break;
  }
}

int run_decompiler(int argc, const char* const* argv) {
  reset_run();
  int status = 0;
  try {
    const Options options = parse_options(argc, argv);
    switch (options.action) {
      case Action::kShowHelp:
        support::console_write(usage_text());
        break;
      case Action::kShowVersion:
        support::console_write(version_text());
        break;
      case Action::kDecompile:
        decompile(options);
        break;
    }
  } catch (const support::FatalCondition& condition) {
    if (condition.on_standard_error) {
      support::console_error_write(condition.message);
    } else {
      support::console_write(condition.message);
    }
    status = condition.exit_status;
  }
  // Closing flushes whatever a failed run had written, so its files keep their text.
  reset_run();
  support::console_flush();
  return status;
}

}  // namespace driver
