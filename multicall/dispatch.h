#pragma once
// Choosing a program of the one POSIX program file by the name it was
// started as.
#include <span>
#include <string>
#include <string_view>

namespace multicall {

struct Program {
  const char* name;
  int (*entry)(int argc, char** argv);
};

// The program that a start by this path names: the path's base name, a
// trailing ".exe" in any letter case dropped (a Windows name typed or
// configured for it), matched exactly. nullptr when none is named so.
const Program* find_program(std::string_view started_path, std::span<const Program> programs);

// The line said to a start by a name that is no program's.
std::string usage_line(std::string_view started_path, std::span<const Program> programs);

}  // namespace multicall
