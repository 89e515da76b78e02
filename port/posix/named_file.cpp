// Opening a file that a program names: never a wait, only a regular file.
#include "port/posix/named_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"

namespace port::posix {

int open_named(const std::string& native, int flags, mode_t mode) {
  const bool writing = (flags & O_ACCMODE) != O_RDONLY || (flags & O_CREAT) != 0;
  if (writing) flags |= O_NOFOLLOW;
  UniqueFd fd = open_fd(native.c_str(), flags | O_NONBLOCK, mode);
  // A regular file under another process's lease refuses a non-blocking
  // open; a blocking one waits only until the lease is given up, which the
  // kernel bounds.
  if (!fd.valid() && errno == EWOULDBLOCK) fd = open_fd(native.c_str(), flags, mode);
  if (!fd.valid()) {
    // A FIFO or socket without a reader (ENXIO), a directory opened for
    // writing (EISDIR) and a link in the place of a file to write (ELOOP)
    // are no files to open, as on Windows.
    if (errno == ENXIO || errno == EISDIR || (writing && errno == ELOOP)) errno = EACCES;
    return -1;
  }
  struct stat info {};
  if (sys().fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    errno = EACCES;
    return -1;
  }
  const int status = sys().fcntl(fd.get(), F_GETFL);
  if (status == -1 || sys().fcntl(fd.get(), F_SETFL, status & ~O_NONBLOCK) == -1) return -1;
  return fd.release();
}

}  // namespace port::posix
