#include "port/help_version.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "port/reader_text.h"

#include "port/write_check.h"

namespace port {

int answer_help_or_version(int argc, char** argv, const char* program, const char* usage) {
  if (argc != 2 || argv == nullptr || argv[1] == nullptr) return -1;
  if (std::strcmp(argv[1], "--help") == 0) {
    // The usage texts are Shift_JIS: a reader's terminal is shown them in
    // its own character set, and never a control character raw.
    const std::string text = text_for_reader(usage, TextFor::kTerminal, LineBreaks::kKept);
    std::fputs(text.c_str(), stdout);
    if (text.empty() || text.back() != '\n') std::fputc('\n', stdout);
  } else if (std::strcmp(argv[1], "--version") == 0) {
    const std::string line = std::string(program) + " " + LORVEX_VERSION;
    std::printf("%s\n", text_for_reader(line, TextFor::kTerminal).c_str());
  } else {
    return -1;
  }
  // A full disk or a closed pipe is a failed answer, told by the status.
  return flush_checked(stdout) == 0 ? 0 : 1;
}

}  // namespace port
