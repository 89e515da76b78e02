// Acting as another user on Windows: there is no such switch; the pages tell
// the administrator to run the programs as the account that owns the
// directories.
#include "port/user_switch.h"

#include <cerrno>

namespace port {

int find_user(const char*, UserAccount*) {
  errno = ENOSYS;
  return -1;
}

int find_user_by_id(unsigned long, UserAccount*) {
  errno = ENOSYS;
  return -1;
}

int become_user(const UserAccount&, std::string* why) {
  *why = "a program cannot act as another user on Windows";
  return -1;
}

int run_as_user(const UserAccount&, const std::function<std::string()>&, std::string*, std::string* why) {
  *why = "a program cannot act as another user on Windows";
  return -1;
}

}  // namespace port
