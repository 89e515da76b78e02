// The one path of a directory that several steps use, and the system's limit
// on paths.
#include <windows.h>

#include <cerrno>
#include <string>

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

int current_directory(std::string* dir) {
  char buffer[MAX_PATH];
  const DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
  if (length == 0 || length >= sizeof buffer) {
    errno = length == 0 ? ENOENT : ENAMETOOLONG;
    return -1;
  }
  dir->assign(buffer, length);
  return 0;
}

int absolute_path(const char* path, std::string* absolute) {
  const bool drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) && path[1] == ':';
  if (path[0] == '\\' || path[0] == '/' || drive) {
    *absolute = path;
    return 0;
  }
  std::string here;
  if (current_directory(&here) != 0) return -1;
  *absolute = !here.empty() && (here.back() == '\\' || here.back() == '/') ? here + path : here + "\\" + path;
  return 0;
}

}  // namespace port
