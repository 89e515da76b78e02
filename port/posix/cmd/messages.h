#pragma once
// The interpreter's messages, in the Windows command interpreter's words,
// each without its line end.
#include <string>

namespace port::posix::cmd {

inline constexpr char kSyntaxMessage[] = "The syntax of the command is incorrect.";
inline constexpr char kFileNotFoundMessage[] = "The system cannot find the file specified.";
inline constexpr char kPathNotFoundMessage[] = "The system cannot find the path specified.";
inline constexpr char kAccessDeniedMessage[] = "Access is denied.";

// The line (line end included) for a file that cannot be opened or a program
// that cannot be started: the interpreter's words where it has some, the
// system's text otherwise.
std::string failure_text(int error);

}  // namespace port::posix::cmd
