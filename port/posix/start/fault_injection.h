#pragma once
// Fault injection, built into the programs of a test build only (the CMake
// option LORVEX_FAULT_INJECTION). When the environment variable
//   LORVEX_TEST_FAULT_INJECTION=KIND:N:ERROR[:HITFILE]
// is set as a program starts, the N-th call (from 1) of one kind made through
// the port's call table fails with the error, once. KIND is one of open
// (open, openat and pipe2: every call that makes a descriptor), read, write,
// close, rename, unlink (unlink and unlinkat), chmod, spawn, socket, connect,
// fsync, pidfd (pidfd_open), signal (pidfd_send_signal and kill), lock
// (flock); ERROR one of ENOSPC, EIO, EMFILE, EACCES, EINTR. When the fault is
// dealt, a line is appended to HITFILE (when given), so that a test can tell
// a run that met its fault from one that made fewer calls. A value that
// cannot be read is said on standard error, and no fault is dealt. A close or a
// connect is made before its failure is reported, as the kernel releases the
// descriptor or goes on connecting whatever the result says; the other calls
// are not made.
// The calls are counted across the program and the system's programs it
// starts (the command interpreter of its lines above all), which inherit the
// variable and share one count, so that a walk over N reaches every call of
// the whole run, and still only one of them fails. A child started without
// the inherited count (a daemon, which inherits no descriptor) runs without
// faults, as does every child when the value cannot be read.
// While the mode is on, standard output goes through the table as well
// (standard error does not: it is where the failures are reported). Without
// the variable nothing changes and nothing is spent.

namespace port::posix {

void start_fault_injection();

}  // namespace port::posix
