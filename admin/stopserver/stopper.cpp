#include "admin/stopserver/stopper.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "admin/common/change_refusal.h"
#include "admin/common/command_line.h"
#include "admin/processfiles/process_files.h"
#include "admin/processfiles/settings.h"
#include "port/write_check.h"
#include "port/dir_wildcard.h"
#include "port/file.h"
#include "port/held_open.h"
#include "port/process.h"
#include "port/stream.h"

namespace {

constexpr char kProgram[] = "StopServer";
constexpr const char* kPidFile = kExportdPidFile;
constexpr const char* kLog = kExportdLog;
// The daemon's program, by which Windows tells it from other processes.
constexpr char kDaemonProgram[] = "exportd";
// How long an ended daemon has to be gone and to let its log go.
constexpr unsigned kLetGoMs = 5000;
// A wait for the log to be let go looks again after this long.
constexpr unsigned kLookAgainMs = 20;

constexpr KeyRule kKeys[] = {
    {"GATHERER_DATA", KeyUse::kKeep, true},
    {"KESTREL_HOME", KeyUse::kKeepAndExport, true},
    {"GATHERER_NAME", KeyUse::kSkip},
    {"GATHERER_PORT", KeyUse::kSkip},
};

class Stopper : private Diagnostics {
 public:
  Stopper(const char* settings_path, const char* mode)
      : Diagnostics(kProgram),
        settings_path_(settings_path),
        forced_(std::strcmp(mode, "FORCED") == 0),
        settings_(kKeys) {}
  int run();

 private:
  int read_settings();
  void set_search_path();
  enum Entry { kEntered, kNoDirectory, kRefused };
  Entry enter_data_directory() const;
  bool transfer_in_progress() const;
  bool end_daemon(bool log_is_device) const;
  bool log_let_go(bool log_is_device) const;
  void cannot_tell(const char* why) const;
  bool remove_pid_file() const;
  void remove_work_files() const;
  void note_stop() const;

  std::string command() const { return command_for_shell({kProgram, settings_path_, forced_ ? "FORCED" : "NORMAL"}); }

