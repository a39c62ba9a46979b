// Writes one function record: the globals in front of it, then its declaration or body.
#pragma once

namespace classic {

// The first record from index 1 with this name, or numfunctions when none has it.
int find_function_by_name(const char* name);

// Writes record function_index to the current output. The record is taken by index, so
// two records that share a name are each written with their own code.
void decompile_function(int function_index);

void emit_function_body(int function_index);

}  // namespace classic
