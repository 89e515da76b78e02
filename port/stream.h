#pragma once
// Streams of named files and the way they are read: opening by name, one
// read of what has arrived, and the binary and text modes.
#include <cstddef>
#include <cstdio>

namespace port {

// fopen with the path rule of port/file.h. Text modes follow the runtime's
// ("r", "a+" ...). Only a regular file opens, and never after a wait: on
// POSIX a FIFO, a socket, a device or a directory is refused with EACCES
// (Windows' answer for a directory) without waiting for the other end of a
// FIFO. A file opened for writing is never reached through a symbolic link
// (nor through a reparse point on Windows): EACCES.
std::FILE* open_file(const char* path, const char* mode);
// open_file(path, "r") of the file at the name itself: a symbolic link in its
// place (a reparse point on Windows) is refused with EACCES, like anything
// else that is no regular file, so whatever it leads to is never read.
std::FILE* open_entry(const char* path);

// One read of the stream's file, as _read: up to size bytes, and from a pipe
// or a terminal only what has arrived (it waits only until something has;
// a regular file fills the request unless it ends first). The count, 0 at
// the end of the input, -1 on a read error with errno set. The stream's own
// buffer is passed by: it must never have been read through.
long read_available(std::FILE* stream, char* buffer, std::size_t size);

// Whether the program was started without this standard stream (on POSIX
// closed, its place then held by the null device from the program's start,
// closed on exec; on Windows no handle): what is written to it reaches no one.
bool started_without(std::FILE* standard_stream);

void set_binary_mode(std::FILE* stream);
void set_text_mode(std::FILE* stream);

}  // namespace port
