// Environment changes with the Windows runtime's _putenv semantics: an empty
// value removes the variable. A name is one name in any letter case, as on
// Windows, so that no inherited variant of a name the programs remove (an
// HTTP_PROXY that a web server made of a request's Proxy header) survives
// beside it, and no set name has a twin in another case.
#include "port/env.h"

#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "port/posix/syscalls.h"

namespace port {

namespace {

// True when the environment entry "NAME=value" has `name` in some letter
// case (the exact name included) as its name.
bool same_name(const char* entry, const std::string& name) {
  return strncasecmp(entry, name.c_str(), name.size()) == 0 && entry[name.size()] == '=';
}

// Every name of the environment that is `name` in another letter case.
std::vector<std::string> other_cases(const std::string& name) {
  std::vector<std::string> found;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (same_name(*entry, name) && std::strncmp(*entry, name.c_str(), name.size()) != 0) {
      found.emplace_back(*entry, name.size());
    }
  }
  return found;
}

}  // namespace

int put_env(const char* assignment) {
  const char* equals = assignment ? std::strchr(assignment, '=') : nullptr;
  if (equals == nullptr || equals == assignment) {
    errno = EINVAL;
    return -1;
  }
  const std::string name(assignment, equals);
  const char* value = equals + 1;
  for (const std::string& variant : other_cases(name)) {
    if (posix::sys().unsetenv(variant.c_str()) != 0) return -1;
  }
  if (*value == '\0') return posix::sys().unsetenv(name.c_str()) == 0 ? 0 : -1;
  return posix::sys().setenv(name.c_str(), value, 1) == 0 ? 0 : -1;
}

const char* get_env(const char* name) {
  if (name == nullptr) return nullptr;
  if (const char* exact = std::getenv(name)) return exact;
  const std::string wanted(name);
  if (wanted.empty() || wanted.find('=') != std::string::npos) return nullptr;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (same_name(*entry, wanted)) return *entry + wanted.size() + 1;
  }
  return nullptr;
}

}  // namespace port
