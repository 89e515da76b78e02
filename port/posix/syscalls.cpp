// The table of system calls the POSIX port goes through.
#include "port/posix/syscalls.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdarg>

namespace port::posix {

namespace {

// A mode is only ever changed on the entry a path names, never on a
// symbolic link's target: a link refuses (EOPNOTSUPP).
int chmod_entry(const char* path, mode_t mode) { return ::fchmodat(AT_FDCWD, path, mode, AT_SYMLINK_NOFOLLOW); }

// The table holds entry points of its own rather than the C library's
// addresses: each address taken is a symbol the dynamic loader looks up at
// every start of every program, while a call is bound on first use only.
// open's and openat's mode is passed only where a file may be made.
bool takes_mode(int flags) { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }

int open_call(const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = takes_mode(flags) ? static_cast<mode_t>(va_arg(ap, int)) : 0;
  va_end(ap);
  return ::open(path, flags, mode);
}

int openat_call(int dir, const char* path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const mode_t mode = takes_mode(flags) ? static_cast<mode_t>(va_arg(ap, int)) : 0;
  va_end(ap);
  return ::openat(dir, path, flags, mode);
}

// Through syscall(): a C library older than the kernel has no wrapper.
int pidfd_open_call(pid_t pid, unsigned flags) { return static_cast<int>(::syscall(SYS_pidfd_open, pid, flags)); }

int pidfd_send_signal_call(int process_fd, int number, siginfo_t* info, unsigned flags) {
  return static_cast<int>(::syscall(SYS_pidfd_send_signal, process_fd, number, info, flags));
}

SysCalls real_calls() {
  SysCalls calls{};
  calls.spawn = &start_child;
  calls.waitpid = [](auto... a) { return ::waitpid(a...); };
  calls.open = &open_call;
  calls.openat = &openat_call;
  calls.pipe2 = [](auto... a) { return ::pipe2(a...); };
  calls.read = [](auto... a) { return ::read(a...); };
  calls.write = [](auto... a) { return ::write(a...); };
  calls.fsync = [](auto... a) { return ::fsync(a...); };
  calls.close = [](auto... a) { return ::close(a...); };
  calls.stat = [](auto... a) { return ::stat(a...); };
  calls.lstat = [](auto... a) { return ::lstat(a...); };
  calls.fstat = [](auto... a) { return ::fstat(a...); };
  calls.fstatat = [](auto... a) { return ::fstatat(a...); };
  calls.statx = [](auto... a) { return ::statx(a...); };
  calls.access = [](auto... a) { return ::access(a...); };
  calls.chmod = &chmod_entry;
  calls.unlink = [](auto... a) { return ::unlink(a...); };
  calls.unlinkat = [](auto... a) { return ::unlinkat(a...); };
  calls.rename = [](auto... a) { return ::rename(a...); };
  calls.chdir = [](auto... a) { return ::chdir(a...); };
  calls.readlink = [](auto... a) { return ::readlink(a...); };
  calls.getcwd = [](auto... a) { return ::getcwd(a...); };
  calls.realpath = [](auto... a) { return ::realpath(a...); };
  calls.lseek = [](auto... a) { return ::lseek(a...); };
  calls.fcntl = &::fcntl;
  calls.flock = [](auto... a) { return ::flock(a...); };
  calls.opendir = [](auto... a) { return ::opendir(a...); };
  calls.fdopendir = [](auto... a) { return ::fdopendir(a...); };
  calls.readdir = [](auto... a) { return ::readdir(a...); };
  calls.poll = [](auto... a) { return ::poll(a...); };
  calls.kill = [](auto... a) { return ::kill(a...); };
  calls.pidfd_open = &pidfd_open_call;
  calls.pidfd_send_signal = &pidfd_send_signal_call;
  calls.socket = [](auto... a) { return ::socket(a...); };
  calls.connect = [](auto... a) { return ::connect(a...); };
  calls.send = [](auto... a) { return ::send(a...); };
  calls.recv = [](auto... a) { return ::recv(a...); };
  calls.getsockopt = [](auto... a) { return ::getsockopt(a...); };
  calls.getenv = [](auto... a) { return ::getenv(a...); };
  calls.setenv = [](auto... a) { return ::setenv(a...); };
  calls.unsetenv = [](auto... a) { return ::unsetenv(a...); };
  calls.initgroups = [](auto... a) { return ::initgroups(a...); };
  calls.setgroups = [](auto... a) { return ::setgroups(a...); };
  calls.setresgid = [](auto... a) { return ::setresgid(a...); };
  calls.setresuid = [](auto... a) { return ::setresuid(a...); };
  calls.fork = [] { return ::fork(); };
  calls.getaddrinfo = [](auto... a) { return ::getaddrinfo(a...); };
  calls.getrandom = [](auto... a) { return ::getrandom(a...); };
  return calls;
}

// Reached through a function, so that the programs' start-up code, which may
// run before this file's own, finds it ready.
SysCalls& table() {
  static SysCalls calls = real_calls();
  return calls;
}

}  // namespace

SysCalls& sys() { return table(); }

void reset_sys() { table() = real_calls(); }

}  // namespace port::posix
