// A claim file removed when the program is told to end. The requests to end
// are blocked while the file is created or removed and while the handlers
// change, so the handler only ever removes a file this process created.
#include "port/claim_file.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "port/file.h"
#include "port/posix/path.h"

namespace port {

namespace {

constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int kCount = sizeof kEndSignals / sizeof kEndSignals[0];

// The native path of the claim file; read by the handler.
char held_path[4096];
volatile sig_atomic_t armed = 0;
struct sigaction previous[kCount];
bool installed[kCount];

void on_end_request(int signal) {
  const int error = errno;
  if (armed) {
    unlink(held_path);
    armed = 0;
  }
  // The program ends the way it would have without us: the signal is blocked
  // while this handler runs and comes again the moment it returns.
  for (int i = 0; i < kCount; ++i) {
    if (kEndSignals[i] == signal && installed[i]) {
      sigaction(signal, &previous[i], nullptr);
      installed[i] = false;
    }
  }
  raise(signal);
  errno = error;
}

// Blocks the requests to end for its lifetime.
class Deferred {
 public:
  Deferred() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kEndSignals) sigaddset(&set, signal);
    pthread_sigmask(SIG_BLOCK, &set, &saved_);
  }
  ~Deferred() {
    const int error = errno;
    pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
    errno = error;
  }
  Deferred(const Deferred&) = delete;
  Deferred& operator=(const Deferred&) = delete;

 private:
  sigset_t saved_;
};

void restore_handlers() {
  for (int i = 0; i < kCount; ++i) {
    if (installed[i]) sigaction(kEndSignals[i], &previous[i], nullptr);
    installed[i] = false;
  }
}

}  // namespace

int create_claim_file(const char* path) {
  Deferred deferred;
  if (create_exclusive(path) != 0) return -1;
  const std::string native = posix::native_path(path);
  if (armed || native.size() >= sizeof held_path) return 0;  // held, but not removed at the end
  std::snprintf(held_path, sizeof held_path, "%s", native.c_str());
  for (int i = 0; i < kCount; ++i) {
    struct sigaction current {};
    sigaction(kEndSignals[i], nullptr, &current);
    // A request the program ignores cannot end it: it stays ignored.
    if (current.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = on_end_request;
    sigemptyset(&action.sa_mask);
    for (int signal : kEndSignals) sigaddset(&action.sa_mask, signal);
    if (sigaction(kEndSignals[i], &action, &previous[i]) == 0) installed[i] = true;
  }
  armed = 1;
  return 0;
}

int remove_claim_file(const char* path) {
  Deferred deferred;
  const int removed = remove_file(path);
  const int error = errno;
  armed = 0;
  restore_handlers();
  errno = error;
  return removed;
}

}  // namespace port
