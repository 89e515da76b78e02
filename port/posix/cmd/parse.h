#pragma once
// The grammar of the interpreter's line: commands joined by "|", each with its
// redirections. Parsing runs nothing, so a fuzz target can drive it alone.
#include <cstddef>
#include <string>
#include <vector>

#include "port/posix/cmdline.h"

namespace port::posix::cmd {

// The longest line the interpreter takes (the Windows interpreter's limit).
constexpr std::size_t kMaxLine = 8191;

enum class RedirKind {
  kIn,        // < FILE
  kOut,       // > FILE (or 1> FILE)
  kAppend,    // >> FILE
  kErr,       // 2> FILE
  kErrAppend, // 2>> FILE
  kErrToOut,  // 2>&1
};

struct Redirection {
  RedirKind kind = RedirKind::kIn;
  std::string file;  // as written, quotes removed; empty for 2>&1
};

struct Command {
  std::string text;                     // the line's part without its redirections
  ParsedCommand parsed;                 // text split by the command-line rules (no argv: no word)
  std::vector<Redirection> redirections;  // in the order written
};

struct Pipeline {
  std::vector<Command> commands;  // one or more; an empty line gives one empty command
};

// 0 with *pipeline filled, or -1 with a message in *error when error is given
// (without a line end).
int parse_line(const std::string& line, Pipeline* pipeline, std::string* error = nullptr);

// True when the name is the null device: "nul" or "\nul" in any letter case.
bool is_null_device(const std::string& name);

}  // namespace port::posix::cmd
