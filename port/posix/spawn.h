#pragma once
// Starting a program and waiting for it, for the port's own runner and the
// command interpreter alike: posix_spawn (never fork: the callers may be
// large and sanitized, and spawn reports exec failures directly), through
// the call table.
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>

#include <cerrno>
#include <string>
#include <vector>

namespace port::posix {

// Owns the spawn attributes and file actions for one start. Each step
// returns 0, or the error number of its failure.
class SpawnSetup {
 public:
  SpawnSetup();
  ~SpawnSetup();
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  int init_error() const { return attr_ok_ && actions_ok_ ? 0 : ENOMEM; }

  // Every program ignores SIGPIPE; its children start with the default
  // disposition, as a Windows child knows no such signal to inherit. The
  // child starts with this signal mask.
  int signal_defaults(const sigset_t& mask);
  // A process group of the child's own.
  int new_group();
  int chdir_to(const std::string& dir);
  // Standard input, output and error on the null device.
  int null_stdio();
  // Standard output into the file, made or emptied for it.
  int output_to(const std::string& path);
  // Nothing but the standard streams reaches the child.
  int close_others();
  // The child's descriptor `target` (0, 1 or 2) is a copy of `source`, or
  // missing when source is negative. Sources above 2 can be given in any
  // order without one overwriting another.
  int stream_from(int target, int source);

  // Starts the program file with the words (argv[0] first) and the caller's
  // environment: 0 with *pid, or the error number of the failure.
  int spawn(const std::string& program, const std::vector<std::string>& words, pid_t* pid) const;

 private:
  posix_spawnattr_t attr_{};
  posix_spawn_file_actions_t actions_{};
  short flags_ = 0;
  bool attr_ok_ = false;
  bool actions_ok_ = false;
};

// A wait status as the callers report it: the exit status, or 128 plus the
// number of the signal that ended the child.
int status_of(int wait_status);

// Waits for the child (through the system-call table); 0 with *status, or
// the errno of a failed wait.
int wait_for(pid_t pid, int* status);

}  // namespace port::posix
