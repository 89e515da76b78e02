#include "admin/packdump/dump.h"

#include <cstdio>

#include "admin/common/command_line.h"
#include "admin/common/exec_cmd.h"
#include "admin/common/registry_settings.h"
#include "admin/common/tool_word.h"
#include "port/file.h"

namespace {

constexpr char kProduction[] = "PRODUCTION.gdbm";
constexpr char kPartial[] = "packdump.out.gz";
constexpr char kDump[] = "All-Templates.gz";
// Every command line fits in this buffer with its terminating zero.
constexpr int kLineSize = 520;

class Dump {
 public:
  void run();

 private:
  // Both command lines, composed before anything runs; false after a message.
  bool compose_lines();
  void error(const char* what) const { std::fprintf(stderr, "packdump: %s: ERROR: %s\n", time_stamp(), what); }

  char probe_[kLineSize] = {};
  char pipeline_[kLineSize] = {};
};

bool Dump::compose_lines() {
  char gzip[kLineSize];
  const int word = tool_word(TOOL_GZIP, "gzip", gzip, sizeof gzip);
  if (const char* refusal = path_refusal(word)) {
    char message[96];
    std::snprintf(message, sizeof message, "The gzip path %s; no command line can carry it.", refusal);
    error(message);
    return false;
  }
  char body[kLineSize];
  // The probe is silent: every output goes to the null device.
  if (word == 0 && compose_line(body, sizeof body, "%s -V > \\nul 2>&1", gzip) &&
      compose_shell_line(probe_, sizeof probe_, body) &&
      compose_line(pipeline_, sizeof pipeline_, "cmd.exe /C dbmtool print -exportd %s | %s -9cf > %s", kProduction,
                   gzip, kPartial)) {
    return true;
  }
  char message[96];
  std::snprintf(message, sizeof message, "The gzip path makes a command line longer than %d bytes.", kLineSize - 1);
  error(message);
  return false;
}

void Dump::run() {
  if (!port::is_readable(kProduction)) {
    std::fprintf(stderr, "packdump: %s: ERROR: Cannot read %s.\n", time_stamp(), kProduction);
    return;
  }
  if (!compose_lines()) return;
  if (exec_cmd_in_order(probe_) != 0) return;

  // A dump that did not come out whole never takes the place of the old one.
  const int status = exec_cmd_in_order(pipeline_);
  port::FileInfo made;
  if (status != 0 || port::file_stat(kPartial, &made) != 0 || !made.is_regular) {
    port::remove_file(kPartial);
    char message[96];
    std::snprintf(message, sizeof message, "Cannot build %s (status %d); the old one is kept.", kDump, status);
    error(message);
    return;
  }
  if (port::exists(kDump)) port::make_writable(kDump);
  if (port::replace_file(kPartial, kDump) != 0) {
    port::remove_file(kPartial);
    char message[96];
    std::snprintf(message, sizeof message, "Cannot replace %s; the old one is kept.", kDump);
    error(message);
  }
}

}  // namespace

void rebuild_dump() {
  Dump dump;
  dump.run();
}
