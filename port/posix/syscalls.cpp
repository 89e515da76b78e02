// The table of system calls the POSIX port goes through.
#include "port/posix/syscalls.h"

#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

namespace port::posix {

namespace {

SysCalls real_calls() {
  SysCalls calls{};
  calls.spawn = &::posix_spawn;
  calls.waitpid = &::waitpid;
  calls.open = &::open;
  calls.close = &::close;
  calls.stat = &::stat;
  calls.access = &::access;
  calls.chmod = &::chmod;
  calls.unlink = &::unlink;
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

SysCalls table = real_calls();

}  // namespace

SysCalls& sys() { return table; }

void reset_sys() { table = real_calls(); }

}  // namespace port::posix
