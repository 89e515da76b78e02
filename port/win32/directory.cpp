// The one path of a directory that several steps use, and the system's limit
// on paths.
#include <windows.h>

#include <cerrno>

#include "port/file.h"

namespace port {

// MAX_PATH holds the terminating zero.
std::size_t max_path_length() { return MAX_PATH - 1; }

int resolve_directory(const char* path, std::string* resolved) {
  char full[MAX_PATH];
  const DWORD length = GetFullPathNameA(path, sizeof full, full, nullptr);
  if (length == 0) {
    errno = ENOENT;
    return -1;
  }
  if (length >= sizeof full) {
    errno = ENAMETOOLONG;
    return -1;
  }
  const DWORD attributes = GetFileAttributesA(full);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    errno = ENOENT;
    return -1;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    errno = ENOTDIR;
    return -1;
  }
  resolved->assign(full, length);
  return 0;
}

}  // namespace port
