// The requests are noted in a flag and a byte in a pipe: the flag for a look,
// the pipe for a wait (poll) that must wake up when one comes.
#include "port/end_request.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "port/posix/end_request_pipe.h"
#include "port/posix/syscalls.h"

namespace port {

namespace {

constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

volatile sig_atomic_t noted = 0;
int wake_pipe[2] = {-1, -1};

void on_end_request(int signal) {
  const int error = errno;
  if (noted == 0) noted = signal;
  if (wake_pipe[1] >= 0) {
    const char byte = 1;
    // A full pipe already wakes the waiter: the byte may be dropped.
    [[maybe_unused]] const ssize_t ignored = ::write(wake_pipe[1], &byte, 1);
  }
  errno = error;
}

}  // namespace

void catch_end_requests() {
  if (wake_pipe[0] >= 0) return;
  // Without the pipe a request is still noted; a wait then sees it at its
  // next wake-up only.
  if (posix::sys().pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) wake_pipe[0] = wake_pipe[1] = -1;
  struct sigaction action {};
  action.sa_handler = &on_end_request;
  sigemptyset(&action.sa_mask);
  for (const int signal : kEndSignals) sigaddset(&action.sa_mask, signal);
  for (const int signal : kEndSignals) ::sigaction(signal, &action, nullptr);
}

int end_request() { return noted; }

void end_as_requested(int request) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(request, &action, nullptr);
  sigset_t unblocked;
  sigemptyset(&unblocked);
  sigaddset(&unblocked, request);
  ::sigprocmask(SIG_UNBLOCK, &unblocked, nullptr);
  ::raise(request);
  // A request whose default is not to end (none of those caught) still ends.
  std::_Exit(128 + request);
}

namespace posix {

int end_request_wake_fd() { return wake_pipe[0]; }

}  // namespace posix

}  // namespace port
