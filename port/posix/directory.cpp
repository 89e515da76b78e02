// The one path of a directory that several steps use, and the system's limit
// on paths.
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "port/file.h"
#include "port/posix/path.h"
#include "port/posix/syscalls.h"

namespace port {

std::size_t max_path_length() { return PATH_MAX - 1; }

int resolve_directory(const char* path, std::string* resolved) {
  const std::unique_ptr<char, decltype(&std::free)> real(
      posix::sys().realpath(posix::native_path(path).c_str(), nullptr), &std::free);
  if (real == nullptr) return -1;
  // Every later step would read a "\" in a name as a separator and reach
  // another directory: such a directory cannot be named by the programs.
  if (posix::holds_backslash(real.get())) {
    errno = EILSEQ;
    return -1;
  }
  struct stat info {};
  if (posix::sys().stat(real.get(), &info) != 0) return -1;
  if (!S_ISDIR(info.st_mode)) {
    errno = ENOTDIR;
    return -1;
  }
  *resolved = real.get();
  return 0;
}

int current_directory(std::string* dir) {
  std::string buffer(256, '\0');
  while (posix::sys().getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE || buffer.size() >= (1u << 16)) return -1;
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(std::strlen(buffer.c_str()));
  *dir = buffer;
  return 0;
}

int absolute_path(const char* path, std::string* absolute) {
  if (path[0] == '/' || path[0] == '\\') {
    *absolute = path;
    return 0;
  }
  std::string here;
  if (current_directory(&here) != 0) return -1;
  *absolute = here == "/" ? here + path : here + "/" + path;
  return 0;
}

}  // namespace port
