#pragma once
// What the process-control programs share besides their settings: the pid
// files, the held-open test and the framework's search path.
#include <cstdio>

#include "admin/common/diagnostics.h"
#include "port/held_open.h"

// Results of read_pid_file.
constexpr int kPidFileMissing = -1;     // there is no such file
constexpr int kPidFileNoNumber = -2;    // it holds no decimal number, or one beyond an int
constexpr int kPidFileUnreadable = -3;  // it is there but cannot be opened or read (errno)

// Reads the first decimal number of a pid file as "%d" takes it: white space,
// an optional sign, digits. 0 with *pid, or one of the results above. A file
// that cannot be read is told from one without a number: what it would have
// said is not known.
int read_pid_file(const char* path, long* pid);
// The same from an open stream, which stays open (kPidFileMissing never comes back).
int read_pid_number(std::FILE* file, long* pid);

// Asks whether a running process holds the file open for writing. When that
// cannot be told, the safe side is the caller's to take: an error line names
// the file, the reason and the consequence given (a full sentence), and
// kCannotTell comes back.
port::HoldState ask_held_open(const Diagnostics& diagnostics, const char* file, const char* consequence);

// Puts the directories (in the system's own form) in front of the search
// path; false, after a message of the program, when there is no memory.
bool put_in_front_of_search_path(const Diagnostics& diagnostics, const char* const* dirs, int count);
