#include "admin/common/step.h"

#include <cstdio>

#include "admin/common/exec_cmd.h"
#include "port/file.h"

bool run_step(const char* line, const char* name, std::initializer_list<const char*> made, char* detail,
              std::size_t size) {
  const int status = exec_cmd_in_order(line);
  if (status == -1) {
    std::snprintf(detail, size, "%s could not be started", name);
    return false;
  }
  if (status != 0) {
    std::snprintf(detail, size, "%s returned %d", name, status);
    return false;
  }
  for (const char* file : made) {
    port::FileInfo info;
    if (port::file_stat(file, &info) != 0 || !info.is_regular) {
      std::snprintf(detail, size, "%s left no file %s", name, file);
      return false;
    }
  }
  return true;
}
