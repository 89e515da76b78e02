#pragma once
// Opening a file that a program names, on POSIX. Opening a FIFO waits for its
// other end and a device may wait as well; Windows has no such wait, and no
// program of the system reads or writes anything but plain files by name.
#include <sys/types.h>

#include <string>

namespace port::posix {

// open(2) of a native path for a file the program names: never waiting for
// the file's other end, and only ever a regular file (anything else closes
// again with EACCES, as Windows refuses a directory). A file opened for
// writing is never reached through a symbolic link: the link's place is
// refused with EACCES, and so is a link when the flags hold O_NOFOLLOW for
// reading. The descriptor comes back blocking, as usual; -1
// with errno on failure.
int open_named(const std::string& native, int flags, mode_t mode = 0666);

}  // namespace port::posix
