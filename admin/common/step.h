#pragma once
// A child whose work is judged by its exit status and by the files it leaves.
#include <cstddef>
#include <initializer_list>

// Runs the command line after the caller's output (exec_cmd_in_order). True
// when the child returned 0 and left each file of made as a regular file;
// otherwise false, with the reason in detail (size bytes): "NAME could not be
// started", "NAME returned N" or "NAME left no file FILE".
bool run_step(const char* line, const char* name, std::initializer_list<const char*> made, char* detail,
              std::size_t size);
