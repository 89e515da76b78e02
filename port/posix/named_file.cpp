// Opening a file that a program names: never a wait, only a regular file.
#include "port/posix/named_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"

namespace port::posix {

namespace {

// The file the name leads to now, opened with `flags` only when it is a
// regular file; blocking (bounded by the lease break). An invalid descriptor
// with errno otherwise.
UniqueFd reopen_leased(const std::string& native, int flags) {
  const int writing = flags & O_NOFOLLOW;
  UniqueFd held = open_fd(native.c_str(), O_PATH | O_CLOEXEC | writing);
  if (!held.valid()) return held;
  struct stat info {};
  if (sys().fstat(held.get(), &info) != 0) return UniqueFd();
  if (!S_ISREG(info.st_mode)) {
    errno = EACCES;
    return UniqueFd();
  }
  // The file exists: creating or refusing an existing one no longer applies,
  // and the link of the descriptor is followed on purpose.
  const std::string self = "/proc/self/fd/" + std::to_string(held.get());
  return open_fd(self.c_str(), flags & ~(O_CREAT | O_EXCL | O_NOFOLLOW));
}

}  // namespace

int open_named(const std::string& native, int flags, mode_t mode) {
  const bool writing = (flags & O_ACCMODE) != O_RDONLY || (flags & O_CREAT) != 0;
  if (writing) flags |= O_NOFOLLOW;
  UniqueFd fd = open_fd(native.c_str(), flags | O_NONBLOCK, mode);
  // A regular file under another process's lease refuses a non-blocking
  // open; a blocking one waits only until the lease is given up, which the
  // kernel bounds. That wait is for this very file: the name could meanwhile
  // lead to another (a FIFO renamed into its place, whose open would wait for
  // ever), so the file is held without being opened, examined, and then
  // opened again through that hold, never by its name a second time.
  if (!fd.valid() && errno == EWOULDBLOCK) fd = reopen_leased(native, flags);
  if (!fd.valid()) {
    // A FIFO or socket without a reader (ENXIO), a directory opened for
    // writing (EISDIR) and a link in the place of a file to write (ELOOP)
    // (or any file opened without following a link) are no files to open,
    // as on Windows.
    if (errno == ENXIO || errno == EISDIR || ((flags & O_NOFOLLOW) != 0 && errno == ELOOP)) errno = EACCES;
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
