#pragma once
// What every summarizer wrapper does: run its outside summarizer on the
// document and leave the summary to the child.

// True when the product started the wrapper (LXG_STARTMODE is exactly "LX").
bool product_start_mode();

// The refusal of a document path that would not fit the command line of
// command_size bytes: one line on standard error (the caller exits with 1).
void report_command_too_long(const char* program_name, int command_size);

// Runs the command line (program name first, found by the platform's program
// search) with the wrapper's own standard streams, environment and console,
// in working_dir (null: the wrapper's own) and waits for it. A child that
// cannot be started is reported as the error line
// "PROGRAM: CreateProcess: COMMAND: text of the failure" and gives -1;
// otherwise 0, whatever the child's own exit status.
int run_summarizer_child(const char* program_name, const char* command_line,
                         const char* working_dir);
