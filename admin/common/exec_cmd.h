#pragma once
// Running one command line as a child process.
#include <string>

// Runs the command line as a child that inherits the caller's handles,
// environment and current directory, and is spared the interrupts meant for
// the caller (on Windows in a process group of its own; on POSIX in the
// caller's group, with SIGINT ignored, so that it keeps the terminal), and waits
// for it without a time limit. Returns 0 for a null or empty line (nothing is
// started), -1 when the child cannot be created (after a message on standard
// error), otherwise the child's exit status.
int exec_cmd(const char* command_line);

// How a child of exec_cmd ended, for a caller that keeps a record of it.
struct ChildEnd {
  int status = 0;       // exec_cmd's result
  int signal = 0;       // the signal that ended the child, or 0
  int start_errno = 0;  // the errno of a start that failed, or 0
};
// exec_cmd, telling how the child ended. on_start (when given) is called
// once the child was created or could not be, with the system's code of the
// failure or 0, before the wait.
ChildEnd exec_cmd_telling(const char* command_line, void (*on_start)(void*, int) = nullptr,
                          void* context = nullptr);
// exec_cmd after flushing every output stream, so that the caller's lines and
// the child's keep their order.
int exec_cmd_in_order(const char* command_line);

// The words of a child that cannot be started, for the console and a log.
std::string start_failure_text(int start_error, const char* command_line);
