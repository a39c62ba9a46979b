// The compilable engine's run: from the loaded program to source files that compile back.
#pragma once

#include "image/program_image.h"

namespace compilable {

void decompile_program(const image::ProgramImage& program);

}  // namespace compilable
