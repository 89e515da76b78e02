/* Starts the program it is given, with its arguments, and waits for it: the
   least any program that starts a child and waits for it can do, in C, with
   the C library's own start of a child. Beside the wrappers and the launcher
   it shows how much of their ratio to their child is not theirs to lose. */
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

int main(int argc, char** argv) {
  pid_t pid;
  int status;
  if (argc < 2 || posix_spawn(&pid, argv[1], 0, 0, argv + 1, environ) != 0) return 127;
  if (waitpid(pid, &status, 0) != pid) return 127;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}
