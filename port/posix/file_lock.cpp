// The lock between processes on POSIX: flock on the lock file, which the
// kernel drops with the last descriptor of the open file, the holder's or an
// inherited one of its children. The holder removes the file
// while it still holds the lock; whoever locked that file in the meantime
// finds its name gone or given to a new file, and starts again with the name.
#include "port/file_lock.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "port/posix/path.h"
#include "port/posix/proc_scan.h"
#include "port/posix/syscalls.h"

namespace port {

using posix::sys;

namespace {

// Each try ends with a lock, a holder found, or a name that moved on while
// we looked; a name cannot keep moving for long, but the tries are bounded.
constexpr int kTries = 100;

int lock_without_waiting(int fd) {
  for (;;) {
    if (sys().flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

// Whether the descriptor's file is the one the name leads to now.
bool still_named(int fd, const char* native) {
  struct stat opened {};
  struct stat named {};
  return sys().fstat(fd, &opened) == 0 && sys().stat(native, &named) == 0 && opened.st_dev == named.st_dev &&
         opened.st_ino == named.st_ino;
}

// The processes other than this one with a descriptor of the file, by their
// names; empty when none can be seen.
std::string processes_holding(const struct stat& file) {
  std::string found;
  for (const long pid : posix::processes_with_open(file.st_dev, file.st_ino)) {
    if (pid == ::getpid()) continue;
    posix::ProcStat process;
    const std::string name = posix::read_proc_stat(pid, &process) ? process.name : "?";
    found += (found.empty() ? "" : ", ") + name + " (pid " + std::to_string(pid) + ")";
  }
  return found;
}

}  // namespace

FileLock::Result FileLock::take(const char* path) {
  release();
  holders_.clear();
  const std::string native = posix::native_path(path);
  for (int attempt = 0; attempt < kTries; ++attempt) {
    // Never through a link: the lock file is this directory's own. Read
    // access is enough for the lock, so a file that another user's holder
    // left behind keeps nobody out. Inherited by the children.
    const int fd = sys().open(native.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK, 0666);
    if (fd < 0) {
      if (errno == EINTR) continue;
      // A directory in its place: Windows' answer.
      if (errno == EISDIR) errno = EACCES;
      return Result::kFailed;
    }
    // Opened without waiting, so that a FIFO in its place never blocks; but
    // only a regular file is locked, and so ever removed by release().
    struct stat opened {};
    if (sys().fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
      sys().close(fd);
      errno = EACCES;
      return Result::kFailed;
    }
    if (lock_without_waiting(fd) != 0) {
      const int error = errno;
      sys().close(fd);
      if (error == EWOULDBLOCK) holders_ = processes_holding(opened);
      errno = error;
      return error == EWOULDBLOCK ? Result::kHeld : Result::kFailed;
    }
    if (still_named(fd, native.c_str())) {
      handle_ = fd;
      path_ = native;
      return Result::kTaken;
    }
    sys().close(fd);
  }
  errno = EAGAIN;
  return Result::kHeld;
}

namespace {

// The kernel's list of the locks held, one line each:
// "N: FLOCK  ADVISORY  WRITE PID MAJOR:MINOR:INODE START END" (the device's
// numbers in hexadecimal), with "N: -> ..." lines for the ones waiting.
constexpr char kLockList[] = "/proc/locks";

bool listed(const std::string& list, const struct stat& file) {
  char wanted[64];
  std::snprintf(wanted, sizeof wanted, " %02x:%02x:%lu ", major(file.st_dev), minor(file.st_dev),
                static_cast<unsigned long>(file.st_ino));
  for (std::size_t at = 0; at < list.size();) {
    std::size_t end = list.find('\n', at);
    if (end == std::string::npos) end = list.size();
    const std::string line = list.substr(at, end - at);
    at = end + 1;
    if (line.find("->") != std::string::npos || line.find(" FLOCK ") == std::string::npos) continue;
    if (line.find(wanted) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

FileLock::Held FileLock::held(const char* path) {
  struct stat file {};
  if (sys().lstat(posix::native_path(path).c_str(), &file) != 0) {
    // No file, no holder: a holder's release takes the file away.
    return errno == ENOENT || errno == ENOTDIR ? Held::kNo : Held::kCannotTell;
  }
  if (!S_ISREG(file.st_mode)) return Held::kCannotTell;
  std::string list;
  if (!posix::read_whole(kLockList, &list)) return Held::kCannotTell;
  return listed(list, file) ? Held::kYes : Held::kNo;
}

void FileLock::release() {
  if (handle_ < 0) return;
  const int error = errno;
  // Removed while still held, so that no one can lock this file after us
  // and take it for the lock of the name.
  sys().unlink(path_.c_str());
  sys().close(static_cast<int>(handle_));
  handle_ = -1;
  path_.clear();
  errno = error;
}

}  // namespace port
