// Whether some process holds a file open for writing, on POSIX: a read
// lease is refused exactly then; where leases cannot be had, the descriptors
// of the processes are looked through. The name is examined as the entry
// itself before anything is opened, and only a plain file is ever opened,
// never through a link: opening a FIFO or a device can block, or act on the
// device, and a link may lead to any file of any process.
#include "port/held_open.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "port/posix/path.h"
#include "port/posix/proc_scan.h"
#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"

namespace port {

using posix::native_path;
using posix::open_fd;
using posix::Scan;
using posix::sys;
using posix::UniqueFd;

namespace {

constexpr char kUnseenReason[] =
    "no lease can be taken on it and the processes that may hold it cannot be examined";

HoldState cannot_tell(const char** why, const char* reason) {
  if (why != nullptr) *why = reason;
  return HoldState::kCannotTell;
}

HoldState from_scan(const struct stat& st, const char** why) {
  switch (posix::scan_for_writer(st.st_dev, st.st_ino)) {
    case Scan::kWriter: return HoldState::kHeld;
    case Scan::kNoWriter: return HoldState::kFree;
    case Scan::kUnseen: break;
  }
  return cannot_tell(why, kUnseenReason);
}

// What the kind of a file that is no plain file says; kFree for a plain one.
HoldState by_kind(const struct stat& st, const char** why) {
  if (S_ISREG(st.st_mode)) return HoldState::kFree;
  // Nobody writes a directory; on Windows the deny-write open of one fails
  // as if it were held, and the second open that would tell fails alike.
  if (S_ISDIR(st.st_mode)) return cannot_tell(why, "it is a directory");
  // A process that opens one to write blocks until a reader comes: a run
  // started against it would never begin.
  if (S_ISFIFO(st.st_mode)) return cannot_tell(why, "it is a FIFO");
  if (S_ISSOCK(st.st_mode)) return cannot_tell(why, "it is a socket");
  // Many processes write a device such as the null device: only a check of
  // the process in question can tell.
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return HoldState::kDevice;
  if (S_ISLNK(st.st_mode)) {
    if (why != nullptr) *why = "it is a symbolic link";
    return HoldState::kLink;
  }
  return cannot_tell(why, "it is no plain file");
}

}  // namespace

HoldState held_open_for_writing(const char* path, const char** why) {
  const std::string native = native_path(path);
  struct stat named {};
  if (sys().lstat(native.c_str(), &named) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return HoldState::kMissing;
    return cannot_tell(why, "it cannot be looked at");
  }
  if (const HoldState kind = by_kind(named, why); kind != HoldState::kFree) return kind;
  // A real descriptor, not a path one: a lease is taken on an open file.
  const UniqueFd fd = open_fd(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
  if (!fd.valid()) {
    if (errno == ENOENT || errno == ENOTDIR) return HoldState::kMissing;
    // A link put in its place since the look.
    if (errno == ELOOP) {
      if (why != nullptr) *why = "it is a symbolic link";
      return HoldState::kLink;
    }
    return from_scan(named, why);
  }
  struct stat st {};
  if (sys().fstat(fd.get(), &st) != 0) return cannot_tell(why, kUnseenReason);
  // Replaced between the look and the open: what was opened is not what was
  // examined.
  if (st.st_dev != named.st_dev || st.st_ino != named.st_ino) {
    if (const HoldState kind = by_kind(st, why); kind != HoldState::kFree) return kind;
  }
  // A read lease is refused with EAGAIN exactly when the file is open for
  // writing somewhere. Should a writer open it while we hold the lease, the
  // kernel signals us; SIGURG is ignored by default, where the default SIGIO
  // would end the caller.
  sys().fcntl(fd.get(), F_SETSIG, SIGURG);
  if (sys().fcntl(fd.get(), F_SETLEASE, F_RDLCK) == 0) {
    sys().fcntl(fd.get(), F_SETLEASE, F_UNLCK);
    return HoldState::kFree;
  }
  if (errno == EAGAIN) return HoldState::kHeld;
  // Leases are not available here (file system, ownership): look for a writer.
  return from_scan(st, why);
}

int writers_of(const char* path, long* pids, int capacity) {
  struct stat st {};
  if (sys().lstat(native_path(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  std::vector<long> writers;
  posix::scan_for_writer(st.st_dev, st.st_ino, &writers);
  for (int i = 0; i < capacity && i < static_cast<int>(writers.size()); ++i) pids[i] = writers[i];
  return static_cast<int>(writers.size());
}

}  // namespace port
