// The compilable engine's run: from the loaded program to source files that compile back.
#pragma once

#include <cstdint>

#include "image/program_image.h"

namespace compilable {

// Writes progs.src and the source files into the output directory (render's), with a line
// per file and a closing line of counts on the console. A malformed program, or one with an
// instruction no interpreter runs, ends the run with a fatal condition; files written so
// far stay. `loaded` says how the program was read (Reading::kDetected); a flavour
// other than version 6 gets a first line that has fteqcc write that flavour again.
void decompile_program(const image::ProgramImage& program, const image::LoadResult& loaded);

}  // namespace compilable
