#pragma once
// Windows path separators on POSIX.
#include <string>

namespace port::posix {

// Every "\" becomes "/", except the second byte of a Shift_JIS double-byte
// character.
std::string native_path(const char* path);

}  // namespace port::posix
