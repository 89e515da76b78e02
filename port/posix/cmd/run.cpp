// Running a parsed line: every command of the pipeline at the same time,
// programs as children with their streams set by file actions, built-ins on
// threads of their own so that a pipe between them never stalls the line.
#include "port/posix/cmd/run.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

#include "port/posix/cmd/builtins.h"
#include "port/posix/cmd/messages.h"
#include "port/posix/cmdline.h"
#include "port/posix/path.h"
#include "port/posix/search.h"
#include "port/posix/wait.h"

extern char** environ;

namespace port::posix::cmd {

namespace {

constexpr int kNotRecognized = 9009;

// One command of the line and the descriptors it uses.
struct Stage {
  int in = -1;
  int out = -1;
  int err = -1;
  std::vector<int> owned;  // closed when the command no longer needs them
  pid_t pid = -1;
  std::thread thread;
  int status = 0;
};

void close_owned(Stage* stage) {
  for (int fd : stage->owned) {
    ::close(fd);
  }
  stage->owned.clear();
}

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
bool redirect(const Command& command, Stage* stage) {
  for (const Redirection& redir : command.redirections) {
    if (redir.kind == RedirKind::kErrToOut) {
      stage->err = stage->out;
      continue;
    }
    if (redir.kind == RedirKind::kOutToErr) {
      stage->out = stage->err;
      continue;
    }
    const int fd = open_line_file(redir.file, open_flags(redir.kind) | O_CLOEXEC);
    if (fd < 0) {
      write_all(stage->err, failure_text(errno));
      return false;
    }
    stage->owned.push_back(fd);
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
void start_program(const Command& command, Stage* stage) {
  ParsedCommand parsed = command.parsed;  // posix_spawn takes non-const words
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
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  // All three sources are descriptors above 2, so the order of these copies
  // cannot overwrite one before it is used. A missing stream is missing in
  // the child too: what holds its place here is closed on exec.
  const int sources[3] = {stage->in, stage->out, stage->err};
  for (int target = 0; target <= 2; ++target) {
    if (sources[target] >= 0) {
      posix_spawn_file_actions_adddup2(&actions, sources[target], target);
    } else {
      posix_spawn_file_actions_addclose(&actions, target);
    }
  }
  // The interpreter ignores SIGPIPE for its own writes; its children must
  // get the default back.
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<char*> argv;
  for (std::string& word : parsed.argv) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  const int error = ::posix_spawn(&stage->pid, path.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
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
    if (::fcntl(fd, F_GETFD) < 0) {
      missing[fd] = true;
      const int opened = ::open("/dev/null", O_RDWR | O_CLOEXEC);
      if (opened >= 0 && opened != fd) {
        ::close(opened);
      }
    }
  }
  // Private copies above 2: a command's streams are made from these, and a
  // child's 0, 1 and 2 are set from them in any order.
  in = missing[0] ? -1 : ::fcntl(0, F_DUPFD_CLOEXEC, 3);
  out = missing[1] ? -1 : ::fcntl(1, F_DUPFD_CLOEXEC, 3);
  err = missing[2] ? -1 : ::fcntl(2, F_DUPFD_CLOEXEC, 3);
}

StandardStreams::~StandardStreams() {
  for (int fd : {in, out, err}) {
    if (fd >= 0) {
      ::close(fd);
    }
  }
}

int run_pipeline(const Pipeline& pipeline, const StandardStreams& streams) {
  const std::size_t count = pipeline.commands.size();
  std::vector<std::unique_ptr<Stage>> stages;
  for (std::size_t i = 0; i < count; ++i) {
    auto stage = std::make_unique<Stage>();
    stage->in = streams.in;
    stage->out = streams.out;
    stage->err = streams.err;
    stages.push_back(std::move(stage));
  }
  for (std::size_t i = 0; i + 1 < count; ++i) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
      write_all(streams.err, failure_text(errno));
      for (auto& stage : stages) {
        close_owned(stage.get());
      }
      return 1;
    }
    stages[i]->out = ends[1];
    stages[i]->owned.push_back(ends[1]);
    stages[i + 1]->in = ends[0];
    stages[i + 1]->owned.push_back(ends[0]);
  }

  for (std::size_t i = 0; i < count; ++i) {
    const Command& command = pipeline.commands[i];
    Stage* stage = stages[i].get();
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
      // The thread owns the command's descriptors and closes them when done,
      // so a reader after it sees the end of its input and a writer before
      // it stops on a closed pipe instead of waiting on a full one.
      stage->thread = std::thread([stage, &command] {
        stage->status = run_builtin(command.parsed.argv, stage->out, stage->err);
        close_owned(stage);
      });
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

int run_line(const Line& line, const StandardStreams& streams) {
  int status = 0;
  for (const Step& step : line.steps) {
    if ((step.joint == Joint::kOnSuccess && status != 0) || (step.joint == Joint::kOnFailure && status == 0)) {
      continue;
    }
    status = run_pipeline(step.pipeline, streams);
  }
  return status;
}

}  // namespace port::posix::cmd
