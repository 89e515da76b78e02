#pragma once
// The read end of the pipe that a caught request to end writes a byte into,
// so that a wait in the port (a relayed run's poll) wakes up for it.

namespace port::posix {

// -1 while requests are not caught.
int end_request_wake_fd();

}  // namespace port::posix
