// The framework's directories as a program run as root must find them, apart
// from the pid files' code so that what reads those needs no rule of owners.
#include <string>
#include <vector>

#include "admin/common/change_refusal.h"
#include "admin/processfiles/process_files.h"

bool framework_is_roots(const Diagnostics& diagnostics, const char* home, const UsedPath& own,
                        const std::string& command, const char* consequence) {
  std::vector<UsedPath> paths = framework_paths(home);
  paths.push_back(own);
  const auto refusal = refusal_as_root(paths, command);
  if (!refusal) return true;
  diagnostics.error("%s%s%s", refusal->c_str(), *consequence != '\0' ? "  " : "", consequence);
  return false;
}
