// Running a parsed line: every command of the pipeline at the same time,
// programs as children with their streams set by file actions, built-ins on
// threads of their own so that a pipe between them never stalls the line.
#include "port/posix/cmd/run.h"

#include <fcntl.h>
#include <signal.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <thread>

#include "port/posix/cmd/builtins.h"
#include "port/posix/cmd/messages.h"
#include "port/posix/cmdline.h"
#include "port/posix/find_program.h"
#include "port/posix/spawn.h"
#include "port/posix/syscalls.h"

namespace port::posix::cmd {

namespace {

constexpr int kNotRecognized = 9009;

// One command of the line and the descriptors it uses.
struct RunningCommand {
  int in = -1;
  int out = -1;
  int err = -1;
  std::vector<UniqueFd> owned;  // closed when the command no longer needs them
  pid_t pid = -1;
  std::thread thread;
  std::vector<BuiltinWord> words;  // of a built-in command
  int status = 0;
};

void close_owned(RunningCommand* stage) { stage->owned.clear(); }

int open_flags(RedirKind kind) {
  switch (kind) {
    case RedirKind::kIn:
      return O_RDONLY;
    case RedirKind::kOut:
    case RedirKind::kErr:
      return O_WRONLY | O_CREAT | O_TRUNC;
    case RedirKind::kAppend:
    case RedirKind::kErrAppend:
      return O_WRONLY | O_CREAT | O_APPEND;
    case RedirKind::kErrToOut:
    case RedirKind::kOutToErr:
      break;
  }
  return O_RDONLY;
}

// Applies the command's redirections left to right. On a file that cannot
// be opened the message goes where the standard error points so far.
bool redirect(const Command& command, RunningCommand* stage) {
  for (const Redirection& redir : command.redirections) {
    if (redir.kind == RedirKind::kErrToOut) {
      stage->err = stage->out;
      continue;
    }
    if (redir.kind == RedirKind::kOutToErr) {
      stage->out = stage->err;
      continue;
    }
    UniqueFd opened = open_line_file(redir.file, open_flags(redir.kind) | O_CLOEXEC);
    if (!opened.valid()) {
      write_all(stage->err, failure_text(errno));
      return false;
    }
    const int fd = opened.get();
    stage->owned.push_back(std::move(opened));
    switch (redir.kind) {
      case RedirKind::kIn:
        stage->in = fd;
        break;
      case RedirKind::kOut:
      case RedirKind::kAppend:
        stage->out = fd;
        break;
      default:
        stage->err = fd;
        break;
    }
  }
  return true;
}

// Starts a program with the command's text split by the command-line rules.
void start_program(const Command& command, RunningCommand* stage) {
  const ParsedCommand& parsed = command.parsed;
  std::string path;
  const int found = find_program(parsed.program, &path);
  if (found != 0) {
    if (found == ENOENT) {
      write_all(stage->err, "'" + parsed.program +
                                "' is not recognized as an internal or external command,\n"
                                "operable program or batch file.\n");
      stage->status = kNotRecognized;
    } else {
      write_all(stage->err, failure_text(found));
      stage->status = 1;
    }
    return;
  }
  SpawnSetup setup;
  // All three sources are descriptors above 2, so the order of these copies
  // cannot overwrite one before it is used. A missing stream is missing in
  // the child too: what holds its place here is closed on exec.
  const int sources[3] = {stage->in, stage->out, stage->err};
  for (int target = 0; target <= 2; ++target) setup.stream_from(target, sources[target]);
  // The interpreter ignores SIGPIPE for its own writes; its children get the
  // default back, and no signal blocked.
  sigset_t none;
  sigemptyset(&none);
  setup.mask(none);
  const int error = setup.spawn(path, parsed.argv, &stage->pid);
  if (error != 0) {
    stage->pid = -1;
    write_all(stage->err, failure_text(error));
    stage->status = 1;
  }
}

}  // namespace

StandardStreams::StandardStreams() {
  // A stream the interpreter was started without stays missing: a command
  // writing to it fails and says so, as it would on Windows. Its descriptor
  // is only held by the null device (closed in children), so that no file
  // opened later lands on 0, 1 or 2 and is taken for a standard stream.
  bool missing[3] = {false, false, false};
  for (int fd = 0; fd <= 2; ++fd) {
    // The program start holds a missing stream's place with the null device,
    // closed on exec: that too is a stream the interpreter was started without.
    const int flags = sys().fcntl(fd, F_GETFD);
    if (flags < 0 || (flags & FD_CLOEXEC) != 0) {
      missing[fd] = true;
      UniqueFd opened = open_fd("/dev/null", O_RDWR | O_CLOEXEC);
      if (opened.get() == fd) {
        opened.release();  // holds the place for good
      }
    }
  }
  // Private copies above 2: a command's streams are made from these, and a
  // child's 0, 1 and 2 are set from them in any order.
  UniqueFd* const copies[3] = {&in, &out, &err};
  for (int fd = 0; fd <= 2; ++fd) {
    if (!missing[fd]) {
      copies[fd]->reset(sys().fcntl(fd, F_DUPFD_CLOEXEC, 3));
    }
  }
}

namespace {
// Runs every command of the pipeline at the same time and waits for all of
// them. The status is the last command's: its exit status, 128 plus the
// signal that ended it, 9009 for a program that cannot be found, 1 when its
// redirection fails.
// Long as one piece: the pipes, the starts and the waits share the
// descriptors each command is given, and every path out of the function
// must close the same ones; split, each part would have to hand them on.
int run_pipeline(const Pipeline& pipeline, const StandardStreams& streams) {
  const std::size_t count = pipeline.commands.size();
  std::vector<std::unique_ptr<RunningCommand>> stages;
  for (std::size_t i = 0; i < count; ++i) {
    auto stage = std::make_unique<RunningCommand>();
    stage->in = streams.in.get();
    stage->out = streams.out.get();
    stage->err = streams.err.get();
    stages.push_back(std::move(stage));
  }
  for (std::size_t i = 0; i + 1 < count; ++i) {
    int ends[2];
    if (sys().pipe2(ends, O_CLOEXEC) != 0) {
      write_all(streams.err.get(), failure_text(errno));
      return 1;  // the stages close the pipes made so far
    }
    stages[i]->out = ends[1];
    stages[i]->owned.emplace_back(ends[1]);
    stages[i + 1]->in = ends[0];
    stages[i + 1]->owned.emplace_back(ends[0]);
  }

  for (std::size_t i = 0; i < count; ++i) {
    const Command& command = pipeline.commands[i];
    RunningCommand* stage = stages[i].get();
    if (!redirect(command, stage)) {
      stage->status = 1;
      close_owned(stage);
      continue;
    }
    const std::vector<std::string>& words = command.parsed.argv;
    if (words.empty()) {
      close_owned(stage);  // redirections alone: their files are made, nothing runs
      continue;
    }
    if (is_builtin(words.front())) {
      stage->words = split_builtin_words(command.text);
      if (count == 1) {
        // Alone it needs no thread: it runs where no thread can be had.
        stage->status = run_builtin(stage->words, stage->out, stage->err);
        close_owned(stage);
        continue;
      }
      // The thread owns the command's descriptors and closes them when done,
      // so a reader after it sees the end of its input and a writer before
      // it stops on a closed pipe instead of waiting on a full one.
      try {
        stage->thread = std::thread([stage] {
          stage->status = run_builtin(stage->words, stage->out, stage->err);
          close_owned(stage);
        });
      } catch (const std::exception&) {
        // No thread to be had (a process limit): the command cannot run,
        // which is a failure of the line, never the end of the interpreter.
        write_all(stage->err, failure_text(EAGAIN));
        stage->status = 1;
        close_owned(stage);
      }
      continue;
    }
    start_program(command, stage);
    close_owned(stage);
  }

  for (auto& stage : stages) {
    if (stage->thread.joinable()) {
      stage->thread.join();
    }
    if (stage->pid > 0) {
      int status = 0;
      // A child whose end cannot be had counts as failed.
      stage->status = wait_for(stage->pid, &status) == 0 ? status : 1;
    }
  }
  return stages.back()->status;
}

}  // namespace

int run_line(const Line& line, const StandardStreams& streams) {
  int status = 0;
  for (const PipelineStep& step : line.steps) {
    if ((step.joint == Joint::kOnSuccess && status != 0) || (step.joint == Joint::kOnFailure && status == 0)) {
      continue;
    }
    status = run_pipeline(step.pipeline, streams);
  }
  return status;
}

}  // namespace port::posix::cmd
