// Starting children on POSIX: statuses, start failures, process groups,
// inherited descriptors, the detached daemon, the interpreter line, ending a
// process by id.
#include <cstdlib>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <thread>
#include <string>
#include <vector>

#include "port/posix/find_program.h"
#include "port/posix/started_as.h"
#include "port/process.h"
#include "port_posix_test_support.h"

namespace {

using port_posix_test::read_file;
using port_posix_test::TempDir;
using port_posix_test::wait_until;

class PortProcess : public port_posix_test::SysCallsRestored {};

class PortShell : public port_posix_test::InterpreterOnPath {};

// The process group of a process, from /proc.
long process_group_of(long pid) {
  const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  long ppid = 0, pgrp = 0;
  char state = 0;
  if (std::sscanf(stat.c_str() + close + 1, " %c %ld %ld", &state, &ppid, &pgrp) != 3) return -1;
  return pgrp;
}

TEST_F(PortProcess, IgnoredChildSignalDoesNotLoseTheStatus) {
  struct sigaction ignore {}, saved {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ASSERT_EQ(::sigaction(SIGCHLD, &ignore, &saved), 0);
  int error = 0;
  const int status = port::run_child("/bin/sh -c \"exit 3\"", {}, &error);
  ::sigaction(SIGCHLD, &saved, nullptr);
  EXPECT_EQ(status, 3);
  EXPECT_EQ(error, 0);
}

TEST_F(PortProcess, ReportsExitStatusAndSignal) {
  int error = 0;
  EXPECT_EQ(port::run_child("/bin/sh -c \"exit 7\"", {}, &error), 7);
  EXPECT_EQ(port::run_child("/bin/sh -c \"exit 255\"", {}, &error), 255);
  EXPECT_EQ(port::run_child("/bin/sh -c \"kill -TERM $$\"", {}, &error), 128 + SIGTERM);
  EXPECT_EQ(port::run_child("/bin/sh -c \"kill -KILL $$\"", {}, &error), 128 + SIGKILL);
}

TEST_F(PortProcess, StartFailuresGiveMinusOneWithErrno) {
  int error = 0;
  EXPECT_EQ(port::run_child("no-such-program-of-lorvex.exe arg", {}, &error), -1);
  EXPECT_EQ(error, ENOENT);
  error = 0;
  EXPECT_EQ(port::run_child("   ", {}, &error), -1);
  EXPECT_EQ(error, ENOENT);

  port::posix::sys().spawn = [](pid_t*, const char*, const port::posix::SpawnPlan&, char* const[], char* const[]) {
    return EAGAIN;
  };
  error = 0;
  EXPECT_EQ(port::run_child("/bin/sh -c \"exit 0\"", {}, &error), -1);
  EXPECT_EQ(error, EAGAIN);
  // POSIX start errors are errno values already.
  EXPECT_EQ(port::start_error_errno(error), EAGAIN);
}

pid_t waited_pid = 0;
int wait_calls = 0;

TEST_F(PortProcess, WaitIsRetriedWhenInterrupted) {
  wait_calls = 0;
  port::posix::sys().waitpid = [](pid_t pid, int* status, int options) -> pid_t {
    if (wait_calls++ < 2) {
      errno = EINTR;
      return -1;
    }
    return ::waitpid(pid, status, options);
  };
  int error = 0;
  EXPECT_EQ(port::run_child("/bin/sh -c \"exit 3\"", {}, &error), 3);
  EXPECT_EQ(wait_calls, 3);
}

TEST_F(PortProcess, FailedWaitIsNotReportedAsAStatus) {
  port::posix::sys().waitpid = [](pid_t pid, int*, int) -> pid_t {
    waited_pid = pid;
    errno = ECHILD;
    return -1;
  };
  int error = 0;
  EXPECT_EQ(port::run_child("/bin/sh -c \"exit 0\"", {}, &error), -1);
  EXPECT_EQ(error, ECHILD);
  port::posix::reset_sys();
  int status = 0;
  ASSERT_EQ(::waitpid(waited_pid, &status, 0), waited_pid);  // no zombie left behind
}

TEST_F(PortProcess, WorkingDirectoryIsAWindowsStylePath) {
  TempDir dir;
  port::ChildOptions options;
  const std::string windows_dir = port_posix_test::backslashed(dir.path());
  options.working_dir = windows_dir.c_str();
  int error = 0;
  ASSERT_EQ(port::run_child("/bin/sh -c \"pwd -P > here.txt\"", options, &error), 0);
  EXPECT_EQ(read_file(dir.file("here.txt")), std::filesystem::canonical(dir.path()).string() + "\n");

  options.working_dir = "/no/such/dir/of/lorvex";
  EXPECT_EQ(port::run_child("/bin/sh -c \"exit 0\"", options, &error), -1);
  EXPECT_EQ(error, ENOENT);
}

// A step of the start that fails in the child is the start's failure, with
// its error, and leaves no child behind.
TEST_F(PortProcess, FailedStepOfTheChildIsTheStartsFailure) {
  TempDir dir;
  const std::string garbage = dir.file("garbage");
  {
    std::FILE* file = std::fopen(garbage.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("\x01\x02not a program\n", file);
    std::fclose(file);
  }
  ASSERT_EQ(::chmod(garbage.c_str(), 0755), 0);
  const std::string missing_output = dir.file("no-dir") + "/out.txt";
  struct Case {
    std::string line;
    const char* output_path;
    int error;
  };
  const Case cases[] = {
      {garbage, nullptr, ENOEXEC},
      {"/bin/sh -c \"exit 0\"", missing_output.c_str(), ENOENT},
  };
  for (const Case& c : cases) {
    port::ChildOptions options;
    options.output_path = c.output_path;
    int error = 0;
    EXPECT_EQ(port::run_child(c.line.c_str(), options, &error), -1) << c.line;
    EXPECT_EQ(error, c.error) << c.line;
    int status = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1) << c.line;
    EXPECT_EQ(errno, ECHILD) << c.line;
  }
}

// A signal set of a running process (SigIgn: ignored, SigBlk: blocked),
// from its status in /proc.
unsigned long long signal_set(long pid, const std::string& name) {
  const std::string status = read_file("/proc/" + std::to_string(pid) + "/status");
  const size_t at = status.find(name + ":\t");
  return at == std::string::npos ? ~0ULL : std::stoull(status.substr(at + name.size() + 2, 16), nullptr, 16);
}
bool ignores(unsigned long long mask, int signal) { return (mask >> (signal - 1)) & 1U; }

TEST_F(PortProcess, ChildStaysInTheCallersGroupWithInterruptIgnoredAndPipeSignalsBack) {
  TempDir dir;
  const std::string line = "/bin/sh -c \"echo $$ > " + dir.file("pid") + "; exec sleep 30\"";
  // Every program ignores SIGPIPE; its children must not inherit that.
  struct sigaction ignore {}, caller_pipe {}, caller_int {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &caller_pipe), 0);
  // The child starts with the caller's mask: not with all it blocks while
  // the child is made.
  sigset_t usr2, caller_mask;
  sigemptyset(&usr2);
  sigaddset(&usr2, SIGUSR2);
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &usr2, &caller_mask), 0);
  // The child is started and checked while it runs, from a second thread.
  for (bool new_group : {true, false}) {
    std::remove(dir.file("pid").c_str());
    port::ChildOptions options;
    options.new_process_group = new_group;
    int status = -2;
    std::thread runner([&] {
      int error = 0;
      status = port::run_child(line.c_str(), options, &error);
    });
    ASSERT_TRUE(wait_until([&] { return read_file(dir.file("pid")).find('\n') != std::string::npos; }));
    const long pid = std::stol(read_file(dir.file("pid")));
    ASSERT_TRUE(wait_until([&] { return read_file("/proc/" + std::to_string(pid) + "/comm") == "sleep\n"; }));
    const long group = process_group_of(pid);
    const unsigned long long ignored = signal_set(pid, "SigIgn");
    const unsigned long long blocked = signal_set(pid, "SigBlk");
    ::kill(static_cast<pid_t>(pid), SIGKILL);
    runner.join();
    EXPECT_EQ(status, 128 + SIGKILL);
    // Never a group of its own: a background group is stopped when it reads
    // the terminal.
    EXPECT_EQ(group, static_cast<long>(getpgrp()));
    EXPECT_EQ(ignores(ignored, SIGINT), new_group);
    EXPECT_FALSE(ignores(ignored, SIGPIPE));
    EXPECT_EQ(blocked, 1ULL << (SIGUSR2 - 1));
  }
  ::pthread_sigmask(SIG_SETMASK, &caller_mask, nullptr);
  // The caller's own interrupt handling is as it was.
  ASSERT_EQ(::sigaction(SIGINT, nullptr, &caller_int), 0);
  EXPECT_NE(caller_int.sa_handler, SIG_IGN);
  ::sigaction(SIGPIPE, &caller_pipe, nullptr);
}

