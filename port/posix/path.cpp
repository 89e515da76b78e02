// Windows separators in paths that reach the POSIX file system.
#include "port/posix/path.h"

#include "port/text.h"

namespace port::posix {

std::string native_path(const char* path) {
  std::string result(path);
  for (std::size_t i = 0; i < result.size(); ++i) {
    if (port::double_byte_at(result, i)) {
      ++i;  // the second byte of a double-byte character may be 0x5C: keep it
    } else if (result[i] == '\\') {
      result[i] = '/';
    }
  }
  return result;
}

bool holds_backslash(const std::string& path) {
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (port::double_byte_at(path, i)) {
      ++i;
    } else if (path[i] == '\\') {
      return true;
    }
  }
  return false;
}

}  // namespace port::posix
