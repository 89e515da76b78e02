#pragma once
// Streams whose reads, writes and close go through the call table: the
// streams of every file a program opens by name, so that what the fault
// walks fail is the path the programs ship with.
#include <cstdio>

namespace port::posix {

// A stream over the descriptor (mode as fdopen's), which it then owns; null
// with errno on failure (the descriptor stays the caller's). Interrupted
// reads and writes are retried.
std::FILE* table_stream(int fd, const char* mode);

// The descriptor under a stream: a table stream's, or fileno's for any other
// (the runtime knows no descriptor of a stream it did not open itself). -1
// with EBADF for none.
int stream_fd(std::FILE* stream);

}  // namespace port::posix
