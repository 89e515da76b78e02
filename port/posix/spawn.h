#pragma once
// Starting a program and waiting for it, for the port's own runner and the
// command interpreter alike: a child that shares the caller's memory until
// it runs the program (never a fork: the callers may be large and
// sanitized), with every step's failure reported to the caller, through the
// call table.
#include <signal.h>
#include <sys/types.h>

#include <string>
#include <vector>

namespace port::posix {

// One step the child takes before it runs the program, in the order given.
struct SpawnAction {
  enum class Kind { kOpen, kCopy, kClose, kChdir, kCloseOthers };
  Kind kind = Kind::kClose;
  int fd = -1;       // the child's descriptor (kOpen, kCopy, kClose)
  int source = -1;   // kCopy: the caller's descriptor
  std::string path;  // kOpen, kChdir
  int flags = 0;     // kOpen
  mode_t mode = 0;   // kOpen
};

// Everything the child does between its start and the program's.
struct SpawnPlan {
  std::vector<SpawnAction> actions;
  bool new_group = false;
  // The signals the child starts with at their default disposition even
  // where the caller ignores them; a caller's handler never reaches a child.
  sigset_t defaults{};
  // The signals the child starts with ignored.
  sigset_t ignored{};
  // The child's signal mask; the caller's own when not set.
  bool set_mask = false;
  sigset_t mask{};
};

// Builds the plan for one start; only the start itself can fail. Every
// program ignores SIGPIPE; its children start with the default disposition,
// as a Windows child knows no such signal to inherit.
class SpawnSetup {
 public:
  SpawnSetup() {
    sigemptyset(&plan_.defaults);
    sigaddset(&plan_.defaults, SIGPIPE);
    sigemptyset(&plan_.ignored);
    sigemptyset(&plan_.mask);
  }

  // The child starts with this signal mask (else with the caller's).
  void mask(const sigset_t& mask) {
    plan_.set_mask = true;
    plan_.mask = mask;
  }
  // The child starts with the signal ignored.
  void ignore(int number);
  // A process group of the child's own.
  void new_group() { plan_.new_group = true; }
  void chdir_to(const std::string& dir);
  // Standard input, output and error on the null device.
  void null_stdio();
  // Standard output into the file, made or emptied for it.
  void output_to(const std::string& path);
  // Nothing but the standard streams reaches the child.
  void close_others();
  // The child's descriptor `target` (0, 1 or 2) is a copy of `source`, or
  // missing when source is negative. Sources above 2 can be given in any
  // order without one overwriting another.
  void stream_from(int target, int source);

  // Starts the program file with the words (argv[0] first) and the caller's
  // environment: 0 with *pid, or the error number of the failure.
  int spawn(const std::string& program, const std::vector<std::string>& words, pid_t* pid) const;

 private:
  SpawnPlan plan_;
};

// The system's start of a child after a plan (what the call table holds):
// 0 with *pid, or the error number of the step that failed, the child then
// already waited for.
int start_child(pid_t* pid, const char* path, const SpawnPlan& plan, char* const argv[], char* const envp[]);

// A wait status as the callers report it: the exit status, or 128 plus the
// number of the signal that ended the child.
int status_of(int wait_status);

// Waits for the child (through the system-call table); 0 with *status, or
// the errno of a failed wait.
// *signal (when given) receives the number of the signal that ended the
// child, or 0 when it exited.
int wait_for(pid_t pid, int* status, int* signal = nullptr);

}  // namespace port::posix
