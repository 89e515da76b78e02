// The table of system calls the POSIX port goes through, and its fault
// injection test mode.
#include "port/posix/syscalls.h"

#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

namespace port::posix {

namespace {

// A mode is only ever changed on the entry a path names, never on a
// symbolic link's target: a link refuses (EOPNOTSUPP).
int chmod_entry(const char* path, mode_t mode) { return ::fchmodat(AT_FDCWD, path, mode, AT_SYMLINK_NOFOLLOW); }

SysCalls real_calls() {
  SysCalls calls{};
  calls.spawn = &::posix_spawn;
  calls.waitpid = &::waitpid;
  calls.open = &::open;
  calls.read = &::read;
  calls.write = &::write;
  calls.fsync = &::fsync;
  calls.close = &::close;
  calls.stat = &::stat;
  calls.access = &::access;
  calls.chmod = &chmod_entry;
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

// Reached through functions, so that the programs' start-up code, which may
// run before this file's own, finds them ready.
SysCalls& table() {
  static SysCalls calls = real_calls();
  return calls;
}

// ---------------------------------------------------------------------------
// Fault injection

constexpr char kFaultVariable[] = "LORVEX_TEST_FAULT_INJECTION";

enum class Kind { kOpen, kRead, kWrite, kClose, kRename, kUnlink, kChmod, kSpawn, kSocket, kConnect, kFsync };

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
    {"fsync", static_cast<int>(Kind::kFsync)},
};

constexpr Named kErrors[] = {{"ENOSPC", ENOSPC}, {"EIO", EIO}, {"EMFILE", EMFILE}, {"EACCES", EACCES}, {"EINTR", EINTR}};

struct Fault {
  bool active = false;
  Kind kind = Kind::kOpen;
  long at = 0;     // the call that fails, from 1
  long calls = 0;  // calls of the kind so far
  int error = 0;
  std::string hit_file;
};

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
  out->active = out->at > 0;
  return out->active;
}

// Counts a call of the kind; true when it is the one to fail.
bool deal(Kind kind) {
  Fault& fault = fault_state();
  if (kind != fault.kind || ++fault.calls != fault.at) return false;
  if (!fault.hit_file.empty()) {
    const int saved = errno;
    const int fd = ::open(fault.hit_file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd >= 0) {
      const char line[] = "hit\n";
      if (::write(fd, line, sizeof line - 1) < 0) {
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

int fault_spawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* actions,
                const posix_spawnattr_t* attr, char* const argv[], char* const envp[]) {
  // posix_spawn reports its error as the result.
  if (deal(Kind::kSpawn)) return fault_state().error;
  return inner.spawn(pid, path, actions, attr, argv, envp);
}

int fault_open(const char* path, int flags, ...) {
  int mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
    va_list args;
    va_start(args, flags);
    mode = va_arg(args, int);
    va_end(args);
  }
  if (deal(Kind::kOpen)) return failed();
  return inner.open(path, flags, mode);
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

// ---------------------------------------------------------------------------
// Streams over the table

int cookie_fd(void* cookie) { return static_cast<int>(reinterpret_cast<std::intptr_t>(cookie)); }

ssize_t stream_read(void* cookie, char* buffer, size_t size) {
  for (;;) {
    const ssize_t got = table().read(cookie_fd(cookie), buffer, size);
    if (got >= 0 || errno != EINTR) return got;
  }
}

ssize_t stream_write(void* cookie, const char* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t put = table().write(cookie_fd(cookie), buffer + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    done += static_cast<size_t>(put);
  }
  // Anything short of the whole is an error to the stream.
  return static_cast<ssize_t>(done);
}

int stream_seek(void* cookie, off64_t* offset, int whence) {
  const off64_t at = ::lseek64(cookie_fd(cookie), *offset, whence);
  if (at < 0) return -1;
  *offset = at;
  return 0;
}

int stream_close(void* cookie) { return table().close(cookie_fd(cookie)); }

}  // namespace

SysCalls& sys() { return table(); }

void reset_sys() { table() = real_calls(); }

void start_fault_injection() {
  const char* value = ::getenv(kFaultVariable);
  if (value == nullptr) return;
  const std::string text = value;
  ::unsetenv(kFaultVariable);
  Fault parsed;
  if (!parse_fault(text, &parsed)) return;
  fault_state() = parsed;
  inner = table();
  table().spawn = &fault_spawn;
  table().open = &fault_open;
  table().read = &fault_read;
  table().write = &fault_write;
  table().fsync = &fault_fsync;
  table().close = &fault_close;
  table().chmod = &fault_chmod;
  table().unlink = &fault_unlink;
  table().rename = &fault_rename;
  table().socket = &fault_socket;
  table().connect = &fault_connect;
  // Standard output, the program's own report, goes through the table too.
  std::fflush(stdout);
  if (std::FILE* out = table_stream(STDOUT_FILENO, "w")) stdout = out;
}

bool fault_injection_active() { return fault_state().active; }

std::FILE* table_stream(int fd, const char* mode) {
  const cookie_io_functions_t functions{&stream_read, &stream_write, &stream_seek, &stream_close};
  return ::fopencookie(reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)), mode, functions);
}

}  // namespace port::posix
