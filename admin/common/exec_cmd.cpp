#include "admin/common/exec_cmd.h"

#include <cstdio>
#include <ctime>

#include "port/process.h"

int exec_cmd(const char* command_line) {
  if (command_line == nullptr || command_line[0] == '\0') return 0;
  int start_error = 0;
  const int status = port::run_child(command_line, port::ChildOptions{}, &start_error);
  if (start_error != 0) {
    std::fprintf(stderr,
                 "exec_cmd: %s: Error occured in CreateProcess function (error information = %d).\n cmd = %s\n",
                 time_stamp(), start_error, command_line);
  }
  return status;
}

int exec_cmd_in_order(const char* command_line) {
  std::fflush(nullptr);
  return exec_cmd(command_line);
}

const char* time_stamp() {
  static char stamp[64];
  const std::time_t now = std::time(nullptr);
  if (const std::tm* local = std::localtime(&now)) {
    std::strftime(stamp, sizeof stamp, "%Y%m%d %H:%M:%S", local);
  }
  return stamp;
}