  const char* settings_path_;
  bool forced_;
  ProcessSettings settings_;
  const char* home_ = nullptr;
  const char* data_ = nullptr;
  bool pid_file_is_link_ = false;
};

int Stopper::run() {
  if (const int status = read_settings()) return status;
  // Run as root, the framework's directories and the data directory must be
  // root's alone.
  if (!framework_is_roots(*this, home_, {"The data directory", data_}, command(), "Nothing is stopped.")) return 1;
  set_search_path();
  switch (enter_data_directory()) {
    case kEntered: break;
    case kNoDirectory: return 0;
    default: return 1;
  }
  // Whatever stands in the pid file's place (a link too) may name a daemon.
  port::FileInfo pid_file;
  if (port::entry_stat(kPidFile, &pid_file) != 0) {
    if (errno == ENOENT) return 0;
    error("Cannot look at %s (errno=%d).  Nothing is stopped.", kPidFile, errno);
    return 1;
  }
  pid_file_is_link_ = pid_file.is_link;
  // A log that cannot be tested (a link among them) may be a running
  // daemon's, and the pid file's id may by now be another process's:
  // nothing is done. A device as the log is written by many processes: the
  // pid file's process alone can tell.
  const port::HoldState log = ask_held_open(*this, kLog, "Nothing is stopped.");
  switch (log) {
    case port::HoldState::kHeld:
    case port::HoldState::kDevice: break;
    case port::HoldState::kCannotTell: return 1;
    default: return 0;
  }
  const bool log_is_device = log == port::HoldState::kDevice;
  // A daemon in the middle of a transfer is left alone unless forced.
  if (!forced_ && transfer_in_progress()) return 1;
  // A daemon that would run on with its pid file gone would be out of reach
  // of every later stop: unless it is seen to end, nothing is changed.
  if (!end_daemon(log_is_device) || !log_let_go(log_is_device)) return 1;
  const bool removed = remove_pid_file();
  remove_work_files();
  note_stop();
  return removed ? 0 : 1;
}

// A data directory that does not exist holds no daemon. One that exists but
// cannot be entered may well hold one: that is no "nothing there".
Stopper::Entry Stopper::enter_data_directory() const {
  if (port::change_dir(data_) == 0) return kEntered;
  if (errno == ENOENT) return kNoDirectory;
  error("Cannot enter the data directory %s (errno=%d).  Nothing is stopped.", data_, errno);
  return kRefused;
}

int Stopper::read_settings() {
  switch (settings_.read(settings_path_)) {
    case ReadResult::kCannotOpen:
      if (const port::PathVerdict* verdict = settings_.others_can_change()) {
        error("%s", change_refusal({"The settings file", settings_path_}, *verdict, command()).c_str());
      } else {
        error("Cannot open %s.", settings_path_);
      }
      return -2;
    case ReadResult::kInvalid:
      error("Invalid file %s.", settings_path_);
      return -3;
    case ReadResult::kOtherEncoding:
      error("Invalid file %s.  (It %s.)", settings_path_, settings_.other_encoding_refusal().c_str());
      return -3;
    case ReadResult::kRead:
      break;
  }
  home_ = settings_.get("KESTREL_HOME");
  data_ = settings_.get("GATHERER_DATA");
  if (home_ == nullptr || data_ == nullptr) {
    error("Invalid file %s.", settings_path_);
    return -3;
  }
  if (const char* key = settings_.key_ending_in_half_character({"KESTREL_HOME", "GATHERER_DATA"})) {
    error("Invalid file %s.", settings_path_);
    error("%s %s.", key, path_refusal(kPathHalfCharacter));
    return -3;
  }
  return 0;
}

// Without memory for the new value the stop goes on with the search path as
// it is: only the interpreter of the deletion searches it.
void Stopper::set_search_path() {
  const FrameworkDirs dirs = framework_dirs(home_);
  const char* const list[] = {dirs.lib_gatherer.path.c_str()};
  put_in_front_of_search_path(*this, list, 1);
}

// A directory that cannot be searched may hold a transfer in progress.
bool Stopper::transfer_in_progress() const {
  switch (port::any_entry_matches("./gathering*")) {
    case 0: return false;
    case 1: return true;
    default:
      error("Cannot search the data directory for gathering* (errno=%d).  The daemon is left running.",
            errno);
      return true;
  }
}

void Stopper::cannot_tell(const char* why) const {
  error("Cannot tell which process holds %s: %s %s.  Nothing is stopped.", kLog, kPidFile, why);
}

// Only a process seen to be the daemon is ended. With the log held, a pid
// file that names no process, or one that is not the daemon, leaves the
// daemon unknown: nothing is ended, and nothing else changes.
bool Stopper::end_daemon(bool log_is_device) const {
  long pid = 0;
  switch (read_pid_file(kPidFile, &pid)) {
    case 0: break;
    case kPidFileUnreadable:
      // What a link leads to may be any file this user may read.
      if (pid_file_is_link_) {
        error("%s is a symbolic link, which is not read.  The daemon is left running.", kPidFile);
      } else {
        error("Cannot read %s (errno=%d).  The daemon is left running.", kPidFile, errno);
      }
      return false;
    default:
      cannot_tell("holds no process ID");
      return false;
  }
  port::DaemonCheck check;
  check.pid_file = kPidFile;
  check.log = kLog;
  check.program = kDaemonProgram;
  check.whole_group = forced_;
  check.wait_ms = kLetGoMs;
  int end_error = 0;
  const char* why = "";
  long process = pid;  // the one of the daemon's group that is left
  char text[160];
  switch (port::end_daemon(pid, check, &end_error, &why, &process)) {
    case port::DaemonEnd::kEnded:
      return true;
    case port::DaemonEnd::kNoProcess:
      if (pid <= 1) {
        cannot_tell("holds no process ID");
      } else {
        std::snprintf(text, sizeof text, "names process %ld, which is not running", pid);
        cannot_tell(text);
      }
      return false;
    case port::DaemonEnd::kNotTheDaemon:
      std::snprintf(text, sizeof text, "names process %ld, which is not the daemon: %s%s", pid, why,
                    log_is_device ? " (the log is a device)" : "");
      cannot_tell(text);
      return false;
    case port::DaemonEnd::kCannotExamine:
      std::snprintf(text, sizeof text, "names process %ld, which cannot be examined (error information = %d)", pid,
                    end_error);
      cannot_tell(text);
      return false;
    case port::DaemonEnd::kRefused:
      error("Cannot end the process of ID %ld (error information = %d).  The daemon is left running.", process,
            end_error);
      return false;
    case port::DaemonEnd::kStillRunning:
      error("The process of ID %ld has not ended within %u seconds.  %s is left in place.", process,
            kLetGoMs / 1000, kPidFile);
      return false;
  }
  return false;
}

// Ended, the daemon lets its log go; a process that still holds it (a child
// that inherited it) may write on: the stop is not done, and the pid file
// stays for a later one. A device as the log tells nothing more.
bool Stopper::log_let_go(bool log_is_device) const {
  if (log_is_device) return true;
  for (unsigned waited = 0;; waited += kLookAgainMs) {
    if (port::held_open_for_writing(kLog) != port::HoldState::kHeld) return true;
    if (waited >= kLetGoMs) break;
    port::sleep_ms(kLookAgainMs);
  }
  constexpr int kNamed = 8;
  long writers[kNamed];
  const int count = port::writers_of(kLog, writers, kNamed);
  char names[kNamed * 12 + 8] = "";
  for (int i = 0; i < count && i < kNamed; ++i) {
    const std::size_t used = std::strlen(names);
    std::snprintf(names + used, sizeof names - used, "%s%ld", i == 0 ? "" : ", ", writers[i]);
  }
  if (count > kNamed) std::strcat(names, ", ...");
  if (count > 0) {
    error("%s is still held open for writing by the processes %s.  %s is left in place.", kLog, names, kPidFile);
  } else {
    error("%s is still held open for writing.  %s is left in place.", kLog, kPidFile);
  }
  return false;
}

// A read-only pid file would stay naming the ended daemon, and a later
// daemon that could not overwrite it would leave that id for a later stop
// to act on.
bool Stopper::remove_pid_file() const {
  port::make_writable(kPidFile);
  if (port::remove_file(kPidFile) == 0 || errno == ENOENT) return true;
  error("Cannot remove %s (errno=%d).", kPidFile, errno);
  return false;
}

void Stopper::remove_work_files() const {
  port::run_shell("del /F /Q gathering*");
}

void Stopper::note_stop() const {
  std::FILE* log = port::open_file(kLog, "a+");
  if (log == nullptr) return;
  say_in(log, "Gather daemon has stopped by request.");
  if (port::close_checked(log) != 0) {
    error("Cannot write %s (errno=%d).", kLog, errno);
  }
}

}  // namespace

int stop_server(const char* settings_path, const char* mode) {
  Stopper stopper(settings_path, mode);
  return stopper.run();
}
