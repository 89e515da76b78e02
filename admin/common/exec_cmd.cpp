#include "admin/common/exec_cmd.h"

#include <cstdio>

#include "admin/common/diagnostics.h"
#include "port/process.h"

int exec_cmd(const char* command_line) {
  if (command_line == nullptr || command_line[0] == '\0') return 0;
  int start_error = 0;
  const int status = port::run_child(command_line, port::ChildOptions{}, &start_error);
  if (start_error != 0) {
    Diagnostics("exec_cmd").say("%s", start_failure_text(start_error, command_line).c_str());
  }
  return status;
}

std::string start_failure_text(int start_error, const char* command_line) {
  return "Error occured in CreateProcess function (error information = " + std::to_string(start_error) +
         ").\n cmd = " + command_line;
}

int exec_cmd_in_order(const char* command_line) {
  std::fflush(nullptr);
  return exec_cmd(command_line);
}
