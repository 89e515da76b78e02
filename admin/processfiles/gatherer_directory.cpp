// The gatherer directory as the commands that look at a gatherer name it,
// apart from the pid files' code so that what reads those needs no
// installation settings.
#include "admin/common/installation.h"
#include "admin/processfiles/process_files.h"
#include "admin/processfiles/settings.h"

bool gatherer_directory_as_typed(const char* home, const char* name, std::string* dir) {
  char composed[2 * kProcessLineSize + 16];
  if (!compose_gatherer_directory(home, name, composed, sizeof composed)) return false;
  installation::swap_separators(composed, '\\', '/');
  *dir = composed;
  return true;
}
