#include "port/report_channel.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "port/env.h"
#include "port/posix/syscalls.h"

namespace port {

namespace {

// The descriptor the text names, when it is a number above the standard
// streams' and nothing else; -1 otherwise.
int descriptor_named(const char* text) {
  if (text == nullptr || *text == '\0') return -1;
  long value = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return -1;
    value = value * 10 + (*c - '0');
    if (value > 1000000) return -1;
  }
  return value > 2 ? static_cast<int>(value) : -1;
}

}  // namespace

ReportChannel::ReportChannel(const char* variable) {
  const int fd = descriptor_named(get_env(variable));
  put_env((std::string(variable) + "=").c_str());
  if (fd < 0) return;
  struct stat info {};
  if (posix::sys().fstat(fd, &info) != 0 || !S_ISFIFO(info.st_mode)) return;
  const int flags = posix::sys().fcntl(fd, F_GETFD);
  if (flags == -1 || posix::sys().fcntl(fd, F_SETFD, flags | FD_CLOEXEC) == -1) return;
  fd_ = fd;
}

ReportChannel::~ReportChannel() {
  if (fd_ >= 0) posix::sys().close(fd_);
}

void ReportChannel::tell(const std::string& line) {
  if (fd_ < 0) return;
  const std::string text = line + "\n";
  // One short line: a pipe takes it whole in one write. A reader that has
  // gone (EPIPE, the signal being ignored) loses nothing of the run.
  for (;;) {
    if (posix::sys().write(fd_, text.data(), text.size()) >= 0 || errno != EINTR) break;
  }
  posix::sys().close(fd_);
  fd_ = -1;
}

}  // namespace port
