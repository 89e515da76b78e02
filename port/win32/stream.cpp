// Streams of named files on Windows: the C runtime's own, never written
// through a reparse point.
#include "port/stream.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "port/win32/reparse_point.h"

namespace port {

std::FILE* open_file(const char* path, const char* mode) {
  const bool writing = mode[0] != 'r' || std::strchr(mode, '+') != nullptr;
  if (writing && win32::is_reparse_point(path)) {
    errno = EACCES;
    return nullptr;
  }
  return std::fopen(path, mode);
}

std::FILE* open_entry(const char* path) {
  if (win32::is_reparse_point(path)) {
    errno = EACCES;
    return nullptr;
  }
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return nullptr;
  // A device name ("nul", "con") opens as one; only a file on a disk is read.
  struct _stat64 info {};
  if (_fstat64(_fileno(file), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) {
    std::fclose(file);
    errno = EACCES;
    return nullptr;
  }
  return file;
}

long read_available(std::FILE* stream, char* buffer, std::size_t size) {
  const int fd = stream != nullptr ? _fileno(stream) : -1;
  if (fd < 0) {
    errno = EBADF;
    return -1;
  }
  // _read takes an unsigned int count; a pipe or console gives what it has.
  constexpr std::size_t kMaxRead = 1u << 30;
  return _read(fd, buffer, static_cast<unsigned int>(size < kMaxRead ? size : kMaxRead));
}

bool started_without(std::FILE* standard_stream) {
  const int fd = standard_stream != nullptr ? _fileno(standard_stream) : -1;
  if (fd < 0) return true;
  const intptr_t handle = _get_osfhandle(fd);
  return handle == -1 || handle == -2 || handle == 0;
}

void set_binary_mode(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }

void set_text_mode(std::FILE* stream) { _setmode(_fileno(stream), _O_TEXT); }

}  // namespace port
