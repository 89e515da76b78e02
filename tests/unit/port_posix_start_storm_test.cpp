// Children started from several threads at once while signals reach the
// caller's process group: no handler of the caller runs in a child, a child
// that ignores interrupts never dies of one, every output arrives whole, and
// no start waits for ever. Run in a process of its own group, so that the
// signals reach no other process.
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "port/process.h"
#include "port_posix_test_support.h"

namespace {

// Set by the caller before the storm: a handler that finds another process
// id runs in a child, on the caller's memory.
volatile pid_t caller_pid = 0;
volatile sig_atomic_t ran_in_child = 0;
volatile sig_atomic_t ran_in_caller = 0;

void on_signal(int) {
  if (static_cast<pid_t>(::syscall(SYS_getpid)) != caller_pid) {
    ran_in_child = ran_in_child + 1;
  } else {
    ran_in_caller = ran_in_caller + 1;
  }
}

class Collect : public port::OutputRelay {
 public:
  void relay(int stream, const char* bytes, std::size_t size) override {
    (stream == 1 ? out : err).append(bytes, size);
  }
  std::string out, err;
};

// What went wrong in the storm's starts, counted from every starter thread.
struct Tally {
  std::atomic<int> wrong_daemon{0}, wrong_status{0}, wrong_output{0}, failed_start{0};
};

// A child's status that the storm explains: success, or, when its signals
// may end a child before its program runs, death by one of those.
bool explained(int status, bool ending) {
  return status == 0 || (ending && (status == 128 + SIGTERM || status == 128 + SIGUSR1 || status == 128 + SIGHUP));
}

// The 60 starts of starter thread T, each counted in TALLY when it goes wrong.
void start_children(int t, bool ending, bool daemons, Tally& tally) {
  for (int i = 0; i < 60; ++i) {
    int error = 0;
    if (daemons) {
      // A daemon has a group of its own: what reaches the caller's group
      // while it starts is not its business. It ends by itself at once.
      int code = 0;
      if (port::start_daemon("/bin/sh -c \"exit 7\"", 10000, &code, &error) != 0) ++tally.failed_start;
      if (code != 7) ++tally.wrong_daemon;
    } else if (t % 2 == 0) {
      // SIGINT ignored in the child: only SIGTERM, SIGUSR1 or SIGHUP
      // can end it before its program runs.
      port::ChildOptions options;
      options.inherit_handles = (i % 2) == 0;
      const int status = port::run_child("/bin/true", options, &error);
      if (error != 0) ++tally.failed_start;
      if (!explained(status, ending)) {
        ++tally.wrong_status;
      }
    } else {
      Collect collect;
      const std::string word = "w" + std::to_string(t) + "-" + std::to_string(i);
      const std::string line = "/bin/echo " + word;
      const int status = port::run_child_relayed(line.c_str(), &collect, &error);
      if (error != 0) ++tally.failed_start;
      if (status == 0 && collect.out != word + "\n") ++tally.wrong_output;
      if (!explained(status, ending)) {
        ++tally.wrong_status;
      }
    }
  }
}

// The storm itself, in the forked process; its exit code says what went
// wrong (0: nothing).
// signals: sent in turn to the group; ending: whether any of them may end a
// child before its program runs (SIGINT never may: the children ignore it).
// daemons: whether the starts are of daemons alone (else of children waited
// for and of children whose output is relayed).
int storm(const std::vector<int>& signals, bool ending, bool daemons) {
  if (::setpgid(0, 0) != 0) return 10;
  caller_pid = ::getpid();
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  for (int number : {SIGINT, SIGTERM, SIGUSR1, SIGWINCH, SIGURG, SIGHUP}) {
    if (::sigaction(number, &action, nullptr) != 0) return 11;
  }
  std::atomic<bool> done{false};
  Tally tally;
  std::thread sender([&] {
    for (std::size_t i = 0; !done.load(); ++i) {
      ::kill(0, signals[i % signals.size()]);
      std::this_thread::yield();
    }
  });
  std::vector<std::thread> starters;
  for (int t = 0; t < 4; ++t) {
    starters.emplace_back([&, t] { start_children(t, ending, daemons, tally); });
  }
  for (std::thread& starter : starters) starter.join();
  done = true;
  sender.join();
  if (ran_in_child != 0) return 20;
  if (tally.failed_start != 0) return 21;
  if (tally.wrong_status != 0) return 22;
  if (tally.wrong_output != 0) return 23;
  if (tally.wrong_daemon != 0) return 25;
  if (ran_in_caller == 0) return 24;  // the storm reached nobody: the test proves nothing
  return 0;
}

void run_storm(const std::vector<int>& signals, bool ending, bool daemons);

TEST(PortStartStorm, HandlersStayInTheCallerAndEveryChildEndsWhileSignalsReachTheGroup) {
  struct Case {
    const char* name;
    std::vector<int> signals;
    bool ending;
    bool daemons;
  };
  const Case cases[] = {
      {"ending signals", {SIGINT, SIGTERM, SIGUSR1, SIGWINCH, SIGURG, SIGHUP}, true, false},
      {"interrupts and ignored signals", {SIGINT, SIGWINCH, SIGURG}, false, false},
      // As a Windows child of a new process group gets no Ctrl+C meant for
      // its starter's group, a daemon never dies of an interrupt sent to the
      // caller's group while it was being started, before it left the group.
      {"interrupts while daemons start", {SIGINT}, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    run_storm(c.signals, c.ending, c.daemons);
  }
}

// Runs BODY in a forked process and waits for it at most BOUND; one that is
// still running then is killed with its whole group (the caller and any
// child it waits in) and the wait is a failure. The exit status otherwise.
::testing::AssertionResult run_forked(const std::function<int()>& body, std::chrono::seconds bound, int* raw) {
  const pid_t pid = ::fork();
  if (pid < 0) return ::testing::AssertionFailure() << "fork failed";
  if (pid == 0) ::_exit(body());
  const bool ended = port_posix_test::wait_until([&] { return ::waitpid(pid, raw, WNOHANG) == pid; }, bound);
  if (ended) return ::testing::AssertionSuccess();
  ::kill(-pid, SIGKILL);
  ::waitpid(pid, raw, 0);
  return ::testing::AssertionFailure() << "still running after " << bound.count() << " s";
}

void run_storm(const std::vector<int>& signals, bool ending, bool daemons) {
  // Bounded: the storm's children are few and short; a start that waits for
  // ever leaves the process running, which the bound turns into a failure.
  int raw = 0;
  ASSERT_TRUE(run_forked([&] { return storm(signals, ending, daemons); }, std::chrono::seconds(120), &raw))
      << "the storm did not end";
  ASSERT_TRUE(WIFEXITED(raw)) << "ended by signal " << WTERMSIG(raw);
  EXPECT_EQ(WEXITSTATUS(raw), 0) << "20: a handler ran in a child; 21: a start failed; 22: a status "
                                    "no signal of the storm explains; 23: output lost; 25: a daemon ended by a signal sent to the "
                                    "caller's group";
}

// A FIFO without a reader where the child's output file is expected: the
// start ends within a bound with a failure, as Windows cannot open such a
// thing as a file either: neither the child nor its caller waits for a
// reader.
TEST(PortStartStorm, OutputFileThatIsAFifoFailsTheStartWithinABound) {
  port_posix_test::TempDir dir;
  const std::string fifo = dir.file("out");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const auto start = [&] {
    ::setpgid(0, 0);
    port::ChildOptions options;
    options.output_path = fifo.c_str();
    int error = 0;
    const int status = port::run_child("/bin/true", options, &error);
    return status == -1 && error != 0 ? 0 : 1;
  };
  int raw = 0;
  ASSERT_TRUE(run_forked(start, std::chrono::seconds(10), &raw)) << "the start still waits on the FIFO";
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << "the start did not fail";
}

}  // namespace
