#pragma once
// The system calls of the POSIX port and of its command interpreter, reached
// through one table so that a unit test can make any of them fail without
// root, and the fault-injection test build (port/posix/start/) can make a
// chosen one fail in a running program.
#include <dirent.h>
#include <grp.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>

#include "port/posix/spawn.h"

namespace port::posix {

struct SysCalls {
  int (*spawn)(pid_t*, const char*, const SpawnPlan&, char* const[], char* const[]);
  pid_t (*waitpid)(pid_t, int*, int);
  int (*open)(const char*, int, ...);
  int (*openat)(int, const char*, int, ...);
  int (*pipe2)(int[2], int);
  ssize_t (*read)(int, void*, size_t);
  ssize_t (*write)(int, const void*, size_t);
  int (*fsync)(int);
  int (*close)(int);
  int (*stat)(const char*, struct stat*);
  int (*lstat)(const char*, struct stat*);
  int (*fstat)(int, struct stat*);
  int (*fstatat)(int, const char*, struct stat*, int);
  int (*statx)(int, const char*, int, unsigned, struct statx*);
  int (*access)(const char*, int);
  int (*chmod)(const char*, mode_t);  // never through a link in the last part
  int (*unlink)(const char*);
  int (*unlinkat)(int, const char*, int);
  int (*rename)(const char*, const char*);
  int (*chdir)(const char*);
  ssize_t (*readlink)(const char*, char*, size_t);
  char* (*getcwd)(char*, size_t);
  char* (*realpath)(const char*, char*);
  off_t (*lseek)(int, off_t, int);
  int (*fcntl)(int, int, ...);
  int (*flock)(int, int);
  DIR* (*opendir)(const char*);
  DIR* (*fdopendir)(int);
  struct dirent* (*readdir)(DIR*);
  int (*poll)(struct pollfd*, nfds_t, int);
  int (*kill)(pid_t, int);
  // A process named by a descriptor, which keeps naming it when its id is
  // taken again.
  int (*pidfd_open)(pid_t, unsigned);
  int (*pidfd_send_signal)(int, int, siginfo_t*, unsigned);
  int (*socket)(int, int, int);
  int (*connect)(int, const struct sockaddr*, socklen_t);
  ssize_t (*send)(int, const void*, size_t, int);
  ssize_t (*recv)(int, void*, size_t, int);
  int (*getsockopt)(int, int, int, void*, socklen_t*);
  char* (*getenv)(const char*);
  int (*setenv)(const char*, const char*, int);
  int (*unsetenv)(const char*);
  int (*initgroups)(const char*, gid_t);
  int (*setgroups)(size_t, const gid_t*);
  int (*setresgid)(gid_t, gid_t, gid_t);
  int (*setresuid)(uid_t, uid_t, uid_t);
  pid_t (*fork)();
  int (*getaddrinfo)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
  ssize_t (*getrandom)(void*, size_t, unsigned);
};

// The table in use; starts with the real calls.
SysCalls& sys();

// Restores the real calls (for tests).
void reset_sys();

}  // namespace port::posix
