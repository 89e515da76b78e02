#pragma once
// The interpreter's own commands: type, del (erase), rmdir (rd). They read and
// write only the descriptors they are given, so that they can run beside the
// programs of a pipeline.
#include <cstddef>
#include <string>
#include <vector>

#include "port/posix/cmd/parse.h"
#include "port/posix/unique_fd.h"

namespace port::posix::cmd {

// Opens a file the line names (open(2) flags): the null device for "nul",
// otherwise only a regular file, never waiting (open_named). An invalid
// descriptor with errno on failure.
UniqueFd open_line_file(const std::string& name, int flags);

// True when the first word names a built-in command (any letter case).
bool is_builtin(const std::string& name);

// Runs the built-in named by words[0] (split_builtin_words); returns its
// status.
int run_builtin(const std::vector<BuiltinWord>& words, int out_fd, int err_fd);

// Writes all of the text to the descriptor (false when that fails).
bool write_all(int fd, const std::string& text);

}  // namespace port::posix::cmd
