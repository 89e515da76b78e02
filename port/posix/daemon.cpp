// The checks of a process a pid file names, on POSIX: by what /proc says of
// it, never by its id alone, which another process may have taken since.
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <string>
#include <vector>

#include "port/posix/path.h"
#include "port/posix/proc_scan.h"
#include "port/posix/started_as.h"
#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"
#include "port/process.h"

namespace port {

using posix::native_path;
using posix::sys;
using posix::UniqueFd;

namespace {

DaemonEnd failed(DaemonEnd result, int* error) {
  if (error != nullptr) *error = errno;
  return result;
}

DaemonEnd not_it(const char** why, const char* reason) {
  if (why != nullptr) *why = reason;
  return DaemonEnd::kNotTheDaemon;
}

UniqueFd open_process(long pid) {
  return UniqueFd(sys().pidfd_open(static_cast<pid_t>(pid), 0));
}

int send_signal(int process_fd, int number) {
  return sys().pidfd_send_signal(process_fd, number, nullptr, 0);
}

// Whether the process the handle names still runs: a process whose /proc
// entry is hidden is told from a gone one by a signal of 0.
bool still_there(int process_fd) { return send_signal(process_fd, 0) == 0 || errno != ESRCH; }

// What makes a process the daemon's, or one of its group's: the entry of the
// log it holds open for writing.
struct LogEntry {
  struct stat st {};
  const char* program = nullptr;
  bool device() const { return S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode); }
};

// Whether the process holds the log open for writing. Every daemon has its
// standard streams on the null device, and many other processes hold it:
// a device as the log counts only on a descriptor beyond the standard three,
// and only in a process that runs under the daemon's name.
posix::Scan writes_log(long pid, const posix::ProcStat& stat, const LogEntry& log) {
  if (log.device() && (log.program == nullptr || !posix::process_name_of(stat.name, log.program))) {
    return posix::Scan::kNoWriter;
  }
  return posix::process_writes(std::to_string(pid), log.st.st_dev, log.st.st_ino, log.device() ? 3 : 0);
}

// Waits until every process the handles name has ended, at most wait_ms;
// the id of one still there (0 when none is).
long wait_for_ends(const std::vector<UniqueFd>& handles, const std::vector<long>& ids, unsigned wait_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  for (std::size_t i = 0; i < handles.size(); ++i) {
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd gone{handles[i].get(), POLLIN, 0};
      const int ready = sys().poll(&gone, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
      if (ready > 0) break;
      if (ready < 0 && errno == EINTR) continue;
      return ids[i];
    }
  }
  return 0;
}

// Ends the daemon's group: the processes of the group that hold the log, each
// examined and signalled through a handle of its own. Their handles and ids
// join those given. kEnded when every one seen could be told to end. The
// holders of the log are found first, and only they are looked at further:
// they are few, the processes of the system many.
DaemonEnd end_group(long group, const LogEntry& log, std::vector<UniqueFd>* handles, std::vector<long>* ids,
                    int* error, long* process) {
  std::vector<long> holders;
  posix::scan_for_writer(log.st.st_dev, log.st.st_ino, &holders, log.device() ? 3 : 0);
  for (const long member : holders) {
    if (member == group) continue;  // the leader is judged by the caller
    UniqueFd handle = open_process(member);
    if (!handle.valid()) continue;  // gone meanwhile
    posix::ProcStat stat;
    // Read after the handle is had: while it still runs, the id is its own.
    if (!posix::read_proc_stat(member, &stat) || stat.group != group || stat.state == 'Z') continue;
    if (writes_log(member, stat, log) != posix::Scan::kWriter || !still_there(handle.get())) continue;
    if (send_signal(handle.get(), SIGKILL) != 0 && errno != ESRCH) {
      if (process != nullptr) *process = member;
      return failed(DaemonEnd::kRefused, error);
    }
    handles->push_back(std::move(handle));
    ids->push_back(member);
  }
  return DaemonEnd::kEnded;
}

DaemonEnd end_and_wait(long group, const LogEntry& log, bool whole_group, unsigned wait_ms,
                       std::vector<UniqueFd> handles, std::vector<long> ids, int* error, long* process) {
  if (whole_group) {
    const DaemonEnd members = end_group(group, log, &handles, &ids, error, process);
    if (members != DaemonEnd::kEnded) return members;
  }
  if (handles.empty()) return DaemonEnd::kNoProcess;
  const long left = wait_for_ends(handles, ids, wait_ms);
  if (left == 0) return DaemonEnd::kEnded;
  if (process != nullptr) *process = left;
  return DaemonEnd::kStillRunning;
}

}  // namespace

