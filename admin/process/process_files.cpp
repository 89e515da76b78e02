#include "admin/process/process_files.h"

#include <cctype>
#include <cerrno>
#include <climits>

#include "port/held_open.h"
#include "port/path_env.h"
#include "port/stream.h"

int read_pid_file(const char* path, long* pid) {
  std::FILE* file = port::open_file(path, "r");
  if (file == nullptr) return errno == ENOENT || errno == ENOTDIR ? kPidFileMissing : kPidFileUnreadable;
  const int result = read_pid_number(file, pid);
  const int error = errno;
  std::fclose(file);
  errno = error;
  return result;
}

int read_pid_number(std::FILE* file, long* pid) {
  int c = std::fgetc(file);
  while (c != EOF && std::isspace(c)) c = std::fgetc(file);
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    c = std::fgetc(file);
  }
  // Judged digit by digit, so that no number in the file overflows.
  long long number = 0;
  bool digits = false;
  bool too_large = false;
  for (; c != EOF && std::isdigit(c); c = std::fgetc(file)) {
    digits = true;
    if (!too_large) number = number * 10 + (c - '0');
    if (number > static_cast<long long>(INT_MAX) + 1) too_large = true;
  }
  if (std::ferror(file)) return kPidFileUnreadable;
  if (negative) number = -number;
  if (!digits || too_large || number > INT_MAX) return kPidFileNoNumber;
  *pid = static_cast<long>(number);
  return 0;
}

port::HoldState ask_held_open(const Diagnostics& diagnostics, const char* file, const char* consequence) {
  const char* why = "";
  const port::HoldState state = port::held_open_for_writing(file, &why);
  if (state == port::HoldState::kCannotTell) {
    diagnostics.error("Cannot tell whether %s is held open for writing: %s.  %s", file, why, consequence);
  }
  return state;
}

bool put_in_front_of_search_path(const Diagnostics& diagnostics, const char* const* dirs, int count) {
  if (port::prepend_search_path(dirs, count) == 0) return true;
  diagnostics.error("Insufficient memory to set PATH.");
  return false;
}
