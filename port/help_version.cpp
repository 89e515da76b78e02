#include "port/help_version.h"

#include <cstdio>
#include <cstring>

#include "port/write_check.h"

namespace port {

int answer_help_or_version(int argc, char** argv, const char* program, const char* usage) {
  if (argc != 2 || argv == nullptr || argv[1] == nullptr) return -1;
  if (std::strcmp(argv[1], "--help") == 0) {
    const std::size_t length = std::strlen(usage);
    std::fputs(usage, stdout);
    if (length == 0 || usage[length - 1] != '\n') std::fputc('\n', stdout);
  } else if (std::strcmp(argv[1], "--version") == 0) {
    std::printf("%s %s\n", program, LORVEX_VERSION);
  } else {
    return -1;
  }
  // A full disk or a closed pipe is a failed answer, told by the status.
  return flush_checked(stdout) == 0 ? 0 : 1;
}

}  // namespace port
