// The text-mode reading of both targets: binary reads with CR LF folded.
#include "port/text_reader.h"

#include <cerrno>
#include <cstring>

#include "port/stream.h"

namespace port {

int TextReader::get() {
  if (!binary_) {
    // Before the first read, so that the stream's buffer is never filled in text mode.
    set_binary_mode(stream_);
    binary_ = true;
  }
  const int c = std::getc(stream_);
  if (c != '\r') return c;
  const int next = std::getc(stream_);
  if (next == '\n') return '\n';
  if (next != EOF) std::ungetc(next, stream_);
  return c;
}

char* TextReader::get_line(char* buffer, int size, int* length) {
  if (length != nullptr) *length = 0;
  if (buffer == nullptr || size <= 0) return nullptr;
  int count = 0;
  while (count < size - 1) {
    const int c = get();
    if (c == EOF) break;
    buffer[count++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buffer[count] = '\0';
  if (length != nullptr) *length = count;
  if (count == 0 && size > 1) return nullptr;
  if (std::ferror(stream_)) return nullptr;
  return buffer;
}

namespace {

// Drops every carriage return directly before a line feed; the new length.
std::size_t fold_line_ends(char* data, std::size_t length) {
  char* const end = data + length;
  char* cr = static_cast<char*>(std::memchr(data, '\r', length));
  if (cr == nullptr) return length;
  char* out = cr;
  for (const char* in = cr; in < end; ++in) {
    if (*in == '\r' && in + 1 < end && in[1] == '\n') continue;
    *out++ = *in;
  }
  return static_cast<std::size_t>(out - data);
}

}  // namespace

long BlockReader::read(char* buffer, std::size_t size) {
  if (stream_ == nullptr || buffer == nullptr || size < 2) {
    errno = EINVAL;
    return -1;
  }
  if (text_ && !binary_set_) {
    // Line ends are folded here, the same on both targets: the runtime's own
    // text mode would differ between them.
    set_binary_mode(stream_);
    binary_set_ = true;
  }
  for (;;) {
    std::size_t have = 0;
    if (held_cr_) {
      buffer[have++] = '\r';
      held_cr_ = false;
    }
    const long got = read_available(stream_, buffer + have, size - have);
    if (got < 0) return -1;
    // At the end a held carriage return is a byte like any other.
    if (got == 0) return static_cast<long>(have);
    std::size_t length = have + static_cast<std::size_t>(got);
    if (!text_) return static_cast<long>(length);
    length = fold_line_ends(buffer, length);
    if (buffer[length - 1] == '\r') {
      held_cr_ = true;
      --length;
    }
    if (length > 0) return static_cast<long>(length);
  }
}

}  // namespace port
