#pragma once
// Finding the file of a program named by the first word of a command line.
#include <string>

namespace port::posix {

// A word holding "/" or "\" is a path. Any other word is looked for in the
// directory of the running program, then the current directory, then each
// entry of PATH; in each place as given and, when it ends in ".exe" (any
// case), without that ending. The first regular, executable file wins.
// Returns 0 with the path in *resolved, or ENOENT (or the error of a path
// that cannot be used).
int find_program(const std::string& word, std::string* resolved);

// The directory of the running program ("" when it cannot be found).
std::string own_program_dir();

}  // namespace port::posix
