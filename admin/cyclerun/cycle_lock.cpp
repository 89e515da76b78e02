#include "admin/cyclerun/cycle_lock.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "admin/common/data_files.h"
#include "admin/common/installation.h"
#include "admin/common/messages.h"
#include "port/claim_file.h"
#include "port/file.h"

namespace {

constexpr int kLockPathSize = 288;

// The lock's path in the installation directory; false when there is none.
bool lock_path(char (&path)[kLockPathSize]) {
  const auto install = installation::directory(installation::Quiet::kNo);
  if (!install) return false;
  std::snprintf(path, sizeof path, "%s/%s", install->c_str(), kCycleLock);
  return true;
}

// The path of the lock this run holds. The release removes what was created,
// without asking the registry again: a second reading that failed would
// leave the lock behind and block every later cycle. For the same reason the
// lock goes when the run is told to end while it waits for the service.
char held[kLockPathSize];

}  // namespace

int lock_cycle() {
  char path[kLockPathSize];
  if (!lock_path(path)) return -1;
  // A path longer than the system takes could be made on one system and not
  // removed on another (the Windows runtime reports the too-long name as a
  // missing file): it is no lock this run can take and give back.
  if (std::strlen(path) > port::max_path_length()) {
    emit_msg(500, "LXC_MSG_021", path, ENAMETOOLONG);
    return -2;
  }
  if (port::create_claim_file(path) == 0) {
    std::snprintf(held, sizeof held, "%s", path);
    return 0;
  }
  const int error = errno;
  if (error == EEXIST) {
    emit_msg(500, "LXC_MSG_016");
    return -1;
  }
  emit_msg(500, "LXC_MSG_021", path, error);
  return -2;
}

int unlock_cycle() {
  char path[kLockPathSize];
  if (held[0] != '\0') {
    std::snprintf(path, sizeof path, "%s", held);
  } else if (!lock_path(path)) {
    return -1;
  }
  if (port::remove_claim_file(path) == 0) {
    held[0] = '\0';
    return 0;
  }
  const int error = errno;
  // A missing file is a free lock, also when this run made it and someone
  // took it away meanwhile: nothing is left to keep the next cycle out. A
  // removal that says "missing" while the file is still there failed.
  if (error == ENOENT && !port::exists(path)) {
    held[0] = '\0';
    return 0;
  }
  emit_msg(500, "LXC_MSG_022", path, error);
  return -1;
}
