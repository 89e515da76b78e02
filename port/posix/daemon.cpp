// The checks of a process a pid file names, on POSIX: by what /proc says of
// it, never by its id alone, which another process may have taken since.
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "port/posix/path.h"
#include "port/posix/proc_scan.h"
#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"
#include "port/process.h"

namespace port {

using posix::native_path;
using posix::sys;
using posix::UniqueFd;

namespace {

// The longest name the system keeps for a process.
constexpr std::size_t kNameLength = 15;

DaemonEnd failed(DaemonEnd result, int* error) {
  if (error != nullptr) *error = errno;
  return result;
}

DaemonEnd not_it(const char** why, const char* reason) {
  if (why != nullptr) *why = reason;
  return DaemonEnd::kNotTheDaemon;
}

int send_signal(int process_fd, int number) {
  return static_cast<int>(::syscall(SYS_pidfd_send_signal, process_fd, number, nullptr, 0));
}

}  // namespace

DaemonEnd end_daemon(long pid, const DaemonCheck& check, int* error, const char** why) {
  // kill() with 0, -1 or a negative id reaches whole groups, and 1 is init:
  // none of these is a process the caller can mean.
  if (pid <= 1 || pid > static_cast<long>(INT_MAX)) return DaemonEnd::kNoProcess;
  // The handle keeps naming this process even when its id is taken again.
  const UniqueFd process(static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0)));
  if (!process.valid()) {
    return errno == ESRCH ? DaemonEnd::kNoProcess : failed(DaemonEnd::kCannotExamine, error);
  }
  posix::ProcStat stat;
  if (!posix::read_proc_stat(pid, &stat)) {
    return errno == ENOENT || errno == ESRCH ? DaemonEnd::kNoProcess : failed(DaemonEnd::kCannotExamine, error);
  }
  if (stat.state == 'Z') return DaemonEnd::kNoProcess;
  struct stat pid_file {};
  struct stat log {};
  if (sys().stat(native_path(check.pid_file).c_str(), &pid_file) != 0 ||
      sys().stat(native_path(check.log).c_str(), &log) != 0) {
    return failed(DaemonEnd::kCannotExamine, error);
  }
  // An id taken again belongs to a process that started after the daemon
  // wrote it.
  if (posix::started_after(stat.start, pid_file)) return not_it(why, "it started after the pid file was written");
  // Every daemon has its standard streams on the null device: a device as
  // the log counts only on a descriptor beyond them.
  const int lowest_fd = S_ISCHR(log.st_mode) || S_ISBLK(log.st_mode) ? 3 : 0;
  switch (posix::process_writes(std::to_string(pid), log.st_dev, log.st_ino, lowest_fd)) {
    case posix::Scan::kWriter: break;
    case posix::Scan::kNoWriter: return not_it(why, "it does not hold the log open for writing");
    case posix::Scan::kUnseen:
      if (errno == 0) errno = EACCES;
      return failed(DaemonEnd::kCannotExamine, error);
  }
  // Alive now, the process is the one examined: while it lives its id names
  // no other. Gone already, it was the daemon and has ended.
  if (send_signal(process.get(), 0) != 0) {
    return errno == ESRCH ? DaemonEnd::kEnded : failed(DaemonEnd::kRefused, error);
  }
  if (send_signal(process.get(), SIGKILL) != 0) {
    if (errno != ESRCH) return failed(DaemonEnd::kRefused, error);
  }
  // Children that inherited the log go with it; only a group the daemon
  // leads, as it was started, never one it shares with its starter.
  if (check.whole_group && stat.group == pid) sys().kill(-static_cast<pid_t>(pid), SIGKILL);
  pollfd gone{process.get(), POLLIN, 0};
  int ready;
  do {
    ready = ::poll(&gone, 1, static_cast<int>(check.wait_ms));
  } while (ready < 0 && errno == EINTR);
  return ready > 0 ? DaemonEnd::kEnded : DaemonEnd::kStillRunning;
}

AtWork program_at_work_here(long pid, const char* pid_file, const char* program, const char** why) {
  if (pid <= 0 || pid > static_cast<long>(INT_MAX) || pid == static_cast<long>(getpid())) return AtWork::kNo;
  posix::ProcStat stat;
  if (!posix::read_proc_stat(pid, &stat) || stat.state == 'Z') return AtWork::kNo;
  struct stat written {};
  if (sys().stat(native_path(pid_file).c_str(), &written) != 0) return AtWork::kNo;
  // A stale pid file whose id another process has taken since never blocks.
  if (posix::started_after(stat.start, written)) return AtWork::kNo;
  if (stat.name != std::string(program).substr(0, kNameLength)) return AtWork::kNo;
  struct stat theirs {};
  struct stat here {};
  const std::string cwd = "/proc/" + std::to_string(pid) + "/cwd";
  if (sys().stat(cwd.c_str(), &theirs) != 0) {
    if (errno == ENOENT || errno == ESRCH) return AtWork::kNo;
    if (why != nullptr) *why = "its working directory cannot be read";
    return AtWork::kCannotTell;
  }
  if (sys().stat(".", &here) != 0) {
    if (why != nullptr) *why = "the current directory cannot be looked at";
    return AtWork::kCannotTell;
  }
  return theirs.st_dev == here.st_dev && theirs.st_ino == here.st_ino ? AtWork::kYes : AtWork::kNo;
}

}  // namespace port
