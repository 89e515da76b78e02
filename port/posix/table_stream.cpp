// Streams over the call table. The runtime's streams of this kind have no
// descriptor it can tell (fileno fails on them), so the open ones are noted
// with theirs.
#include "port/posix/table_stream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <vector>

#include "port/posix/syscalls.h"

namespace port::posix {

namespace {

struct Cookie {
  int fd;
  std::FILE* stream = nullptr;
};

// The table streams that are open.
struct OpenStreams {
  std::mutex lock;
  std::vector<Cookie*> cookies;
};

OpenStreams& open_streams() {
  static OpenStreams* streams = new OpenStreams;  // never destroyed: streams may close after exit begins
  return *streams;
}

int cookie_fd(void* cookie) { return static_cast<Cookie*>(cookie)->fd; }

ssize_t stream_read(void* cookie, char* buffer, size_t size) {
  for (;;) {
    const ssize_t got = sys().read(cookie_fd(cookie), buffer, size);
    if (got >= 0 || errno != EINTR) return got;
  }
}

ssize_t stream_write(void* cookie, const char* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    const ssize_t put = sys().write(cookie_fd(cookie), buffer + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) break;
    done += static_cast<size_t>(put);
  }
  // Anything short of the whole is an error to the stream.
  return static_cast<ssize_t>(done);
}

// The table's lseek reaches every offset of a large file.
static_assert(sizeof(off_t) == sizeof(off64_t));

int stream_seek(void* cookie, off64_t* offset, int whence) {
  const off64_t at = sys().lseek(cookie_fd(cookie), *offset, whence);
  if (at < 0) return -1;
  *offset = at;
  return 0;
}

int stream_close(void* cookie) {
  auto* owned = static_cast<Cookie*>(cookie);
  {
    OpenStreams& streams = open_streams();
    std::lock_guard<std::mutex> hold(streams.lock);
    std::erase(streams.cookies, owned);
  }
  const int closed = sys().close(owned->fd);
  delete owned;
  return closed;
}

}  // namespace

std::FILE* table_stream(int fd, const char* mode) {
  auto* cookie = new Cookie{fd};
  const cookie_io_functions_t functions{&stream_read, &stream_write, &stream_seek, &stream_close};
  std::FILE* stream = ::fopencookie(cookie, mode, functions);
  if (stream == nullptr) {
    delete cookie;
    return nullptr;
  }
  cookie->stream = stream;
  OpenStreams& streams = open_streams();
  std::lock_guard<std::mutex> hold(streams.lock);
  streams.cookies.push_back(cookie);
  return stream;
}

int stream_fd(std::FILE* stream) {
  if (stream == nullptr) {
    errno = EBADF;
    return -1;
  }
  {
    OpenStreams& streams = open_streams();
    std::lock_guard<std::mutex> hold(streams.lock);
    const auto found = std::find_if(streams.cookies.begin(), streams.cookies.end(),
                                    [stream](const Cookie* cookie) { return cookie->stream == stream; });
    if (found != streams.cookies.end()) return (*found)->fd;
  }
  return ::fileno(stream);
}

}  // namespace port::posix
