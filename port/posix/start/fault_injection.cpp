// The fault-injection test mode: chosen calls of the port's call table fail,
// counted across the programs of one run.
#include "port/posix/start/fault_injection.h"

#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

#include "port/posix/syscalls.h"
#include "port/posix/table_stream.h"

namespace port::posix {

namespace {

constexpr char kFaultVariable[] = "LORVEX_TEST_FAULT_INJECTION";
// The descriptor of the count that the programs of one run share.
constexpr char kCountVariable[] = "LORVEX_TEST_FAULT_COUNT_FD";
constexpr char kCountName[] = "lorvex-fault-count";

enum class Kind {
  kOpen, kRead, kWrite, kClose, kRename, kUnlink, kChmod, kSpawn, kSocket, kConnect, kFsync, kPidfd, kSignal, kLock
};

struct Named {
  const char* name;
  int value;
};

constexpr Named kKinds[] = {
    {"open", static_cast<int>(Kind::kOpen)},       {"read", static_cast<int>(Kind::kRead)},
    {"write", static_cast<int>(Kind::kWrite)},     {"close", static_cast<int>(Kind::kClose)},
    {"rename", static_cast<int>(Kind::kRename)},   {"unlink", static_cast<int>(Kind::kUnlink)},
    {"chmod", static_cast<int>(Kind::kChmod)},     {"spawn", static_cast<int>(Kind::kSpawn)},
    {"socket", static_cast<int>(Kind::kSocket)},   {"connect", static_cast<int>(Kind::kConnect)},
    {"fsync", static_cast<int>(Kind::kFsync)},     {"pidfd", static_cast<int>(Kind::kPidfd)},
    {"signal", static_cast<int>(Kind::kSignal)},   {"lock", static_cast<int>(Kind::kLock)},
};

constexpr Named kErrors[] = {{"ENOSPC", ENOSPC}, {"EIO", EIO}, {"EMFILE", EMFILE}, {"EACCES", EACCES}, {"EINTR", EINTR}};

struct Fault {
  Kind kind = Kind::kOpen;
  long at = 0;              // the call that fails, from 1
  long* count = nullptr;    // calls of the kind so far, in the whole run
  int error = 0;
  std::string hit_file;
};

// Reached through a function, so that the program-start object, which may
// be made before this file's own objects, finds it ready.
Fault& fault_state() {
  static Fault state;
  return state;
}
// The calls the faults are dealt in front of: the table as the mode started.
SysCalls inner;

bool lookup(const Named* names, std::size_t count, const std::string& word, int* value) {
  for (std::size_t i = 0; i < count; ++i) {
    if (word == names[i].name) {
      *value = names[i].value;
      return true;
    }
  }
  return false;
}

// "KIND:N:ERROR[:HITFILE]"; false when it cannot be read.
bool parse_fault(const std::string& text, Fault* out) {
  const std::size_t first = text.find(':');
  const std::size_t second = first == std::string::npos ? first : text.find(':', first + 1);
  if (second == std::string::npos) return false;
  const std::size_t third = text.find(':', second + 1);
  int kind = 0;
  int error = 0;
  if (!lookup(kKinds, sizeof kKinds / sizeof kKinds[0], text.substr(0, first), &kind)) return false;
  const std::string number = text.substr(first + 1, second - first - 1);
  if (number.empty() || number.size() > 9 || number.find_first_not_of("0123456789") != std::string::npos) return false;
  const std::string error_name =
      third == std::string::npos ? text.substr(second + 1) : text.substr(second + 1, third - second - 1);
  if (!lookup(kErrors, sizeof kErrors / sizeof kErrors[0], error_name, &error)) return false;
  out->kind = static_cast<Kind>(kind);
  out->at = std::stol(number);
  out->error = error;
  if (third != std::string::npos) out->hit_file = text.substr(third + 1);
  return out->at > 0;
}

long* map_count(int fd) {
  void* mapped = ::mmap(nullptr, sizeof(long), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  return mapped == MAP_FAILED ? nullptr : static_cast<long*>(mapped);
}

// Whether the descriptor is the count a parent made (and not whatever took
// its number after the count was closed).
bool is_count(int fd) {
  char link[64];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  char target[128];
  const ssize_t length = ::readlink(link, target, sizeof target - 1);
  if (length < 0) return false;
  target[length] = '\0';
  return std::string(target).starts_with(std::string("/memfd:") + kCountName);
}

// The count of the run: the one a parent left to inherit, or a new one that
// the children inherit; null when there is none to share.
long* run_count() {
  if (const char* inherited = ::getenv(kCountVariable)) {
    const std::string text = inherited;
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) return nullptr;
    const int fd = std::stoi(text);
    return is_count(fd) ? map_count(fd) : nullptr;
  }
  const int made = ::memfd_create(kCountName, 0);
  if (made < 0) return nullptr;
  // Above the standard streams, which a program started without them must
  // find missing; not closed on exec, so that the children inherit it.
  const int fd = ::fcntl(made, F_DUPFD, 3);
  ::close(made);
  long* count = fd >= 0 && ::ftruncate(fd, sizeof(long)) == 0 ? map_count(fd) : nullptr;
  if (count == nullptr) {
    if (fd >= 0) ::close(fd);
    return nullptr;
  }
  ::setenv(kCountVariable, std::to_string(fd).c_str(), 1);
  return count;
}

// Counts a call of the kind; true when it is the one to fail.
bool deal(Kind kind) {
  const Fault& fault = fault_state();
  if (kind != fault.kind || std::atomic_ref<long>(*fault.count).fetch_add(1) + 1 != fault.at) return false;
  if (!fault.hit_file.empty()) {
    const int saved = errno;
    // The line names the program that was hit by its command line, so that a
    // test can tell where the failure fell.
    std::string line = "hit";
    const int self = ::open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
    if (self >= 0) {
      char words[512];
      const ssize_t length = ::read(self, words, sizeof words);
      for (ssize_t i = 0; i < length; ++i) line += words[i] == '\0' ? ' ' : words[i];
      ::close(self);
    }
    line += '\n';
    const int fd = ::open(fault.hit_file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd >= 0) {
      if (::write(fd, line.data(), line.size()) < 0) {
        // Nothing to do: the test then sees no hit and walks on.
      }
      ::close(fd);
    }
    errno = saved;
  }
  return true;
}

int failed() {
  errno = fault_state().error;
  return -1;
}

int fault_spawn(pid_t* pid, const char* path, const SpawnPlan& plan, char* const argv[], char* const envp[]) {
  // A start reports its error as the result.
  if (deal(Kind::kSpawn)) return fault_state().error;
  return inner.spawn(pid, path, plan, argv, envp);
}

// The mode argument of open and openat, there only with O_CREAT or O_TMPFILE.
int mode_of(int flags, va_list args) {
  return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? va_arg(args, int) : 0;
}

int fault_open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int mode = mode_of(flags, args);
  va_end(args);
  if (deal(Kind::kOpen)) return failed();
  return inner.open(path, flags, mode);
}

int fault_openat(int dir_fd, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  const int mode = mode_of(flags, args);
  va_end(args);
  if (deal(Kind::kOpen)) return failed();
  return inner.openat(dir_fd, path, flags, mode);
}

// A pipe is counted with the opens; no signal ever cuts pipe2 short.
int fault_pipe2(int ends[2], int flags) {
  return deal(Kind::kOpen) && fault_state().error != EINTR ? failed() : inner.pipe2(ends, flags);
}

ssize_t fault_read(int fd, void* buffer, size_t size) {
  if (deal(Kind::kRead)) return failed();
  return inner.read(fd, buffer, size);
}

ssize_t fault_write(int fd, const void* buffer, size_t size) {
  if (deal(Kind::kWrite)) return failed();
  return inner.write(fd, buffer, size);
}

int fault_fsync(int fd) { return deal(Kind::kFsync) ? failed() : inner.fsync(fd); }

int fault_close(int fd) {
  const int closed = inner.close(fd);
  return deal(Kind::kClose) ? failed() : closed;
}

int fault_chmod(const char* path, mode_t mode) { return deal(Kind::kChmod) ? failed() : inner.chmod(path, mode); }

int fault_unlink(const char* path) { return deal(Kind::kUnlink) ? failed() : inner.unlink(path); }

int fault_unlinkat(int dir_fd, const char* path, int flags) {
  return deal(Kind::kUnlink) ? failed() : inner.unlinkat(dir_fd, path, flags);
}

int fault_rename(const char* from, const char* to) {
  return deal(Kind::kRename) ? failed() : inner.rename(from, to);
}

int fault_socket(int domain, int type, int protocol) {
  return deal(Kind::kSocket) ? failed() : inner.socket(domain, type, protocol);
}

int fault_connect(int fd, const struct sockaddr* address, socklen_t size) {
  const int connected = inner.connect(fd, address, size);
  return deal(Kind::kConnect) ? failed() : connected;
}

int fault_pidfd_open(pid_t pid, unsigned flags) {
  return deal(Kind::kPidfd) ? failed() : inner.pidfd_open(pid, flags);
}

int fault_pidfd_send_signal(int process_fd, int number, siginfo_t* info, unsigned flags) {
  return deal(Kind::kSignal) ? failed() : inner.pidfd_send_signal(process_fd, number, info, flags);
}

int fault_kill(pid_t pid, int number) { return deal(Kind::kSignal) ? failed() : inner.kill(pid, number); }

int fault_flock(int fd, int operation) { return deal(Kind::kLock) ? failed() : inner.flock(fd, operation); }

}  // namespace

