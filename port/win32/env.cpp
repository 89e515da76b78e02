// The environment through the C runtime, so that getenv and the children the
// runtime and CreateProcessA start see the same values.
#include "port/env.h"

#include <cstdlib>
#include <cstring>

namespace port {

int put_env(const char* assignment) {
  // The runtime refuses a text without "=" too, but say so here rather than
  // rely on each runtime version's reading of it.
  if (assignment == nullptr || std::strchr(assignment, '=') == nullptr) return -1;
  // _putenv copies the text (msvcrt keeps its own copy and updates the
  // process environment block), so the caller's buffer may be reused.
  return _putenv(assignment) == 0 ? 0 : -1;
}

const char* get_env(const char* name) { return name == nullptr ? nullptr : std::getenv(name); }

}  // namespace port
