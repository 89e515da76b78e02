// Whether some process holds a file open for writing, on POSIX: a read
// lease is refused exactly then; where leases cannot be had, the descriptors
// of the processes are looked through.
#include "port/held_open.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "port/posix/path.h"
#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"

namespace port {

using posix::native_path;
using posix::open_fd;
using posix::sys;
using posix::UniqueDir;
using posix::UniqueFd;

namespace {

bool all_digits(const char* text) {
  if (*text == '\0') return false;
  for (; *text; ++text) {
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

// What the descriptors of the processes say about one file.
enum class Scan { kWriter, kNoWriter, kUnseen };

// The access mode in /proc/PID/fdinfo/FD ("flags:" is octal): 1 for writing,
// 0 for not, -1 when it cannot be read (the descriptor may have been closed).
int fd_open_for_writing(const std::string& fdinfo_path) {
  std::FILE* file = std::fopen(fdinfo_path.c_str(), "r");
  if (file == nullptr) return -1;
  char line[256];
  int writing = -1;
  while (std::fgets(line, sizeof line, file) != nullptr) {
    if (std::strncmp(line, "flags:", 6) == 0) {
      const unsigned long flags = std::strtoul(line + 6, nullptr, 8);
      const unsigned long mode = flags & O_ACCMODE;
      writing = mode == O_WRONLY || mode == O_RDWR ? 1 : 0;
      break;
    }
  }
  std::fclose(file);
  if (writing < 0) errno = EIO;
  return writing;
}

// Looks through every process's descriptors for one that has this file open
// for writing. A process that ends meanwhile holds nothing; one whose
// descriptors may not be looked into (another user's, or every other one
// where /proc hides them) leaves the answer open.
Scan scan_for_writer(dev_t dev, ino_t ino) {
  const UniqueDir proc(sys().opendir("/proc"));
  if (proc.get() == nullptr) return Scan::kUnseen;
  // With other users' processes hidden from the listing, the first process
  // of the system is missing from it too.
  struct stat first {};
  if (sys().stat("/proc/1", &first) != 0) return Scan::kUnseen;
  bool unseen = false;
  while (const dirent* process = readdir(proc.get())) {
    if (!all_digits(process->d_name)) continue;
    const std::string fd_dir = std::string("/proc/") + process->d_name + "/fd";
    const UniqueDir fds(sys().opendir(fd_dir.c_str()));
    if (fds.get() == nullptr) {
      if (errno != ENOENT) unseen = true;
      continue;
    }
    while (const dirent* entry = readdir(fds.get())) {
      if (!all_digits(entry->d_name)) continue;
      struct stat st {};
      if (sys().stat((fd_dir + "/" + entry->d_name).c_str(), &st) != 0) continue;
      if (st.st_dev != dev || st.st_ino != ino) continue;
      const std::string info = std::string("/proc/") + process->d_name + "/fdinfo/" + entry->d_name;
      const int writing = fd_open_for_writing(info);
      if (writing == 1) return Scan::kWriter;
      if (writing < 0 && errno != ENOENT) unseen = true;
    }
  }
  return unseen ? Scan::kUnseen : Scan::kNoWriter;
}

constexpr char kDirectoryReason[] = "it is a directory";
constexpr char kUnseenReason[] =
    "no lease can be taken on it and the processes that may hold it cannot be examined";

HoldState from_scan(const struct stat& st, const char** why) {
  switch (scan_for_writer(st.st_dev, st.st_ino)) {
    case Scan::kWriter: return HoldState::kHeld;
    case Scan::kNoWriter: return HoldState::kFree;
    case Scan::kUnseen: break;
  }
  if (why != nullptr) *why = kUnseenReason;
  return HoldState::kCannotTell;
}

}  // namespace

HoldState held_open_for_writing(const char* path, const char** why) {
  const std::string native = native_path(path);
  const UniqueFd fd = open_fd(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat st {};
  if (!fd.valid()) {
    if (errno == ENOENT || errno == ENOTDIR) return HoldState::kMissing;
    if (sys().stat(native.c_str(), &st) != 0) {
      if (errno == ENOENT || errno == ENOTDIR) return HoldState::kMissing;
      if (why != nullptr) *why = kUnseenReason;
      return HoldState::kCannotTell;
    }
  } else if (sys().fstat(fd.get(), &st) != 0) {
    if (why != nullptr) *why = kUnseenReason;
    return HoldState::kCannotTell;
  }
  // Nobody writes a directory; on Windows the deny-write open of one fails
  // as if it were held, and the second open that would tell fails alike.
  if (S_ISDIR(st.st_mode)) {
    if (why != nullptr) *why = kDirectoryReason;
    return HoldState::kCannotTell;
  }
  if (!fd.valid()) return from_scan(st, why);
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

}  // namespace port
