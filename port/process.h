#pragma once
// Child processes: start one from a command-line string and wait for it, start a
// detached daemon, run a line through the command interpreter, end a process.

#include <cstddef>
#include <string>

namespace port {

// A child's start options. The defaults are those of the administration
// programs' command runner: inherited handles, a new process group, the
// caller's environment and current directory. Every child starts with the
// default SIGPIPE disposition on POSIX.
struct ChildOptions {
  bool inherit_handles = true;
  // Windows: a new console process group, which shares the console but gets
  // no Ctrl+C. POSIX: the caller's process group (the terminal stays usable,
  // job control never stops the child) with SIGINT ignored.
  bool new_process_group = true;
  const char* working_dir = nullptr;  // null: the caller's current directory
  // The child's standard output goes into this file, made or emptied for it
  // (null: the caller's standard output). A file that cannot be made is a
  // start failure.
  const char* output_path = nullptr;
  // Called once the child has been created (start_error 0) or could not be
  // (the system's code for the failure), before the wait: a caller that
  // must tell someone whether its child started does so at once.
  void (*on_start)(void* context, int start_error) = nullptr;
  void* on_start_context = nullptr;
  // Receives the signal that ended the child, or 0 when it ended by itself
  // (POSIX, where a status of 128 plus a number may be either; always 0 on
  // Windows).
  int* end_signal = nullptr;
};

// Exit code a still-running process reports.
constexpr int kStillActive = 259;

// Starts the command line (program name first, split by the platform's rules)
// and waits for the child without a time limit. Returns the child's exit
// status, or -1 when the child cannot be created; then *start_error holds the
// system's code for the failure (errno on POSIX, GetLastError on Windows). A
// child that was created leaves 0 there, so that a child whose own status
// reads as -1 is never taken for a start failure.
// On POSIX a child ended by a signal gives 128 plus the signal number.
int run_child(const char* command_line, const ChildOptions& options, int* start_error);

// Where run_child_relayed hands what the child writes.
class OutputRelay {
 public:
  virtual ~OutputRelay() = default;
  // A piece of the child's standard output (stream 1) or standard error
  // (stream 2), as it arrived; the pieces of one stream come in order.
  virtual void relay(int stream, const char* bytes, std::size_t size) = 0;
};

// What a relayed run adds to the child's two streams.
struct RelayOptions {
  // The name of an environment variable, or null. When given (POSIX), a
  // third pipe is made for the child's verdict: the child inherits its
  // writing end and finds that descriptor's number in this variable of its
  // environment, and what comes through it reaches the relay as stream 3,
  // apart from anything written for people. The caller's own environment
  // keeps no such variable. Windows makes no such pipe.
  const char* report_variable = nullptr;
  // Returns kEndRequested as soon as a caught request to end the program
  // comes (port/end_request.h), without waiting for the child, which goes on.
  bool return_on_end_request = false;
};

// run_child_relayed's result when it returned for a request to end.
constexpr int kEndRequested = -2;

// Runs the command line as run_child does with the default options, but the
// child's standard output and standard error each reach the caller through
// a pipe of their own, handed to the relay while the child runs (so that a
// caller can both pass them on and read them). Returns as run_child; the
// relay has had everything the child wrote by then (every pipe is read to
// its end, which the child's own children may hold open after it ended).
int run_child_relayed(const char* command_line, OutputRelay* relay, int* start_error,
                      const RelayOptions& options = {});

// Finds the program a command line's first word names, as run_child and the
// command interpreter find it, without starting it: 0, ENOENT when it is
// found nowhere, EACCES when the name leads to something that cannot be run.
// A caller that must tell "not found" from "failed" asks before the line
// runs: through the interpreter both end in one status.
int find_program(const char* word);

// The errno value a start_error of run_child or start_daemon stands for: the
// code itself on POSIX, the system error code's errno (as
// port/system_error.h reads it) on Windows.
int start_error_errno(int start_error);

// Starts a detached daemon: its own process group, standard streams on the null
// device, no other handle inherited, the caller's environment and directory.
// Waits at most wait_ms for it to end. Returns 0 once it has started, with
// *exit_code set to the daemon's exit status when it ended within that time,
// or to kStillActive when it is still running; or -1 when it cannot be
// created, with *start_error as for run_child.
int start_daemon(const char* command_line, unsigned wait_ms, int* exit_code, int* start_error);

// The runtime's system(): runs "cmd.exe /C LINE" and returns its status
// (-1 when the interpreter cannot be started). Every output stream is flushed
// first, so that the caller's output and the interpreter's keep their order.
int run_shell(const char* line);

// What end_daemon found and did.
enum class DaemonEnd {
  kEnded,          // it was the daemon, and it has ended (or was gone by the signal)
  kNoProcess,      // an id of 1 or below (POSIX), beyond any id, or of no running process
  kNotTheDaemon,   // a process that is not the daemon; *why says how it differs
  kCannotExamine,  // a process that cannot be examined, with *error
  kRefused,        // the daemon (or a process of its group), which cannot be ended, with *error
  kStillRunning,   // the daemon (or a process of its group), told to end, still there after wait_ms
};

// How the daemon of a pid file is told from any other process.
struct DaemonCheck {
  const char* pid_file = nullptr;  // the daemon started no later than its last write
  const char* log = nullptr;       // POSIX: the daemon holds this entry open for writing
  // The daemon's program, without ".exe": on Windows its image; on POSIX the
  // name of a process that holds a device node in the log's place.
  const char* program = nullptr;
  // POSIX: every process of the group whose id the pid file names (the group
  // the daemon was started in) that holds the log open for writing ends too,
  // also when the daemon itself has ended.
  bool whole_group = false;
  unsigned wait_ms = 0;            // how long to wait for them to be gone
};

// Ends the process with this id only when it is the daemon the check
// describes, examined and ended through one handle so that the id cannot
// name another process in between (a pidfd on POSIX, a process handle on
// Windows). On POSIX the daemon started no later than the pid file was last
// written and holds the log open for writing (a device node as the log only
// on a descriptor past the standard three, and only when its name is the
// program's); a log or pid file that is a symbolic link is no daemon's. The
// processes of its group are judged by the log alone, each through a handle
// of its own (they start later than the pid file). On Windows its image is
// the program and it started no later than the pid file was last written.
// A process of the group that cannot be ended or is still there goes into
// *process (when given; the daemon's id otherwise).
DaemonEnd end_daemon(long pid, const DaemonCheck& check, int* error, const char** why, long* process = nullptr);

// Whether the process with this id is a run of the program at work in the
// current directory: on POSIX one that started no later than pid_file was
// last written, whose name is one the program answers to (as the system
// shortens names) and whose working directory is this one. kCannotTell, with
// *why, when its working directory cannot be read, or when it exists but its
// /proc entry cannot be read (hidden from another user). Always kNo on Windows, where a file held
// open cannot be renamed or removed, so the held file alone tells.
enum class AtWork { kNo, kYes, kCannotTell };
AtWork program_at_work_here(long pid, const char* pid_file, const char* program, const char** why);

void sleep_ms(unsigned milliseconds);
int current_pid();

// The name the running program was started by (the file's base name, a
// trailing ".exe" in any letter case dropped), as its lines begin; on POSIX
// the name of the link that was run, which tells the programs of the one
// program file apart.
std::string program_name();

// The system's last error code (errno on POSIX, GetLastError on Windows).
int last_system_error();

}  // namespace port
