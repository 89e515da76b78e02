#pragma once
// Whether what was written to a stream has reached its file, the same on
// both targets.
#include <cstdio>

namespace port {

// Whether everything written to the stream so far has reached its file:
// flushes it and looks at its error flag. 0, or -1 with errno set (EIO when
// an earlier write failed and its errno is gone).
int flush_checked(std::FILE* stream);
// Closes a stream written to, flush_checked first: 0 only when every write
// and the close succeeded, else -1 with errno. The stream is closed either way.
int close_checked(std::FILE* stream);

}  // namespace port
