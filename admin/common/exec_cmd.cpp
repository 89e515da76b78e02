#include "admin/common/exec_cmd.h"

#include <cstdio>

#include "admin/common/diagnostics.h"
#include "port/process.h"

int exec_cmd(const char* command_line) { return exec_cmd_telling(command_line).status; }

ChildEnd exec_cmd_telling(const char* command_line, void (*on_start)(void*, int), void* context) {
  ChildEnd end;
  if (command_line == nullptr || command_line[0] == '\0') return end;
  port::ChildOptions options;
  options.on_start = on_start;
  options.on_start_context = context;
  options.end_signal = &end.signal;
  int start_error = 0;
  end.status = port::run_child(command_line, options, &start_error);
  if (start_error != 0) {
    end.start_errno = port::start_error_errno(start_error);
    Diagnostics("exec_cmd").say("%s", start_failure_text(start_error, command_line).c_str());
  }
  return end;
}

std::string start_failure_text(int start_error, const char* command_line) {
  return "Error occured in CreateProcess function (error information = " + std::to_string(start_error) +
         ").\n cmd = " + command_line;
}

int exec_cmd_in_order(const char* command_line) {
  std::fflush(nullptr);
  return exec_cmd(command_line);
}
