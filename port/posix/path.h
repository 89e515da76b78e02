#pragma once
// Windows path separators on POSIX.
#include <string>

namespace port::posix {

// Every "\" becomes "/", except the second byte of a Shift_JIS double-byte
// character.
std::string native_path(const char* path);

// Whether a path holds a "\" that is no second byte of a double-byte
// character: in a path the file system gave (a real path, the current
// directory) it is part of a name, which native_path would read as a
// separator, naming another file.
bool holds_backslash(const std::string& path);

}  // namespace port::posix
