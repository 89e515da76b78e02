#pragma once
// What the programs that start, stop and look at the gatherer and its export
// daemon share besides their settings: the pid files, the held-open test and
// the framework's search path.
#include <cstddef>
#include <cstdio>
#include <string>

#include "admin/common/change_refusal.h"
#include "admin/common/diagnostics.h"
#include "port/held_open.h"

// Results of read_pid_file.
constexpr int kPidFileMissing = -1;     // there is no such file
constexpr int kPidFileNoNumber = -2;    // it holds no decimal number, or one beyond an int
constexpr int kPidFileUnreadable = -3;  // it is there but cannot be opened or read (errno)

// Reads the first decimal number of a pid file as "%d" takes it: white space,
// an optional sign, digits. 0 with *pid, or one of the results above. A file
// that cannot be read is told from one without a number: what it would have
// said is not known. Only the entry itself is read: a symbolic link in its
// place cannot be read (EACCES).
int read_pid_file(const char* path, long* pid);
// The same from an open stream, which stays open (kPidFileMissing never comes back).
int read_pid_number(std::FILE* file, long* pid);

// Asks whether a running process holds the file open for writing. When that
// cannot be told (a symbolic link in its place included), the safe side is
// the caller's to take: an error line names the file, the reason and the
// consequence given (a full sentence), and kCannotTell comes back.
port::HoldState ask_held_open(const Diagnostics& diagnostics, const char* file, const char* consequence);

// The gatherer's pid file and the log it holds open for writing while it
// works, both in the gatherer directory.
inline constexpr char kGathererPidFile[] = "Gatherer.pid";
inline constexpr char kGathererLog[] = ".\\log.gatherer";

// The launcher of a gatherer's cycles: the program the cycle command starts,
// and the name its process goes by while a gatherer works.
inline constexpr char kLauncherProgram[] = "LaunchCrawler";
// The environment variable in which the cycle command names the descriptor
// of a pipe on which the launcher tells its verdict, one line: "started",
// "at-work PID" ("at-work -" when its pid file holds no number),
// "cannot-tell", "refused" or "no-start ERRNO" (the gatherer's script could
// not be started).
inline constexpr char kLaunchVerdictVariable[] = "LORVEX_LAUNCH_FD";

// The export daemon's pid file and the log it holds open for writing while
// it runs, both in the data directory.
inline constexpr char kExportdPidFile[] = "Exportd.pid";
inline constexpr char kExportdLog[] = "exportd.log";

// Whether a gatherer is at work in the current directory, as the launcher
// decides before it starts one.
struct GathererWork {
  enum Answer { kIdle, kAtWork, kCannotTell };
  Answer answer = kIdle;
  int read = kPidFileMissing;  // read_pid_file's result for the pid file
  long recorded = 0;           // its number, when read is 0
  int read_error = 0;          // errno of a pid file that cannot be read
  // kCannotTell: the log could not be tested (log_unknown) or the process
  // the pid file names could not be examined; why says what stood in the way.
  bool log_unknown = false;
  const char* why = "";
};
// A pid file without a number or with 0 names no gatherer; otherwise the log
// held open for writing tells, and where it is free (renamed or removed while
// its gatherer works, a device or a symbolic link), whether the process the
// pid file names is the launcher, here named program, at work in this
// directory.
GathererWork check_gatherer_work(const char* program);

// The gatherer directory of a settings file's KESTREL_HOME and
// GATHERER_NAME, "HOME\gatherers\NAME", into out; false (out empty) when
// it does not fit.
bool compose_gatherer_directory(const char* home, const char* name, char* out, std::size_t size);
// The same directory as the commands that look at a gatherer from outside
// the launcher name it: in the POSIX installation's own form, as the
// administrator types paths. False when it does not fit a settings line's
// two values.
bool gatherer_directory_as_typed(const char* home, const char* name, std::string* dir);

// Run as root, KESTREL_HOME, the framework's directories in it and the
// program's own directory (the gatherer's, the data directory) must be ones
// nobody but root can change: true when they are (or the program does not
// run as root), false after an error line that names the first that is not,
// followed by the consequence given ("" for none).
bool framework_is_roots(const Diagnostics& diagnostics, const char* home, const UsedPath& own,
                        const std::string& command, const char* consequence = "");

// Puts the directories (in the system's own form) in front of the search
// path; false, after a message of the program, when there is no memory.
bool put_in_front_of_search_path(const Diagnostics& diagnostics, const char* const* dirs, int count);