TEST_F(PortProcess, DescriptorsInheritedOnlyWhenAsked) {
  TempDir dir;
  const int fd = ::open(dir.file("held").c_str(), O_CREAT | O_WRONLY, 0644);  // inheritable
  ASSERT_GE(fd, 3);
  const std::string line = "/bin/sh -c \"test -e /proc/self/fd/" + std::to_string(fd) + "\"";
  port::ChildOptions options;
  int error = 0;
  EXPECT_EQ(port::run_child(line.c_str(), options, &error), 0);
  options.inherit_handles = false;
  EXPECT_EQ(port::run_child(line.c_str(), options, &error), 1);
  ::close(fd);
}

TEST_F(PortProcess, DaemonThatEndsAtOnceGivesItsStatusWithoutWaitingOut) {
  int exit_code = -1, error = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port::start_daemon("/bin/sh -c \"exit 3\"", 20000, &exit_code, &error), 0);
  EXPECT_EQ(exit_code, 3);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

  EXPECT_EQ(port::start_daemon("no-such-daemon-of-lorvex", 100, &exit_code, &error), -1);
  EXPECT_EQ(error, ENOENT);
}

TEST_F(PortProcess, RunningDaemonIsDetachedFromTheCallersDescriptors) {
  TempDir dir;
  const int fd = ::open(dir.file("held").c_str(), O_CREAT | O_WRONLY, 0644);  // inheritable
  ASSERT_GE(fd, 3);
  const std::string line = "/bin/sh -c \"echo $$ > " + dir.file("pid") + "; exec sleep 30\"";
  int exit_code = -1, error = 0;
  EXPECT_EQ(port::start_daemon(line.c_str(), 50, &exit_code, &error), 0);
  EXPECT_EQ(exit_code, port::kStillActive);
  ::close(fd);
  ASSERT_TRUE(wait_until([&] { return read_file(dir.file("pid")).find('\n') != std::string::npos; }));
  const long pid = std::stol(read_file(dir.file("pid")));
  const std::string proc = "/proc/" + std::to_string(pid);
  ASSERT_TRUE(wait_until([&] { return read_file(proc + "/comm") == "sleep\n"; }));

  std::vector<std::string> fds;
  for (const auto& entry : std::filesystem::directory_iterator(proc + "/fd")) {
    fds.push_back(entry.path().filename().string());
    EXPECT_EQ(std::filesystem::read_symlink(entry.path()).string(), "/dev/null");
  }
  std::sort(fds.begin(), fds.end());
  EXPECT_EQ(fds, (std::vector<std::string>{"0", "1", "2"}));
  EXPECT_EQ(process_group_of(pid), pid);

  // Ending it by id, as a caller that started it does.
  EXPECT_EQ(::kill(static_cast<pid_t>(pid), SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(static_cast<pid_t>(pid), &status, 0), pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}

std::vector<long> killed;

int looked_at = 0;

TEST_F(PortProcess, EndDaemonNeverSignalsGroupsOrInit) {
  killed.clear();
  looked_at = 0;
  port::posix::sys().kill = [](pid_t pid, int) {
    killed.push_back(pid);
    return 0;
  };
  port::posix::sys().lstat = [](const char*, struct stat*) {
    ++looked_at;
    errno = ENOENT;
    return -1;
  };
  const port::DaemonCheck check{.pid_file = "Exportd.pid", .log = "exportd.log", .program = "exportd"};
  for (long pid : {1L, 0L, -1L, -4242L, static_cast<long>(INT_MAX) + 2}) {
    int error = 0;
    const char* why = nullptr;
    EXPECT_EQ(port::end_daemon(pid, check, &error, &why), port::DaemonEnd::kNoProcess) << pid;
  }
  // Refused before anything is looked at, let alone signalled.
  EXPECT_EQ(looked_at, 0);
  EXPECT_TRUE(killed.empty());
}

std::string spawned_path;
std::vector<std::string> spawned_argv;
bool spawned_new_group = false;

TEST_F(PortShell, ShellLineGoesToTheInterpreterInTheCallersGroup) {
  port::posix::sys().spawn = [](pid_t*, const char* path, const port::posix::SpawnPlan& plan, char* const argv[],
                                char* const[]) {
    spawned_path = path;
    spawned_argv.clear();
    for (int i = 0; argv[i]; ++i) spawned_argv.push_back(argv[i]);
    spawned_new_group = plan.new_group;
    return ENOEXEC;
  };
  EXPECT_EQ(port::run_shell("type a.txt | sort > \"b c\""), -1);
  EXPECT_EQ(errno, ENOEXEC);
  EXPECT_EQ(spawned_path, std::string(LORVEX_TEST_BIN_DIR) + "/cmd");
  ASSERT_EQ(spawned_argv.size(), 3u);
  EXPECT_EQ(spawned_argv[1], "/C");
  EXPECT_EQ(spawned_argv[2], "type a.txt | sort > \"b c\"");
  EXPECT_FALSE(spawned_new_group);
}

TEST_F(PortShell, ShellLineStatusComesBack) {
  EXPECT_EQ(port::run_shell("/bin/sh -c \"exit 6\""), 6);
}

// A process's name is the base name it was started by, cut to 15 bytes: it
// is a program's when some name the dispatch accepts for it cuts to it.
TEST(ProcessName, EveryNameTheProgramAnswersToCountsAsCut) {
  struct Case {
    const char* comm;
    const char* program;
    bool is_it;
  };
  const Case cases[] = {
      {"LaunchCrawler", "LaunchCrawler", true},   {"LaunchCrawler.e", "LaunchCrawler", true},
      {"LaunchCrawler.E", "LaunchCrawler", true}, {"LaunchCrawler.x", "LaunchCrawler", false},
      {"LaunchCrawlerxx", "LaunchCrawler", false}, {"exportd.exe", "exportd", true},
      {"exportd.EXE", "exportd", true},           {"exportd.ex", "exportd", false},  // whole, not cut
      {"exportd2", "exportd", false},             {"launchcrawler", "LaunchCrawler", false},
      {"a-fifteen-byte-", "a-fifteen-byte-name", true}, {"a-fifteen-byte-", "a-fifteen-byte", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(port::posix::process_name_of(c.comm, c.program), c.is_it) << c.comm << " " << c.program;
  }
}

}  // namespace
