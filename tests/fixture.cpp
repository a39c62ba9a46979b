// Loads built programs into the process-wide image and captures what a routine writes.
#include "tests/fixture.h"

#include <unistd.h>

#include <stdexcept>

#include "classic/output.h"
#include "classic/output_files.h"
#include "driver/run.h"
#include "image/program_image.h"
#include "support/console.h"

namespace tests {

void load_fixture(const ProgsBuilder& program) {
  driver::reset_run();
  char path[] = "/tmp/progs2qc-fixture-XXXXXX";
  int fd = ::mkstemp(path);
  if (fd < 0) {
    throw std::runtime_error("cannot make a fixture file");
  }
  ::close(fd);
  program.write(path);
  try {
    image::load_program_image(path, image::Reading::kClassic);
    classic::prepare_program();
  } catch (...) {
    ::unlink(path);
    throw;
  }
  ::unlink(path);
}

Captured capture(const std::function<void()>& routine) {
  Captured result;
  classic::open_output(-1);
  support::console.capture = &result.console;
  try {
    routine();
  } catch (const support::FatalCondition& condition) {
    result.fatal = condition;
  }
  support::console.capture = nullptr;
  result.output = classic::output.text;
  classic::close_output();
  return result;
}

}  // namespace tests
