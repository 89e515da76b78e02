#pragma once
// The interpreter's messages, in the Windows command interpreter's words,
// each without its line end.
#include <string>

namespace port::posix::cmd {

inline constexpr char kSyntaxMessage[] = "The syntax of the command is incorrect.";
inline constexpr char kFileNotFoundMessage[] = "The system cannot find the file specified.";
inline constexpr char kPathNotFoundMessage[] = "The system cannot find the path specified.";
inline constexpr char kAccessDeniedMessage[] = "Access is denied.";
inline constexpr char kDiskFullMessage[] = "There is not enough space on the disk.";
inline constexpr char kInvalidHandleMessage[] = "The handle is invalid.";
inline constexpr char kSameFileMessage[] = "The file cannot be copied onto itself.";
inline constexpr char kMountPointMessage[] = "Another file system is mounted here; it is left as it is.";
inline constexpr char kTreeChangedMessage[] = "The directory was moved or replaced during the removal.";
inline constexpr char kParentPathMessage[] = "A path that ends in \"..\" is not removed; name the directory itself.";

// The line (line end included) for a file that cannot be opened or a program
// that cannot be started: the interpreter's words where it has some, the
// system's text otherwise.
std::string failure_text(int error);

}  // namespace port::posix::cmd
