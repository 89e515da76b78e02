// The start of every child the POSIX port and the interpreter start, as the
// C library's spawn does, without that function's reset of every signal's
// disposition, which costs more than the rest of the start.
//
// The child is made by vfork: until it calls exec or exits, it runs in the
// caller's memory, on the caller's stack below start_child's frame, while
// the calling thread waits (any other thread of the caller runs on). In that
// time the child may touch only:
// - the ChildArgs the caller made before the vfork (paths, words, the steps
//   as plain ChildStep values, signal sets, the descriptor limit), read,
//   and its error field, written once before the child exits;
// - the kernel, through syscall() with a call number, and sigismember,
//   which only reads a set;
// - errno, which syscall() sets: the caller's own (the memory is shared),
//   which the caller does not read after a vfork that made a child.
// It may not allocate or free memory, take a lock, or call the C library's
// wrappers (they cache the process id, keep state the caller owns, and may
// take a lock that another thread of the caller holds, which would never
// be released in the child); nor go through sys(), whose entries the fault
// tests replace with code that may do all of that. It may not return from
// start_child's frame, since that would unwind the stack the caller goes on
// using; it leaves by exec or by SYS_exit. No signal handler of the
// caller's may run in it: every signal is blocked across the vfork, and the
// child makes each handler the default before it unblocks them. And no
// sanitizer may instrument it: their bookkeeping of the shared stack would
// be left as the child had it (hence no_sanitize on child_steps).
#include "port/posix/spawn.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "port/posix/syscalls.h"

extern char** environ;

