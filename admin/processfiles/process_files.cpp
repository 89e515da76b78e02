#include "admin/processfiles/process_files.h"

#include <cctype>
#include <cerrno>
#include <climits>

#include "admin/common/command_line.h"
#include "port/held_open.h"
#include "port/path_env.h"
#include "port/process.h"
#include "port/stream.h"

int read_pid_file(const char* path, long* pid) {
  // The entry itself: a link could lead to any file this user may read.
  std::FILE* file = port::open_entry(path);
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
  port::HoldState state = port::held_open_for_writing(file, &why);
  // What a link leads to may be any process's file: it says nothing of the
  // process that writes this name.
  if (state == port::HoldState::kLink) state = port::HoldState::kCannotTell;
  if (state == port::HoldState::kCannotTell) {
    diagnostics.error("Cannot tell whether %s is held open for writing: %s.  %s", file, why, consequence);
  }
  return state;
}

GathererWork check_gatherer_work(const char* program) {
  GathererWork work;
  work.read = read_pid_file(kGathererPidFile, &work.recorded);
  work.read_error = errno;
  if (work.read == kPidFileMissing) return work;
  // A recorded 0 means no gatherer. A file without a number may be one that
  // a launcher has only just created, and one that cannot be read may name a
  // gatherer at work: the log decides then, as it always does.
  if (work.read == 0 && work.recorded == 0) return work;
  switch (port::held_open_for_writing(kGathererLog, &work.why)) {
    case port::HoldState::kHeld:
      work.answer = GathererWork::kAtWork;
      return work;
    case port::HoldState::kCannotTell:
      work.answer = GathererWork::kCannotTell;
      work.log_unknown = true;
      return work;
    default:
      break;
  }
  // The log may have been renamed or removed while its gatherer works, or be
  // a device that many write, or a link that may lead to any file: the
  // launcher the pid file names then tells, when it is at work in this
  // directory.
  if (work.read != 0) return work;
  switch (port::program_at_work_here(work.recorded, kGathererPidFile, program, &work.why)) {
    case port::AtWork::kYes:
      work.answer = GathererWork::kAtWork;
      break;
    case port::AtWork::kCannotTell:
      work.answer = GathererWork::kCannotTell;
      break;
    case port::AtWork::kNo:
      break;
  }
  return work;
}

bool compose_gatherer_directory(const char* home, const char* name, char* out, std::size_t size) {
  return compose_line(out, size, "%s\\gatherers\\%s", home, name);
}

bool put_in_front_of_search_path(const Diagnostics& diagnostics, const char* const* dirs, int count) {
  if (port::prepend_search_path(dirs, count) == 0) return true;
  diagnostics.error("Insufficient memory to set PATH.");
  return false;
}
