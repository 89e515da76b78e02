// Child processes on POSIX: a command-line string is split by the Windows
// runtime's rules, the program is found like Windows finds it, and the child
// is started by the port's one spawn set-up.
#include "port/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "port/end_request.h"
#include "port/posix/cmdline.h"
#include "port/posix/end_request_pipe.h"
#include "port/posix/path.h"
#include "port/posix/find_program.h"
#include "port/posix/spawn.h"
#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"

namespace port {

namespace {

struct StartRequest {
  bool new_process_group = false;  // a detached daemon's own group
  bool ignore_interrupt = false;   // the child starts with SIGINT ignored
  bool inherit_handles = true;
  bool null_stdio = false;
  const char* working_dir = nullptr;
  const char* output_path = nullptr;
  int output_fd = -1;  // the child's standard output is a copy of it
  int error_fd = -1;   // the child's standard error is a copy of it
};

// With SIGCHLD ignored (a setting a caller can hand down through exec) the
// system reaps the children itself and no exit status could be had: the
// default disposition is taken back before a child starts.
void make_children_waitable() {
  struct sigaction current {};
  if (::sigaction(SIGCHLD, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    ::sigaction(SIGCHLD, &default_action, nullptr);
  }
}

// Starts the child; 0 with *pid, or the error number of the failure.
int start(const char* command_line, const StartRequest& request, pid_t* pid) {
  make_children_waitable();
  posix::ParsedCommand parsed;
  if (command_line == nullptr || !posix::parse_command_line(command_line, &parsed)) return ENOENT;
  std::string resolved;
  if (int rc = posix::find_program(parsed.program, &resolved)) return rc;

  posix::SpawnSetup setup;
  if (request.ignore_interrupt) setup.ignore(SIGINT);
  if (request.new_process_group) setup.new_group();
  // Opened before the change of directory: a relative path names the same
  // file as it does for the caller, as on Windows.
  if (request.output_path != nullptr) setup.output_to(posix::native_path(request.output_path));
  if (request.output_fd >= 0) setup.stream_from(1, request.output_fd);
  if (request.error_fd >= 0) setup.stream_from(2, request.error_fd);
  if (request.working_dir != nullptr) setup.chdir_to(posix::native_path(request.working_dir));
  if (request.null_stdio) setup.null_stdio();
  if (!request.inherit_handles) setup.close_others();
  return setup.spawn(resolved, parsed.argv, pid);
}

int run(const char* command_line, const StartRequest& request, const ChildOptions& options, int* start_error) {
  if (start_error) *start_error = 0;
  pid_t pid = 0;
  int error = start(command_line, request, &pid);
  if (options.on_start != nullptr) options.on_start(options.on_start_context, error);
  int status = 0;
  // A wait that fails leaves no status to report; it is reported like a
  // failed start rather than as some made-up exit status.
  if (error == 0) error = posix::wait_for(pid, &status, options.end_signal);
  if (error != 0) {
    if (start_error) *start_error = error;
    errno = error;
    return -1;
  }
  return status;
}

}  // namespace

int run_child(const char* command_line, const ChildOptions& options, int* start_error) {
  // The child of a new console process group on Windows shares the console
  // but gets no Ctrl+C. Here it stays in the caller's group, so that it can
  // read and write the terminal without being stopped by job control, and
  // starts with SIGINT ignored.
  StartRequest request;
  request.ignore_interrupt = options.new_process_group;
  request.inherit_handles = options.inherit_handles;
  request.working_dir = options.working_dir;
  request.output_path = options.output_path;
  return run(command_line, request, options, start_error);
}

namespace {

// A pipe whose reading end is closed on exec and whose writing end a child
// is to inherit as it is (its number told in an environment variable); both
// invalid, with errno, when it cannot be made.
bool inheritable_pipe(posix::UniqueFd* read_end, posix::UniqueFd* write_end) {
  int ends[2] = {-1, -1};
  if (posix::sys().pipe2(ends, O_CLOEXEC) != 0) return false;
  read_end->reset(ends[0]);
  write_end->reset(ends[1]);
  const int flags = posix::sys().fcntl(ends[1], F_GETFD);
  if (flags == -1 || posix::sys().fcntl(ends[1], F_SETFD, flags & ~FD_CLOEXEC) == -1) {
    read_end->reset();
    write_end->reset();
    return false;
  }
  return true;
}

// The variable names the descriptor for the child alone: set while it
// starts, then taken away again.
class ReportVariable {
 public:
  ReportVariable(const char* name, int fd) : name_(name) {
    if (name_ != nullptr) set_ = posix::sys().setenv(name_, std::to_string(fd).c_str(), 1) == 0;
  }
  ~ReportVariable() {
    if (name_ != nullptr) posix::sys().unsetenv(name_);
  }
  ReportVariable(const ReportVariable&) = delete;
  ReportVariable& operator=(const ReportVariable&) = delete;
  bool set() const { return name_ == nullptr || set_; }

