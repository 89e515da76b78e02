#pragma once
// A claim file: a file that stands for something this process holds (the
// cycle lock), removed when the program is told to end.

namespace port {

// create_exclusive (port/file.h) for a file that stands for something this
// process holds: until remove_claim_file, a request to end the program (an
// interrupt, a quit, a termination or a hang-up; on Windows the console's
// Ctrl-C, Ctrl-Break and close events) removes the file first, then ends the
// program as it would have ended. No such request is acted on between the
// creation and the moment the file is remembered, so a file that another
// process created is never removed. One claim file at a time. A kill that
// cannot be caught (SIGKILL, TerminateProcess) still leaves the file.
int create_claim_file(const char* path);
// remove_file for the claim file, and the end of the removal at termination.
int remove_claim_file(const char* path);

}  // namespace port
