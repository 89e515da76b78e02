// agecull (stand-in): the expiry step. Counts the templates of the databases
// it is given; the demo's templates never expire.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "port/stream.h"

namespace {

// Templates in the file (each begins with a line "@TYPE { URL"), or -1 when
// it cannot be read.
int count_templates(const char* path) {
  std::FILE* in = port::open_file(path, "r");
  if (in == nullptr) return -1;
  int count = 0;
  bool line_start = true;
  for (int c = std::fgetc(in); c != EOF; c = std::fgetc(in)) {
    if (line_start && c == '@') ++count;
    line_start = c == '\n';
  }
  std::fclose(in);
  return count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("agecull: no database named, nothing expired\n", stderr);
    return 0;
  }
  for (int i = 1; i < argc; ++i) {
    const int count = count_templates(argv[i]);
    if (count < 0) {
      std::fprintf(stderr, "agecull: cannot read %s: %s\n", argv[i], std::strerror(errno));
      return 1;
    }
    std::fprintf(stderr, "agecull: %s holds %d templates, none expired\n", argv[i], count);
  }
  return 0;
}
