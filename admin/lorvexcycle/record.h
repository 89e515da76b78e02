#pragma once
// The outcome of one cycle, told twice: one line to the system log, and the
// same line with its time in the gatherer directory's last-cycle, which the
// status command reads.
#include <string>

#include "admin/common/diagnostics.h"

// "GATHERER: status N: WHAT", WHAT being the last page's message (its number,
// a colon and its text) or what came instead of a page.
std::string outcome_line(const std::string& gatherer, int status, const std::string& what);

// The line to the system log, with the status's weight: information for a
// clean cycle, a warning for a gatherer already at work, else an error.
void log_outcome(const std::string& line, int status);

// Puts "TIME LINE" in the place of the gatherer directory's last-cycle, whole
// or not at all: written to a work file beside it, flushed, and renamed over
// it. Neither name is ever followed through a link, and only a regular file
// is written. False after an error line.
bool keep_outcome(const Diagnostics& diagnostics, const std::string& gatherer_dir, const std::string& line);
