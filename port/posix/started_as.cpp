#include "port/posix/started_as.h"

#include <strings.h>
#include <sys/auxv.h>

#include <string>

#include "port/process.h"

namespace port::posix {

const char* started_path(const char* argv0) {
  // The kernel keeps the path execve was given in the auxiliary vector.
  const auto kept = reinterpret_cast<const char*>(::getauxval(AT_EXECFN));
  if (kept != nullptr && *kept != '\0') return kept;
  return argv0 != nullptr ? argv0 : "";
}

}  // namespace port::posix

namespace port {

std::string program_name() {
  std::string name = posix::started_path(nullptr);
  const std::size_t slash = name.rfind('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  if (name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".exe") == 0) name.resize(name.size() - 4);
  return name;
}

}  // namespace port
