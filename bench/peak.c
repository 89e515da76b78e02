// lxpeak RUNS PROGRAM [ARGUMENT...]
// Runs the program RUNS times (looked up along the search path, its standard
// streams on the null device) and writes to standard output the largest
// peak resident memory in kB that wait4 reports for it: the high-water mark
// of the program and of each child it waited for, the largest of them.
//
// A process starts with the mark of the process it was started from: the
// kernel keeps the old image's mark across exec, so a fork of a large
// interpreter counts the interpreter. This driver is small plain C, started
// from nothing heavier than the program itself, and starts the program with
// posix_spawn: its mark is about that of a program that does nothing
// (/bin/true), which is the floor of every figure it writes.
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

// One run: its mark in kB (Linux gives kB), or -1 saying why.
static long peak_kb(char* const argv[]) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd = 0; fd <= 2; ++fd) {
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  pid_t pid = -1;
  const int error = posix_spawnp(&pid, argv[0], &actions, NULL, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    fprintf(stderr, "lxpeak: cannot start %s: %s\n", argv[0], strerror(error));
    return -1;
  }
  int status = 0;
  struct rusage usage;
  pid_t ended;
  do {
    ended = wait4(pid, &status, 0, &usage);
  } while (ended < 0 && errno == EINTR);
  if (ended != pid) {
    fprintf(stderr, "lxpeak: waiting for %s: %s\n", argv[0], strerror(errno));
    return -1;
  }
  return usage.ru_maxrss;
}

int main(int argc, char** argv) {
  const int runs = argc >= 3 ? atoi(argv[1]) : 0;
  if (runs <= 0) {
    fputs("usage: lxpeak RUNS PROGRAM [ARGUMENT...]\n", stderr);
    return 2;
  }
  long largest = 0;
  for (int i = 0; i < runs; ++i) {
    const long kb = peak_kb(argv + 2);
    if (kb < 0) return 1;
    if (kb > largest) largest = kb;
  }
  printf("%ld\n", largest);
  return 0;
}
