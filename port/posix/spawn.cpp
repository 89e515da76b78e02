// The spawn set-up of every child the POSIX port and the interpreter start.
#include "port/posix/spawn.h"

#include <fcntl.h>
#include <sys/wait.h>

#include <cerrno>

#include "port/posix/syscalls.h"

extern char** environ;

namespace port::posix {

SpawnSetup::SpawnSetup() {
  attr_ok_ = posix_spawnattr_init(&attr_) == 0;
  actions_ok_ = posix_spawn_file_actions_init(&actions_) == 0;
}

SpawnSetup::~SpawnSetup() {
  if (attr_ok_) posix_spawnattr_destroy(&attr_);
  if (actions_ok_) posix_spawn_file_actions_destroy(&actions_);
}

int SpawnSetup::signal_defaults(const sigset_t& mask) {
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  if (int rc = posix_spawnattr_setsigdefault(&attr_, &defaults)) return rc;
  if (int rc = posix_spawnattr_setsigmask(&attr_, &mask)) return rc;
  flags_ |= POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
  return posix_spawnattr_setflags(&attr_, flags_);
}

int SpawnSetup::new_group() {
  if (int rc = posix_spawnattr_setpgroup(&attr_, 0)) return rc;
  flags_ |= POSIX_SPAWN_SETPGROUP;
  return posix_spawnattr_setflags(&attr_, flags_);
}

int SpawnSetup::chdir_to(const std::string& dir) { return posix_spawn_file_actions_addchdir_np(&actions_, dir.c_str()); }

int SpawnSetup::null_stdio() {
  static const char kNull[] = "/dev/null";
  if (int rc = posix_spawn_file_actions_addopen(&actions_, 0, kNull, O_RDONLY, 0)) return rc;
  if (int rc = posix_spawn_file_actions_addopen(&actions_, 1, kNull, O_WRONLY, 0)) return rc;
  return posix_spawn_file_actions_addopen(&actions_, 2, kNull, O_WRONLY, 0);
}

int SpawnSetup::output_to(const std::string& path) {
  return posix_spawn_file_actions_addopen(&actions_, 1, path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
}

int SpawnSetup::close_others() { return posix_spawn_file_actions_addclosefrom_np(&actions_, 3); }

int SpawnSetup::stream_from(int target, int source) {
  if (source < 0) return posix_spawn_file_actions_addclose(&actions_, target);
  return posix_spawn_file_actions_adddup2(&actions_, source, target);
}

int SpawnSetup::spawn(const std::string& program, const std::vector<std::string>& words, pid_t* pid) const {
  // posix_spawn takes the words as non-const pointers; it changes none.
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  return sys().spawn(pid, program.c_str(), &actions_, &attr_, argv.data(), environ);
}

int status_of(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return 0;
}

int wait_for(pid_t pid, int* status) {
  int raw = 0;
  for (;;) {
    const pid_t rc = sys().waitpid(pid, &raw, 0);
    if (rc == pid) {
      *status = status_of(raw);
      return 0;
    }
    if (rc < 0 && errno != EINTR) return errno;
  }
}

}  // namespace port::posix
