#pragma once
// Reparse points (symbolic links and their kind) in the place of a file.
#include <windows.h>

namespace port::win32 {

// A symbolic link or another reparse point in the place of the file: a
// program never changes the mode of, nor writes through, what it leads to.
inline bool is_reparse_point(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace port::win32
