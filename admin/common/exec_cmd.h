#pragma once
// Running one command line as a child process, and the time stamp of every
// diagnostic line.

// Runs the command line as a child that inherits the caller's handles,
// environment and current directory in a process group of its own, and waits
// for it without a time limit. Returns 0 for a null or empty line (nothing is
// started), -1 when the child cannot be created (after a message on standard
// error), otherwise the child's exit status.
int exec_cmd(const char* command_line);
// exec_cmd after flushing every output stream, so that the caller's lines and
// the child's keep their order.
int exec_cmd_in_order(const char* command_line);

// The local time as "%Y%m%d %H:%M:%S", in one buffer that every call
// overwrites; empty until the first successful call.
const char* time_stamp();
