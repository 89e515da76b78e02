// Environment changes with the Windows runtime's _putenv semantics: an empty
// value removes the variable.
#include "port/env.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "port/posix/syscalls.h"

namespace port {

int put_env(const char* assignment) {
  const char* equals = assignment ? std::strchr(assignment, '=') : nullptr;
  if (equals == nullptr || equals == assignment) {
    errno = EINVAL;
    return -1;
  }
  const std::string name(assignment, equals);
  const char* value = equals + 1;
  if (*value == '\0') return posix::sys().unsetenv(name.c_str()) == 0 ? 0 : -1;
  return posix::sys().setenv(name.c_str(), value, 1) == 0 ? 0 : -1;
}

const char* get_env(const char* name) { return name ? std::getenv(name) : nullptr; }

}  // namespace port