void start_fault_injection() {
  const char* value = ::getenv(kFaultVariable);
  if (value == nullptr) return;
  Fault parsed;
  if (parse_fault(value, &parsed)) {
    parsed.count = run_count();
  } else {
    // A misspelt fault would otherwise pass for a run that met none.
    std::fprintf(stderr, "%s=%s cannot be read: no fault is dealt.\n", kFaultVariable, value);
  }
  if (parsed.count == nullptr) {
    // Nothing is dealt here, nor in the children.
    ::unsetenv(kFaultVariable);
    ::unsetenv(kCountVariable);
    return;
  }
  fault_state() = parsed;
  SysCalls& table = sys();
  inner = table;
  table.spawn = &fault_spawn;
  table.open = &fault_open;
  table.openat = &fault_openat;
  table.pipe2 = &fault_pipe2;
  table.read = &fault_read;
  table.write = &fault_write;
  table.fsync = &fault_fsync;
  table.close = &fault_close;
  table.chmod = &fault_chmod;
  table.unlink = &fault_unlink;
  table.unlinkat = &fault_unlinkat;
  table.rename = &fault_rename;
  table.socket = &fault_socket;
  table.connect = &fault_connect;
  table.pidfd_open = &fault_pidfd_open;
  table.pidfd_send_signal = &fault_pidfd_send_signal;
  table.kill = &fault_kill;
  table.flock = &fault_flock;
  // Standard output, the program's own report, goes through the table too.
  std::fflush(stdout);
  if (std::FILE* out = table_stream(STDOUT_FILENO, "w")) stdout = out;
}

}  // namespace port::posix
