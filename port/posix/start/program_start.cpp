// Linked into every program of the system: what each must set up before its
// main runs.
#include <signal.h>

#ifdef LORVEX_FAULT_INJECTION
#include "port/posix/start/fault_injection.h"
#endif

namespace {

// Windows knows no SIGPIPE: a write to a pipe whose reader has gone fails and
// the program goes on (and, say, releases the cycle lock it holds). Ignoring
// the signal gives POSIX programs the same: the write fails with EPIPE.
// Children get the default disposition back when they start.
struct ProgramStart {
  ProgramStart() {
    ::signal(SIGPIPE, SIG_IGN);
#ifdef LORVEX_FAULT_INJECTION
    // The test mode that makes a chosen system call fail (off unless asked
    // for); only a test build has it.
    port::posix::start_fault_injection();
#endif
  }
};

const ProgramStart program_start;

}  // namespace
