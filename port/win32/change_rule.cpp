// Whether another user can change a path, on Windows: the rule does not
// apply. Who may write the installation's directories is set by their access
// lists, which the pages tell the administrator to keep; every path passes.
#include "port/change_rule.h"

#include <string>

#include "port/stream.h"

namespace port {

int judge_path(const char*, PathVerdict* verdict) {
  *verdict = PathVerdict();
  return 0;
}

std::FILE* open_instructions(const char* path, const char* mode, PathVerdict* verdict) {
  *verdict = PathVerdict();
  return open_file(path, mode);
}

bool ownership_judged() { return false; }

bool running_as_root() { return false; }

unsigned long effective_user() { return 0; }

std::string user_name(unsigned long uid) { return std::to_string(uid); }

std::string group_name(unsigned long gid) { return std::to_string(gid); }

}  // namespace port
