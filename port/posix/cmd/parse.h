#pragma once
// The grammar of the interpreter's line: pipelines joined by "&", "&&" and
// "||", each a run of commands joined by "|", each command with its
// redirections. Parsing runs nothing, so a fuzz target can drive it alone.
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "port/posix/cmdline.h"

namespace port::posix::cmd {

// The longest line the interpreter takes (the Windows interpreter's limit),
// before and after its variables are expanded.
constexpr std::size_t kMaxLine = 8191;

enum class RedirKind {
  kIn,        // < FILE
  kOut,       // > FILE (or 1> FILE)
  kAppend,    // >> FILE
  kErr,       // 2> FILE
  kErrAppend, // 2>> FILE
  kErrToOut,  // 2>&1
  kOutToErr,  // >&2 (or 1>&2)
};

struct Redirection {
  RedirKind kind = RedirKind::kIn;
  std::string file;  // as written, quotes and escapes removed; empty for 2>&1 and >&2
};

struct Command {
  std::string text;                     // the line's part without its redirections
  ParsedCommand parsed;                 // text split by the command-line rules (no argv: no word)
  std::vector<Redirection> redirections;  // in the order written
};

struct Pipeline {
  std::vector<Command> commands;  // one or more; an empty line gives one empty command
};

// When a pipeline runs, by the status of the one run before it.
enum class Joint {
  kAlways,     // first pipeline, or after "&"
  kOnSuccess,  // after "&&": only when the status so far is 0
  kOnFailure,  // after "||": only when the status so far is not 0
};

struct PipelineStep {
  Joint joint = Joint::kAlways;
  Pipeline pipeline;
};

struct Line {
  std::vector<PipelineStep> steps;  // one or more
};

// Looks a variable up: true with *value when it is defined.
using Lookup = std::function<bool(const std::string& name, std::string* value)>;


// Expands the line's variables and parses it. 0 with *parsed filled, or -1
// with a message in *error when error is given (without a line end).
int parse_line(const std::string& line, const Lookup& lookup, Line* parsed, std::string* error = nullptr);

// The quote rule for the text after "/C": when it begins with a double quote
// (after blanks), the quotes are kept only if it holds exactly two, nothing
// of & < > ( ) @ ^ | between them, some blank between them, and the text
// between them names an executable file; otherwise the first character and
// the last double quote of the text are removed.
std::string strip_outer_quotes(const std::string& text,
                               const std::function<bool(const std::string&)>& is_executable);

// One word of the interpreter's own commands (type, del, rmdir), read as the
// Windows interpreter reads them: blanks, tabs and , ; = outside double
// quotes separate words (port/interpreter.h, the table the programs quote
// by); double quotes group and go; a backslash is a plain character.
struct BuiltinWord {
  std::string text;
  bool quoted = false;  // some of it stood in double quotes: never a switch
};
std::vector<BuiltinWord> split_builtin_words(const std::string& text);

// True when the name is the null device: "nul" or "\nul" in any letter case.
bool is_null_device(const std::string& name);

}  // namespace port::posix::cmd
