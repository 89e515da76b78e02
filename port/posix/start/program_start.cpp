// Linked into every program of the system: what each must set up before its
// main runs.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "port/posix/root_path.h"

#ifdef LORVEX_FAULT_INJECTION
#include "port/posix/start/fault_injection.h"
#endif

namespace {

// Windows knows no SIGPIPE: a write to a pipe whose reader has gone fails and
// the program goes on (and, say, releases the cycle lock it holds). Ignoring
// the signal gives POSIX programs the same: the write fails with EPIPE.
// Children get the default disposition back when they start.
// A program started with a standard descriptor closed would hand that number
// to the next file it opens (a lock file, a log), and its own messages and its
// children's would be written into that file. The null device takes each
// closed one first; descriptors are given lowest first, so the open lands on
// the one that is closed. It is closed on exec: a stream the program was
// started without is missing for its children too, as an invalid standard
// handle is on Windows (and the interpreter tells such a stream by that).
void fill_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = ::open("/dev/null", (fd == 0 ? O_RDONLY : O_WRONLY) | O_CLOEXEC);
    if (opened > fd) {
      ::dup3(opened, fd, O_CLOEXEC);
      ::close(opened);
    }
  }
}

struct ProgramStart {
  ProgramStart() {
    fill_standard_descriptors();
    ::signal(SIGPIPE, SIG_IGN);
    // Run as root, no relative directory of the inherited search path is
    // searched, by the program or by anything it starts.
    port::posix::drop_relative_search_entries();
#ifdef LORVEX_FAULT_INJECTION
    // The test mode that makes a chosen system call fail (off unless asked
    // for); only a test build has it.
    port::posix::start_fault_injection();
#endif
  }
};

const ProgramStart program_start;

}  // namespace
