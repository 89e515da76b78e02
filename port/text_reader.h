#pragma once
// Reading streams in text mode the same way on both targets: the runtime's
// own text mode differs between them (and on Windows also ends a file at a
// Ctrl-Z byte), so the stream is read in binary mode and only CR LF is folded.
#include <cstddef>
#include <cstdio>

namespace port {

// Reads a stream opened in text mode: a carriage return directly before a line
// feed is dropped, on both targets, and nothing else is changed (a Ctrl-Z byte
// is a byte like any other, not the end of the file). It must be the stream's
// only reader.
class TextReader {
 public:
  explicit TextReader(std::FILE* stream) : stream_(stream) {}
  // Next character, or EOF.
  int get();
  // As fgets: at most size-1 characters, up to and including a line feed.
  // Returns buffer, or null at end of file with nothing read or on a read
  // error. *length (when given) receives the number of characters read,
  // which tells a zero byte inside the line from its end.
  char* get_line(char* buffer, int size, int* length = nullptr);

 private:
  std::FILE* stream_;
  bool binary_ = false;
};

// Reads a stream in blocks as its data arrives (read_available), in binary or
// in text mode; in text mode a carriage return directly before a line feed is
// dropped, as TextReader drops it. It must be the stream's only reader.
class BlockReader {
 public:
  BlockReader() = default;
  BlockReader(std::FILE* stream, bool text_mode) : stream_(stream), text_(text_mode) {}
  // Up to size bytes (size at least 2): their count, 0 at the end of the
  // input, -1 on a read error with errno set.
  long read(char* buffer, std::size_t size);

 private:
  std::FILE* stream_ = nullptr;
  bool text_ = false;
  bool binary_set_ = false;
  // A carriage return that ended the last read: whether a line feed follows
  // is not known yet.
  bool held_cr_ = false;
};

}  // namespace port
