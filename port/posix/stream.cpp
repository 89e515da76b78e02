// Streams of named files on POSIX: opened without a wait, read and written
// through the call table.
#include "port/stream.h"

#include <fcntl.h>

#include <cerrno>

#include "port/posix/named_file.h"
#include "port/posix/path.h"
#include "port/posix/syscalls.h"
#include "port/posix/table_stream.h"
#include "port/posix/unique_fd.h"

namespace port {

namespace {

// The open(2) flags of an fopen mode ("r", "w+", "ae" ...); false when the
// mode is none.
bool open_flags(const char* mode, int* flags) {
  switch (mode[0]) {
    case 'r':
      *flags = O_RDONLY;
      break;
    case 'w':
      *flags = O_WRONLY | O_CREAT | O_TRUNC;
      break;
    case 'a':
      *flags = O_WRONLY | O_CREAT | O_APPEND;
      break;
    default:
      return false;
  }
  for (const char* c = mode + 1; *c != '\0'; ++c) {
    if (*c == '+') *flags = (*flags & ~O_ACCMODE) | O_RDWR;
    if (*c == 'e') *flags |= O_CLOEXEC;
  }
  return true;
}

}  // namespace

std::FILE* open_file(const char* path, const char* mode) {
  int flags = 0;
  if (!open_flags(mode, &flags)) {
    errno = EINVAL;
    return nullptr;
  }
  posix::UniqueFd fd(posix::open_named(posix::native_path(path), flags));
  if (!fd.valid()) return nullptr;
  std::FILE* stream = posix::table_stream(fd.get(), mode);
  if (stream != nullptr) fd.release();
  return stream;
}

std::FILE* open_entry(const char* path) {
  posix::UniqueFd fd(posix::open_named(posix::native_path(path), O_RDONLY | O_NOFOLLOW));
  if (!fd.valid()) return nullptr;
  std::FILE* stream = posix::table_stream(fd.get(), "r");
  if (stream != nullptr) fd.release();
  return stream;
}

long read_available(std::FILE* stream, char* buffer, std::size_t size) {
  const int fd = posix::stream_fd(stream);
  if (fd < 0) return -1;
  for (;;) {
    const ssize_t got = posix::sys().read(fd, buffer, size);
    if (got >= 0) return static_cast<long>(got);
    if (errno != EINTR) return -1;
  }
}

bool started_without(std::FILE* standard_stream) {
  const int fd = posix::stream_fd(standard_stream);
  if (fd < 0) return true;
  // A standard descriptor is inherited open across exec; the program start's
  // stand-in for a missing one is the only one closed on exec.
  const int flags = posix::sys().fcntl(fd, F_GETFD);
  return flags < 0 || (flags & FD_CLOEXEC) != 0;
}

// POSIX streams make no difference between text and binary; the one text-mode
// effect that matters (CR before LF) is TextReader's.
void set_binary_mode(std::FILE*) {}
void set_text_mode(std::FILE*) {}

}  // namespace port
