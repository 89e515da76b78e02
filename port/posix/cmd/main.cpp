// cmd: the command interpreter that "cmd.exe /C LINE" reaches on POSIX. It
// runs the little the system's lines need, read as the Windows interpreter
// reads them: %NAME% variables, "&", "&&", "||", the escape "^", pipes, the
// redirections (<, > or 1>, >>, 2>, 2>>, 2>&1, >&2 or 1>&2, and a stream
// joined to itself, which changes nothing), the null device, and the
// built-ins type, del and rmdir.
#include <signal.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "port/posix/cmd/builtins.h"
#include "port/posix/cmd/parse.h"
#include "port/posix/cmd/run.h"
#include "port/env.h"
#include "port/help_version.h"
#include "port/posix/find_program.h"

namespace {

constexpr char kUsage[] = "Usage: cmd /C LINE\n";

int interpret(int argc, char** argv) {
  using namespace port::posix::cmd;
  // SIGPIPE is ignored by every program before its main (the program-start
  // object of the port): writes of the built-ins to a pipe whose reader has
  // gone fail instead of ending the interpreter.
  // A caller that ignores SIGCHLD would leave no status to wait for.
  ::signal(SIGCHLD, SIG_DFL);
  StandardStreams streams;
  if (argc < 3 || (std::strcmp(argv[1], "/C") != 0 && std::strcmp(argv[1], "/c") != 0)) {
    write_all(streams.err.get(), kUsage);
    return 1;
  }
  // The line is one argument when started by the port; words typed by hand
  // are joined with blanks.
  std::string line = argv[2];
  for (int i = 3; i < argc; ++i) {
    line += ' ';
    line += argv[i];
  }
  // Callers quote the whole line, program paths with blanks included, and
  // rely on the outer quotes going as they do on Windows.
  line = strip_outer_quotes(line, [](const std::string& word) {
    std::string path;
    return port::posix::find_program(word, &path) == 0;
  });
  // Names are one name in any letter case, as on Windows.
  const Lookup environment = [](const std::string& name, std::string* value) {
    const char* found = port::get_env(name.c_str());
    if (found != nullptr) {
      *value = found;
    }
    return found != nullptr;
  };
  Line parsed;
  std::string error;
  if (parse_line(line, environment, &parsed, &error) != 0) {
    write_all(streams.err.get(), error + "\n");
    return 1;
  }
  // A POSIX status holds eight bits: 9009 for a program that cannot be found
  // leaves as its low eight bits (49), as other statuses too large do.
  return run_line(parsed, streams) & 0xFF;
}

}  // namespace

int LORVEX_PROGRAM_ENTRY(int argc, char** argv) {
  if (const int answered = port::answer_help_or_version(argc, argv, "cmd", kUsage); answered >= 0) return answered;
  // Whatever cannot be had on the way (memory, a thread) ends the line with
  // a message and a status, never with an abort.
  try {
    return interpret(argc, argv);
  } catch (const std::exception& error) {
    port::posix::cmd::write_all(2, std::string(error.what()) + "\n");
    return 1;
  }
}
