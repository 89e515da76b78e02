#pragma once
// Running a parsed line.
#include "port/posix/cmd/parse.h"
#include "port/posix/unique_fd.h"

namespace port::posix::cmd {

// The interpreter's own standard streams, copied above descriptor 2; invalid
// for a stream it was started without, which stays missing for every command.
struct StandardStreams {
  StandardStreams();
  UniqueFd in;
  UniqueFd out;
  UniqueFd err;
};


// Runs the pipelines of the line in order, each by its joint and the status
// of the last one run; the status is that of the last one run.
int run_line(const Line& line, const StandardStreams& streams);

}  // namespace port::posix::cmd
