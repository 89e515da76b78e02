// Streams of named files on Windows: the C runtime's own, never written
// through a reparse point.
#include "port/stream.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
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

void set_binary_mode(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }

void set_text_mode(std::FILE* stream) { _setmode(_fileno(stream), _O_TEXT); }

}  // namespace port
