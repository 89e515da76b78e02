#pragma once
// What the port and administration drivers share: a command-line mistake, and
// arguments taken from files (Shift_JIS bytes do not survive Wine's
// command-line conversion).
#include <cstdio>
#include <deque>
#include <string>

#include "port/stream.h"

namespace lxt_driver {

// Thrown for a command line the driver cannot take.
struct Usage {
  std::string why;
};

// The command line, read left to right; the texts taken from files are held
// for as long as the driver runs.
struct ArgCursor {
  int argc;
  char** argv;
  int i = 1;
  std::deque<std::string> held;
  bool more() const { return i < argc; }
};

inline std::string file_bytes(const char* path) {
  std::FILE* f = port::open_file(path, "rb");
  if (!f) throw Usage{std::string("cannot read ") + path};
  std::string bytes;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
  std::fclose(f);
  return bytes;
}

}  // namespace lxt_driver
