#pragma once
// Requests to end the program (on POSIX an interrupt, a termination, a
// hang-up or a quit; on Windows the console's Ctrl-C, Ctrl-Break and close
// events), caught and noted rather than obeyed at once, for a program that
// must say how it ended before it ends: its main loop, not the handler,
// records the end, then ends the program as the request would have ended it.

namespace port {

// From now on a request is noted, not obeyed. A second call changes nothing.
void catch_end_requests();
// The first request noted (its signal number on POSIX, the console event on
// Windows plus one), or 0 when none has come.
int end_request();
// Ends the program as the request would have ended it had it not been
// caught: on POSIX by the same signal, at its default disposition.
[[noreturn]] void end_as_requested(int request);

}  // namespace port
