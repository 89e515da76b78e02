#pragma once
// Waiting for a started child, for the port's own runner and the command
// interpreter alike.
#include <sys/types.h>

namespace port::posix {

// A wait status as the callers report it: the exit status, or 128 plus the
// number of the signal that ended the child.
int status_of(int wait_status);

// Waits for the child (through the system-call table); 0 with *status, or
// the errno of a failed wait.
int wait_for(pid_t pid, int* status);

}  // namespace port::posix
