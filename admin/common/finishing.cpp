#include "admin/common/finishing.h"

#include <cerrno>
#include <string>

#include "admin/common/command_line.h"
#include "admin/common/data_files.h"
#include "port/file.h"

bool compose_gzip_probe(char* out, std::size_t size, const char* gzip_word, ProbeOutput output) {
  char body[kSealLineSize];
  return compose_line(body, sizeof body, output == ProbeOutput::kJoined ? "%s -V > \\nul 2>&1" : "%s -V > \\nul 2> \\nul",
                      gzip_word) &&
         compose_shell_line(out, size, body);
}

bool compose_template_export(char* out, std::size_t size, const char* file) {
  return compose_line(out, size, "cmd.exe /C dbmtool print -exportd %s > %s", kProduction, file);
}

namespace {

// Whether one of the holders ("NAME (pid N), ...") runs as the program.
bool held_by(const std::string& holders, const std::string& program) {
  for (std::size_t at = 0; at < holders.size();) {
    const std::size_t end = holders.find(" (pid ", at);
    if (end == std::string::npos) break;
    if (holders.compare(at, end - at, program) == 0) return true;
    const std::size_t next = holders.find(", ", end);
    at = next == std::string::npos ? holders.size() : next + 2;
  }
  return false;
}

}  // namespace

bool take_finishing_lock(port::FileLock* lock, const char* program, const char* lock_name, const char* left_held,
                         const char* left_failed, std::string* refusal) {
  const port::FileLock::Result result = lock->take(lock_name);
  const int error = errno;
  const std::string name = lock_name;
  switch (result) {
    case port::FileLock::Result::kTaken:
      return true;
    case port::FileLock::Result::kHeld: {
      const std::string& holders = lock->holders();
      if (held_by(holders, program)) {
        *refusal = std::string("Another ") + program + " is at work in this directory (" + name + " is locked); " +
                   left_held;
      } else if (!holders.empty()) {
        // A run killed while its child worked leaves the child holding the
        // lock: no second run is at work, only what the first one started.
        *refusal = name + " is locked by what an earlier " + program + " started, still at work: " + holders + "; " +
                   left_held;
      } else {
        *refusal = name + " is locked by another " + program + " or by a program that an earlier one started; " +
                   left_held;
      }
      return false;
    }
    case port::FileLock::Result::kFailed:
      break;
  }
  *refusal = "Cannot take the lock " + name + " (errno=" + std::to_string(error) + "); " + left_failed;
  return false;
}

int put_in_place(const char* made, const char* name) {
  if (port::exists(name)) port::make_writable(name);
  return port::replace_file(made, name);
}
