#pragma once
// The summarizers' error log: one time-stamped line per failure on the error
// stream chosen at start-up. Single-threaded; the buffers are shared.
#include <cstdio>

// Chooses the error stream (null: error lines are dropped). The stream is put
// in text mode, and it is flushed after every line only when it is a regular
// file (or cannot be examined), not on a console or a pipe.
void log_setup(std::FILE* error_stream);

// Writes "PID: YYYYmmdd HH:MM:SS: ERROR: message" with the formatted message,
// which brings its own line end; CR LF in the message becomes LF.
void report_error(const char* format, ...) __attribute__((format(printf, 1, 2)));

// report_error of "message: text of errno", or of the message alone when
// errno is 0; a line end is added.
void report_error_cause(const char* message);