 private:
  const char* name_;
  bool set_ = false;
};

}  // namespace

// Long as one piece: the pipes, the child, the end requests and the relay
// loop share descriptors that every way out must close in one order.
int run_child_relayed(const char* command_line, OutputRelay* relay, int* start_error, const RelayOptions& options) {
  if (start_error) *start_error = 0;
  const auto fail = [&](int error) {
    if (start_error) *start_error = error;
    errno = error;
    return -1;
  };
  // Closed on exec: the child gets its ends as its standard streams only,
  // and no grandchild keeps a pipe open past the child's end by accident.
  int out_pipe[2] = {-1, -1};
  int err_pipe[2] = {-1, -1};
  if (posix::sys().pipe2(out_pipe, O_CLOEXEC) != 0) return fail(errno);
  posix::UniqueFd out_read(out_pipe[0]), out_write(out_pipe[1]);
  if (posix::sys().pipe2(err_pipe, O_CLOEXEC) != 0) return fail(errno);
  posix::UniqueFd err_read(err_pipe[0]), err_write(err_pipe[1]);
  posix::UniqueFd report_read, report_write;
  if (options.report_variable != nullptr && !inheritable_pipe(&report_read, &report_write)) return fail(errno);
  StartRequest request;
  request.ignore_interrupt = true;
  request.output_fd = out_write.get();
  request.error_fd = err_write.get();
  pid_t pid = 0;
  int error = 0;
  {
    const ReportVariable variable(options.report_variable, report_write.get());
    error = variable.set() ? start(command_line, request, &pid) : errno;
  }
  out_write.reset();
  err_write.reset();
  report_write.reset();
  if (error != 0) return fail(error);
  // Every pipe is read as it fills, so that a child that writes much to one
  // while another is quiet never waits on a full pipe.
  posix::UniqueFd* sources[3] = {&out_read, &err_read, &report_read};
  const int wake = options.return_on_end_request ? posix::end_request_wake_fd() : -1;
  char buffer[4096];
  while (out_read.valid() || err_read.valid() || report_read.valid()) {
    if (options.return_on_end_request && end_request() != 0) return kEndRequested;
    pollfd ready[4] = {{out_read.get(), POLLIN, 0}, {err_read.get(), POLLIN, 0}, {report_read.get(), POLLIN, 0},
                       {wake, POLLIN, 0}};
    if (posix::sys().poll(ready, 4, -1) < 0) {
      if (errno == EINTR) continue;
      break;  // cannot be watched: the child is still waited for below
    }
    for (int i = 0; i < 3; ++i) {
      if (!sources[i]->valid() || ready[i].revents == 0) continue;
      const ssize_t count = posix::sys().read(sources[i]->get(), buffer, sizeof buffer);
      if (count > 0) {
        relay->relay(i + 1, buffer, static_cast<std::size_t>(count));
      } else if (count == 0 || errno != EINTR) {
        sources[i]->reset();
      }
    }
  }
  out_read.reset();
  err_read.reset();
  report_read.reset();
  // Every pipe has ended: the child has ended, or is about to.
  int status = 0;
  error = posix::wait_for(pid, &status);
  if (error != 0) return fail(error);
  return status;
}

int start_error_errno(int start_error) { return start_error; }

int find_program(const char* word) {
  std::string resolved;
  return posix::find_program(word, &resolved);
}

int start_daemon(const char* command_line, unsigned wait_ms, int* exit_code, int* start_error) {
  StartRequest request;
  request.new_process_group = true;
  request.inherit_handles = false;
  request.null_stdio = true;
  pid_t pid = 0;
  if (int error = start(command_line, request, &pid)) {
    if (start_error) *start_error = error;
    errno = error;
    return -1;
  }
  // The daemon is meant to outlive the caller, who only wants to know whether
  // it fell over at once: wait for its end with a bound, and return the moment
  // it comes (a process descriptor wakes us then), never after a fixed step.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  const posix::UniqueFd process_fd(posix::sys().pidfd_open(pid, 0));
  for (;;) {
    int raw = 0;
    const pid_t rc = posix::sys().waitpid(pid, &raw, WNOHANG);
    if (rc == pid) {
      if (exit_code) *exit_code = posix::status_of(raw);
      return 0;
    }
    if (rc < 0 && errno != EINTR) break;  // cannot be watched: treat as running
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
    if (process_fd.valid()) {
      pollfd ready{process_fd.get(), POLLIN, 0};
      posix::sys().poll(&ready, 1, static_cast<int>(left));
    } else {
      // Without process descriptors (an old kernel): look again in short steps.
      sleep_ms(static_cast<unsigned>(left < 2 ? left : 2));
    }
  }
  if (exit_code) *exit_code = kStillActive;
  return 0;
}

int run_shell(const char* line) {
  std::fflush(nullptr);
  if (line == nullptr) line = "";
  const std::string command = std::string("cmd.exe /C ") + line;
  StartRequest request;
  int error = 0;
  return run(command.c_str(), request, ChildOptions{}, &error);
}

void sleep_ms(unsigned milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

int current_pid() { return static_cast<int>(getpid()); }

int last_system_error() { return errno; }

}  // namespace port
