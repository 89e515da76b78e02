#pragma once
// The path a program was started by.

namespace port::posix {

// The path the system was given when it started this program (the link that
// was run, as typed or found along PATH), which the caller's argv[0] need not
// be; argv0 when the system keeps none. Never the file behind a link, which
// /proc/self/exe leads to.
const char* started_path(const char* argv0);

}  // namespace port::posix
