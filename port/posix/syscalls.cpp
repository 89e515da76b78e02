// The table of system calls the POSIX port goes through.
#include "port/posix/syscalls.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

namespace port::posix {

namespace {

// A mode is only ever changed on the entry a path names, never on a
// symbolic link's target: a link refuses (EOPNOTSUPP).
int chmod_entry(const char* path, mode_t mode) { return ::fchmodat(AT_FDCWD, path, mode, AT_SYMLINK_NOFOLLOW); }

SysCalls real_calls() {
  SysCalls calls{};
  calls.spawn = &start_child;
  calls.waitpid = &::waitpid;
  calls.open = &::open;
  calls.openat = &::openat;
  calls.pipe2 = &::pipe2;
  calls.read = &::read;
  calls.write = &::write;
  calls.fsync = &::fsync;
  calls.close = &::close;
  calls.stat = &::stat;
  calls.lstat = &::lstat;
  calls.fstat = &::fstat;
  calls.fstatat = &::fstatat;
  calls.access = &::access;
  calls.chmod = &chmod_entry;
  calls.unlink = &::unlink;
  calls.unlinkat = &::unlinkat;
  calls.rename = &::rename;
  calls.chdir = &::chdir;
  calls.fcntl = &::fcntl;
  calls.opendir = &::opendir;
  calls.kill = &::kill;
  calls.socket = &::socket;
  calls.connect = &::connect;
  calls.send = &::send;
  calls.recv = &::recv;
  calls.setenv = &::setenv;
  calls.unsetenv = &::unsetenv;
  calls.getaddrinfo = &::getaddrinfo;
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
