// The text-mode reading of both targets: the runtime's own text mode differs
// between them (and on Windows also ends a file at a Ctrl-Z byte), so the
// stream is read in binary mode and only CR LF is folded.
#include "port/file.h"

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

}  // namespace port
