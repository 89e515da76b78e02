// lxportdrive: drives the port layer from its command line, so that the
// program tests can watch each facility at work on both targets. Subcommands
// run left to right, each taking its own arguments, so that an environment
// change or a change of directory reaches the child of a later one:
//
//   putenv A=B            port::put_env; prints "putenv_error" on failure
//   chdir DIR             port::change_dir; "chdir_error=E" on failure
//   run CMDLINE           run_child; "status=N" or "start_error=E"
//   run-in DIR CMDLINE    the same with the child's working directory DIR
//   relay CMDLINE         run_child_relayed; "out=ESCAPED", "err=ESCAPED" (what
//                         each stream brought) and "status=N" or "start_error=E"
//   daemon MS CMDLINE     start_daemon; "status=N" (259 still running) or
//                         "start_error=E"
//   shell LINE            run_shell; "status=N"
//   held PATH             "free", "held", "missing" or "cannot tell"
//   find PATTERN          one line "d NAME" or "f NAME" per match (sorted),
//                         then "count=N" and "any=0|1"; "find_error" when the
//                         directory cannot be read
//   regenum [--name-size N] [--data-size N] KEYPATH
//                         "open=RC" when the key does not open; else one line
//                         "value name=NAME type=T size=S data=HEX" per value
//                         and "end=RC at=INDEX" for the call that ended it
//   regquery [--data-size N] KEYPATH NAME
//                         "rc=RC type=T size=S data=HEX"
//   event SOURCE TYPE ID STR...   report_event (takes the rest); "rc=RC"
//   tcp [--reply-size N] [--nul] PORT REQUEST
//                         tcp_exchange; "step=S error=E received=N reply=HEX"
//                         (--nul sends the request's terminating zero too)
//   kill PID              ends the process at once (SIGKILL, TerminateProcess);
//                         "rc=0", or "rc=1" for an id of no one process
//   textread [--line-size N] FILE   TextReader::get_line; "line=ESCAPED" per
//                         piece, then "eof"
//   textgetc FILE         TextReader::get; "chars=ESCAPED"
//   leadbytes             the lead-byte ranges, e.g. "81-9F E0-FC"
//   sjis                  compares compiled Japanese literals with their code
//                         page 932 bytes: "sjis=ok" (exit 0) or "sjis=bad" (1)
//   open-write PATH       opens the file for appending and keeps it open to the
//                         end (to see which children inherit it)
//   pid                   "pid=N"
// An argument written "@file=PATH" stands for the bytes of that file: under
// Wine the command line of a program passes through the Unix character set,
// so Shift_JIS bytes reach it only this way.
// Exit status 0, 1 for a failed sjis check, 2 for a bad command line.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "port/dir_wildcard.h"
#include "port/env.h"
#include "port/eventlog.h"
#include "port/file.h"
#include "port/held_open.h"
#include "port/net.h"
#include "port/process.h"
#include "port/registry.h"
#include "port/stream.h"
#include "port/text.h"
#include "port/text_reader.h"
#include "tests/tools/bytes_text.h"
#include "tests/tools/driver_support.h"
#include "tests/tools/sjis_literal.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#endif

