#pragma once
// Bytes no one can guess or repeat, for an identity that tells one run from
// every other (a cycle's id), whatever the clock says.

#include <cstddef>

namespace port {

// Fills the buffer from the system's source of random bytes. 0, or -1 with
// errno when the source cannot be had (nothing is then made up instead).
int random_bytes(void* buffer, std::size_t size);

}  // namespace port
