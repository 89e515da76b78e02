#include "src/common/util/child.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "port/env.h"
#include "port/process.h"
#include "src/common/util/errors.h"
#include "src/common/util/log.h"

bool product_start_mode() {
  const char* mode = port::get_env("LXG_STARTMODE");
  return mode != nullptr && std::strcmp(mode, "LX") == 0;
}

void report_command_too_long(const char* program_name, int command_size) {
  std::fprintf(stderr, "%s: the document path is too long: the command line would exceed %d characters\n",
               program_name, command_size - 1);
}

int run_summarizer_child(const char* program_name, const char* command_line,
                         const char* working_dir) {
  port::ChildOptions options;
  // The child shares the wrapper's console and standard handles: its output
  // is the summary.
  options.inherit_handles = true;
  options.new_process_group = false;
  options.working_dir = working_dir;

  int start_error = 0;
  port::run_child(command_line, options, &start_error);
  if (start_error == 0) return 0;

  // Built to the command line's own length, so the message is never cut.
  const std::string message = std::string(program_name) + ": CreateProcess: " + command_line;
  errno = port::start_error_errno(start_error);
  report_error_cause(message.c_str());
  return -1;
}
