#include "port/path_env.h"

#include <new>
#include <string>

#include "port/env.h"
#include "port/posix/path.h"

namespace port {

int prepend_search_path(const char* const* dirs, int count) {
  try {
    std::string value = "PATH=";
    for (int i = 0; i < count; ++i) {
      if (i > 0) value += ':';
      value += posix::native_path(dirs[i]);
    }
    const char* current = get_env("PATH");
    if (current != nullptr && current[0] != '\0') {
      value += ':';
      value += current;
    }
    return put_env(value.c_str());
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

}  // namespace port