namespace {

// Ends a process the test started. An id of 1 or below is refused: on POSIX
// kill() would reach a whole group, every process, or init.
int end_at_once(long pid) {
  if (pid <= 1) return 1;
#ifdef _WIN32
  HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return 1;
  const bool ended = TerminateProcess(process, 0) != 0;
  CloseHandle(process);
  return ended ? 0 : 1;
#else
  return ::kill(static_cast<pid_t>(pid), SIGKILL) == 0 ? 0 : 1;
#endif
}

using lxt_driver::file_bytes;
using lxt_driver::Usage;

struct Args : lxt_driver::ArgCursor {
  const char* next() {
    if (i >= argc) return nullptr;
    const char* a = argv[i++];
    if (std::strncmp(a, "@file=", 6) != 0) return a;
    held.push_back(file_bytes(a + 6));
    return held.back().c_str();
  }
  bool peek_option() const { return i < argc && std::strncmp(argv[i], "--", 2) == 0; }
};

const char* need(Args& a, const char* what) {
  const char* v = a.next();
  if (!v) throw Usage{std::string("missing ") + what};
  return v;
}

unsigned long number(const char* text) {
  char* end = nullptr;
  unsigned long v = std::strtoul(text, &end, 0);
  if (end == text || *end != '\0') throw Usage{std::string("not a number: ") + text};
  return v;
}

// Children write to the same standard output: ours must come out first.
void flush() { std::fflush(stdout); }

void print_run(int rc, int start_error) {
  if (rc == -1 && start_error != 0) std::printf("start_error=%d\n", start_error);
  else std::printf("status=%d\n", rc);
}

void cmd_run(const char* dir, const char* line) {
  port::ChildOptions options;
  options.working_dir = dir;
  int start_error = 0;
  flush();
  int rc = port::run_child(line, options, &start_error);
  print_run(rc, start_error);
}

void cmd_daemon(unsigned ms, const char* line) {
  int exit_code = 0, start_error = 0;
  flush();
  int rc = port::start_daemon(line, ms, &exit_code, &start_error);
  if (rc == -1) std::printf("start_error=%d\n", start_error);
  else std::printf("status=%d\n", exit_code);
}

void cmd_find(const char* pattern) {
  std::vector<port::DirEntry> entries;
  if (port::find_entries(pattern, &entries) != 0) {
    std::printf("find_error\n");
    return;
  }
  std::sort(entries.begin(), entries.end(),
            [](const port::DirEntry& a, const port::DirEntry& b) { return a.name < b.name; });
  for (const auto& e : entries) std::printf("%c %s\n", e.is_directory ? 'd' : 'f', e.name.c_str());
  std::printf("count=%zu\nany=%d\n", entries.size(), port::any_entry_matches(pattern));
}

void cmd_regenum(Args& a) {
  unsigned long name_cap = 256, data_cap = 1024;
  while (a.peek_option()) {
    std::string opt = a.next();
    if (opt == "--name-size") name_cap = number(need(a, "name size"));
    else if (opt == "--data-size") data_cap = number(need(a, "data size"));
    else throw Usage{"unknown regenum option " + opt};
  }
  const char* key_path = need(a, "key path");
  port::RegKey key;
  long rc = key.open_local_machine(key_path);
  if (rc != port::kRegSuccess) {
    std::printf("open=%ld\n", rc);
    return;
  }
  std::vector<char> name(name_cap + 1);
  std::vector<unsigned char> data(data_cap + 1);
  for (unsigned long index = 0;; ++index) {
    unsigned long name_size = name_cap, data_size = data_cap, type = 0;
    rc = key.enum_value(index, name.data(), &name_size, &type, data.data(), &data_size);
    if (rc != port::kRegSuccess) {
      std::printf("end=%ld at=%lu\n", rc, index);
      return;
    }
    if (name_size > name_cap || data_size > data_cap) {
      std::printf("overrun name_size=%lu data_size=%lu\n", name_size, data_size);
      return;
    }
    std::printf("value name=%s type=%lu size=%lu data=%s\n",
                std::string(name.data(), name_size).c_str(), type, data_size,
                lxt_bytes::hex(std::string(reinterpret_cast<const char*>(data.data()), data_size)).c_str());
  }
}

void cmd_regquery(Args& a) {
  unsigned long data_cap = 1024;
  while (a.peek_option()) {
    std::string opt = a.next();
    if (opt == "--data-size") data_cap = number(need(a, "data size"));
    else throw Usage{"unknown regquery option " + opt};
  }
  const char* key_path = need(a, "key path");
  const char* value_name = need(a, "value name");
  port::RegKey key;
  long rc = key.open_local_machine(key_path);
  if (rc != port::kRegSuccess) {
    std::printf("open=%ld\n", rc);
    return;
  }
  std::vector<unsigned char> data(data_cap + 1);
  unsigned long type = 0, size = data_cap;
  rc = key.query_value(value_name, &type, data.data(), &size);
  std::printf("rc=%ld type=%lu size=%lu data=%s\n", rc, type, size,
              rc == port::kRegSuccess && size <= data_cap ? lxt_bytes::hex(std::string(reinterpret_cast<const char*>(data.data()), size)).c_str() : "");
}

void cmd_tcp(Args& a) {
  int reply_cap = 512;
  bool with_nul = false;
  while (a.peek_option()) {
    std::string opt = a.next();
    if (opt == "--reply-size") reply_cap = static_cast<int>(number(need(a, "reply size")));
    else if (opt == "--nul") with_nul = true;
    else throw Usage{"unknown tcp option " + opt};
  }
  unsigned long tcp_port = number(need(a, "port"));
  const char* request = need(a, "request");
  std::vector<char> reply(static_cast<size_t>(reply_cap) + 1);
  int size = static_cast<int>(std::strlen(request)) + (with_nul ? 1 : 0);
  port::NetResult r = port::tcp_exchange(static_cast<unsigned short>(tcp_port), request, size,
                                         reply.data(), reply_cap);
  int shown = r.received > 0 && r.received <= reply_cap ? r.received : 0;
  std::printf("step=%d error=%d received=%d reply=%s\n", static_cast<int>(r.failed_step), r.error,
              r.received,
              lxt_bytes::hex(std::string(reply.data(), static_cast<size_t>(shown))).c_str());
}

void cmd_textread(Args& a) {
  int line_size = 512;
  while (a.peek_option()) {
    std::string opt = a.next();
    if (opt == "--line-size") line_size = static_cast<int>(number(need(a, "line size")));
    else throw Usage{"unknown textread option " + opt};
  }
  const char* path = need(a, "file");
  std::FILE* f = port::open_file(path, "r");
  if (!f) {
    std::printf("open_error\n");
    return;
  }
  port::TextReader reader(f);
  std::vector<char> buf(static_cast<size_t>(line_size) + 8);
  while (reader.get_line(buf.data(), line_size)) std::printf("line=%s\n", lxt_bytes::escaped(buf.data()).c_str());
  std::printf("eof\n");
  std::fclose(f);
}

void cmd_textgetc(const char* path) {
  std::FILE* f = port::open_file(path, "r");
  if (!f) {
    std::printf("open_error\n");
    return;
  }
  port::TextReader reader(f);
  std::string chars;
  for (int c; (c = reader.get()) != EOF;) chars += static_cast<char>(c);
  std::fclose(f);
  std::printf("chars=%s\n", lxt_bytes::escaped(std::string(chars.data(), chars.size())).c_str());
}

void cmd_leadbytes() {
  std::string out;
  for (int b = 0; b < 256; ++b) {
    if (!port::is_lead_byte(static_cast<unsigned char>(b))) continue;
    int e = b;
    while (e + 1 < 256 && port::is_lead_byte(static_cast<unsigned char>(e + 1))) ++e;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%s%02X-%02X", out.empty() ? "" : " ", b, e);
    out += buf;
    b = e;
  }
  std::printf("%s\n", out.c_str());
}

bool cmd_sjis() {
  static const unsigned char message[] = {0x83, 0x81, 0x83, 0x62, 0x83, 0x5A, 0x81, 0x5B, 0x83, 0x57, 0};
  static const unsigned char table[] = {0x95, 0x5C, 0};
  bool ok = std::strcmp(lxtool::kSjisMessage, reinterpret_cast<const char*>(message)) == 0 &&
            std::strcmp(lxtool::kSjisTable, reinterpret_cast<const char*>(table)) == 0;
  std::printf("sjis=%s\n", ok ? "ok" : "bad");
  if (!ok)
    std::printf("got %s %s\n",
                lxt_bytes::hex(lxtool::kSjisMessage).c_str(),
                lxt_bytes::hex(lxtool::kSjisTable).c_str());
  return ok;
}

// Keeps what each of the child's streams brings.
class Kept : public port::OutputRelay {
 public:
  void relay(int stream, const char* bytes, std::size_t size) override {
    (stream == 1 ? out : err).append(bytes, size);
  }
  std::string out, err;
};

void cmd_relay(const char* line) {
  flush();
  Kept kept;
  int start_error = 0;
  const int rc = port::run_child_relayed(line, &kept, &start_error);
  std::printf("out=%s\nerr=%s\n", lxt_bytes::escaped(kept.out).c_str(), lxt_bytes::escaped(kept.err).c_str());
  print_run(rc, start_error);
}

void cmd_held(const char* path) {
  switch (port::held_open_for_writing(path)) {
    case port::HoldState::kFree: std::printf("free\n"); break;
    case port::HoldState::kHeld: std::printf("held\n"); break;
    case port::HoldState::kMissing: std::printf("missing\n"); break;
    case port::HoldState::kCannotTell: std::printf("cannot tell\n"); break;
    case port::HoldState::kDevice: std::printf("device\n"); break;
    case port::HoldState::kLink: std::printf("link\n"); break;
  }
}

// Takes the rest of the command line: the strings of the event.
void cmd_event(Args& a) {
  const char* source = need(a, "source");
  unsigned long type = number(need(a, "type"));
  unsigned long id = number(need(a, "event id"));
  std::vector<const char*> strings;
  while (a.more()) strings.push_back(a.next());
  int rc = port::report_event(source, static_cast<unsigned short>(type), id, strings.data(),
                              static_cast<int>(strings.size()));
  std::printf("rc=%d\n", rc);
}

int drive(Args& a) {
  int status = 0;
  while (a.more()) {
    const std::string cmd = a.next();
    if (cmd == "putenv") {
      if (port::put_env(need(a, "assignment")) != 0) std::printf("putenv_error\n");
    } else if (cmd == "chdir") {
      if (port::change_dir(need(a, "directory")) != 0) std::printf("chdir_error=%d\n", port::last_system_error());
    } else if (cmd == "run") {
      cmd_run(nullptr, need(a, "command line"));
    } else if (cmd == "run-in") {
      const char* dir = need(a, "directory");
      cmd_run(dir, need(a, "command line"));
    } else if (cmd == "relay") {
      cmd_relay(need(a, "command line"));
    } else if (cmd == "daemon") {
      unsigned ms = static_cast<unsigned>(number(need(a, "wait time")));
      cmd_daemon(ms, need(a, "command line"));
    } else if (cmd == "shell") {
      const char* line = need(a, "line");
      flush();
      std::printf("status=%d\n", port::run_shell(line));
    } else if (cmd == "held") {
      cmd_held(need(a, "path"));
    } else if (cmd == "find") {
      cmd_find(need(a, "pattern"));
    } else if (cmd == "regenum") {
      cmd_regenum(a);
    } else if (cmd == "regquery") {
      cmd_regquery(a);
    } else if (cmd == "event") {
      cmd_event(a);
    } else if (cmd == "tcp") {
      cmd_tcp(a);
    } else if (cmd == "kill") {
      std::printf("rc=%d\n", end_at_once(std::strtol(need(a, "pid"), nullptr, 10)));
    } else if (cmd == "textread") {
      cmd_textread(a);
    } else if (cmd == "textgetc") {
      cmd_textgetc(need(a, "file"));
    } else if (cmd == "leadbytes") {
      cmd_leadbytes();
    } else if (cmd == "sjis") {
      if (!cmd_sjis()) status = 1;
    } else if (cmd == "open-write") {
      const char* path = need(a, "path");
      // Deliberately left open until the process ends.
      if (!port::open_file(path, "ab")) std::printf("open_error\n");
    } else if (cmd == "pid") {
      std::printf("pid=%d\n", port::current_pid());
    } else {
      throw Usage{"unknown subcommand " + cmd};
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // Exact bytes on both targets: the tests read this output.
  port::set_binary_mode(stdout);
  Args args{{argc, argv, 1, {}}};
  try {
    int status = drive(args);
    flush();
    return status;
  } catch (const Usage& u) {
    flush();
    std::fprintf(stderr, "lxportdrive: %s\n", u.why.c_str());
    return 2;
  }
}