namespace port::posix {

void SpawnSetup::ignore(int number) {
  sigaddset(&plan_.ignored, number);
  sigdelset(&plan_.defaults, number);
}

void SpawnSetup::chdir_to(const std::string& dir) {
  SpawnAction action;
  action.kind = SpawnAction::Kind::kChdir;
  action.path = dir;
  plan_.actions.push_back(std::move(action));
}

namespace {

SpawnAction open_action(int fd, const std::string& path, int flags, mode_t mode) {
  SpawnAction action;
  action.kind = SpawnAction::Kind::kOpen;
  action.fd = fd;
  action.path = path;
  action.flags = flags;
  action.mode = mode;
  return action;
}

}  // namespace

void SpawnSetup::null_stdio() {
  static const char kNull[] = "/dev/null";
  plan_.actions.push_back(open_action(0, kNull, O_RDONLY, 0));
  plan_.actions.push_back(open_action(1, kNull, O_WRONLY, 0));
  plan_.actions.push_back(open_action(2, kNull, O_WRONLY, 0));
}

void SpawnSetup::output_to(const std::string& path) {
  plan_.actions.push_back(open_action(1, path, O_WRONLY | O_CREAT | O_TRUNC, 0666));
}

void SpawnSetup::close_others() {
  SpawnAction action;
  action.kind = SpawnAction::Kind::kCloseOthers;
  plan_.actions.push_back(std::move(action));
}

void SpawnSetup::stream_from(int target, int source) {
  SpawnAction action;
  action.kind = source < 0 ? SpawnAction::Kind::kClose : SpawnAction::Kind::kCopy;
  action.fd = target;
  action.source = source;
  plan_.actions.push_back(std::move(action));
}

int SpawnSetup::spawn(const std::string& program, const std::vector<std::string>& words, pid_t* pid) const {
  // execve takes the words as non-const pointers; it changes none.
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  return sys().spawn(pid, program.c_str(), plan_, argv.data(), environ);
}

namespace {

// A step as the child reads it: plain values the caller made, so that the
// child allocates nothing.
struct ChildStep {
  SpawnAction::Kind kind;
  int fd;
  int source;
  const char* path;
  int flags;
  mode_t mode;
};

struct ChildArgs {
  const char* path;
  char* const* argv;
  char* const* envp;
  const ChildStep* steps;
  std::size_t step_count;
  bool new_group;
  sigset_t defaults;
  sigset_t ignored;
  sigset_t mask;
  // Where closing every other descriptor at once is not there.
  long open_max;
  // The error number of the step that failed: the child shares the
  // caller's memory, and the caller reads it once the child has gone on to
  // the program or ended.
  volatile int error;
};

// The kernel's form of a signal action (the C library's differs).
struct KernelAction {
  void (*handler)(int);
  unsigned long flags;
  void (*restorer)();
  std::uint64_t mask;
};

// The child between its start and the program, under the rules at the top
// of this file: raw system calls and sigismember only, every signal blocked
// until the handlers are the default.
// One function, long as it is: the child may call no helper of ours that
// the sanitizers instrument or that could be inlined differently, and its
// steps read in the order the kernel takes them.
__attribute__((no_sanitize("address", "undefined"))) int child_steps(ChildArgs* args) {
  // No handler of the caller's may run here, on its memory: each becomes
  // the default, as the program would have it anyway; what the caller
  // ignores stays ignored, but for the signals the plan gives their default
  // or has ignored.
  for (int number = 1; number < NSIG; ++number) {
    if (number == SIGKILL || number == SIGSTOP) continue;
    KernelAction wanted{};  // SIG_DFL
    if (sigismember(&args->ignored, number) == 1) {
      wanted.handler = SIG_IGN;
    } else if (sigismember(&args->defaults, number) != 1) {
      KernelAction current{};
      if (syscall(SYS_rt_sigaction, number, nullptr, &current, sizeof(std::uint64_t)) != 0) continue;
      if (current.handler == SIG_DFL || current.handler == SIG_IGN) continue;
    }
    syscall(SYS_rt_sigaction, number, &wanted, nullptr, sizeof(std::uint64_t));
  }
  if (args->new_group) {
    if (syscall(SYS_setpgid, 0, 0) != 0) return errno;
    // What was sent to the caller's group while the child was still in it
    // (an interrupt from the terminal, say) is not for a child of a group
    // of its own: each such signal is dropped by ignoring it for a moment.
    std::uint64_t pending = 0;
    if (syscall(SYS_rt_sigpending, &pending, sizeof pending) != 0) return errno;
    for (int number = 1; number < NSIG; ++number) {
      if ((pending & (std::uint64_t{1} << (number - 1))) == 0 || number == SIGKILL || number == SIGSTOP) continue;
      KernelAction ignore{};
      ignore.handler = SIG_IGN;
      KernelAction kept{};
      syscall(SYS_rt_sigaction, number, &ignore, &kept, sizeof(std::uint64_t));
      syscall(SYS_rt_sigaction, number, &kept, nullptr, sizeof(std::uint64_t));
    }
  }
  for (std::size_t i = 0; i < args->step_count; ++i) {
    const ChildStep& step = args->steps[i];
    switch (step.kind) {
      case SpawnAction::Kind::kOpen: {
        syscall(SYS_close, step.fd);
        // Never waiting in the open: a FIFO without a reader where a file
        // was expected fails the start (ENXIO) instead of holding the child,
        // every signal blocked, and its caller with it. The stream is
        // blocking again for the program.
        const long opened = syscall(SYS_openat, AT_FDCWD, step.path, step.flags | O_NONBLOCK, step.mode);
        if (opened < 0) return errno;
        const long status = syscall(SYS_fcntl, opened, F_GETFL);
        if (status < 0 || syscall(SYS_fcntl, opened, F_SETFL, status & ~O_NONBLOCK) < 0) return errno;
        if (opened != step.fd) {
          if (syscall(SYS_dup3, opened, step.fd, 0) < 0) return errno;
          syscall(SYS_close, opened);
        }
        break;
      }
      case SpawnAction::Kind::kCopy:
        if (step.source == step.fd) {
          // The descriptor itself: only its closing on exec is lifted.
          const long flags = syscall(SYS_fcntl, step.fd, F_GETFD);
          if (flags < 0 || syscall(SYS_fcntl, step.fd, F_SETFD, flags & ~FD_CLOEXEC) < 0) return errno;
        } else if (syscall(SYS_dup3, step.source, step.fd, 0) < 0) {
          return errno;
        }
        break;
      case SpawnAction::Kind::kClose:
        // A descriptor that is not open is as good as closed.
        syscall(SYS_close, step.fd);
        break;
      case SpawnAction::Kind::kChdir:
        if (syscall(SYS_chdir, step.path) != 0) return errno;
        break;
      case SpawnAction::Kind::kCloseOthers:
        if (syscall(SYS_close_range, 3, ~0U, 0) != 0) {
          for (long fd = 3; fd < args->open_max; ++fd) syscall(SYS_close, fd);
        }
        break;
    }
  }
  if (syscall(SYS_rt_sigprocmask, SIG_SETMASK, &args->mask, nullptr, sizeof(std::uint64_t)) != 0) return errno;
  syscall(SYS_execve, args->path, args->argv, args->envp);
  return errno;
}

}  // namespace

__attribute__((no_sanitize("address"))) int start_child(pid_t* pid, const char* path, const SpawnPlan& plan,
                                                        char* const argv[], char* const envp[]) {
  std::vector<ChildStep> steps;
  steps.reserve(plan.actions.size());
  bool closes_others = false;
  for (const SpawnAction& action : plan.actions) {
    steps.push_back({action.kind, action.fd, action.source, action.path.c_str(), action.flags, action.mode});
    closes_others = closes_others || action.kind == SpawnAction::Kind::kCloseOthers;
  }
  ChildArgs args{};
  args.path = path;
  args.argv = argv;
  args.envp = envp;
  args.steps = steps.data();
  args.step_count = steps.size();
  args.new_group = plan.new_group;
  args.defaults = plan.defaults;
  args.ignored = plan.ignored;
  args.open_max = 1024;
  struct rlimit limit {};
  if (closes_others && getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    args.open_max = static_cast<long>(limit.rlim_cur);
  }
  args.error = 0;

  // Every signal blocked until the child has made its handlers the default.
  sigset_t all;
  sigset_t caller;
  sigfillset(&all);
  if (int rc = pthread_sigmask(SIG_SETMASK, &all, &caller)) return rc;
  args.mask = plan.set_mask ? plan.mask : caller;
  // The child runs on the caller's stack below this frame, where the
  // caller's own calls have been already: a stack of its own would be
  // memory touched for the first time at every start.
  const pid_t child = ::vfork();
  if (child == 0) {
    const int error = child_steps(&args);
    args.error = error != 0 ? error : ENOEXEC;
    syscall(SYS_exit, 127);
  }
  const int start_error = child < 0 ? errno : 0;
  pthread_sigmask(SIG_SETMASK, &caller, nullptr);
  if (child < 0) return start_error;
  if (args.error != 0) {
    // The child ended before the program ran: it is waited for here, as
    // there is no child to give the caller.
    int status = 0;
    wait_for(child, &status);
    return args.error;
  }
  *pid = child;
  return 0;
}

int status_of(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return 0;
}

int wait_for(pid_t pid, int* status, int* signal) {
  int raw = 0;
  for (;;) {
    const pid_t rc = sys().waitpid(pid, &raw, 0);
    if (rc == pid) {
      *status = status_of(raw);
      if (signal != nullptr) *signal = WIFSIGNALED(raw) ? WTERMSIG(raw) : 0;
      return 0;
    }
    if (rc < 0 && errno != EINTR) return errno;
  }
}

}  // namespace port::posix
