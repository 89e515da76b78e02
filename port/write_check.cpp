// Checked flush and close of written streams, the same on both targets.
#include <cerrno>
#include <cstdio>

#include "port/write_check.h"

namespace port {

int flush_checked(std::FILE* stream) {
  errno = 0;
  const bool flushed = std::fflush(stream) == 0;
  // A write that failed earlier leaves the error flag even when the flush
  // itself had nothing left to write.
  if (flushed && !std::ferror(stream)) return 0;
  if (errno == 0) errno = EIO;
  return -1;
}

int close_checked(std::FILE* stream) {
  const bool written = flush_checked(stream) == 0;
  const int error = errno;
  const bool closed = std::fclose(stream) == 0;
  if (written && closed) return 0;
  if (!written) errno = error;
  if (errno == 0) errno = EIO;
  return -1;
}

}  // namespace port