// Long as one piece: every check of the process is made on the one pidfd
// taken first, so that the process signalled is the one examined; the
// decision list reads in the order the checks must run.
DaemonEnd end_daemon(long pid, const DaemonCheck& check, int* error, const char** why, long* process) {
  if (process != nullptr) *process = pid;
  // kill() with 0, -1 or a negative id reaches whole groups, and 1 is init:
  // none of these is a process the caller can mean.
  if (pid <= 1 || pid > static_cast<long>(INT_MAX)) return DaemonEnd::kNoProcess;
  // The entries themselves: a link leads to any file, held by any process.
  struct stat pid_file {};
  LogEntry log;
  log.program = check.program;
  if (sys().lstat(native_path(check.pid_file).c_str(), &pid_file) != 0 ||
      sys().lstat(native_path(check.log).c_str(), &log.st) != 0) {
    return failed(DaemonEnd::kCannotExamine, error);
  }
  if (S_ISLNK(pid_file.st_mode)) return not_it(why, "the pid file is a symbolic link");
  if (S_ISLNK(log.st.st_mode)) return not_it(why, "the log is a symbolic link");
  std::vector<UniqueFd> handles;
  std::vector<long> ids;
  // The handle keeps naming this process even when its id is taken again.
  UniqueFd leader = open_process(pid);
  if (!leader.valid()) {
    if (errno != ESRCH) return failed(DaemonEnd::kCannotExamine, error);
    // Ended; what of its group holds the log is left for a forced stop.
    return end_and_wait(pid, log, check.whole_group, check.wait_ms, std::move(handles), std::move(ids), error,
                        process);
  }
  posix::ProcStat stat;
  if (!posix::read_proc_stat(pid, &stat)) {
    const int read_error = errno;
    // Gone, or hidden from this user (/proc mounted hidepid): only a process
    // that is gone is told as such.
    if ((read_error == ENOENT || read_error == ESRCH) && !still_there(leader.get())) {
      return end_and_wait(pid, log, check.whole_group, check.wait_ms, std::move(handles), std::move(ids), error,
                          process);
    }
    errno = read_error == ENOENT || read_error == ESRCH ? EACCES : read_error;
    return failed(DaemonEnd::kCannotExamine, error);
  }
  if (stat.state == 'Z') {
    return end_and_wait(pid, log, check.whole_group, check.wait_ms, std::move(handles), std::move(ids), error,
                        process);
  }
  // An id taken again belongs to a process that started after the daemon
  // wrote it.
  if (posix::started_after(stat.start, pid_file)) return not_it(why, "it started after the pid file was written");
  switch (writes_log(pid, stat, log)) {
    case posix::Scan::kWriter: break;
    case posix::Scan::kNoWriter:
      return not_it(why, log.device() ? "it does not hold the log open for writing under the daemon's name"
                                      : "it does not hold the log open for writing");
    case posix::Scan::kUnseen:
      if (errno == 0) errno = EACCES;
      return failed(DaemonEnd::kCannotExamine, error);
  }
  // Alive now, the process is the one examined: while it lives its id names
  // no other. Gone already, it was the daemon and has ended.
  if (send_signal(leader.get(), 0) == 0) {
    if (send_signal(leader.get(), SIGKILL) != 0 && errno != ESRCH) return failed(DaemonEnd::kRefused, error);
  } else if (errno != ESRCH) {
    return failed(DaemonEnd::kRefused, error);
  }
  handles.push_back(std::move(leader));
  ids.push_back(pid);
  // Its group is the one it was started in only while it leads it.
  return end_and_wait(pid, log, check.whole_group && stat.group == pid, check.wait_ms, std::move(handles),
                      std::move(ids), error, process);
}

AtWork program_at_work_here(long pid, const char* pid_file, const char* program, const char** why) {
  if (pid <= 0 || pid > static_cast<long>(INT_MAX) || pid == static_cast<long>(getpid())) return AtWork::kNo;
  posix::ProcStat stat;
  if (!posix::read_proc_stat(pid, &stat)) {
    // A process hidden from this user (/proc mounted hidepid) exists all
    // the same: only one that is gone is no launcher.
    if (sys().kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return AtWork::kNo;
    if (why != nullptr) *why = "it runs, but its /proc entry cannot be read";
    return AtWork::kCannotTell;
  }
  if (stat.state == 'Z') return AtWork::kNo;
  struct stat written {};
  if (sys().lstat(native_path(pid_file).c_str(), &written) != 0 || !S_ISREG(written.st_mode)) return AtWork::kNo;
  // A stale pid file whose id another process has taken since never blocks.
  if (posix::started_after(stat.start, written)) return AtWork::kNo;
  if (!posix::process_name_of(stat.name, program)) return AtWork::kNo;
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
