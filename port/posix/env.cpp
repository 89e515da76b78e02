// Environment changes with the Windows runtime's _putenv semantics: an empty
// value removes the variable. A name is one name in any letter case, as on
// Windows, so that no inherited variant of a name the programs remove (an
// HTTP_PROXY that a web server made of a request's Proxy header) survives
// beside it, and no set name has a twin in another case.
#include "port/env.h"

#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "port/local_time.h"
#include "port/posix/root_path.h"
#include "port/posix/syscalls.h"
#include "port/process.h"

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
  if (posix::sys().setenv(name.c_str(), value, 1) != 0) return -1;
  if (strcasecmp(name.c_str(), "PATH") == 0) posix::drop_relative_search_entries();
  return 0;
}

const char* get_env(const char* name) {
  if (name == nullptr) return nullptr;
  if (const char* exact = posix::sys().getenv(name)) return exact;
  const std::string wanted(name);
  if (wanted.empty() || wanted.find('=') != std::string::npos) return nullptr;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (same_name(*entry, wanted)) return *entry + wanted.size() + 1;
  }
  return nullptr;
}

}  // namespace port

namespace port::posix {

namespace {

void warn_dropped(const std::string& entry) {
  char stamp[kTimeStampSize] = "";
  format_local_time(stamp, sizeof stamp);
  const std::string what = entry.empty() ? std::string("the empty entry (the current directory)")
                                         : "the relative entry \"" + entry + "\"";
  std::fprintf(stderr,
               "%s: %s: Warning: %s of PATH is left out: run as root, a program searches only absolute "
               "directories.\n",
               program_name().c_str(), stamp, what.c_str());
  std::fflush(stderr);
}

}  // namespace

void drop_relative_search_entries() {
  if (::geteuid() != 0) return;
  const char* current = sys().getenv("PATH");
  if (current == nullptr) return;
  const std::string value = current;
  std::string kept;
  bool dropped = false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = value.find(':', start);
    const std::string entry = value.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (!entry.empty() && (entry[0] == '/' || entry[0] == '\\')) {
      if (!kept.empty()) kept += ':';
      kept += entry;
    } else {
      dropped = true;
      warn_dropped(entry);
    }
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  if (!dropped) return;
  // No PATH at all would give the C library's default, which holds no
  // relative entry either.
  if (kept.empty()) {
    sys().unsetenv("PATH");
  } else {
    sys().setenv("PATH", kept.c_str(), 1);
  }
}

}  // namespace port::posix
