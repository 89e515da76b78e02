#include "admin/process/stopserver/stopper.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "admin/common/command_line.h"
#include "admin/process/process_files.h"
#include "admin/process/settings.h"
#include "port/checked_close.h"
#include "port/dir_search.h"
#include "port/file.h"
#include "port/held_open.h"
#include "port/process.h"
#include "port/stream.h"

namespace {

constexpr char kProgram[] = "StopServer";
constexpr char kPidFile[] = "Exportd.pid";
constexpr char kLog[] = "exportd.log";
// The pause between the removal of the work files and the stop notice.
constexpr unsigned kSettleMs = 1000;

constexpr KeyRule kKeys[] = {
    {"GATHERER_DATA", KeyUse::kKeep},
    {"KESTREL_HOME", KeyUse::kKeepAndExport},
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
  bool transfer_in_progress() const;
  bool end_daemon() const;
  bool remove_pid_file() const;
  void remove_work_files() const;
  void note_stop() const;

  const char* settings_path_;
  bool forced_;
  ProcessSettings settings_;
  const char* home_ = nullptr;
  const char* data_ = nullptr;
};

int Stopper::run() {
  if (const int status = read_settings()) return status;
  set_search_path();
  if (port::change_dir(data_) != 0) return 0;
  if (!port::exists(kPidFile)) return 0;
  // A log that cannot be tested may be a running daemon's, and the pid
  // file's id may by now be another process's: nothing is done.
  switch (ask_held_open(*this, kLog, "Nothing is stopped.")) {
    case port::HoldState::kHeld: break;
    case port::HoldState::kCannotTell: return 1;
    default: return 0;
  }
  // A daemon in the middle of a transfer is left alone unless forced.
  if (!forced_ && transfer_in_progress()) return 1;
  // A daemon that would run on with its pid file gone would be out of reach
  // of every later stop: when it cannot be ended, nothing is changed.
  if (!end_daemon()) return 1;
  const bool removed = remove_pid_file();
  remove_work_files();
  port::sleep_ms(kSettleMs);
  note_stop();
  return removed ? 0 : 1;
}

int Stopper::read_settings() {
  switch (settings_.read(settings_path_)) {
    case ReadResult::kCannotOpen:
      error("Cannot open %s.", settings_path_);
      return -2;
    case ReadResult::kInvalid:
      error("Invalid file %s.", settings_path_);
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
  char lib_gatherer[kProcessLineSize + 16];
  compose_line(lib_gatherer, sizeof lib_gatherer, "%s\\lib\\gatherer", home_);
  const char* const dirs[] = {lib_gatherer};
  put_in_front_of_search_path(*this, dirs, 1);
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

// A pid file without a number ends nothing; nor does an id that names no
// process (an id of 1 or below is never signalled). Either way the stop
// goes on. False, after a message, when the pid file is there but cannot be
// read, or its process is there but cannot be ended.
bool Stopper::end_daemon() const {
  long pid = 0;
  int end_error = 0;
  switch (read_pid_file(kPidFile, &pid)) {
    case 0:
      if (port::end_process(pid, &end_error) != port::kCannotEnd) return true;
      error("Cannot end the process of ID %ld (error information = %d).  The daemon is left running.", pid,
            end_error);
      return false;
    case kPidFileUnreadable:
      error("Cannot read %s (errno=%d).  The daemon is left running.", kPidFile, errno);
      return false;
    default:
      return true;
  }
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
