#pragma once
// The system calls of the POSIX port, reached through one table so that a unit
// test can make any of them fail without root.
#include <dirent.h>
#include <netdb.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <cstdio>

namespace port::posix {

struct SysCalls {
  int (*spawn)(pid_t*, const char*, const posix_spawn_file_actions_t*, const posix_spawnattr_t*,
               char* const[], char* const[]);
  pid_t (*waitpid)(pid_t, int*, int);
  int (*open)(const char*, int, ...);
  ssize_t (*read)(int, void*, size_t);
  ssize_t (*write)(int, const void*, size_t);
  int (*fsync)(int);
  int (*close)(int);
  int (*stat)(const char*, struct stat*);
  int (*access)(const char*, int);
  int (*chmod)(const char*, mode_t);  // never through a link in the last part
  int (*unlink)(const char*);
  int (*rename)(const char*, const char*);
  int (*chdir)(const char*);
  int (*fcntl)(int, int, ...);
  DIR* (*opendir)(const char*);
  int (*kill)(pid_t, int);
  int (*socket)(int, int, int);
  int (*connect)(int, const struct sockaddr*, socklen_t);
  ssize_t (*send)(int, const void*, size_t, int);
  ssize_t (*recv)(int, void*, size_t, int);
  int (*setenv)(const char*, const char*, int);
  int (*unsetenv)(const char*);
  int (*getaddrinfo)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
};

// The table in use; starts with the real calls.
SysCalls& sys();

// Restores the real calls (for tests).
void reset_sys();

// Fault injection, a test mode of the programs. When the environment variable
//   LORVEX_TEST_FAULT_INJECTION=KIND:N:ERROR[:HITFILE]
// is set as a program starts, the N-th call (from 1) of one kind made through
// the table fails with the error, once. KIND is one of open, read, write,
// close, rename, unlink, chmod, spawn, socket, connect, fsync; ERROR one of
// ENOSPC, EIO, EMFILE, EACCES, EINTR. When the fault is dealt, a line is
// appended to HITFILE (when given), so that a test can tell a run that met
// its fault from one that made fewer calls. A close or a connect is made
// before its failure is reported, as the kernel releases the descriptor or
// goes on connecting whatever the result says; the other calls are not made.
// The variable is removed from the environment at once, so the program's
// children run without faults; a value that cannot be read is ignored.
// While the mode is on, the streams of open_file and standard output go
// through the table as well (standard error does not: it is where the
// failures are reported). Without the variable nothing changes and nothing
// is spent.
void start_fault_injection();
bool fault_injection_active();

// A stream over a descriptor whose reads, writes and close go through the
// table (mode as fdopen's); null with errno on failure. Interrupted reads and
// writes are retried.
std::FILE* table_stream(int fd, const char* mode);

}  // namespace port::posix
