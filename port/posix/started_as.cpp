#include "port/posix/started_as.h"

#include <sys/auxv.h>

namespace port::posix {

const char* started_path(const char* argv0) {
  // The kernel keeps the path execve was given in the auxiliary vector.
  const auto kept = reinterpret_cast<const char*>(::getauxval(AT_EXECFN));
  if (kept != nullptr && *kept != '\0') return kept;
  return argv0 != nullptr ? argv0 : "";
}

}  // namespace port::posix
