#include "port/posix/unique_fd.h"

#include <cerrno>

#include "port/posix/syscalls.h"

namespace port::posix {

void UniqueFd::reset(int fd) {
  if (fd_ >= 0 && fd_ != fd) {
    const int error = errno;
    sys().close(fd_);
    errno = error;
  }
  fd_ = fd;
}

UniqueFd open_fd(const char* path, int flags, mode_t mode) {
  for (;;) {
    const int fd = sys().open(path, flags, mode);
    if (fd >= 0 || errno != EINTR) return UniqueFd(fd);
  }
}

UniqueFd open_fd_at(int dir_fd, const char* name, int flags, mode_t mode) {
  for (;;) {
    const int fd = sys().openat(dir_fd, name, flags, mode);
    if (fd >= 0 || errno != EINTR) return UniqueFd(fd);
  }
}

UniqueDir::~UniqueDir() {
  if (dir_ != nullptr) {
    const int error = errno;
    ::closedir(dir_);
    errno = error;
  }
}

}  // namespace port::posix
