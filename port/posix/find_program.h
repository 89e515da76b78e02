#pragma once
// Finding the file of a program named by the first word of a command line.
#include <string>

namespace port::posix {

// A word holding "/" or "\" is a path. Any other word is looked for in the
// directory of the running program, then the current directory, then each
// entry of PATH; in each place as given and, when it ends in ".exe" (any
// case), without that ending (a path is tried that way too). The first
// regular, executable file wins. An empty PATH entry is the current
// directory, a relative one a directory from there. A file another user
// could have put in its place (port/change_rule.h) is passed over, except
// in the running program's own directory. Returns 0 with the absolute path in *resolved, or ENOENT, or
// EACCES for a path that names something that cannot be run.
int find_program(const std::string& word, std::string* resolved);

// The directory of the running program ("" when it cannot be found).
std::string own_program_dir();

}  // namespace port::posix
